#pragma once
// The installation's mutex on the real system.

#include <windows.h>

#include "app/install_lock.h"
#include "platform/win_handles_win.h"

namespace tarnix::win {

// Used by one thread at a time: the one that takes the lock, and after the
// take the threads that withdraw the holder record and give the lock up.
class Win32InstallLockPlatform final : public InstallLockPlatform {
 public:
  MutexHandle CreateNamedMutex(const std::wstring& name, std::uint32_t* error) override;
  std::uint32_t WaitForMutex(MutexHandle mutex, std::uint32_t timeoutMs) override;
  void ReleaseOwnership(MutexHandle mutex) override;
  void CloseMutex(MutexHandle mutex) override;

  std::uint32_t CurrentProcessId() override;
  void PublishHolder(std::uint32_t processId) override;
  void WithdrawHolder(std::uint32_t processId) override;
  std::uint32_t ReadHolder() override;

  std::vector<WindowHandle> TopLevelWindows() override;
  std::uint32_t WindowProcessId(WindowHandle window) override;
  bool IsVisible(WindowHandle window) override;
  bool IsEnabled(WindowHandle window) override;
  WindowHandle LastActivePopup(WindowHandle window) override;
  bool IsMinimized(WindowHandle window) override;
  void Restore(WindowHandle window) override;
  bool SetForeground(WindowHandle window) override;

 private:
  // The shared holder record's slot, mapped on first use; null when the
  // record cannot be made.
  volatile LONG* HolderSlot();

  bool holderTried_ = false;
  UniqueKernelHandle holderRecord_;
  UniqueMappedView holderView_;
};

// The lock held by a thread of its own, so that whichever thread knows the
// installation is over may give it up: the installer-run thread once the
// host has started, or the main thread once the dialog has closed. Create it
// with new and never destroy it: the installer-run thread may give it up
// while the process ends.
class HeldInstallLock final : public InstallLockOwner {
 public:
  HeldInstallLock();
  HeldInstallLock(const HeldInstallLock&) = delete;
  HeldInstallLock& operator=(const HeldInstallLock&) = delete;

  // Once. Without a thread or events, the lock is taken on the calling
  // thread, which alone can then give it up (or the process's end).
  InstallLockOutcome Take() override;
  // From any thread, any number of times: returns once the lock is given up.
  void Release() override;
  // From any thread once Take has returned: InstallLock::WithdrawHolder.
  void WithdrawHolder();

 private:
  static unsigned Hold(void* parameter);

  Win32InstallLockPlatform platform_;
  InstallLock lock_{platform_};
  InstallLockOutcome outcome_ = InstallLockOutcome::kUnavailable;
  UniqueKernelHandle taken_;
  UniqueKernelHandle release_;
  UniqueKernelHandle holder_;
  bool heldHere_ = false;  // taken on the calling thread instead
  DWORD takingThread_ = 0;
};

}  // namespace tarnix::win
