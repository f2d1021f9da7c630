#pragma once
// Value types shared by the machine-identity units.

#include <array>
#include <cstdint>
#include <string>

namespace tarnix {

// Identity strings of one disk, byte for byte as the device reports them
// (zero bytes inside IDENTIFY strings are kept).
struct DiskIdentity {
  std::string serial;
  std::string model;
  std::string firmware;
};

// A network adapter's 6-byte hardware address; all zero means none.
using AdapterAddress = std::array<std::uint8_t, 6>;

// The 16-byte machine identity.
using MachineId = std::array<std::uint8_t, 16>;

}  // namespace tarnix
