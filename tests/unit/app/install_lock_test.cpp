#include "app/install_lock.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "fakes/fake_log.h"

namespace tarnix {
namespace {

struct FakeWindow {
  WindowHandle handle;
  std::uint32_t processId;
  bool visible = true;
  bool enabled = true;
  WindowHandle popup = 0;  // its last active popup; 0: itself
  bool minimized = false;
};

// Answers the waits from a script and records every call that acts; the
// windows and the holder record are a small world that a test may change
// at each wait (`onWait`, called with the wait's number from 1).
class FakeInstallLockPlatform : public InstallLockPlatform {
 public:
  MutexHandle handle = 0x77;
  std::uint32_t createError = 5;
  std::vector<std::uint32_t> waits;  // answers, in order; past its end a timed wait times out
  std::function<void(int)> onWait;
  std::uint32_t processId = 42;
  std::uint32_t holder = 0;          // the shared record
  std::vector<FakeWindow> windows;   // topmost first
  bool refuseForeground = false;
  std::vector<std::wstring> calls;

  MutexHandle CreateNamedMutex(const std::wstring& name, std::uint32_t* error) override {
    calls.push_back(L"create " + name);
    if (handle == 0) *error = createError;
    return handle;
  }
  std::uint32_t WaitForMutex(MutexHandle, std::uint32_t timeoutMs) override {
    calls.push_back(L"wait " + std::to_wstring(timeoutMs));
    if (onWait) onWait(++waitNumber_);
    if (waits.empty()) {
      if (timeoutMs != kWaitForever) return kWaitTimeout;
      ADD_FAILURE() << "a wait without time-out that nothing ends";
      return kWaitFailed;
    }
    std::uint32_t answer = waits.front();
    waits.erase(waits.begin());
    return answer;
  }
  void ReleaseOwnership(MutexHandle) override { calls.push_back(L"release"); }
  void CloseMutex(MutexHandle) override { calls.push_back(L"close"); }

  std::uint32_t CurrentProcessId() override { return processId; }
  void PublishHolder(std::uint32_t id) override {
    calls.push_back(L"publish " + std::to_wstring(id));
    holder = id;
  }
  void WithdrawHolder(std::uint32_t id) override {
    calls.push_back(L"withdraw " + std::to_wstring(id));
    if (holder == id) holder = 0;
  }
  std::uint32_t ReadHolder() override { return holder; }

  std::vector<WindowHandle> TopLevelWindows() override {
    std::vector<WindowHandle> handles;
    for (const FakeWindow& window : windows) handles.push_back(window.handle);
    return handles;
  }
  std::uint32_t WindowProcessId(WindowHandle window) override {
    const FakeWindow* found = Find(window);
    return found != nullptr ? found->processId : 0;
  }
  bool IsVisible(WindowHandle window) override { return Find(window) != nullptr && Find(window)->visible; }
  bool IsEnabled(WindowHandle window) override { return Find(window) != nullptr && Find(window)->enabled; }
  WindowHandle LastActivePopup(WindowHandle window) override {
    const FakeWindow* found = Find(window);
    return found != nullptr && found->popup != 0 ? found->popup : window;
  }
  bool IsMinimized(WindowHandle window) override { return Find(window) != nullptr && Find(window)->minimized; }
  void Restore(WindowHandle window) override { calls.push_back(L"restore " + std::to_wstring(window)); }
  bool SetForeground(WindowHandle window) override {
    calls.push_back(L"foreground " + std::to_wstring(window));
    return !refuseForeground;
  }

