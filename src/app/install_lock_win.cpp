#include "app/install_lock_win.h"

#include <windows.h>

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

}  // namespace tarnix::win
