#include "app/install_lock.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/fake_log.h"

namespace tarnix {
namespace {

// Answers the waits from a script and records every call.
class FakeInstallLockPlatform : public InstallLockPlatform {
 public:
  MutexHandle handle = 0x77;
  std::uint32_t createError = 5;
  std::vector<std::uint32_t> waits;  // answers, in order
  std::vector<std::wstring> calls;

  MutexHandle CreateNamedMutex(const std::wstring& name, std::uint32_t* error) override {
    calls.push_back(L"create " + name);
    if (handle == 0) *error = createError;
    return handle;
  }
  std::uint32_t WaitForMutex(MutexHandle, std::uint32_t timeoutMs) override {
    calls.push_back(L"wait " + std::to_wstring(timeoutMs));
    std::uint32_t answer = waits.front();
    waits.erase(waits.begin());
    return answer;
  }
  void ReleaseOwnership(MutexHandle) override { calls.push_back(L"release"); }
  void CloseMutex(MutexHandle) override { calls.push_back(L"close"); }
};

const std::wstring kCreate = L"create Local\\TarnixLauncherInstall";
const std::wstring kTry = L"wait 0";
const std::wstring kWaitForever = L"wait 4294967295";

TEST(ChooseStartBranch, AHostThatIsThereNeverTouchesTheLock) {
  FakeInstallLockPlatform platform;
  InstallLock lock(platform);
  EXPECT_EQ(ChooseStartBranch([] { return false; }, lock), StartBranch::kDirect);
  EXPECT_TRUE(platform.calls.empty());
}

TEST(ChooseStartBranch, TakesTheLockThenLooksForTheHostAgain) {
  struct Case {
    const char* name;
    std::vector<std::uint32_t> waits;
    bool hostAfterLock;  // another launcher's installation put the host there
    StartBranch branch;
    std::vector<std::wstring> calls;  // up to the end of the choice
    std::wstring logLine;
  };
  const Case cases[] = {
      {"free", {kWaitObject0}, false, StartBranch::kDownload, {kCreate, kTry},
       L"install lock: taken"},
      {"abandoned by a launcher that died", {kWaitAbandoned}, false, StartBranch::kDownload,
       {kCreate, kTry}, L"install lock: taken (abandoned by its holder)"},
      {"held, then released without the host", {kWaitTimeout, kWaitObject0}, false,
       StartBranch::kDownload, {kCreate, kTry, kWaitForever},
       L"install lock: taken after the wait"},
      {"held, then released with the host installed", {kWaitTimeout, kWaitObject0}, true,
       StartBranch::kDirect, {kCreate, kTry, kWaitForever, L"release", L"close"},
       L"install lock: taken after the wait"},
      // The holder's process ended (it ends itself after an installation).
      {"held, then abandoned with the host installed", {kWaitTimeout, kWaitAbandoned}, true,
       StartBranch::kDirect, {kCreate, kTry, kWaitForever, L"release", L"close"},
       L"install lock: taken after the wait (abandoned by its holder)"},
      {"the wait fails", {kWaitTimeout, kWaitFailed}, false, StartBranch::kDownload,
       {kCreate, kTry, kWaitForever, L"close"},
       L"install lock: wait failed (0xFFFFFFFF); going on without it"},
  };
  for (const Case& c : cases) {
    testing::RecordedLog lines;
    FakeInstallLockPlatform platform;
    platform.waits = c.waits;
    InstallLock lock(platform);
    int lookups = 0;
    auto installNeeded = [&] { return ++lookups == 1 || !c.hostAfterLock; };
    EXPECT_EQ(ChooseStartBranch(installNeeded, lock), c.branch) << c.name;
    // Without the lock there is nothing to have waited for: no second look.
    EXPECT_EQ(lookups, c.waits.back() == kWaitFailed ? 1 : 2) << c.name;
    EXPECT_EQ(platform.calls, c.calls) << c.name;
    EXPECT_EQ(lines.lines.back(), c.logLine) << c.name;
    // The download branch holds the lock until its owner gives it up.
    EXPECT_EQ(lock.IsOwned(), c.branch == StartBranch::kDownload && c.waits.back() != kWaitFailed)
        << c.name;
    lock.Release();
    lock.Release();
    int releases = 0;
    for (const auto& call : platform.calls) releases += call == L"release";
    EXPECT_EQ(releases, c.waits.back() == kWaitFailed ? 0 : 1) << c.name;
  }
}

TEST(ChooseStartBranch, WithoutAMutexTheDownloadRunsAsBefore) {
  testing::RecordedLog lines;
  FakeInstallLockPlatform platform;
  platform.handle = 0;
  InstallLock lock(platform);
  int lookups = 0;
  EXPECT_EQ(ChooseStartBranch([&] { return ++lookups > 0; }, lock), StartBranch::kDownload);
  EXPECT_EQ(lookups, 1);
  EXPECT_EQ(platform.calls, (std::vector<std::wstring>{kCreate}));
  EXPECT_EQ(lines.lines, (std::vector<std::wstring>{
                             L"install lock: not created, error 5; going on without it"}));
  EXPECT_FALSE(lock.IsOwned());
}

}  // namespace
}  // namespace tarnix
