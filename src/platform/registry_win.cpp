#include "platform/registry_win.h"

#include <windows.h>

namespace tarnix::win {

long Win32Registry::OpenKey(RegistryHive hive, const std::wstring& path, std::uint32_t access,
                            RegistryKey* key) {
  HKEY root = hive == RegistryHive::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  HKEY opened = nullptr;
  LONG result = ::RegOpenKeyExW(root, path.c_str(), 0, access, &opened);
  if (result == ERROR_SUCCESS) *key = reinterpret_cast<RegistryKey>(opened);
  return result;
}

long Win32Registry::QueryValue(RegistryKey key, const std::wstring& name, std::uint8_t* data,
                               std::uint32_t* size) {
  DWORD type = 0;
  DWORD bytes = *size;
  LONG result =
      ::RegQueryValueExW(reinterpret_cast<HKEY>(key), name.c_str(), nullptr, &type, data, &bytes);
  if (result == ERROR_SUCCESS) *size = bytes;
  return result;
}

void Win32Registry::CloseKey(RegistryKey key) { ::RegCloseKey(reinterpret_cast<HKEY>(key)); }

}  // namespace tarnix::win
