#include "app/launch.h"

#include <gtest/gtest.h>

#include "app/host_lookup.h"
#include "fakes/fake_launch_platform.h"
#include "fakes/fake_log.h"
#include "fakes/fake_registry.h"
#include "platform/admin_policy.h"

namespace tarnix {
namespace {

using testing::FakeFiles;
using testing::FakeRegistry;
using testing::FakeSession;
using testing::FakeShell;
using testing::RecordedLog;

LaunchOptions Parse(const std::wstring& commandLine) {
  LaunchOptions options;
  ParseLaunchSwitches(LowerCaseAscii(commandLine), options);
  return options;
}

TEST(ParseLaunchSwitches, ReadsTheThreeSwitchesInAnyOrderAndCase) {
  struct Case {
    const wchar_t* commandLine;
    const wchar_t* name;
    const wchar_t* version;
    const wchar_t* size;
  };
  const Case cases[] = {
      {L"", L"default", L"1.0.0.1", L""},
      {L"--appname=Foo --appwindowsize=800x600 --appversion=2.0.1", L"foo", L"2.0.1", L"800x600"},
      {L"--appversion=2.0.1 --appname=Foo --appwindowsize=800x600", L"foo", L"2.0.1", L"800x600"},
      {L"--APPNAME=MyApp", L"myapp", L"1.0.0.1", L""},
      {L"junk before --appname=a between --appversion=3", L"a", L"3", L""},
      {L"--appname= --appversion= ", L"", L"", L""},                   // present but empty
      {L"--appname=foo", L"foo", L"1.0.0.1", L""},                     // value runs to the end
      {L"--appname=a --appname=b", L"b", L"1.0.0.1", L""},             // the later one wins
      {L"--appname=a\tb", L"a\tb", L"1.0.0.1", L""},                   // a tab does not end a value
      {L"--appwindowsize= \t800X600\t", L"default", L"1.0.0.1", L""},  // blank ends it first
      {L"--appwindowsize=\t800X600\t ", L"default", L"1.0.0.1", L"800x600"},
      {L"--appwindowsize=\t", L"default", L"1.0.0.1", L""},
      // Without a blank the value's text is read again, so a "--" in it counts.
      {L"--appname=x--appversion=9", L"x--appversion=9", L"9", L""},
      // Unknown switches are skipped; parsing goes on at the next "--".
      {L"--verbose --appname=v --x=1 --appversion=2", L"v", L"2", L""},
      {L"---appname=z", L"default", L"1.0.0.1", L""},
  };
  for (const Case& c : cases) {
    LaunchOptions options = Parse(c.commandLine);
    EXPECT_EQ(options.appName, c.name) << c.commandLine;
    EXPECT_EQ(options.appVersion, c.version) << c.commandLine;
    EXPECT_EQ(options.windowSize, c.size) << c.commandLine;
  }
}

std::wstring Repeated(const std::wstring& piece, int times) {
  std::wstring text;
  for (int i = 0; i < times; ++i) text += piece;
  return text;
}

TEST(ParseLaunchSwitches, EndsOnHostileInput) {
  struct Case {
    std::wstring commandLine;
    const wchar_t* name;
    const wchar_t* version;
    const wchar_t* size;
  };
  const Case cases[] = {
      {std::wstring(20000, L'-'), L"default", L"1.0.0.1", L""},
      {std::wstring(32767, L'x'), L"default", L"1.0.0.1", L""},
      // Each value runs to the end and is read again; the last switch wins
      // with what is left after it.
      {Repeated(L"--appname=", 3000), L"", L"1.0.0.1", L""},
      {Repeated(L"--appversion=1--zz", 3000), L"default", L"1--zz", L""},
  };
  for (const Case& c : cases) {
    LaunchOptions options = Parse(c.commandLine);
    EXPECT_EQ(options.appName, c.name) << c.commandLine.substr(0, 40);
    EXPECT_EQ(options.appVersion, c.version) << c.commandLine.substr(0, 40);
    EXPECT_EQ(options.windowSize, c.size) << c.commandLine.substr(0, 40);
  }
}

TEST(FitWindowSize, ReadsNumbersLikeWcstolAndCapsOnlyAbove) {
  struct Case {
    const wchar_t* size;
    WorkArea area;
    const wchar_t* expected;
  };
  const Case cases[] = {
      {L"", {1920, 1040}, L"1920x1040"},
      {L"800x600", {1920, 1040}, L"800x600"},
      {L"4000x3000", {1366, 728}, L"1366x728"},
      {L"800", {1920, 1040}, L"0x800"},
      {L"2000", {1920, 1040}, L"0x1040"},
      {L"-5x-5", {1920, 1040}, L"-5x-5"},
      {L"0x0", {1920, 1040}, L"0x0"},
      {L" +640x 480px", {1920, 1040}, L"640x480"},
      {L"axb", {1920, 1040}, L"0x0"},
      {L"99999999999x-99999999999", {1920, 1040}, L"1920x-2147483648"},
      {L"800x600x400", {1920, 1040}, L"800x600"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FitWindowSize(c.size, c.area), c.expected) << c.size;
  }
}

// Splits parameters as CommandLineToArgvW does for every argument after the
// program name: 2n backslashes before a quote give n and toggle quoting,
// 2n+1 give n and a literal quote, other backslashes are literal; inside
// quotes a doubled quote is a literal quote.
std::vector<std::wstring> SplitLikeCommandLineToArgv(const std::wstring& text) {
  std::vector<std::wstring> args;
  std::size_t i = 0;
  while (true) {
    while (i < text.size() && (text[i] == L' ' || text[i] == L'\t')) ++i;
    if (i >= text.size()) return args;
    std::wstring arg;
    bool quoted = false;
    while (i < text.size() && (quoted || (text[i] != L' ' && text[i] != L'\t'))) {
      if (text[i] == L'\\') {
        std::size_t count = 0;
        while (i < text.size() && text[i] == L'\\') ++count, ++i;
        if (i < text.size() && text[i] == L'"') {
          arg.append(count / 2, L'\\');
          if (count % 2 == 1) {
            arg.push_back(L'"');
            ++i;
          }
        } else {
          arg.append(count, L'\\');
        }
      } else if (text[i] == L'"') {
        if (quoted && i + 1 < text.size() && text[i + 1] == L'"') {
          arg.push_back(L'"');
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        arg.push_back(text[i++]);
      }
    }
    args.push_back(arg);
  }
}

TEST(BuildHostArguments, KeepsPlainPathsAsTheyAreAndQuotesPathsWithBlanks) {
  EXPECT_EQ(BuildHostArguments(L"C:\\Apps\\Demo", L"800x600"),
            L"--load-apps=C:\\Apps\\Demo --tarnix-host-window-size=800x600 --no-sandbox");
  EXPECT_EQ(BuildHostArguments(L"", L"1x2"),
            L"--load-apps= --tarnix-host-window-size=1x2 --no-sandbox");
  EXPECT_EQ(BuildHostArguments(L"C:\\My Apps\\", L"1x2"),
            L"--load-apps=\"C:\\My Apps\\\\\" --tarnix-host-window-size=1x2 --no-sandbox");
}

TEST(BuildHostArguments, EveryFolderSurvivesTheHostsSplitting) {
  const std::wstring folders[] = {
      L"C:\\Apps\\Demo",
      L"C:\\",
      L"C:\\My Apps",
      L"C:\\My Apps\\",
      L"C:\\a\tb\\\\",
      L"D:\\我的 应用\\x",
      L"\\\\server\\share\\with space",
      L"C:\\odd\" --no-sandbox \"x",  // not a legal Windows path, but still one argument
      L"C:\\a b\\\\\"\\",
  };
  for (const std::wstring& folder : folders) {
    std::vector<std::wstring> args =
        SplitLikeCommandLineToArgv(BuildHostArguments(folder, L"800x600"));
    ASSERT_EQ(args.size(), 3u) << folder;
    EXPECT_EQ(args[0], L"--load-apps=" + folder);
    EXPECT_EQ(args[1], L"--tarnix-host-window-size=800x600");
    EXPECT_EQ(args[2], L"--no-sandbox");
  }
}

TEST(DoubleBackslashes, DoublesEachOne) {
  EXPECT_EQ(DoubleBackslashes(L"C:\\A\\host.exe"), L"C:\\\\A\\\\host.exe");
  EXPECT_EQ(DoubleBackslashes(L"\\\\srv\\x"), L"\\\\\\\\srv\\\\x");
  EXPECT_EQ(DoubleBackslashes(L""), L"");
}

// One log of the report's and the shell's calls, in the order they came.
class RecordingReporter : public LaunchReporter {
 public:
  explicit RecordingReporter(std::vector<std::wstring>& log) : log_(log) {}
  void PrepareLaunchReport(const std::wstring& appName, const std::wstring& appVersion) override {
    reports.push_back(appName + L"|" + appVersion);
    log_.push_back(L"report prepared");
  }
  void StartLaunchReport(ProcessHandle hostProcess) override {
    hostProcesses.push_back(hostProcess);
    log_.push_back(L"report started");
  }
  bool WaitForLaunchReport() override {
    log_.push_back(L"report waited for");
    return reportEnds;
  }
  std::vector<std::wstring> reports;
  std::vector<ProcessHandle> hostProcesses;
  bool reportEnds = true;

 private:
  std::vector<std::wstring>& log_;
};

class LoggingShell : public FakeShell {
 public:
  explicit LoggingShell(std::vector<std::wstring>& log) : log_(log) {}
  bool Execute(const ShellStartRequest& request, ProcessHandle* process,
               std::uint32_t* error) override {
    log_.push_back(L"host started");
    return FakeShell::Execute(request, process, error);
  }

 private:
  std::vector<std::wstring>& log_;
};

class LoggingSession : public FakeSession {
 public:
  explicit LoggingSession(std::vector<std::wstring>& log) : log_(log) {}
  bool GetPrimaryWorkArea(WorkArea* area) override {
    log_.push_back(L"work area read");
    return FakeSession::GetPrimaryWorkArea(area);
  }

 private:
  std::vector<std::wstring>& log_;
};

class LaunchAppTest : public ::testing::Test {
 protected:
  void InstallHost(const std::wstring& path, std::uint32_t attributes = 0x20) {
    registry.SetString(RegistryHive::CurrentUser, HostKeyPath, HostPathValueName, path);
    files.attributes[path] = attributes;
  }
  LaunchEnvironment Environment() {
    return LaunchEnvironment{registry, files, session, shell, &reporter};
  }
  bool Launch() { return LaunchApp(Environment()); }
  bool LaunchDirectly() {
    return LaunchAndFinishReport(Environment(), [this](UiText text) {
      log.push_back(std::wstring(L"message ") + UiTextIn(UiLanguage::kChinese, text));
    });
  }

  std::vector<std::wstring> log;
  FakeRegistry registry;
  FakeFiles files;
  LoggingSession session{log};
  LoggingShell shell{log};
  RecordingReporter reporter{log};
};

TEST_F(LaunchAppTest, StartsTheDoubledHostPathWithTheBuiltArgumentsAfterTheReport) {
  InstallHost(L"C:\\A\\host.exe");
  session.arguments = L"--appname=Foo --appwindowsize=4000x3000 --appversion=2.0.1";
  session.workArea = {1366, 728};
  EXPECT_TRUE(Launch());
  EXPECT_EQ(reporter.reports, std::vector<std::wstring>{L"foo|2.0.1"});
  ASSERT_EQ(shell.starts.size(), 1u);
  EXPECT_EQ(shell.starts[0].file, L"C:\\\\A\\\\host.exe");
  EXPECT_EQ(shell.starts[0].parameters,
            L"--load-apps=C:\\Apps\\Demo --tarnix-host-window-size=1366x728 --no-sandbox");
  EXPECT_TRUE(shell.waits.empty());  // the launcher does not wait for the host
  // The launching thread joins a COM apartment for the shell and leaves it again.
  EXPECT_EQ(shell.comInitializations, 1);
  EXPECT_EQ(shell.comUninitializations, 1);
}

TEST_F(LaunchAppTest, DefaultsFillTheWholeWorkAreaOrTheScreenWhenItIsUnknown) {
  InstallHost(L"C:\\h.exe");
  session.currentDirectory = L"C:\\Mixed Case";
  EXPECT_TRUE(Launch());
  EXPECT_EQ(reporter.reports, std::vector<std::wstring>{L"default|1.0.0.1"});
  EXPECT_EQ(shell.starts[0].parameters,
            L"--load-apps=\"C:\\Mixed Case\" --tarnix-host-window-size=1920x1040 --no-sandbox");

  session.workAreaKnown = false;
  EXPECT_TRUE(Launch());
  EXPECT_EQ(shell.starts[1].parameters,
            L"--load-apps=\"C:\\Mixed Case\" --tarnix-host-window-size=1920x1080 --no-sandbox");
}

TEST_F(LaunchAppTest, AFolderTooLongForTheBufferLeavesThePathEmpty) {
  InstallHost(L"C:\\h.exe");
  session.currentDirectory = L"C:\\" + std::wstring(257, L'd');  // 260 units: one too many
  EXPECT_TRUE(Launch());
  EXPECT_EQ(shell.starts[0].parameters,
            L"--load-apps= --tarnix-host-window-size=1920x1040 --no-sandbox");
  session.currentDirectory = L"C:\\" + std::wstring(256, L'd');  // 259 units fit
  EXPECT_TRUE(Launch());
  EXPECT_EQ(shell.starts[1].parameters.find(L"--load-apps=C:\\ddd"), 0u);
}

TEST_F(LaunchAppTest, MissingHostOrAFolderFailsBeforeAnyReport) {
  EXPECT_FALSE(Launch());
  InstallHost(L"C:\\Tarnix", 0x10);
  EXPECT_FALSE(Launch());
  EXPECT_TRUE(reporter.reports.empty());
  EXPECT_TRUE(shell.starts.empty());
  EXPECT_TRUE(registry.AllClosed());
}

// The report names the time read before the host's start, but starts only
// after the shell, with the host's process to wait for; a start without a
// process starts it at once with none.
TEST_F(LaunchAppTest, TheReportIsPreparedBeforeTheHostAndStartedAfterItWithItsProcess) {
  struct Case {
    const char* name;
    bool hostStarts;
    ProcessHandle process;
  };
  const Case cases[] = {
      {"started", true, 0x4242},
      {"start refused", false, 0},
      {"no process from the shell", true, 0},
  };
  for (const Case& c : cases) {
    log.clear();
    reporter.hostProcesses.clear();
    shell.closes.clear();
    InstallHost(L"C:\\h.exe");
    shell.succeed = c.hostStarts;
    shell.processToReturn = c.process;
    EXPECT_EQ(Launch(), c.hostStarts) << c.name;
    EXPECT_EQ(log, (std::vector<std::wstring>{L"report prepared", L"work area read",
                                              L"host started", L"report started"}))
        << c.name;
    EXPECT_EQ(reporter.hostProcesses, std::vector<ProcessHandle>{c.process}) << c.name;
    EXPECT_TRUE(shell.closes.empty()) << c.name << ": the report owns the handle";
  }
}

TEST_F(LaunchAppTest, WithoutAReporterTheHostsHandleIsClosed) {
  InstallHost(L"C:\\h.exe");
  LaunchEnvironment environment{registry, files, session, shell, nullptr};
  EXPECT_TRUE(LaunchApp(environment));
  EXPECT_EQ(shell.closes, std::vector<ProcessHandle>{0x4242});
}

TEST_F(LaunchAppTest, APolicyThatTurnsTheReportOffStartsOnlyTheHost) {
  InstallHost(L"C:\\h.exe");
  registry.SetDword(RegistryHive::CurrentUser, kPolicyKeyPath, kUsageReportValueName, 0);
  RecordedLog policyLog;
  EXPECT_TRUE(LaunchDirectly());
  EXPECT_TRUE(reporter.reports.empty());
  // The wait finds no report to wait for.
  EXPECT_EQ(log,
            (std::vector<std::wstring>{L"work area read", L"host started", L"report waited for"}));
  EXPECT_EQ(policyLog.With(L"the usage report is turned off").size(), 1u);

  registry.SetDword(RegistryHive::LocalMachine, kPolicyKeyPath, kUsageReportValueName, 1);
  EXPECT_TRUE(Launch());
  EXPECT_EQ(reporter.reports.size(), 1u);  // the machine's value wins
  EXPECT_TRUE(registry.AllClosed());
}

TEST_F(LaunchAppTest, WithoutAReporterTheDirectBranchHasNothingToWaitFor) {
  struct Case {
    const char* name;
    bool hostStarts;
    std::vector<std::wstring> log;
  };
  const Case cases[] = {
      {"started", true, {L"work area read", L"host started"}},
      {"start refused", false, {L"work area read", L"host started", L"message 运行App失败！"}},
  };
  for (const Case& c : cases) {
    log.clear();
    InstallHost(L"C:\\h.exe");
    shell.succeed = c.hostStarts;
    LaunchEnvironment environment{registry, files, session, shell, nullptr};
    EXPECT_TRUE(LaunchAndFinishReport(environment, [this](UiText text) {
      log.push_back(std::wstring(L"message ") + UiTextIn(UiLanguage::kChinese, text));
    })) << c.name;
    EXPECT_EQ(log, c.log) << c.name;
  }
}

TEST_F(LaunchAppTest, TheDirectBranchWaitsForTheReportOnlyAfterTheHostOrItsFailureMessage) {
  struct Case {
    const char* name;
    bool hostInstalled;
    bool hostStarts;
    bool reportEnds;
    std::vector<std::wstring> log;
  };
  const Case cases[] = {
      {"started",
       true,
       true,
       true,
       {L"report prepared", L"work area read", L"host started", L"report started",
        L"report waited for"}},
      {"report still running",
       true,
       true,
       false,
       {L"report prepared", L"work area read", L"host started", L"report started",
        L"report waited for"}},
      // The message does not wait for the report.
      {"start refused",
       true,
       false,
       true,
       {L"report prepared", L"work area read", L"host started", L"report started",
        L"message 运行App失败！", L"report waited for"}},
      {"no host", false, true, true, {L"message 运行App失败！", L"report waited for"}},
  };
  for (const Case& c : cases) {
    log.clear();
    files.attributes.clear();
    if (c.hostInstalled) InstallHost(L"C:\\h.exe");
    shell.succeed = c.hostStarts;
    reporter.reportEnds = c.reportEnds;
    EXPECT_EQ(LaunchDirectly(), c.reportEnds) << c.name;
    EXPECT_EQ(log, c.log) << c.name;
  }
}

}  // namespace
}  // namespace tarnix

namespace tarnix {
namespace {

TEST(StartLogLine, NamesTheVersionAndTheInstallersUrlWithWhatSetIt) {
  EXPECT_EQ(StartLogLine(L"--appname=A", L"1.0.0.86", L"http://d.example/f", L""),
            L"launcher started with \"--appname=A\": version 1.0.0.86, download URL "
            L"\"http://d.example/f\" (built in)");
  EXPECT_EQ(
      StartLogLine(L"", L"1.0.0.86", L"https://m.example/f",
                   L"InstallerUrl in HKEY_LOCAL_MACHINE\\SOFTWARE\\Policies\\Korvane\\Tarnix"),
      L"launcher started with \"\": version 1.0.0.86, download URL \"https://m.example/f\" "
      L"(from InstallerUrl in HKEY_LOCAL_MACHINE\\SOFTWARE\\Policies\\Korvane\\Tarnix)");
}

}  // namespace
}  // namespace tarnix
