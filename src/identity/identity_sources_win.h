#pragma once
#include "identity/identity_sources.h"

namespace tarnix::win {

// The machine's real adapters and disks.
class Win32IdentitySources final : public IdentitySources {
 public:
  bool ReadAdapterAddressFromList(AdapterAddress& address) override;
  bool ReadAdapterAddressFromNetbios(AdapterAddress& address) override;
  bool ReadDiskIdentity(DiskIdentity& disk) override;
};

}  // namespace tarnix::win
