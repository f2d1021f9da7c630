#include "app/install_lock.h"

#include "platform/launch_log.h"

namespace tarnix {
namespace {

bool Acquired(std::uint32_t wait) { return wait == kWaitObject0 || wait == kWaitAbandoned; }

std::wstring Abandoned(std::uint32_t wait) {
  return wait == kWaitAbandoned ? L" (abandoned by its holder)" : L"";
}

}  // namespace

InstallLock::Outcome InstallLock::Take() {
  std::uint32_t error = 0;
  mutex_.Reset(platform_.CreateNamedMutex(kInstallLockName, &error));
  if (!mutex_) {
    LogLine(L"install lock: not created, error " + std::to_wstring(error) + L"; going on without it");
    return Outcome::kUnavailable;
  }
  std::uint32_t wait = platform_.WaitForMutex(mutex_.Get(), 0);
  if (Acquired(wait)) {
    owned_ = true;
    LogLine(L"install lock: taken" + Abandoned(wait));
    return Outcome::kTaken;
  }
  if (wait == kWaitTimeout) {
    LogLine(L"install lock: held by another launcher; waiting");
    wait = platform_.WaitForMutex(mutex_.Get(), kWaitForever);
    if (Acquired(wait)) {
      owned_ = true;
      LogLine(L"install lock: taken after the wait" + Abandoned(wait));
      return Outcome::kTakenAfterWait;
    }
  }
  LogLine(L"install lock: wait failed (" + LogHex(wait) + L"); going on without it");
  mutex_.Reset();
  return Outcome::kUnavailable;
}

void InstallLock::Release() {
  if (owned_) platform_.ReleaseOwnership(mutex_.Get());
  owned_ = false;
  mutex_.Reset();
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
