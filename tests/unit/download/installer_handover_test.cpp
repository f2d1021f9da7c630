// The two worker threads' logic run one after the other against fakes that
// share one log: the installer file checked on the download thread stays
// open until the shell has created the installer's process, and is closed
// before the wait for that process.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "download/download_worker.h"
#include "download/install_run.h"
#include "fakes/fake_installer_trust.h"
#include "platform/shell.h"

namespace tarnix {
namespace {

using testing::FakeInstallerTrust;

// What both threads share in the process: the handed-over file and the log.
struct Process {
  std::vector<std::wstring> log;
  InstallerFile checkedInstaller;
};

class LoggingDownloadPorts : public DownloadPorts {
 public:
  explicit LoggingDownloadPorts(Process& process) : process_(process) {}
  long DownloadToFile(const std::wstring&, const std::wstring&) override {
    process_.log.push_back(L"download");
    return 0;
  }
  void RemoveFile(const std::wstring&) override { process_.log.push_back(L"remove"); }
  void SignalFinished(InstallerFile installer) override {
    process_.checkedInstaller = std::move(installer);
    process_.log.push_back(L"signal");
  }
  void ShowMessage(const wchar_t* text) override { process_.log.push_back(text); }

 private:
  Process& process_;
};

class LoggingShell : public Shell {
 public:
  explicit LoggingShell(Process& process) : process_(process) {}
  std::uint32_t GetVersion() override { return 0x23F00206; }
  bool Execute(const ShellStartRequest& request, ProcessHandle* started) override {
    process_.log.push_back(L"create process " + request.verb + L" " + request.file);
    *started = 0x99;
    return true;
  }
  void WaitForProcess(ProcessHandle) override { process_.log.push_back(L"wait for process"); }
  void CloseProcess(ProcessHandle) override { process_.log.push_back(L"close process"); }

 private:
  Process& process_;
};

class LoggingInstallPorts : public InstallRunPorts, public FileQuery, public AppLaunch {
 public:
  explicit LoggingInstallPorts(Process& process) : process_(process), shell_(process) {}
  bool WaitForDownload() override { return process_.checkedInstaller.IsValid(); }
  void SetProgress(int) override {}
  std::wstring InstallerPath() override { return L"C:\\T\\TarnixSetup.exe"; }
  std::uint32_t QueryAttributes(const std::wstring&) override { return 0x20; }
  bool StartProcess(const std::wstring& parameters, const std::wstring& file, bool wait,
                    const std::function<void()>& afterShell) override {
    return tarnix::StartProcess(shell_, parameters, file, wait, afterShell);
  }
  void ReleaseInstaller() override { process_.checkedInstaller.Reset(); }
  void ShowMessage(const wchar_t* text) override { process_.log.push_back(text); }
  bool LaunchApp() override { return true; }
  void EnableDone() override {}
  void HideDialog() override {}
  void WaitForLaunchReport() override {}

 private:
  Process& process_;
  LoggingShell shell_;
};

TEST(InstallerHandOver, TheCheckedHandleIsHeldFromTheCheckUntilTheInstallerProcessExists) {
  Process process;
  FakeInstallerTrust trust(process.log);
  LoggingDownloadPorts download(process);
  RunDownload({L"http://host/file", L"C:\\T\\TarnixSetup.exe"}, L"Korvane", download, trust);

  LoggingInstallPorts install(process);
  EXPECT_TRUE(RunInstallation(install, install, install));

  EXPECT_EQ(process.log, (std::vector<std::wstring>{
                             L"download", L"open C:\\T\\TarnixSetup.exe", L"read", L"read", L"read",
                             L"verify C:\\T\\TarnixSetup.exe", L"signer", L"close state", L"signal",
                             L"create process runas C:\\T\\TarnixSetup.exe", L"close file",
                             L"wait for process", L"close process"}));
}

TEST(StartProcess, RunsTheAfterShellStepOnceBetweenTheShellAndTheWaitWhateverTheShellDid) {
  struct Case {
    bool started;
    bool wait;
    std::vector<std::wstring> log;
  };
  const Case cases[] = {
      {true, true, {L"create process", L"after shell", L"wait 153", L"close 153"}},
      {true, false, {L"create process", L"after shell", L"close 153"}},
      // A refused start leaves no process; the step still runs.
      {false, true, {L"create process", L"after shell", L"wait 0", L"close 0"}},
  };
  for (const Case& c : cases) {
    std::vector<std::wstring> log;
    struct RecordingShell : Shell {
      std::vector<std::wstring>& log;
      bool started;
      RecordingShell(std::vector<std::wstring>& l, bool s) : log(l), started(s) {}
      std::uint32_t GetVersion() override { return 0x23F00206; }
      bool Execute(const ShellStartRequest&, ProcessHandle* process) override {
        log.push_back(L"create process");
        *process = started ? 153 : 0;
        return started;
      }
      void WaitForProcess(ProcessHandle p) override {
        log.push_back(L"wait " + std::to_wstring(p));
      }
      void CloseProcess(ProcessHandle p) override { log.push_back(L"close " + std::to_wstring(p)); }
    } shell(log, c.started);
    EXPECT_EQ(StartProcess(shell, L"", L"C:\\T\\TarnixSetup.exe", c.wait,
                           [&log] { log.push_back(L"after shell"); }),
              c.started);
    EXPECT_EQ(log, c.log) << c.started << c.wait;
  }
}

}  // namespace
}  // namespace tarnix
