#include "app/install_lock_win.h"

#include "platform/thread_win.h"

namespace tarnix::win {
namespace {

static_assert(kWaitObject0 == WAIT_OBJECT_0);
static_assert(kWaitAbandoned == WAIT_ABANDONED);
static_assert(kWaitTimeout == WAIT_TIMEOUT);
static_assert(kWaitFailed == WAIT_FAILED);
static_assert(kWaitForever == INFINITE);
static_assert(sizeof(MutexHandle) == sizeof(HANDLE));

HANDLE AsHandle(MutexHandle mutex) { return reinterpret_cast<HANDLE>(mutex); }

}  // namespace

MutexHandle Win32InstallLockPlatform::CreateNamedMutex(const std::wstring& name,
                                                       std::uint32_t* error) {
  HANDLE mutex = ::CreateMutexW(nullptr, FALSE, name.c_str());
  if (mutex == nullptr) *error = ::GetLastError();
  return reinterpret_cast<MutexHandle>(mutex);
}

std::uint32_t Win32InstallLockPlatform::WaitForMutex(MutexHandle mutex, std::uint32_t timeoutMs) {
  return ::WaitForSingleObject(AsHandle(mutex), timeoutMs);
}

void Win32InstallLockPlatform::ReleaseOwnership(MutexHandle mutex) { ::ReleaseMutex(AsHandle(mutex)); }

void Win32InstallLockPlatform::CloseMutex(MutexHandle mutex) { ::CloseHandle(AsHandle(mutex)); }

HeldInstallLock::HeldInstallLock() = default;

InstallLockOutcome HeldInstallLock::Take() {
  // Made here, not before: a direct start never comes this far.
  taken_.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  release_.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (taken_ && release_) holder_ = BeginWaitableWorkerThread(&Hold, this);
  if (!holder_) {
    heldHere_ = true;
    takingThread_ = ::GetCurrentThreadId();
    return lock_.Take();
  }
  ::WaitForSingleObject(taken_.Get(), INFINITE);
  return outcome_;
}

// The holder thread: takes the lock, tells Take, and keeps the lock until
// Release asks for it (or the process ends, which abandons it).
unsigned HeldInstallLock::Hold(void* parameter) {
  auto* self = static_cast<HeldInstallLock*>(parameter);
  self->outcome_ = self->lock_.Take();
  ::SetEvent(self->taken_.Get());
  if (self->lock_.IsOwned()) {
    ::WaitForSingleObject(self->release_.Get(), INFINITE);
    self->lock_.Release();
  }
  return 0;
}

void HeldInstallLock::Release() {
  if (heldHere_) {
    // Only its owner can give a mutex up; for any other thread the
    // process's end will.
    if (::GetCurrentThreadId() == takingThread_) lock_.Release();
    return;
  }
  if (!holder_) return;
  // The holder needs nothing of the caller to let go, so waiting for its end
  // cannot hang; two callers at once both see it end.
  ::SetEvent(release_.Get());
  ::WaitForSingleObject(holder_.Get(), INFINITE);
}

}  // namespace tarnix::win
