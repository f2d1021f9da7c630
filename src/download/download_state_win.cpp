#include "download/download_state_win.h"

namespace tarnix::win {

CProgressCtrl progressBar;
CButton doneButton;
CStatic transferLine;

// Created before start-up and never destroyed: the worker threads may still
// read the job or wait on the event when the process ends, so these must not
// be torn down under them. The system closes the event's handle with the
// process.
DownloadJobRecord& DownloadJob = *new DownloadJobRecord;
CEvent& downloadFinished = *new CEvent;
UniqueFile& checkedInstaller = *new UniqueFile;
std::wstring& checkedInstallerPath = *new std::wstring;
InstallStages& installStages = *new InstallStages;
UniqueKernelHandle& installThread = *new UniqueKernelHandle;

HWND DownloadDialogWindow() {
  HWND bar = progressBar.GetSafeHwnd();
  return bar != nullptr ? ::GetParent(bar) : nullptr;
}

}  // namespace tarnix::win
