#include "download/install_run.h"

#include "download/progress.h"
#include "platform/launch_log.h"
#include "platform/message_box.h"

namespace tarnix {

bool InstallStages::Advance(InstallStage from, InstallStage to) {
  return stage_.compare_exchange_strong(from, to);
}

bool InstallStages::BeginInstaller() {
  return Advance(InstallStage::kDownloading, InstallStage::kInstalling);
}

bool InstallStages::EndInstaller() {
  return Advance(InstallStage::kInstalling, InstallStage::kLaunching);
}

// The installer-run thread only moves the stage forward, so each failed step
// here means that it has moved past the stage tried.
DialogClose InstallStages::CloseDialog() {
  if (Advance(InstallStage::kDownloading, InstallStage::kClosed)) return DialogClose::kEndNow;
  if (Advance(InstallStage::kInstalling, InstallStage::kClosedWhileInstalling))
    return DialogClose::kWaitForInstaller;
  if (Advance(InstallStage::kLaunching, InstallStage::kClosedWhileLaunching))
    return DialogClose::kWaitForLaunch;
  switch (Stage()) {
    case InstallStage::kClosedWhileInstalling:
      return DialogClose::kWaitForInstaller;
    case InstallStage::kClosedWhileLaunching:
      return DialogClose::kWaitForLaunch;
    default:
      return DialogClose::kEndNow;
  }
}

void FinishClosedDialog(InstallStages& stages, const std::function<void()>& waitForInstallRun) {
  switch (stages.CloseDialog()) {
    case DialogClose::kEndNow:
      LogLine(L"dialog closed before the installer started");
      return;
    case DialogClose::kWaitForInstaller:
      // Ending now would give the lock up while the installer still runs: a
      // waiting launcher would download over it and run a second one.
      LogLine(L"dialog closed while the installer runs; waiting for it");
      waitForInstallRun();
      return;
    case DialogClose::kWaitForLaunch:
      // The host's start may be waiting for the user (an elevation prompt),
      // and its report and the identity's store write follow: ending now
      // would cut them. The installer-run thread ends the process after them.
      LogLine(L"dialog closed while the host is being started; waiting for the launch");
      waitForInstallRun();
      return;
  }
}

InstallationEnd RunInstallation(InstallPlatform& platform, FileQuery& files, AppLaunch& app,
                                InstallStages& stages) {
  if (!platform.WaitForDownload()) return InstallationEnd::kThreadReturns;
  platform.SetProgress(kProgressDownloadComplete);

  std::wstring installer = platform.InstallerPath();
  if (!IsExistingFile(files, installer)) {
    LogLine(L"installer " + LogQuoted(installer) + L" missing after the download");
    platform.ReleaseInstaller();
    return InstallationEnd::kThreadReturns;
  }
  platform.SetProgress(kProgressInstallerStarting);

  // The installer gets no arguments; its exit code is not looked at, the
  // launch below finds out whether the host is there. The checked file stays
  // open without delete sharing until the installer has ended: a running
  // program's file can be renamed and another put in its place, and a
  // self-extracting installer reopens its file by name to unpack itself.
  if (!stages.BeginInstaller()) {
    // The dialog closed first and the process is ending: nothing installs.
    platform.ReleaseInstaller();
    return InstallationEnd::kThreadReturns;
  }
  app.InstallerStarting();
  bool started = platform.StartProcess(L"", installer, true);
  platform.ReleaseInstaller();
  if (!stages.EndInstaller()) {
    // The dialog is gone: no box, no host; the dialog's thread ends the
    // process once this thread has returned.
    LogLine(L"installer ended after the dialog closed; the host is not started");
    return InstallationEnd::kThreadReturns;
  }
  if (!started) platform.ShowMessage(kInstallFailedText);
  platform.SetProgress(kProgressAppStarting);

  if (!app.LaunchApp()) platform.ShowMessage(kRunAppFailedText);
  platform.EnableDone();
  // The host is up (or its failure told): nothing on screen waits for the report.
  platform.HideDialog();
  return app.WaitForLaunchReport() ? InstallationEnd::kReportFinished
                                   : InstallationEnd::kReportMayStillRun;
}

}  // namespace tarnix
