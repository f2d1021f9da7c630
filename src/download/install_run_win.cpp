#include "download/install_run_win.h"

#include <windows.h>

#include "download/download_state_win.h"
#include "download/install_run.h"
#include "platform/file_query_win.h"
#include "platform/message_box_win.h"
#include "platform/process_end_win.h"
#include "platform/shell_win.h"

namespace tarnix::win {
namespace {

class Win32InstallPlatform final : public InstallPlatform {
 public:
  bool WaitForDownload() override { return downloadFinished.Wait(); }
  void SetProgress(int position) override { progressBar.SetPos(position); }
  // Written by the download thread before it set downloadFinished.
  std::wstring InstallerPath() override { return checkedInstallerPath; }
  bool StartProcess(const std::wstring& parameters, const std::wstring& file, bool wait) override {
    return StartProcessOnSystem(parameters, file, wait);
  }
  void ReleaseInstaller() override { checkedInstaller.Reset(); }
  void ShowMessage(UiText text) override { ShowFailureMessage(text); }
  void EnableDone() override { doneButton.EnableWindow(true); }
  // The bar's parent is the dialog; the bar's handle was bound before this
  // thread started. Sent to the dialog's thread, so it is hidden on return.
  void HideDialog() override { ::ShowWindow(DownloadDialogWindow(), SW_HIDE); }
};

}  // namespace

unsigned InstallThreadProc(void* parameter) {
  Win32InstallPlatform platform;
  Win32FileQuery files;
  // The process ends from this thread, right after the wait for the launch
  // report, while the main thread is still in the dialog's modal loop: it is
  // terminated, so that neither the C run-time's exit() nor the libraries'
  // detach code runs under the dialog.
  InstallationEnd end =
      RunInstallation(platform, files, *static_cast<AppLaunch*>(parameter), installStages);
  if (end != InstallationEnd::kThreadReturns)
    EndProcessOnSystem(end == InstallationEnd::kReportFinished, 0);
  return 0;
}

}  // namespace tarnix::win
