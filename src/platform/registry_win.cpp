#include "platform/registry_win.h"

#include <windows.h>

#include "platform/win_handles_win.h"

namespace tarnix::win {
namespace {

static_assert(kKeyQueryValue == KEY_QUERY_VALUE);
static_assert(kKeyRead == KEY_READ);
static_assert(kKeyWow64_64Key == KEY_WOW64_64KEY);
static_assert(kRegSz == REG_SZ);
static_assert(kRegDword == REG_DWORD);
static_assert(sizeof(RegistryKey) == sizeof(HKEY));

HKEY AsKey(RegistryKey key) { return reinterpret_cast<HKEY>(key); }

HKEY AsParent(RegistryParent parent) {
  if (const RegistryHive* hive = std::get_if<RegistryHive>(&parent)) {
    return *hive == RegistryHive::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  }
  return AsKey(std::get<RegistryKey>(parent));
}

// Whether this process is a 32-bit one on 64-bit Windows. IsWow64Process
// is looked up: XP before SP2 lacks it, and has no WOW64 either.
bool RunsUnderWow64() {
  auto isWow64 = LookUpExport<decltype(&::IsWow64Process)>(::GetModuleHandleW(L"kernel32.dll"),
                                                           "IsWow64Process");
  BOOL result = FALSE;
  return isWow64 != nullptr && isWow64(::GetCurrentProcess(), &result) && result;
}

}  // namespace

long Win32Registry::OpenKey(RegistryParent parent, const std::wstring& path, std::uint32_t access,
                            RegistryKey* key) {
  // The 64-bit view is the only one outside WOW64: the flag is dropped there,
  // since 32-bit Windows only ignores it and Windows 2000 refuses the open.
  if ((access & KEY_WOW64_64KEY) != 0 && !RunsUnderWow64()) access &= ~kKeyWow64_64Key;
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

long Win32Registry::QueryTypedValue(RegistryKey key, const std::wstring& name, std::uint32_t* type,
                                    std::uint8_t* data, std::uint32_t* size) {
  DWORD valueType = 0;
  DWORD bytes = *size;
  LONG result = ::RegQueryValueExW(AsKey(key), name.c_str(), nullptr, &valueType, data, &bytes);
  if (result == ERROR_SUCCESS) {
    *type = valueType;
    *size = bytes;
  }
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
