#pragma once
// The process-wide state of the download branch, shared by the dialog's
// thread, the download thread and the installer-run thread.

#include <string>

#include "download/download_worker.h"
#include "download/install_run.h"
#include "platform/dialog_win.h"
#include "platform/event_win.h"
#include "platform/win_handles_win.h"

namespace tarnix::win {

// Bound to the download dialog's controls when it initialises.
extern CProgressCtrl progressBar;
extern CButton doneButton;
// The line under the bar: what has arrived (empty until the first figures).
extern CStatic transferLine;

// Filled by StartDownload before the download thread starts; then only read.
extern DownloadJobRecord& DownloadJob;
// Auto-reset, unsignalled from program start: set once by a successful download.
extern CEvent& downloadFinished;
// The downloaded installer, open without write or delete sharing since its
// check: stored by the download thread before it sets downloadFinished,
// closed by the installer-run thread once the installer has ended.
extern UniqueFile& checkedInstaller;
// The path of that installer: the download's file, or the one shipped beside
// the launcher, which nothing may delete. Stored with checkedInstaller.
extern std::wstring& checkedInstallerPath;
// Where the installation stands, for the installer-run thread and a close of
// the dialog.
extern InstallStages& installStages;
// The installer-run thread, for the dialog's thread to wait on after a close
// while the installer runs. Stored by StartDownload before the modal loop
// runs; invalid when the thread was not created.
extern UniqueKernelHandle& installThread;

// The download dialog's window (the progress bar's parent); null before the
// dialog has bound its controls.
HWND DownloadDialogWindow();

}  // namespace tarnix::win
