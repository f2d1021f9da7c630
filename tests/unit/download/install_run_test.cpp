#include "download/install_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fakes/fake_log.h"

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
  InstallStages stages;
  // The user closes the dialog right after this call (none: never).
  std::wstring closeAfter;

  void Record(std::wstring call) {
    calls.push_back(call);
    if (call != closeAfter) return;
    const wchar_t* const names[] = {L"end now", L"wait for installer", L"wait for launch"};
    calls.push_back(std::wstring(L"close: ") + names[static_cast<int>(stages.CloseDialog())]);
  }
  bool WaitForDownload() override {
    Record(L"wait");
    return waitSucceeds;
  }
  void SetProgress(int position) override { Record(L"pos " + std::to_wstring(position)); }
  std::wstring InstallerPath() override { return kInstaller; }
  std::uint32_t QueryAttributes(const std::wstring& path) override {
    calls.push_back(L"attributes " + path);
    return attributes;
  }
  bool StartProcess(const std::wstring& parameters, const std::wstring& file, bool wait) override {
    Record(L"start [" + parameters + L"] " + file + (wait ? L" wait" : L" nowait"));
    return installerStarts;
  }
  void ReleaseInstaller() override { calls.push_back(L"release"); }
  void ShowMessage(UiText text) override {
    calls.push_back(std::wstring(L"message ") + UiTextIn(UiLanguage::kChinese, text));
  }
  void InstallerStarting() override { Record(L"installer starting"); }
  bool LaunchApp() override {
    Record(L"launch");
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

const std::wstring kStarting = L"installer starting";
const std::wstring kStart = L"start [] C:\\T\\TarnixSetup.exe wait";
const std::wstring kAttributes = L"attributes C:\\T\\TarnixSetup.exe";

TEST(RunInstallation, RunsTheInstallerLaunchesHidesTheDialogWaitsForTheReportAndAsksToEnd) {
  FakeInstallPlatform platform;
  EXPECT_EQ(RunInstallation(platform, platform, platform, platform.stages),
            InstallationEnd::kReportFinished);
  EXPECT_EQ(platform.calls,
            (std::vector<std::wstring>{L"wait", L"pos 150", kAttributes, L"pos 180", kStarting,
                                       kStart, L"release", L"pos 200", L"launch", L"enable done",
                                       L"hide dialog", L"wait for report"}));
}

TEST(RunInstallation, AReportThatMayStillRunAsksForTheProcessToEndWithoutWaitingOnIt) {
  FakeInstallPlatform platform;
  platform.reportFinishes = false;
  EXPECT_EQ(RunInstallation(platform, platform, platform, platform.stages),
            InstallationEnd::kReportMayStillRun);
  EXPECT_EQ(platform.calls.back(), L"wait for report");
}

TEST(RunInstallation, FailuresAreReportedAndTheHandOverStillHappens) {
  struct Case {
    bool installerStarts;
    bool launchSucceeds;
    std::vector<std::wstring> calls;
  };
  const Case cases[] = {
      {false,
       true,
       {L"wait", L"pos 150", kAttributes, L"pos 180", kStarting, kStart, L"release",
        L"message 安装Tarnix失败！", L"pos 200", L"launch", L"enable done", L"hide dialog",
        L"wait for report"}},
      // The message does not wait for the report; the dialog goes only after it.
      {true,
       false,
       {L"wait", L"pos 150", kAttributes, L"pos 180", kStarting, kStart, L"release", L"pos 200",
        L"launch", L"message 运行App失败！", L"enable done", L"hide dialog", L"wait for report"}},
      // A refused elevation prompt: the host is still missing, so both boxes, in order.
      {false,
       false,
       {L"wait", L"pos 150", kAttributes, L"pos 180", kStarting, kStart, L"release",
        L"message 安装Tarnix失败！", L"pos 200", L"launch", L"message 运行App失败！",
        L"enable done", L"hide dialog", L"wait for report"}},
  };
  for (const Case& c : cases) {
    FakeInstallPlatform platform;
    platform.installerStarts = c.installerStarts;
    platform.launchSucceeds = c.launchSucceeds;
    EXPECT_EQ(RunInstallation(platform, platform, platform, platform.stages),
              InstallationEnd::kReportFinished);
    EXPECT_EQ(platform.calls, c.calls) << c.installerStarts << c.launchSucceeds;
  }
}

TEST(RunInstallation, MissingInstallerOrAFolderStopsQuietlyAt150) {
  for (std::uint32_t attributes : {kInvalidFileAttributes, kFileAttributeDirectory}) {
    FakeInstallPlatform platform;
    platform.attributes = attributes;
    EXPECT_EQ(RunInstallation(platform, platform, platform, platform.stages),
              InstallationEnd::kThreadReturns);
    // The checked file is let go, since nothing will run it.
    EXPECT_EQ(platform.calls,
              (std::vector<std::wstring>{L"wait", L"pos 150", kAttributes, L"release"}));
  }
}

TEST(RunInstallation, AFailedWaitRunsNothing) {
  FakeInstallPlatform platform;
  platform.waitSucceeds = false;
  EXPECT_EQ(RunInstallation(platform, platform, platform, platform.stages),
            InstallationEnd::kThreadReturns);
  EXPECT_EQ(platform.calls, std::vector<std::wstring>{L"wait"});
}

// A close of the dialog against each point of the installation: before the
// installer's start nothing is started; while it runs, the thread sees it to
// its end and then returns without a box, a launch or the dialog's buttons
// (the dialog's thread waits for that and ends the process); once the
// installer has ended, the launch goes on to the report's end, and the
// dialog's thread waits for it too.
TEST(RunInstallation, AClosedDialogDecidesWhetherTheInstallerStartsAndTheLaunchFollows) {
  struct Case {
    const char* name;
    std::wstring closeAfter;
    bool installerStarts;
    InstallationEnd end;
    std::vector<std::wstring> calls;
  };
  const Case cases[] = {
      {"during the download",
       L"wait",
       true,
       InstallationEnd::kThreadReturns,
       {L"wait", L"close: end now", L"pos 150", kAttributes, L"pos 180", L"release"}},
      // The last moment before the start: the close wins, no installer runs.
      {"right before the installer's start",
       L"pos 180",
       true,
       InstallationEnd::kThreadReturns,
       {L"wait", L"pos 150", kAttributes, L"pos 180", L"close: end now", L"release"}},
      {"while the installer runs",
       kStart,
       true,
       InstallationEnd::kThreadReturns,
       {L"wait", L"pos 150", kAttributes, L"pos 180", kStarting, kStart,
        L"close: wait for installer", L"release"}},
      // A refused elevation after the close: no box either, nothing is on screen.
      {"while the start is refused",
       kStart,
       false,
       InstallationEnd::kThreadReturns,
       {L"wait", L"pos 150", kAttributes, L"pos 180", kStarting, kStart,
        L"close: wait for installer", L"release"}},
      // The host's elevation prompt is up.
      {"while the host is being started",
       L"launch",
       true,
       InstallationEnd::kReportFinished,
       {L"wait", L"pos 150", kAttributes, L"pos 180", kStarting, kStart, L"release", L"pos 200",
        L"launch", L"close: wait for launch", L"enable done", L"hide dialog", L"wait for report"}},
      {"right after the installer's end",
       L"pos 200",
       false,
       InstallationEnd::kReportFinished,
       {L"wait", L"pos 150", kAttributes, L"pos 180", kStarting, kStart, L"release",
        L"message 安装Tarnix失败！", L"pos 200", L"close: wait for launch", L"launch",
        L"enable done", L"hide dialog", L"wait for report"}},
  };
  for (const Case& c : cases) {
    testing::RecordedLog log;
    FakeInstallPlatform platform;
    platform.closeAfter = c.closeAfter;
    platform.installerStarts = c.installerStarts;
    EXPECT_EQ(RunInstallation(platform, platform, platform, platform.stages), c.end) << c.name;
    EXPECT_EQ(platform.calls, c.calls) << c.name;
    const bool closedDuringInstaller = c.closeAfter == kStart;
    EXPECT_EQ(log.With(L"installer ended after the dialog closed").size(),
              closedDuringInstaller ? 1u : 0u)
        << c.name;
  }
}

TEST(InstallStages, EachSideSeesTheOrderTheOtherSaw) {
  // Close first: the installer may not start.
  InstallStages closedFirst;
  EXPECT_EQ(closedFirst.CloseDialog(), DialogClose::kEndNow);
  EXPECT_FALSE(closedFirst.BeginInstaller());
  EXPECT_EQ(closedFirst.Stage(), InstallStage::kClosed);

  // Closed while the installer runs: the close waits, the launch does not follow.
  InstallStages closedDuring;
  EXPECT_TRUE(closedDuring.BeginInstaller());
  EXPECT_EQ(closedDuring.CloseDialog(), DialogClose::kWaitForInstaller);
  EXPECT_FALSE(closedDuring.EndInstaller());
  EXPECT_EQ(closedDuring.Stage(), InstallStage::kClosedWhileInstalling);

  // Closed (or Done) after the installer: the close waits for the launch.
  InstallStages closedAfter;
  EXPECT_TRUE(closedAfter.BeginInstaller());
  EXPECT_TRUE(closedAfter.EndInstaller());
  EXPECT_EQ(closedAfter.CloseDialog(), DialogClose::kWaitForLaunch);
  EXPECT_EQ(closedAfter.Stage(), InstallStage::kClosedWhileLaunching);

  // Asked again, a close answers as it did the first time.
  EXPECT_EQ(closedFirst.CloseDialog(), DialogClose::kEndNow);
  EXPECT_EQ(closedDuring.CloseDialog(), DialogClose::kWaitForInstaller);
  EXPECT_EQ(closedAfter.CloseDialog(), DialogClose::kWaitForLaunch);
}

// The two threads race for real: whichever wins, both agree on it, so a
// start never meets a close that ends the process at once.
TEST(InstallStages, AStartAndACloseAtTheSameMomentAgree) {
  int closesFirst = 0;
  int startsFirst = 0;
  for (int round = 0; round < 500; ++round) {
    InstallStages stages;
    bool started = false;
    std::thread installer([&] { started = stages.BeginInstaller(); });
    DialogClose close = stages.CloseDialog();
    installer.join();
    if (started) {
      ++startsFirst;
      EXPECT_EQ(close, DialogClose::kWaitForInstaller);
      EXPECT_FALSE(stages.EndInstaller());
    } else {
      ++closesFirst;
      EXPECT_EQ(close, DialogClose::kEndNow);
    }
  }
  EXPECT_EQ(closesFirst + startsFirst, 500);
}

// The close's side: it waits from the installer's start on, and logs what it does.
TEST(FinishClosedDialog, WaitsForTheInstallRunOnceTheInstallerHasStarted) {
  struct Case {
    int stepsBefore;  // 0: downloading, 1: installer started, 2: installer ended
    bool waits;
    std::vector<std::wstring> lines;
  };
  const Case cases[] = {
      {0, false, {L"dialog closed before the installer started"}},
      {1, true, {L"dialog closed while the installer runs; waiting for it"}},
      {2, true, {L"dialog closed while the host is being started; waiting for the launch"}},
  };
  for (const Case& c : cases) {
    testing::RecordedLog log;
    InstallStages stages;
    if (c.stepsBefore >= 1) stages.BeginInstaller();
    if (c.stepsBefore >= 2) stages.EndInstaller();
    bool waited = false;
    FinishClosedDialog(stages, [&] { waited = true; });
    EXPECT_EQ(waited, c.waits) << c.stepsBefore;
    EXPECT_EQ(log.lines, c.lines) << c.stepsBefore;
  }
}

// Both threads as the process runs them: the dialog closes while the
// installer runs, or while the host is being started; the dialog's thread
// goes on (and gives the lock up, or ends the process) only after the
// installer-run thread has seen the installer, or the launch and its report,
// to the end. After a close during the installer nothing is launched.
TEST(FinishClosedDialog, TheDialogsThreadGoesOnOnlyOnceTheInstallRunIsDone) {
  struct Case {
    const char* name;
    const wchar_t* blockedIn;  // the step that waits for the user
    std::wstring closeLine;
    std::vector<std::wstring> events;
  };
  const std::wstring kInstallerLine =
      L"log: dialog closed while the installer runs; waiting for it";
  const std::wstring kLaunchLine =
      L"log: dialog closed while the host is being started; waiting for the launch";
  const Case cases[] = {
      {"while the installer runs",
       L"installer",
       kInstallerLine,
       {L"installer begins", kInstallerLine, L"installer ends",
        L"log: installer ended after the dialog closed; the host is not started",
        L"dialog's thread goes on"}},
      // The host's elevation prompt is up: its report and store write follow.
      {"while the host is being started",
       L"host start",
       kLaunchLine,
       {L"installer begins", L"installer ends", L"host start begins", kLaunchLine,
        L"host start ends", L"report over", L"dialog's thread goes on"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::wstring> events;
    bool userAnswered = false;
    auto record = [&](std::wstring event) {
      std::lock_guard<std::mutex> hold(mutex);
      events.push_back(std::move(event));
      changed.notify_all();
    };
    auto waitFor = [&](const std::wstring& event) {
      std::unique_lock<std::mutex> hold(mutex);
      return changed.wait_for(hold, std::chrono::seconds(10), [&] {
        return std::find(events.begin(), events.end(), event) != events.end();
      });
    };
    struct SharedLog : LogSink {
      std::function<void(std::wstring)> record;
      explicit SharedLog(std::function<void(std::wstring)> r) : record(std::move(r)) {
        SetProcessLog(this);
      }
      ~SharedLog() override { SetProcessLog(nullptr); }
      void WriteLine(std::wstring_view text) override { record(L"log: " + std::wstring(text)); }
    } log(record);

    struct BlockingSteps : FakeInstallPlatform {
      std::function<void(std::wstring)> record;
      std::function<void()> waitForUser;
      std::wstring blockedIn;
      void Step(const std::wstring& step) {
        record(step + L" begins");
        if (step == blockedIn) waitForUser();
        record(step + L" ends");
      }
      bool StartProcess(const std::wstring&, const std::wstring&, bool) override {
        Step(L"installer");
        return true;
      }
      bool LaunchApp() override {
        Step(L"host start");
        return true;
      }
      bool WaitForLaunchReport() override {
        record(L"report over");
        return true;
      }
    } platform;
    platform.record = record;
    platform.blockedIn = c.blockedIn;
    platform.waitForUser = [&] {
      std::unique_lock<std::mutex> hold(mutex);
      changed.wait(hold, [&] { return userAnswered; });
    };

    std::thread installRun([&] { RunInstallation(platform, platform, platform, platform.stages); });
    ASSERT_TRUE(waitFor(std::wstring(c.blockedIn) + L" begins"));
    std::thread dialog([&] {
      FinishClosedDialog(platform.stages, [&] { installRun.join(); });
      record(L"dialog's thread goes on");
    });
    ASSERT_TRUE(waitFor(c.closeLine));
    {
      std::lock_guard<std::mutex> hold(mutex);
      userAnswered = true;
      changed.notify_all();
    }
    dialog.join();
    EXPECT_EQ(events, c.events);
  }
}

}  // namespace
}  // namespace tarnix
