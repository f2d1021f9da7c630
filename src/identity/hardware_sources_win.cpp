#include "identity/hardware_sources_win.h"

#include "identity/adapter_address_win.h"
#include "identity/disk_identity_win.h"
#include "platform/registry_win.h"

namespace tarnix::win {

bool Win32IdentitySources::ReadAdapterAddressFromList(AdapterAddress& address) {
  Win32AdapterListApi api;
  Win32Registry registry;
  return tarnix::ReadAdapterAddressFromList(api, registry, address);
}

bool Win32IdentitySources::ReadAdapterAddressFromNetbios(AdapterAddress& address) {
  Win32NetbiosApi api;  // netapi32 stays loaded only for this query
  return tarnix::ReadAdapterAddressFromNetbios(api, address);
}

bool Win32IdentitySources::ReadDiskIdentity(DiskIdentity& disk) {
  Win32DiskDeviceApi api;
  return tarnix::ReadDiskIdentity(api, disk);
}

}  // namespace tarnix::win
