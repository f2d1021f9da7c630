#include "platform/registry_win.h"

#include <windows.h>

namespace tarnix::win {
namespace {

static_assert(kKeyQueryValue == KEY_QUERY_VALUE);
static_assert(kKeyRead == KEY_READ);
static_assert(sizeof(RegistryKey) == sizeof(HKEY));

HKEY AsKey(RegistryKey key) { return reinterpret_cast<HKEY>(key); }

HKEY AsParent(RegistryParent parent) {
  if (const RegistryHive* hive = std::get_if<RegistryHive>(&parent)) {
    return *hive == RegistryHive::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  }
  return AsKey(std::get<RegistryKey>(parent));
}

}  // namespace

long Win32Registry::OpenKey(RegistryParent parent, const std::wstring& path, std::uint32_t access,
                            RegistryKey* key) {
  HKEY opened = nullptr;
  LONG result = ::RegOpenKeyExW(AsParent(parent), path.c_str(), 0, access, &opened);
  if (result == ERROR_SUCCESS) *key = reinterpret_cast<RegistryKey>(opened);
  return result;
}

long Win32Registry::OpenKeyNarrow(RegistryParent parent, const std::string& path,
                                  std::uint32_t access, RegistryKey* key) {
  HKEY opened = nullptr;
  LONG result = ::RegOpenKeyExA(AsParent(parent), path.c_str(), 0, access, &opened);
  if (result == ERROR_SUCCESS) *key = reinterpret_cast<RegistryKey>(opened);
  return result;
}

long Win32Registry::QueryValue(RegistryKey key, const std::wstring& name, std::uint8_t* data,
                               std::uint32_t* size) {
  DWORD type = 0;
  DWORD bytes = *size;
  LONG result = ::RegQueryValueExW(AsKey(key), name.c_str(), nullptr, &type, data, &bytes);
  if (result == ERROR_SUCCESS) *size = bytes;
  return result;
}

long Win32Registry::QueryValueNarrow(RegistryKey key, const std::string& name, std::uint8_t* data,
                                     std::uint32_t* size) {
  DWORD bytes = *size;
  LONG result = ::RegQueryValueExA(AsKey(key), name.c_str(), nullptr, nullptr, data, &bytes);
  if (result == ERROR_SUCCESS) *size = bytes;
  return result;
}

void Win32Registry::CloseKey(RegistryKey key) { ::RegCloseKey(AsKey(key)); }

}  // namespace tarnix::win
