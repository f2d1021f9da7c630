#pragma once
#include "platform/registry.h"

namespace tarnix::win {

// The process's real registry. KEY_WOW64_64KEY in an open's access reaches
// RegOpenKeyExW only where the process runs under WOW64.
class Win32Registry final : public Registry {
 public:
  long OpenKey(RegistryParent parent, const std::wstring& path, std::uint32_t access,
               RegistryKey* key) override;
  long OpenKeyNarrow(RegistryParent parent, const std::string& path, std::uint32_t access,
                     RegistryKey* key) override;
  long QueryValue(RegistryKey key, const std::wstring& name, std::uint8_t* data,
                  std::uint32_t* size) override;
  long QueryTypedValue(RegistryKey key, const std::wstring& name, std::uint32_t* type,
                       std::uint8_t* data, std::uint32_t* size) override;
  long QueryValueNarrow(RegistryKey key, const std::string& name, std::uint8_t* data,
                        std::uint32_t* size) override;
  void CloseKey(RegistryKey key) override;
};

}  // namespace tarnix::win
