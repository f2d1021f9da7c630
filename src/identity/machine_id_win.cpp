// The machine identity over the machine's real adapters, disks and files.

#include "identity/machine_id_win.h"

#include "identity/identity_sources_win.h"
#include "identity/identity_store_win.h"
#include "identity/machine_id.h"

namespace tarnix::win {

bool GetMachineIdOnSystem(std::uint8_t* id) {
  Win32IdentitySources sources;
  Win32StoreFileSystem files;
  IdentityEnvironment environment{sources, files};
  return GetMachineId(environment, id);
}

bool FormatMachineIdTextOnSystem() {
  Win32IdentitySources sources;
  Win32StoreFileSystem files;
  IdentityEnvironment environment{sources, files};
  return FormatMachineIdText(environment);
}

}  // namespace tarnix::win
