#include "app/install_lock.h"

#include "platform/launch_log.h"

namespace tarnix {
namespace {

std::wstring Abandoned(std::uint32_t wait) {
  return wait == kWaitAbandoned ? L" (abandoned by its holder)" : L"";
}

bool Shows(InstallLockPlatform& platform, WindowHandle window, std::uint32_t processId) {
  return window != 0 && platform.WindowProcessId(window) == processId && platform.IsVisible(window);
}

}  // namespace

WindowHandle ChooseHolderWindow(InstallLockPlatform& platform, std::uint32_t processId) {
  WindowHandle fallback = 0;
  for (WindowHandle window : platform.TopLevelWindows()) {
    if (!Shows(platform, window, processId)) continue;
    if (platform.IsEnabled(window)) return window;
    // A disabled window has a modal window in front of it, as the dialog
    // has while its message box is up.
    WindowHandle popup = platform.LastActivePopup(window);
    if (popup != window && Shows(platform, popup, processId) && platform.IsEnabled(popup)) return popup;
    if (fallback == 0) fallback = window;
  }
  return fallback;
}

// The process id is published while the mutex is owned, so that a waiter can
// tell whose window to show. After a holder was killed the record still names
// it until the next holder has written its own (right after its wait); a
// waiter reads the record again on each look, and a dead process has no window.
void InstallLock::Own() {
  owned_ = true;
  platform_.PublishHolder(platform_.CurrentProcessId());
}

// Waits for the lock while looking, for a bounded time, for the holder's
// window to bring to the front: its dialog appears just after it took the
// lock. The looks wait on the lock in between, so a lock given up meanwhile
// is taken at once. Then waits on without time-out.
std::uint32_t InstallLock::WaitShowingHolder() {
  for (int round = 0; round < kHolderWindowPolls; ++round) {
    std::uint32_t holder = platform_.ReadHolder();
    WindowHandle window = holder != 0 ? ChooseHolderWindow(platform_, holder) : 0;
    if (window != 0) {
      if (platform_.IsMinimized(window)) platform_.Restore(window);
      LogLine(platform_.SetForeground(window)
                  ? L"install lock: brought the installing launcher's window to the front"
                  : L"install lock: the system refused to bring the installing launcher's window to the front");
      return platform_.WaitForMutex(mutex_.Get(), kWaitForever);
    }
    std::uint32_t wait = platform_.WaitForMutex(mutex_.Get(), kHolderWindowPollMs);
    if (wait != kWaitTimeout) return wait;
  }
  LogLine(L"install lock: no window of the installing launcher to bring to the front");
  return platform_.WaitForMutex(mutex_.Get(), kWaitForever);
}

InstallLock::Outcome InstallLock::Take() {
  std::uint32_t error = 0;
  mutex_.Reset(platform_.CreateNamedMutex(kInstallLockName, &error));
  if (!mutex_) {
    LogLine(L"install lock: not created, error " + std::to_wstring(error) + L"; going on without it");
    return Outcome::kUnavailable;
  }
  std::uint32_t wait = platform_.WaitForMutex(mutex_.Get(), 0);
  if (MutexAcquired(wait)) {
    Own();
    LogLine(L"install lock: taken" + Abandoned(wait));
    return Outcome::kTaken;
  }
  if (wait == kWaitTimeout) {
    LogLine(L"install lock: held by another launcher; waiting");
    wait = WaitShowingHolder();
    if (MutexAcquired(wait)) {
      Own();
      LogLine(L"install lock: taken after the wait" + Abandoned(wait));
      return Outcome::kTakenAfterWait;
    }
  }
  LogLine(L"install lock: wait failed (" + LogHex(wait) + L"); going on without it");
  mutex_.Reset();
  return Outcome::kUnavailable;
}

void InstallLock::Release() {
  // Withdrawn before the mutex goes: afterwards the record may already name
  // the next holder.
  if (owned_) {
    platform_.WithdrawHolder(platform_.CurrentProcessId());
    platform_.ReleaseOwnership(mutex_.Get());
  }
  owned_ = false;
  mutex_.Reset();
}

void InstallLock::WithdrawHolder() {
  if (owned_) platform_.WithdrawHolder(platform_.CurrentProcessId());
}

StartBranch ChooseStartBranch(const std::function<bool()>& installNeeded, InstallLockOwner& lock) {
  if (!installNeeded()) return StartBranch::kDirect;
  if (lock.Take() == InstallLockOutcome::kUnavailable) return StartBranch::kDownload;
  // Another launcher may have installed the host meanwhile, while this one
  // waited or just before it took the lock.
  if (installNeeded()) return StartBranch::kDownload;
  lock.Release();
  return StartBranch::kDirect;
}

}  // namespace tarnix
