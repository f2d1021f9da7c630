#pragma once
// The machine identity on the real machine: its adapters, disks and the
// identity store's folders.

#include <cstdint>

namespace tarnix::win {

// GetMachineId (machine_id.h) over the machine's real hardware and files.
bool GetMachineIdOnSystem(std::uint8_t* id);

// FormatMachineIdText (machine_id.h) over the machine's real hardware and
// files: fills MachineIdText.
bool FormatMachineIdTextOnSystem();

}  // namespace tarnix::win
