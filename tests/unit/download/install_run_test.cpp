#include "download/install_run.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace tarnix {
namespace {

const std::wstring kInstaller = L"C:\\T\\TarnixSetup.exe";

// Records every call in order, file queries included, and answers from its settings.
class FakeInstallPlatform : public InstallPlatform, public FileQuery, public AppLaunch {
 public:
  bool waitSucceeds = true;
  std::uint32_t attributes = 0x20;  // FILE_ATTRIBUTE_ARCHIVE
  bool installerStarts = true;
  bool launchSucceeds = true;
  std::vector<std::wstring> calls;

  bool WaitForDownload() override {
    calls.push_back(L"wait");
    return waitSucceeds;
  }
  void SetProgress(int position) override { calls.push_back(L"pos " + std::to_wstring(position)); }
  std::wstring InstallerPath() override { return kInstaller; }
  std::uint32_t QueryAttributes(const std::wstring& path) override {
    calls.push_back(L"attributes " + path);
    return attributes;
  }
  bool StartProcess(const std::wstring& parameters, const std::wstring& file, bool wait) override {
    calls.push_back(L"start [" + parameters + L"] " + file + (wait ? L" wait" : L" nowait"));
    return installerStarts;
  }
  void ReleaseInstaller() override { calls.push_back(L"release"); }
  void ShowMessage(const wchar_t* text) override { calls.push_back(std::wstring(L"message ") + text); }
  bool LaunchApp() override {
    calls.push_back(L"launch");
    return launchSucceeds;
  }
  void EnableDone() override { calls.push_back(L"enable done"); }
  void HideDialog() override { calls.push_back(L"hide dialog"); }
  bool reportFinishes = true;
  bool WaitForLaunchReport() override {
    calls.push_back(L"wait for report");
    return reportFinishes;
  }
};

const std::wstring kStart = L"start [] C:\\T\\TarnixSetup.exe wait";
const std::wstring kAttributes = L"attributes C:\\T\\TarnixSetup.exe";

TEST(RunInstallation, RunsTheInstallerLaunchesHidesTheDialogWaitsForTheReportAndAsksToEnd) {
  FakeInstallPlatform platform;
  EXPECT_EQ(RunInstallation(platform, platform, platform), InstallationEnd::kReportFinished);
  EXPECT_EQ(platform.calls,
            (std::vector<std::wstring>{L"wait", L"pos 150", kAttributes, L"pos 180", kStart,
                                       L"release", L"pos 200", L"launch", L"enable done",
                                       L"hide dialog", L"wait for report"}));
}

TEST(RunInstallation, AReportThatMayStillRunAsksForTheProcessToEndWithoutWaitingOnIt) {
  FakeInstallPlatform platform;
  platform.reportFinishes = false;
  EXPECT_EQ(RunInstallation(platform, platform, platform), InstallationEnd::kReportMayStillRun);
  EXPECT_EQ(platform.calls.back(), L"wait for report");
}

TEST(RunInstallation, FailuresAreReportedAndTheHandOverStillHappens) {
  struct Case {
    bool installerStarts;
    bool launchSucceeds;
    std::vector<std::wstring> calls;
  };
  const Case cases[] = {
      {false, true,
       {L"wait", L"pos 150", kAttributes, L"pos 180", kStart, L"release",
        L"message 安装Tarnix失败！", L"pos 200", L"launch", L"enable done", L"hide dialog",
        L"wait for report"}},
      // The message does not wait for the report; the dialog goes only after it.
      {true, false,
       {L"wait", L"pos 150", kAttributes, L"pos 180", kStart, L"release", L"pos 200", L"launch",
        L"message 运行App失败！", L"enable done", L"hide dialog", L"wait for report"}},
      // A refused elevation prompt: the host is still missing, so both boxes, in order.
      {false, false,
       {L"wait", L"pos 150", kAttributes, L"pos 180", kStart, L"release",
        L"message 安装Tarnix失败！", L"pos 200", L"launch", L"message 运行App失败！",
        L"enable done", L"hide dialog", L"wait for report"}},
  };
  for (const Case& c : cases) {
    FakeInstallPlatform platform;
    platform.installerStarts = c.installerStarts;
    platform.launchSucceeds = c.launchSucceeds;
    EXPECT_EQ(RunInstallation(platform, platform, platform), InstallationEnd::kReportFinished);
    EXPECT_EQ(platform.calls, c.calls) << c.installerStarts << c.launchSucceeds;
  }
}

TEST(RunInstallation, MissingInstallerOrAFolderStopsQuietlyAt150) {
  for (std::uint32_t attributes : {kInvalidFileAttributes, kFileAttributeDirectory}) {
    FakeInstallPlatform platform;
    platform.attributes = attributes;
    EXPECT_EQ(RunInstallation(platform, platform, platform), InstallationEnd::kThreadReturns);
    // The checked file is let go, since nothing will run it.
    EXPECT_EQ(platform.calls,
              (std::vector<std::wstring>{L"wait", L"pos 150", kAttributes, L"release"}));
  }
}

TEST(RunInstallation, AFailedWaitRunsNothing) {
  FakeInstallPlatform platform;
  platform.waitSucceeds = false;
  EXPECT_EQ(RunInstallation(platform, platform, platform), InstallationEnd::kThreadReturns);
  EXPECT_EQ(platform.calls, std::vector<std::wstring>{L"wait"});
}

}  // namespace
}  // namespace tarnix
