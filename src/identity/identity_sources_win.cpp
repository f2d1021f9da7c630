#include "identity/identity_sources_win.h"

#include "identity/adapter_address_win.h"
#include "identity/disk_identity_win.h"
#include "platform/registry_win.h"

namespace tarnix::win {

bool Win32IdentitySources::ReadAdapterAddressFromList(AdapterAddress& address) {
  Win32AdapterList list;
  Win32Registry registry;
  return tarnix::ReadAdapterAddressFromList(list, registry, address);
}

bool Win32IdentitySources::ReadAdapterAddressFromNetbios(AdapterAddress& address) {
  Win32NetbiosDriver netbios;  // netapi32 stays loaded only for this query
  return tarnix::ReadAdapterAddressFromNetbios(netbios, address);
}

bool Win32IdentitySources::ReadDiskIdentity(DiskIdentity& disk) {
  Win32DiskDevices devices;
  return tarnix::ReadDiskIdentity(devices, disk);
}

}  // namespace tarnix::win
