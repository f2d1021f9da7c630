#pragma once
// The wide-character registry, shaped like RegOpenKeyExW, RegQueryValueExW
// and RegCloseKey so that the Win32 side is a pass-through.

#include <cstdint>
#include <string>

namespace tarnix {

enum class RegistryHive { LocalMachine, CurrentUser };
using RegistryKey = std::uintptr_t;

inline constexpr std::uint32_t kKeyQueryValue = 0x0001;  // KEY_QUERY_VALUE

class Registry {
 public:
  virtual ~Registry() = default;
  // Opens `path` below `hive` with `access`. Returns 0 and sets *key on
  // success; returns a Windows error code and leaves *key alone on failure.
  virtual long OpenKey(RegistryHive hive, const std::wstring& path, std::uint32_t access,
                       RegistryKey* key) = 0;
  // Reads value `name` into `data`, *size bytes at most. Returns 0 and the
  // byte count in *size on success; a Windows error code on failure
  // (ERROR_MORE_DATA, 234, when the data exceed *size).
  virtual long QueryValue(RegistryKey key, const std::wstring& name, std::uint8_t* data,
                          std::uint32_t* size) = 0;
  virtual void CloseKey(RegistryKey key) = 0;
};

// Owns an open key of a Registry and closes it through the same interface.
class ScopedRegistryKey {
 public:
  explicit ScopedRegistryKey(Registry& registry) : registry_(registry) {}
  ~ScopedRegistryKey() {
    if (open_) registry_.CloseKey(key_);
  }
  ScopedRegistryKey(const ScopedRegistryKey&) = delete;
  ScopedRegistryKey& operator=(const ScopedRegistryKey&) = delete;

  // Returns true when the key was opened.
  bool Open(RegistryHive hive, const std::wstring& path, std::uint32_t access) {
    open_ = registry_.OpenKey(hive, path, access, &key_) == 0;
    return open_;
  }
  RegistryKey Get() const { return key_; }

 private:
  Registry& registry_;
  RegistryKey key_ = 0;
  bool open_ = false;
};

}  // namespace tarnix
