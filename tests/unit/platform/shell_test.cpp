#include "platform/shell.h"

#include <gtest/gtest.h>

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
    EXPECT_EQ(shell.starts[0].mask, 0x40u);
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

}  // namespace
}  // namespace tarnix
