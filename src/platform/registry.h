#pragma once
// The registry, shaped like RegOpenKeyExW/A, RegQueryValueExW/A and
// RegCloseKey so that the Win32 side is a pass-through. The launcher reads
// UTF-16 values; the adapter ranking reads its values with the 8-bit calls,
// and those stay 8-bit so that Windows sees the same requests.

#include <cstdint>
#include <string>
#include <variant>

#include "platform/unique_handle.h"

namespace tarnix {

enum class RegistryHive { LocalMachine, CurrentUser };

// An opened key (an HKEY); never 0.
using RegistryKey = std::uintptr_t;

// Where a key is opened: below a hive, or below a key opened before.
using RegistryParent = std::variant<RegistryHive, RegistryKey>;

inline constexpr std::uint32_t kKeyQueryValue = 0x0001;  // KEY_QUERY_VALUE
inline constexpr std::uint32_t kKeyRead = 0x20019u;      // KEY_READ
// The 64-bit view of a key that WOW64 redirects for a 32-bit process. The
// Win32 adapter passes it only where the process runs under WOW64: 32-bit
// Windows has no other view, and Windows 2000 refuses the flag.
inline constexpr std::uint32_t kKeyWow64_64Key = 0x0100;  // KEY_WOW64_64KEY

// Value types as RegQueryValueExW reports them.
inline constexpr std::uint32_t kRegSz = 1;     // REG_SZ
inline constexpr std::uint32_t kRegDword = 4;  // REG_DWORD

class Registry {
 public:
  virtual ~Registry() = default;
  // RegOpenKeyExW: opens `path` below `parent` with `access`. Returns 0 and
  // sets *key on success; returns a Windows error code and leaves *key alone
  // on failure.
  virtual long OpenKey(RegistryParent parent, const std::wstring& path, std::uint32_t access,
                       RegistryKey* key) = 0;
  // RegOpenKeyExA, with the same contract.
  virtual long OpenKeyNarrow(RegistryParent parent, const std::string& path, std::uint32_t access,
                             RegistryKey* key) = 0;
  // RegQueryValueExW: reads value `name` into `data`, *size bytes at most.
  // Returns 0 and the byte count in *size on success; a Windows error code
  // on failure (ERROR_MORE_DATA, 234, when the data exceed *size).
  virtual long QueryValue(RegistryKey key, const std::wstring& name, std::uint8_t* data,
                          std::uint32_t* size) = 0;
  // RegQueryValueExW with the value's type: as QueryValue, and on success
  // also sets *type (kRegSz, kRegDword, ...).
  virtual long QueryTypedValue(RegistryKey key, const std::wstring& name, std::uint32_t* type,
                               std::uint8_t* data, std::uint32_t* size) = 0;
  // RegQueryValueExA, with the same contract.
  virtual long QueryValueNarrow(RegistryKey key, const std::string& name, std::uint8_t* data,
                                std::uint32_t* size) = 0;
  // RegCloseKey.
  virtual void CloseKey(RegistryKey key) = 0;
};

// Owns an opened key and closes it through the Registry that opened it.
using RegistryKeyTraits =
    ApiHandleTraits<Registry, RegistryKey, RegistryKey{0}, &Registry::CloseKey>;
using UniqueRegistryKey = UniqueHandle<RegistryKeyTraits>;

// An owner, empty until `registry` opens a key into its Put().
inline UniqueRegistryKey UnopenedKey(Registry& registry) {
  return UniqueRegistryKey(RegistryKey{0}, RegistryKeyTraits{&registry});
}

}  // namespace tarnix
