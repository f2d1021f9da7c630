#pragma once
// The hardware sources of the machine identity, as one interface so that the
// derivation can be tested without hardware.

#include "identity/identity_types.h"

namespace tarnix {

class IdentitySources {
 public:
  virtual ~IdentitySources() = default;
  // The adapter-list query; `address` must arrive all zero. True when it
  // ends with a non-zero address.
  virtual bool ReadAdapterAddressFromList(AdapterAddress& address) = 0;
  // The NetBIOS query. True when it wrote a non-zero address.
  virtual bool ReadAdapterAddressFromNetbios(AdapterAddress& address) = 0;
  // The disk probes. True when `disk` was filled; untouched on false.
  virtual bool ReadDiskIdentity(DiskIdentity& disk) = 0;
};

}  // namespace tarnix
