#include "download/install_run.h"

#include "download/progress.h"
#include "platform/message_box.h"

namespace tarnix {

bool RunInstallation(InstallRunPorts& ports, FileQuery& files, AppLaunch& app) {
  if (!ports.WaitForDownload()) return false;
  ports.SetProgress(kProgressDownloadComplete);

  std::wstring installer = ports.InstallerPath();
  if (!IsExistingFile(files, installer)) {
    ports.ReleaseInstaller();
    return false;
  }
  ports.SetProgress(kProgressInstallerStarting);

  // The installer gets no arguments; its exit code is not looked at, the
  // launch below finds out whether the host is there. The checked file stays
  // open, so that nobody can change it, until the installer's process exists.
  if (!ports.StartProcess(L"", installer, true, [&ports] { ports.ReleaseInstaller(); }))
    ports.ShowMessage(kInstallFailedText);
  ports.SetProgress(kProgressAppStarting);

  if (!app.LaunchApp()) ports.ShowMessage(kRunAppFailedText);
  ports.EnableDone();
  // The host is up (or its failure told): nothing on screen waits for the report.
  ports.HideDialog();
  app.WaitForLaunchReport();
  return true;
}

}  // namespace tarnix
