#include "download/install_run.h"

#include "download/progress.h"
#include "platform/launch_log.h"
#include "platform/message_box.h"

namespace tarnix {

InstallationEnd RunInstallation(InstallPlatform& platform, FileQuery& files, AppLaunch& app) {
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
  bool started = platform.StartProcess(L"", installer, true);
  platform.ReleaseInstaller();
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
