#pragma once
// One installation at a time: the download branch runs under a named mutex
// of the session, so that two launchers started together download and run
// the installer once. The second waits, with nothing on screen, and then
// looks for the host again.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/unique_handle.h"
#include "platform/win32_values.h"

namespace tarnix {

inline constexpr wchar_t kInstallLockName[] = L"Local\\TarnixLauncherInstall";
// The shared record that names the lock's holder: one 32-bit process id, 0
// when nobody has published one.
inline constexpr wchar_t kInstallHolderRecordName[] = L"Local\\TarnixLauncherInstallHolder";

// How long a waiter looks for the holder's window (its dialog appears just
// after it took the lock): a look every kHolderWindowPollMs, waiting on the
// lock in between, for kHolderWindowPolls rounds (about 10 s).
inline constexpr std::uint32_t kHolderWindowPollMs = 250;
inline constexpr int kHolderWindowPolls = 40;

using MutexHandle = std::uintptr_t;
using WindowHandle = std::uintptr_t;

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

  // GetCurrentProcessId.
  virtual std::uint32_t CurrentProcessId() = 0;
  // Writes `processId` into the shared holder record (made on first use);
  // nothing when the record cannot be made.
  virtual void PublishHolder(std::uint32_t processId) = 0;
  // Sets the record back to 0 when it still holds `processId`.
  virtual void WithdrawHolder(std::uint32_t processId) = 0;
  // The record's process id: 0 when none was published or there is no record.
  virtual std::uint32_t ReadHolder() = 0;

  // EnumWindows: the top-level windows in the system's order (top to bottom
  // in practice); those found before a failure, when it fails.
  virtual std::vector<WindowHandle> TopLevelWindows() = 0;
  // GetWindowThreadProcessId: the window's process id, 0 when it is gone.
  virtual std::uint32_t WindowProcessId(WindowHandle window) = 0;
  // IsWindowVisible.
  virtual bool IsVisible(WindowHandle window) = 0;
  // IsWindowEnabled.
  virtual bool IsEnabled(WindowHandle window) = 0;
  // GetLastActivePopup: the owned window most recently active (the window
  // itself when there is none).
  virtual WindowHandle LastActivePopup(WindowHandle window) = 0;
  // IsIconic.
  virtual bool IsMinimized(WindowHandle window) = 0;
  // ShowWindowAsync(SW_RESTORE): never waits for the window's thread.
  virtual void Restore(WindowHandle window) = 0;
  // SetForegroundWindow: false when the system refused.
  virtual bool SetForeground(WindowHandle window) = 0;
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
  // Takes the lock, waiting without time-out while another launcher holds it
  // (after bringing that launcher's window to the front).
  virtual InstallLockOutcome Take() = 0;
  // Gives the lock up (when held); nothing when not taken or given up already.
  virtual void Release() = 0;
};

// The installation's mutex, owned by the thread that took it, which alone
// may give it up. The process's end releases it too: a waiter then sees it
// abandoned, which counts as released. While it is owned, the shared holder
// record names this process.
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
  // Keeps the lock but no longer names this process in the holder record, so
  // that a waiter brings none of its windows to the front. Not put back: from
  // then on the launcher's windows are not what the user should answer.
  void WithdrawHolder();
  bool IsOwned() const { return owned_; }

 private:
  std::uint32_t WaitShowingHolder();
  void Own();

  InstallLockPlatform& platform_;
  UniqueMutex mutex_;
  bool owned_ = false;
};

// The window of process `processId` that stands for it: the first visible,
// enabled one, or the visible, enabled last active popup of a disabled one (a
// message box in front of its disabled owner); else its first visible
// window; 0 when it has none (a holder that ended, or whose dialog is not up).
WindowHandle ChooseHolderWindow(InstallLockPlatform& platform, std::uint32_t processId);

enum class StartBranch { kDirect, kDownload };

// Start-up's choice. `installNeeded` is the host lookup. When it finds the
// host, the lock is never touched. Otherwise the lock is taken (waiting for
// another launcher's installation) and the host looked up again: when it is
// there now, the lock is given up and the direct branch runs; otherwise the
// download branch runs with the lock held (or without one, when there is none).
StartBranch ChooseStartBranch(const std::function<bool()>& installNeeded, InstallLockOwner& lock);

}  // namespace tarnix
