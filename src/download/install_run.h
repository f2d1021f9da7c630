#pragma once
// The installer run and the hand-over to the application, after a download.

#include <atomic>
#include <functional>
#include <string>

#include "platform/file_query.h"
#include "platform/ui_text.h"

namespace tarnix {

// Where the installation stands. The installer-run thread moves it forward;
// the dialog's thread closes it when the user closes the dialog. Every step
// is one atomic exchange, so that both threads agree on which came first: a
// close that wins the race before the installer's start means no installer
// ever starts; one that loses it waits for the installer's end, and one
// after the installer's end waits for the launch.
enum class InstallStage {
  kDownloading,            // nothing started yet
  kInstalling,             // the installer is being started or runs
  kLaunching,              // the installer has ended; the host's launch goes on
  kClosed,                 // closed before the installer's start
  kClosedWhileInstalling,  // closed while the installer was started or ran
  kClosedWhileLaunching,   // closed after the installer's end
};

// What the dialog's thread does once the dialog has closed.
enum class DialogClose {
  kEndNow,            // no installer started, none will: end the process at once
  kWaitForInstaller,  // keep the lock until the installer-run thread is done, then end
  kWaitForLaunch,     // the host is being started: the installer-run thread ends the
                      // process once its report is over; wait for that
};

class InstallStages {
 public:
  // The installer-run thread, right before the installer's start: true when
  // it may start it (downloading -> installing); false when the dialog has
  // closed first.
  bool BeginInstaller();
  // The installer-run thread, once the installer has ended: true when the
  // launch may go on (installing -> launching); false when the dialog closed
  // meanwhile, so that nothing more is started or shown.
  bool EndInstaller();
  // The dialog's thread, once the dialog has closed (by the user or by Done);
  // asked again, it answers as the first time.
  DialogClose CloseDialog();
  InstallStage Stage() const { return stage_.load(); }

 private:
  bool Advance(InstallStage from, InstallStage to);
  std::atomic<InstallStage> stage_{InstallStage::kDownloading};
};

// The dialog's thread, once the dialog has closed: logs the close and, from
// the installer's start on, calls `waitForInstallRun`, which returns once the
// installer-run thread has returned (or never: after the installer's end that
// thread ends the process itself, once the host's start and its report are
// over). The process may end (and the lock go) once this returns.
void FinishClosedDialog(InstallStages& stages, const std::function<void()>& waitForInstallRun);

class InstallPlatform {
 public:
  virtual ~InstallPlatform() = default;
  // Waits without time-out until the download has succeeded. Returns false
  // only when the wait itself failed.
  virtual bool WaitForDownload() = 0;
  // PBM_SETPOS on the dialog's bar.
  virtual void SetProgress(int position) = 0;
  // The path of the installer that the download thread checked and handed
  // over: the downloaded file, or the one shipped beside the launcher.
  virtual std::wstring InstallerPath() = 0;
  // Starts `file` through the shell with `parameters`, waiting for it to end
  // when `wait` is set. Returns false when the shell did not start it.
  virtual bool StartProcess(const std::wstring& parameters, const std::wstring& file,
                            bool wait) = 0;
  // Closes the installer file that the download thread checked and left open.
  virtual void ReleaseInstaller() = 0;
  // A failure message box; returns when the user has closed it.
  virtual void ShowMessage(UiText text) = 0;
  // Enables the Done button.
  virtual void EnableDone() = 0;
  // Takes the dialog off the screen; the process stays only for the report.
  virtual void HideDialog() = 0;
};

// The application's launch, which the installation hands over to. Start-up
// supplies it, so that the download branch needs nothing of the application.
class AppLaunch {
 public:
  virtual ~AppLaunch() = default;
  // The installer is about to start. From then on its windows, not the
  // dialog, wait for the user: nothing of this launcher is brought in front
  // of them any more.
  virtual void InstallerStarting() = 0;
  // Starts the application through the installed host, with its launch
  // report; false when the host did not start.
  virtual bool LaunchApp() = 0;
  // Waits until the launch report has ended or its time is up. True when no
  // report runs any more; false when it may still be running.
  virtual bool WaitForLaunchReport() = 0;
};

// What the installer-run thread does once the installation is over.
enum class InstallationEnd {
  kThreadReturns,      // no installer file, the wait failed, or the dialog closed
                       // (the dialog's thread ends the process): just return
  kReportFinished,     // end the process with exit code 0
  kReportMayStillRun,  // end the process with exit code 0, without waiting on the report
};

// Waits for the download, runs the installer, launches the application, hides
// the dialog and waits for the launch report. `stages` decides, against a
// close of the dialog, whether the installer starts and whether the launch
// follows it.
InstallationEnd RunInstallation(InstallPlatform& platform, FileQuery& files, AppLaunch& app,
                                InstallStages& stages);

}  // namespace tarnix
