// The machine identity over the machine's real adapters, disks and files.

#include "identity/hardware_sources_win.h"
#include "identity/identity_store_win.h"
#include "identity/machine_id.h"

namespace tarnix {

bool GetMachineId(std::uint8_t* id) {
  win::Win32IdentitySources sources;
  win::Win32StoreFileSystem files;
  IdentityEnvironment environment{sources, files};
  return GetMachineId(environment, id);
}

bool FormatMachineIdText() {
  win::Win32IdentitySources sources;
  win::Win32StoreFileSystem files;
  IdentityEnvironment environment{sources, files};
  return FormatMachineIdText(environment);
}

}  // namespace tarnix
