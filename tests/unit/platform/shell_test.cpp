#include "platform/shell.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/fake_log.h"
#include "fakes/fake_shell.h"

namespace tarnix {
namespace {

using testing::FakeShell;

TEST(StartProcess, ChoosesTheVerbByMajorVersionAndReleasesTheProcess) {
  struct Case {
    std::uint32_t version;
    const wchar_t* verb;
  };
  const Case cases[] = {{0x0A280105, L"open"}, {0x0ECE0205, L"open"}, {0x1DB10106, L"runas"},
                        {0x4A61000A, L"runas"}};
  for (const Case& c : cases) {
    FakeShell shell;
    shell.version = c.version;
    EXPECT_TRUE(StartProcess(shell, L"", L"C:\\setup.exe", false));
    ASSERT_EQ(shell.starts.size(), 1u);
    EXPECT_EQ(shell.starts[0].verb, c.verb);
    // The process handle is kept, and the shell returns only once the start is complete.
    EXPECT_EQ(shell.starts[0].mask, 0x140u);
    EXPECT_EQ(shell.starts[0].show, 1);
    EXPECT_FALSE(shell.starts[0].hasParameters);  // empty parameters are passed as none
    EXPECT_TRUE(shell.waits.empty());
    EXPECT_EQ(shell.closes, std::vector<ProcessHandle>{0x4242});
  }
}

TEST(StartProcess, WaitsForTheProcessAndAFailedStartReturnsFalseAtOnce) {
  FakeShell shell;
  EXPECT_TRUE(StartProcess(shell, L"/S", L"C:\\setup.exe", true));
  EXPECT_EQ(shell.waits, std::vector<ProcessHandle>{0x4242});
  EXPECT_EQ(shell.starts[0].parameters, L"/S");

  FakeShell failing;
  failing.succeed = false;
  EXPECT_FALSE(StartProcess(failing, L"", L"C:\\setup.exe", true));
  EXPECT_EQ(failing.waits, std::vector<ProcessHandle>{0});  // no process: the wait returns at once
}

TEST(StartProcess, AKeptProcessGoesToTheCallerUnclosedAndAFailedStartKeepsNone) {
  FakeShell shell;
  ProcessHandle kept = 0x99;
  EXPECT_TRUE(StartProcess(shell, L"", L"C:\\host.exe", false, &kept));
  EXPECT_EQ(kept, ProcessHandle{0x4242});
  EXPECT_TRUE(shell.closes.empty()) << "the caller owns the handle now";

  FakeShell failing;
  failing.succeed = false;
  kept = 0x99;
  EXPECT_FALSE(StartProcess(failing, L"", L"C:\\host.exe", false, &kept));
  EXPECT_EQ(kept, ProcessHandle{0});

  FakeShell noProcess;  // the shell handed the file to a running program
  noProcess.processToReturn = 0;
  kept = 0x99;
  EXPECT_TRUE(StartProcess(noProcess, L"", L"C:\\host.exe", false, &kept));
  EXPECT_EQ(kept, ProcessHandle{0});
}

// The thread is inside the apartment for the shell's call alone: it has left
// before it waits for the process, and leaves only when it joined.
TEST(StartProcess, StartsInsideACOMApartmentAndLeavesItBeforeTheWaitOnlyWhenItJoined) {
  constexpr long kChangedMode = static_cast<std::int32_t>(0x80010106u);  // RPC_E_CHANGED_MODE
  struct Case {
    const char* name;
    long comResult;
    bool started;
    bool wait;
    std::vector<std::wstring> log;
  };
  const Case cases[] = {
      {"joined, waits", kComOk, true, true,
       {L"com init", L"create process", L"com uninit", L"wait 153", L"close 153"}},
      {"inside already", kComAlreadyInitialized, true, false,
       {L"com init", L"create process", L"com uninit", L"close 153"}},
      // A refused start leaves no process, so nothing to close; the thread still leaves.
      {"joined, start refused", kComOk, false, true,
       {L"com init", L"create process", L"com uninit", L"wait 0"}},
      // Without COM the start goes on as it always did, and nothing is left.
      {"thread in another apartment", kChangedMode, true, true,
       {L"com init", L"create process", L"wait 153", L"close 153"}},
      {"no COM at all", kComFailed, true, false, {L"com init", L"create process", L"close 153"}},
  };
  for (const Case& c : cases) {
    std::vector<std::wstring> log;
    struct RecordingShell : Shell {
      std::vector<std::wstring>& log;
      bool started;
      long comResult;
      RecordingShell(std::vector<std::wstring>& l, bool s, long r)
          : log(l), started(s), comResult(r) {}
      std::uint32_t GetVersion() override { return 0x23F00206; }
      bool Execute(const ShellStartRequest&, ProcessHandle* process, std::uint32_t*) override {
        log.push_back(L"create process");
        *process = started ? 153 : 0;
        return started;
      }
      void WaitForProcess(ProcessHandle p) override {
        log.push_back(L"wait " + std::to_wstring(p));
      }
      bool ExitCode(ProcessHandle, std::uint32_t*) override { return false; }
      void CloseProcess(ProcessHandle p) override { log.push_back(L"close " + std::to_wstring(p)); }
      long InitializeCom() override {
        log.push_back(L"com init");
        return comResult;
      }
      void UninitializeCom() override { log.push_back(L"com uninit"); }
    } shell(log, c.started, c.comResult);
    EXPECT_EQ(StartProcess(shell, L"", L"C:\\T\\TarnixSetup.exe", c.wait), c.started) << c.name;
    EXPECT_EQ(log, c.log) << c.name;
  }
}

TEST(StartProcess, LogsTheShellsResultItsErrorAndTheExitCodeOfAProcessWaitedFor) {
  struct Case {
    bool started;
    bool wait;
    std::vector<std::wstring> lines;
  };
  const std::wstring file = L"C:\\T\\TarnixSetup.exe";
  const Case cases[] = {
      {true, true,
       {L"start \"C:\\T\\TarnixSetup.exe\" (runas): started",
        L"\"C:\\T\\TarnixSetup.exe\" ended with exit code 3221225786"}},
      {true, false, {L"start \"C:\\T\\TarnixSetup.exe\" (runas): started"}},
      // A refused elevation: the shell's error, and no process to ask for an exit code.
      {false, true, {L"start \"C:\\T\\TarnixSetup.exe\" (runas): not started, error 1223"}},
  };
  for (const Case& c : cases) {
    testing::RecordedLog lines;
    testing::FakeShell shell;
    shell.succeed = c.started;
    shell.exitCode = 0xC000013Au;  // ended by Ctrl+C
    StartProcess(shell, L"", file, c.wait);
    EXPECT_EQ(lines.lines, c.lines) << c.started << c.wait;
  }
}

}  // namespace
}  // namespace tarnix
