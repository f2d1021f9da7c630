// The program's entry: the application object and its start-up flow.

#include <windows.h>
// After windows.h, which it builds on.
#include <commctrl.h>

#include "app/host_lookup.h"
#include "app/install_lock_win.h"
#include "app/launch.h"
#include "app/launch_win.h"
#include "app/launcher_version.h"
#include "download/download_dialog_win.h"
#include "download/installer_location.h"
#include "platform/admin_policy.h"
#include "platform/app_framework_win.h"
#include "platform/file_query_win.h"
#include "platform/launch_log_win.h"
#include "platform/process_end_win.h"
#include "platform/registry_win.h"
#include "platform/win_handles_win.h"

namespace tarnix::win {
namespace {

// Registers the common control classes (the Windows 95 set, the progress bar
// among them). Only the download dialog uses them. Loading the version-6
// controls also loads the theme engine and the display driver, which would
// delay every direct start of the host; so the library is loaded, by name so
// that the manifest's version 6 is the one found, only on the way to the dialog.
void RegisterCommonControls() {
  UniqueModule controlsLibrary(::LoadLibraryW(L"comctl32.dll"));
  auto init = LookUpExport<decltype(&::InitCommonControlsEx)>(controlsLibrary.Get(),
                                                              "InitCommonControlsEx");
  if (init == nullptr) return;
  INITCOMMONCONTROLSEX controls = {};
  controls.dwSize = sizeof(controls);
  controls.dwICC = ICC_WIN95_CLASSES;
  init(&controls);
  // The library stays loaded: its window classes serve the dialog.
  static_cast<void>(controlsLibrary.Release());
}

}  // namespace

class CUseThreadDownloadApp final : public CWinApp {
 public:
  CUseThreadDownloadApp() { m_dwRestartManagerSupportFlags = kRestartManagerSupportRestart; }

  // The installer's URL in force, chosen before the log's first line, which names it.
  void SetInstallerUrl(std::wstring url) { installerUrl_ = std::move(url); }

  // Always FALSE: the launcher has no message loop of its own and ends as
  // soon as this returns, or earlier: from the installer-run thread, or
  // after the download dialog's close.
  BOOL InitInstance() override {
    CWinApp::InitInstance();

    Win32Registry registry;
    Win32FileQuery files;
    // Held for the download branch until the host's start has been tried
    // after the installation, or the dialog has closed (and an installer
    // that had started has ended). Never destroyed, as the launch below: the
    // installer-run thread gives the lock up and launches through it, and
    // may still do so while the process ends.
    auto& lock = *new HeldInstallLock;
    auto installNeeded = [&registry, &files] { return IsHostInstallNeeded(registry, files); };
    if (ChooseStartBranch(installNeeded, lock) == StartBranch::kDownload) {
      RegisterCommonControls();
      // While the installer runs, its windows wait for the user: a second
      // launcher's wait then brings nothing of this one in front of them.
      RunDownloadDialog(
          *new Win32AppLaunch([&lock] { lock.WithdrawHolder(); }, [&lock] { lock.Release(); }),
          installerUrl_);
      lock.Release();
      // The dialog was closed. A download the close cut short (inside WinINet,
      // or in a pause between attempts), an installer run still returning,
      // or, should the wait for it have failed, one launching the host and
      // its report may go on running: the C run-time's exit and the
      // libraries' detach code must not run under them, nor a flush under
      // the report.
      EndProcessOnSystem(false, 0);
    }
    // The host is started (or its failure told) before the launcher waits,
    // with nothing on screen, for its report. A report that may still run
    // must not meet the exit-time destructors: the process then ends at once.
    if (!LaunchAndFinishReportOnSystem()) EndProcessOnSystem(false, 0);
    return FALSE;
  }

 private:
  std::wstring installerUrl_;
};

}  // namespace tarnix::win

namespace {

tarnix::win::CUseThreadDownloadApp theApp;

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR arguments, int) {
  tarnix::win::HardenDllSearchPath();
  // The first line names the installer's URL in force: the policy is read
  // before it, and what the reading logs follows it.
  tarnix::HeldLogLines held;
  tarnix::SetProcessLog(&held);
  tarnix::win::Win32Registry registry;
  std::wstring policySource;
  std::wstring url = tarnix::ChooseInstallerUrl(registry, tarnix::kDownloadUrl, &policySource);
  tarnix::SetProcessLog(nullptr);
  tarnix::win::OpenProcessLogOnSystem();
  tarnix::LogLine(tarnix::StartLogLine(arguments != nullptr ? arguments : L"",
                                       L"" TARNIX_VERSION_TEXT, url, policySource));
  for (const std::wstring& line : held.lines) tarnix::LogLine(line);
  theApp.SetInstallerUrl(std::move(url));
  return theApp.Run(instance, arguments);
}
