#pragma once
// The installer run and the hand-over to the application, after a download.

#include <string>

#include "platform/file_query.h"

namespace tarnix {

class InstallPlatform {
 public:
  virtual ~InstallPlatform() = default;
  // Waits without time-out until the download has succeeded. Returns false
  // only when the wait itself failed.
  virtual bool WaitForDownload() = 0;
  // PBM_SETPOS on the dialog's bar.
  virtual void SetProgress(int position) = 0;
  // The installer's path, built from "TEMP" as the dialog builds it.
  virtual std::wstring InstallerPath() = 0;
  // Starts `file` through the shell with `parameters`, waiting for it to end
  // when `wait` is set. Returns false when the shell did not start it.
  virtual bool StartProcess(const std::wstring& parameters, const std::wstring& file,
                            bool wait) = 0;
  // Closes the installer file that the download thread checked and left open.
  virtual void ReleaseInstaller() = 0;
  // A failure message box; returns when the user has closed it.
  virtual void ShowMessage(const wchar_t* text) = 0;
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
  // Starts the application through the installed host, with its launch
  // report; false when the host did not start.
  virtual bool LaunchApp() = 0;
  // Waits until the launch report has ended or its time is up. True when no
  // report runs any more; false when it may still be running.
  virtual bool WaitForLaunchReport() = 0;
};

// What the installer-run thread does once the installation is over.
enum class InstallationEnd {
  kThreadReturns,        // no installer file, or the wait failed: the dialog stays
  kReportFinished,       // end the process with exit code 0
  kReportMayStillRun,    // end the process with exit code 0, without waiting on the report
};

// Waits for the download, runs the installer, launches the application, hides
// the dialog and waits for the launch report.
InstallationEnd RunInstallation(InstallPlatform& platform, FileQuery& files, AppLaunch& app);

}  // namespace tarnix
