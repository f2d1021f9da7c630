// The two worker threads' logic run one after the other against fakes that
// share one log: the installer file checked on the download thread stays
// open while the installer runs, and is closed only after the wait for the
// installer's process has returned. Each thread is inside a COM apartment
// only around its call into urlmon or the shell: the download thread has
// left before it hands over (the first thread of an apartment leaves last),
// and the installer run before it waits for the installer.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "download/download_worker.h"
#include "download/install_run.h"
#include "fakes/fake_installer_trust.h"
#include "fakes/fake_transfer_files.h"
#include "platform/shell.h"

namespace tarnix {
namespace {

using testing::FakeInstallerTrust;

const std::wstring kShippedPath = L"E:\\TarnixSetup.exe";

// What both threads share in the process: the handed-over file and the log.
struct Process {
  std::vector<std::wstring> log;
  InstallerFile checkedInstaller;
  std::wstring checkedPath;
};

// A transfer gives a whole file, of no announced size.
class FakeDownloadPlatform : public testing::WithFakeFiles<DownloadPlatform> {
 public:
  explicit FakeDownloadPlatform(Process& process) : process_(process) {}
  long Transfer(const std::wstring&, TransferSink& sink, TransferCounts*) override {
    process_.log.push_back(L"download");
    sink.Response(200, L"");
    const std::uint8_t body[1000] = {};
    sink.Body(body, sizeof(body));
    return 0;
  }
  void DeleteCacheEntry(const std::wstring&) override {}
  void SetProgress(int) override {}
  void ShowStart(std::uint64_t, std::uint64_t) override {}
  void Pause(std::uint32_t) override {}
  std::uint32_t TickMs() override { return 0; }
  // The one beside the launcher is there when the case ships one.
  bool shipped = false;
  bool QueryFileSize(const std::wstring& path, std::uint64_t* size) override {
    *size = 1000;
    return shipped || path != kShippedPath;
  }
  void RemoveFile(const std::wstring&) override { process_.log.push_back(L"remove"); }
  // No identities: the paths are compared as text.
  bool QueryFileIdentity(const std::wstring&, FileIdentity*) override { return false; }
  void SignalFinished(InstallerFile installer, const std::wstring& path) override {
    process_.checkedInstaller = std::move(installer);
    process_.checkedPath = path;
    process_.log.push_back(L"signal");
  }
  void ShowMessage(UiText text) override {
    process_.log.push_back(UiTextIn(UiLanguage::kChinese, text));
  }
  long InitializeCom() override {
    process_.log.push_back(L"com init (download)");
    return kComOk;
  }
  void UninitializeCom() override { process_.log.push_back(L"com uninit (download)"); }

 private:
  Process& process_;
};

class LoggingShell : public Shell {
 public:
  explicit LoggingShell(Process& process) : process_(process) {}
  std::uint32_t GetVersion() override { return 0x23F00206; }
  bool Execute(const ShellStartRequest& request, ProcessHandle* started, std::uint32_t*) override {
    process_.log.push_back(L"create process " + request.verb + L" " + request.file);
    *started = 0x99;
    return true;
  }
  void WaitForProcess(ProcessHandle) override { process_.log.push_back(L"wait for process"); }
  bool ExitCode(ProcessHandle, std::uint32_t*) override { return false; }
  void CloseProcess(ProcessHandle) override { process_.log.push_back(L"close process"); }
  long InitializeCom() override {
    process_.log.push_back(L"com init (shell)");
    return kComOk;
  }
  void UninitializeCom() override { process_.log.push_back(L"com uninit (shell)"); }

 private:
  Process& process_;
};

class FakeInstallPlatform : public InstallPlatform, public FileQuery, public AppLaunch {
 public:
  explicit FakeInstallPlatform(Process& process) : process_(process), shell_(process) {}
  bool WaitForDownload() override { return process_.checkedInstaller.IsValid(); }
  void SetProgress(int) override {}
  std::wstring InstallerPath() override { return process_.checkedPath; }
  std::uint32_t QueryAttributes(const std::wstring&) override { return 0x20; }
  bool StartProcess(const std::wstring& parameters, const std::wstring& file, bool wait) override {
    return tarnix::StartProcess(shell_, parameters, file, wait);
  }
  void ReleaseInstaller() override { process_.checkedInstaller.Reset(); }
  void ShowMessage(UiText text) override {
    process_.log.push_back(UiTextIn(UiLanguage::kChinese, text));
  }
  void InstallerStarting() override {}
  bool LaunchApp() override { return true; }
  void EnableDone() override {}
  void HideDialog() override {}
  bool WaitForLaunchReport() override { return true; }

 private:
  Process& process_;
  LoggingShell shell_;
};

TEST(InstallerHandOver, TheCheckedHandleIsHeldFromTheCheckUntilTheInstallerHasEnded) {
  // Downloaded, or shipped beside the launcher: the same check, hand-over and run.
  for (bool shipped : {false, true}) {
    Process process;
    FakeInstallerTrust trust(process.log);
    FakeDownloadPlatform download(process);
    download.shipped = shipped;
    RunDownload(
        {L"http://host/file", L"C:\\T\\TarnixSetup.exe", kShippedPath, L"E:\\TarnixLauncher.exe"},
        L"Korvane", download, trust);

    FakeInstallPlatform install(process);
    InstallStages stages;
    EXPECT_EQ(RunInstallation(install, install, install, stages), InstallationEnd::kReportFinished);

    const std::wstring installer = shipped ? kShippedPath : L"C:\\T\\TarnixSetup.exe";
    std::vector<std::wstring> expected;
    if (!shipped) expected = {L"com init (download)", L"download", L"com uninit (download)"};
    for (const wchar_t* step :
         {L"open ", L"read", L"read", L"read", L"verify ", L"signer", L"close state", L"signal",
          L"com init (shell)", L"create process runas ", L"com uninit (shell)", L"wait for process",
          L"close process", L"close file"}) {
      std::wstring line = step;
      expected.push_back(line.ends_with(L' ') ? line + installer : line);
    }
    EXPECT_EQ(process.log, expected) << shipped;
  }
}

}  // namespace
}  // namespace tarnix
