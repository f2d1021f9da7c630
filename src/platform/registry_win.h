#pragma once
#include "platform/registry.h"

namespace tarnix::win {

// The process's real registry.
class Win32Registry final : public Registry {
 public:
  long OpenKey(RegistryHive hive, const std::wstring& path, std::uint32_t access,
               RegistryKey* key) override;
  long QueryValue(RegistryKey key, const std::wstring& name, std::uint8_t* data,
                  std::uint32_t* size) override;
  void CloseKey(RegistryKey key) override;
};

}  // namespace tarnix::win