 private:
  const FakeWindow* Find(WindowHandle wanted) const {
    for (const FakeWindow& window : windows) {
      if (window.handle == wanted) return &window;
    }
    return nullptr;
  }
  int waitNumber_ = 0;
};

const std::wstring kCreate = L"create Local\\TarnixLauncherInstall";
const std::wstring kTry = L"wait 0";
const std::wstring kPoll = L"wait 250";
const std::wstring kWaitForever = L"wait 4294967295";
const std::wstring kPublish = L"publish 42";
const std::wstring kWithdraw = L"withdraw 42";
// The installing launcher (process 7) and its dialog.
constexpr std::uint32_t kHolder = 7;
constexpr WindowHandle kDialog = 0x10;
const std::wstring kDialogToFront = L"foreground 16";

const std::wstring kWaiting = L"install lock: held by another launcher; waiting";
const std::wstring kBroughtToFront = L"install lock: brought the installing launcher's window to the front";
const std::wstring kNoWindow = L"install lock: no window of the installing launcher to bring to the front";

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
    std::vector<std::wstring> log;
  };
  const Case cases[] = {
      {"free", {kWaitObject0}, false, StartBranch::kDownload, {kCreate, kTry, kPublish},
       {L"install lock: taken"}},
      {"abandoned by a launcher that died", {kWaitAbandoned}, false, StartBranch::kDownload,
       {kCreate, kTry, kPublish}, {L"install lock: taken (abandoned by its holder)"}},
      {"held, then released without the host", {kWaitTimeout, kWaitObject0}, false,
       StartBranch::kDownload, {kCreate, kTry, kDialogToFront, kWaitForever, kPublish},
       {kWaiting, kBroughtToFront, L"install lock: taken after the wait"}},
      {"held, then released with the host installed", {kWaitTimeout, kWaitObject0}, true,
       StartBranch::kDirect,
       {kCreate, kTry, kDialogToFront, kWaitForever, kPublish, kWithdraw, L"release", L"close"},
       {kWaiting, kBroughtToFront, L"install lock: taken after the wait"}},
      // The holder's process ended (it ends itself after an installation).
      {"held, then abandoned with the host installed", {kWaitTimeout, kWaitAbandoned}, true,
       StartBranch::kDirect,
       {kCreate, kTry, kDialogToFront, kWaitForever, kPublish, kWithdraw, L"release", L"close"},
       {kWaiting, kBroughtToFront, L"install lock: taken after the wait (abandoned by its holder)"}},
      {"the wait fails", {kWaitTimeout, kWaitFailed}, false, StartBranch::kDownload,
       {kCreate, kTry, kDialogToFront, kWaitForever, L"close"},
       {kWaiting, kBroughtToFront, L"install lock: wait failed (0xFFFFFFFF); going on without it"}},
      // An invalid handle or a lost right to it: no wait without a time-out follows.
      {"the first wait fails", {kWaitFailed}, false, StartBranch::kDownload, {kCreate, kTry, L"close"},
       {L"install lock: wait failed (0xFFFFFFFF); going on without it"}},
  };
  for (const Case& c : cases) {
    testing::RecordedLog lines;
    FakeInstallLockPlatform platform;
    platform.waits = c.waits;
    platform.holder = kHolder;
    platform.windows = {{kDialog, kHolder}};
    InstallLock lock(platform);
    int lookups = 0;
    auto installNeeded = [&] { return ++lookups == 1 || !c.hostAfterLock; };
    EXPECT_EQ(ChooseStartBranch(installNeeded, lock), c.branch) << c.name;
    const bool failed = c.waits.back() == kWaitFailed;
    // Without the lock there is nothing to have waited for: no second look.
    EXPECT_EQ(lookups, failed ? 1 : 2) << c.name;
    EXPECT_EQ(platform.calls, c.calls) << c.name;
    EXPECT_EQ(lines.lines, c.log) << c.name;
    // The download branch holds the lock until its owner gives it up, and
    // names this launcher as the holder meanwhile.
    const bool held = c.branch == StartBranch::kDownload && !failed;
    EXPECT_EQ(lock.IsOwned(), held) << c.name;
    if (held) {
      EXPECT_EQ(platform.holder, 42u) << c.name;
    }
    lock.Release();
    lock.Release();
    int releases = 0;
    for (const auto& call : platform.calls) releases += call == L"release";
    EXPECT_EQ(releases, failed ? 0 : 1) << c.name;
    // A failed take never touches the record, which names the other launcher.
    EXPECT_EQ(platform.holder, failed ? kHolder : 0u) << c.name;
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

TEST(ChooseHolderWindow, PicksTheWindowTheUserCanUse) {
  struct Case {
    const char* name;
    std::vector<FakeWindow> windows;  // topmost first
    WindowHandle chosen;
  };
  const Case cases[] = {
      {"none", {}, 0},
      {"only other processes' windows", {{0x1, 3}, {0x2, 9}}, 0},
      {"the dialog below another process's window", {{0x1, 3}, {kDialog, kHolder}}, kDialog},
      {"hidden windows are skipped", {{0x12, kHolder, false}, {kDialog, kHolder}}, kDialog},
      {"the message box above its disabled dialog", {{0x11, kHolder}, {kDialog, kHolder, true, false}}, 0x11},
      // Z-order puts the disabled dialog first: its last active popup stands for it.
      {"the disabled dialog above its message box",
       {{kDialog, kHolder, true, false, 0x11}, {0x11, kHolder}}, 0x11},
      {"a popup of another process does not stand for the dialog",
       {{kDialog, kHolder, true, false, 0x1}, {0x1, 3}}, kDialog},
      {"a hidden popup does not stand for the dialog",
       {{kDialog, kHolder, true, false, 0x11}, {0x11, kHolder, false}}, kDialog},
      {"a disabled popup does not stand for the dialog",
       {{kDialog, kHolder, true, false, 0x11}, {0x11, kHolder, true, false}}, kDialog},
      {"the topmost disabled window when none is enabled",
       {{0x13, kHolder, true, false}, {kDialog, kHolder, true, false}}, 0x13},
  };
  for (const Case& c : cases) {
    FakeInstallLockPlatform platform;
    platform.windows = c.windows;
    EXPECT_EQ(ChooseHolderWindow(platform, kHolder), c.chosen) << c.name;
  }
}

// A waiter: the lock is held by process 7; the test's world decides the rest.
struct Waiter {
  testing::RecordedLog lines;
  FakeInstallLockPlatform platform;
  InstallLock lock{platform};
  Waiter() { platform.holder = kHolder; }
  InstallLockOutcome Take(std::vector<std::uint32_t> waits) {
    platform.waits = std::move(waits);
    return lock.Take();
  }
};

TEST(InstallLockWait, BringsTheHoldersWindowToTheFrontThenWaitsForTheLock) {
  struct Case {
    const char* name;
    bool minimized;
    bool refused;
    std::vector<std::wstring> calls;
    std::wstring line;
  };
  const Case cases[] = {
      {"the dialog", false, false, {kCreate, kTry, kDialogToFront, kWaitForever, kPublish}, kBroughtToFront},
      {"a minimised dialog is restored first", true, false,
       {kCreate, kTry, L"restore 16", kDialogToFront, kWaitForever, kPublish}, kBroughtToFront},
      // Without the foreground right the system flashes the window instead.
      {"refused by the system", false, true, {kCreate, kTry, kDialogToFront, kWaitForever, kPublish},
       L"install lock: the system refused to bring the installing launcher's window to the front"},
  };
  for (const Case& c : cases) {
    Waiter waiter;
    waiter.platform.windows = {{kDialog, kHolder, true, true, 0, c.minimized}};
    waiter.platform.refuseForeground = c.refused;
    EXPECT_EQ(waiter.Take({kWaitTimeout, kWaitObject0}), InstallLockOutcome::kTakenAfterWait) << c.name;
    EXPECT_EQ(waiter.platform.calls, c.calls) << c.name;
    EXPECT_EQ(waiter.lines.lines,
              (std::vector<std::wstring>{kWaiting, c.line, L"install lock: taken after the wait"}))
        << c.name;
  }
}

TEST(InstallLockWait, LooksAgainUntilTheHoldersDialogIsUp) {
  Waiter waiter;
  // The record still names a killed holder until the new one writes its own;
  // then its dialog appears a little later.
  waiter.platform.holder = 99;
  waiter.platform.windows = {{0x1, 3}};
  waiter.platform.onWait = [&](int number) {
    if (number == 2) waiter.platform.holder = kHolder;
    if (number == 4) waiter.platform.windows.push_back({kDialog, kHolder});
  };
  EXPECT_EQ(waiter.Take({kWaitTimeout, kWaitTimeout, kWaitTimeout, kWaitTimeout, kWaitObject0}),
            InstallLockOutcome::kTakenAfterWait);
  EXPECT_EQ(waiter.platform.calls, (std::vector<std::wstring>{kCreate, kTry, kPoll, kPoll, kPoll,
                                                               kDialogToFront, kWaitForever, kPublish}));
  EXPECT_EQ(waiter.lines.With(L"front"), (std::vector<std::wstring>{kBroughtToFront}));
}

TEST(InstallLockWait, WithoutAWindowLooksForABoundedTimeThenWaitsOn) {
  struct Case {
    const char* name;
    std::uint32_t holder;
  };
  // No record (the holder could not make one), or one naming a process
  // that has no window (a killed holder, or one whose dialog has closed).
  for (const Case& c : {Case{"no record", 0}, Case{"a process without windows", 99}}) {
    Waiter waiter;
    waiter.platform.holder = c.holder;
    waiter.platform.windows = {{0x1, 3}};
    // 40 looks of 250 ms (about 10 s), then a wait without time-out.
    std::vector<std::uint32_t> waits(1 + 40, kWaitTimeout);
    waits.push_back(kWaitAbandoned);
    EXPECT_EQ(waiter.Take(waits), InstallLockOutcome::kTakenAfterWait) << c.name;
    std::vector<std::wstring> calls{kCreate, kTry};
    calls.insert(calls.end(), 40, kPoll);
    calls.insert(calls.end(), {kWaitForever, kPublish});
    EXPECT_EQ(waiter.platform.calls, calls) << c.name;
    EXPECT_EQ(waiter.lines.lines,
              (std::vector<std::wstring>{kWaiting, kNoWindow,
                                         L"install lock: taken after the wait (abandoned by its holder)"}))
        << c.name;
  }
}

// While its installer runs, the holder keeps the lock but names nobody: a
// launcher that comes then brings nothing in front of the installer's
// window, which waits for the user, though the dialog is still up behind it.
TEST(InstallLockWait, AHolderWhoseInstallerRunsIsNotBroughtToTheFront) {
  FakeInstallLockPlatform holderPlatform;
  holderPlatform.processId = kHolder;
  holderPlatform.waits = {kWaitObject0};
  InstallLock holder(holderPlatform);
  ASSERT_EQ(holder.Take(), InstallLockOutcome::kTaken);
  holder.WithdrawHolder();
  EXPECT_TRUE(holder.IsOwned());
  EXPECT_EQ(holderPlatform.holder, 0u);
  EXPECT_EQ(holderPlatform.calls, (std::vector<std::wstring>{kCreate, kTry, L"publish 7", L"withdraw 7"}));

  Waiter waiter;
  waiter.platform.holder = holderPlatform.holder;
  waiter.platform.windows = {{0x1, 3}, {kDialog, kHolder}};  // the installer's window, then the dialog
  std::vector<std::uint32_t> waits(1 + 40, kWaitTimeout);
  waits.push_back(kWaitAbandoned);
  EXPECT_EQ(waiter.Take(waits), InstallLockOutcome::kTakenAfterWait);
  std::vector<std::wstring> calls{kCreate, kTry};
  calls.insert(calls.end(), 40, kPoll);
  calls.insert(calls.end(), {kWaitForever, kPublish});
  EXPECT_EQ(waiter.platform.calls, calls);
  EXPECT_EQ(waiter.lines.With(L"front"), (std::vector<std::wstring>{kNoWindow}));

  // The holder gives the lock up as always.
  holder.Release();
  EXPECT_EQ(holderPlatform.calls, (std::vector<std::wstring>{kCreate, kTry, L"publish 7", L"withdraw 7",
                                                             L"withdraw 7", L"release", L"close"}));
  // A launcher that does not hold the lock has nothing to withdraw.
  FakeInstallLockPlatform other;
  other.holder = kHolder;
  InstallLock unowned(other);
  unowned.WithdrawHolder();
  EXPECT_TRUE(other.calls.empty());
  EXPECT_EQ(other.holder, kHolder);
}

TEST(InstallLockWait, ALockGivenUpWhileLookingIsTakenAtOnce) {
  struct Case {
    const char* name;
    std::uint32_t answer;
    InstallLockOutcome outcome;
    std::vector<std::wstring> calls;
    std::wstring line;
  };
  const Case cases[] = {
      // The holder found the host on its second look and gave the lock up.
      {"released", kWaitObject0, InstallLockOutcome::kTakenAfterWait, {kCreate, kTry, kPoll, kPoll, kPublish},
       L"install lock: taken after the wait"},
      {"failed", kWaitFailed, InstallLockOutcome::kUnavailable, {kCreate, kTry, kPoll, kPoll, L"close"},
       L"install lock: wait failed (0xFFFFFFFF); going on without it"},
  };
  for (const Case& c : cases) {
    Waiter waiter;
    EXPECT_EQ(waiter.Take({kWaitTimeout, kWaitTimeout, c.answer}), c.outcome) << c.name;
    EXPECT_EQ(waiter.platform.calls, c.calls) << c.name;
    EXPECT_EQ(waiter.lines.lines, (std::vector<std::wstring>{kWaiting, c.line})) << c.name;
  }
}

}  // namespace
}  // namespace tarnix
