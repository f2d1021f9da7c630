#pragma once
// The installation's mutex on the real system.

#include "app/install_lock.h"

namespace tarnix::win {

class Win32InstallLockPlatform final : public InstallLockPlatform {
 public:
  MutexHandle CreateNamedMutex(const std::wstring& name, std::uint32_t* error) override;
  std::uint32_t WaitForMutex(MutexHandle mutex, std::uint32_t timeoutMs) override;
  void ReleaseOwnership(MutexHandle mutex) override;
  void CloseMutex(MutexHandle mutex) override;
};

}  // namespace tarnix::win
