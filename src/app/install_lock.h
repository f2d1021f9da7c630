#pragma once
// One installation at a time: the download branch runs under a named mutex
// of the session, so that two launchers started together download and run
// the installer once. The second waits, with nothing on screen, and then
// looks for the host again.

#include <cstdint>
#include <functional>
#include <string>

#include "platform/unique_handle.h"
#include "platform/win32_values.h"

namespace tarnix {

inline constexpr wchar_t kInstallLockName[] = L"Local\\TarnixLauncherInstall";

using MutexHandle = std::uintptr_t;

// The OS calls of the lock, one method per call.
class InstallLockPlatform {
 public:
  virtual ~InstallLockPlatform() = default;
  // CreateMutexW(no security, not owned, name): the handle (also when the
  // mutex exists already), or 0 with *error = GetLastError().
  virtual MutexHandle CreateNamedMutex(const std::wstring& name, std::uint32_t* error) = 0;
  // WaitForSingleObject(mutex, timeoutMs): its answer.
  virtual std::uint32_t WaitForMutex(MutexHandle mutex, std::uint32_t timeoutMs) = 0;
  // ReleaseMutex, on the thread that owns it.
  virtual void ReleaseOwnership(MutexHandle mutex) = 0;
  // CloseHandle.
  virtual void CloseMutex(MutexHandle mutex) = 0;
};

using UniqueMutex = UniqueHandle<
    ApiHandleTraits<InstallLockPlatform, MutexHandle, MutexHandle{0}, &InstallLockPlatform::CloseMutex>>;

enum class InstallLockOutcome {
  kUnavailable,     // no mutex (or the wait failed): the branch runs without it
  kTaken,           // nobody held it
  kTakenAfterWait,  // another launcher held it until now
};

// What start-up needs of the lock.
class InstallLockOwner {
 public:
  virtual ~InstallLockOwner() = default;
  // Takes the lock, waiting without time-out while another launcher holds it.
  virtual InstallLockOutcome Take() = 0;
  // Gives the lock up (when held); nothing when not taken or given up already.
  virtual void Release() = 0;
};

// The installation's mutex, owned by the thread that took it, which alone
// may give it up. The process's end releases it too: a waiter then sees it
// abandoned, which counts as released.
class InstallLock final : public InstallLockOwner {
 public:
  using Outcome = InstallLockOutcome;

  explicit InstallLock(InstallLockPlatform& platform)
      : platform_(platform), mutex_(MutexHandle{0}, {&platform}) {}
  ~InstallLock() override { Release(); }
  InstallLock(const InstallLock&) = delete;
  InstallLock& operator=(const InstallLock&) = delete;

  Outcome Take() override;
  // Gives the lock up (when owned) and closes it, on the thread that took it.
  void Release() override;
  bool IsOwned() const { return owned_; }

 private:
  InstallLockPlatform& platform_;
  UniqueMutex mutex_;
  bool owned_ = false;
};

enum class StartBranch { kDirect, kDownload };

// Start-up's choice. `installNeeded` is the host lookup. When it finds the
// host, the lock is never touched. Otherwise the lock is taken (waiting for
// another launcher's installation) and the host looked up again: when it is
// there now, the lock is given up and the direct branch runs; otherwise the
// download branch runs with the lock held (or without one, when there is none).
StartBranch ChooseStartBranch(const std::function<bool()>& installNeeded, InstallLockOwner& lock);

}  // namespace tarnix
