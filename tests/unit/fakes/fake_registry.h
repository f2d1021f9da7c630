#pragma once
// An in-memory registry that records every call, wide and 8-bit alike.

#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/registry.h"

namespace tarnix::testing {

// An 8-bit text as the registry's UTF-16 names see it (ASCII only).
inline std::wstring WidenAscii(std::string_view text) {
  return std::wstring(text.begin(), text.end());
}

class FakeRegistry : public Registry {
 public:
  struct OpenCall {
    RegistryParent parent;
    std::wstring path;  // an 8-bit path widened
    std::uint32_t access;
    bool narrow;      // RegOpenKeyExA rather than RegOpenKeyExW
    RegistryKey key;  // the key handed out; 0 when the open failed
  };
  struct QueryCall {
    RegistryKey key;
    std::wstring name;  // an 8-bit name widened
    std::uint32_t offered;
    bool narrow;
  };

  // Creates hive\path and every key above it, without values.
  void AddKey(RegistryHive hive, const std::wstring& path) {
    for (std::size_t end = path.find(L'\\'); end != std::wstring::npos;
         end = path.find(L'\\', end + 1)) {
      keys_[{hive, path.substr(0, end)}];
    }
    keys_[{hive, path}];
  }
  // Stores raw value bytes of `type` under hive\path, creating the key.
  void SetBytes(RegistryHive hive, const std::wstring& path, const std::wstring& name,
                std::vector<std::uint8_t> bytes, std::uint32_t type = kRegBinary) {
    AddKey(hive, path);
    keys_[{hive, path}][name] = Value{type, std::move(bytes)};
  }
  // Stores a REG_DWORD: four bytes, least significant first.
  void SetDword(RegistryHive hive, const std::wstring& path, const std::wstring& name,
                std::uint32_t value) {
    SetBytes(hive, path, name,
             {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
              static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)},
             kRegDword);
  }
  // Stores a REG_SZ-like value: UTF-16 code units and a terminating zero.
  void SetString(RegistryHive hive, const std::wstring& path, const std::wstring& name,
                 const std::wstring& text) {
    std::vector<std::uint8_t> bytes;
    for (wchar_t c : text) {
      bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
      bytes.push_back(static_cast<std::uint8_t>((c >> 8) & 0xFF));
    }
    bytes.push_back(0);
    bytes.push_back(0);
    SetBytes(hive, path, name, std::move(bytes), kRegSz);
  }
  // Stores a text as the 8-bit calls return it: its bytes and a zero.
  void SetNarrowString(RegistryHive hive, const std::wstring& path, const std::wstring& name,
                       const std::string& text) {
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    SetBytes(hive, path, name, std::move(bytes), kRegSz);
  }

  long OpenKey(RegistryParent parent, const std::wstring& path, std::uint32_t access,
               RegistryKey* key) override {
    return OpenBelow(parent, path, access, false, key);
  }
  long OpenKeyNarrow(RegistryParent parent, const std::string& path, std::uint32_t access,
                     RegistryKey* key) override {
    return OpenBelow(parent, WidenAscii(path), access, true, key);
  }
  long QueryValue(RegistryKey key, const std::wstring& name, std::uint8_t* data,
                  std::uint32_t* size) override {
    std::uint32_t type = 0;
    return Read(key, name, &type, data, size, false);
  }
  long QueryTypedValue(RegistryKey key, const std::wstring& name, std::uint32_t* type,
                       std::uint8_t* data, std::uint32_t* size) override {
    return Read(key, name, type, data, size, false);
  }
  long QueryValueNarrow(RegistryKey key, const std::string& name, std::uint8_t* data,
                        std::uint32_t* size) override {
    std::uint32_t type = 0;
    return Read(key, WidenAscii(name), &type, data, size, true);
  }
  void CloseKey(RegistryKey key) override {
    closes.push_back(key);
    handles_.erase(key);
  }

  // Every opened key has been closed.
  bool AllClosed() const { return handles_.empty(); }

  std::vector<OpenCall> opens;
  std::vector<QueryCall> queries;
  std::vector<RegistryKey> closes;

 private:
  static constexpr long kFileNotFound = 2;        // ERROR_FILE_NOT_FOUND
  static constexpr long kInvalidHandle = 6;       // ERROR_INVALID_HANDLE
  static constexpr long kMoreData = 234;          // ERROR_MORE_DATA
  static constexpr std::uint32_t kRegBinary = 3;  // REG_BINARY

  using Location = std::pair<RegistryHive, std::wstring>;
  struct Value {
    std::uint32_t type;
    std::vector<std::uint8_t> bytes;
  };
  using Values = std::map<std::wstring, Value>;

  long OpenBelow(RegistryParent parent, const std::wstring& path, std::uint32_t access, bool narrow,
                 RegistryKey* key) {
    opens.push_back({parent, path, access, narrow, 0});
    Location location;
    if (const RegistryHive* hive = std::get_if<RegistryHive>(&parent)) {
      location = {*hive, path};
    } else {
      auto below = handles_.find(std::get<RegistryKey>(parent));
      if (below == handles_.end()) return kInvalidHandle;
      location = {below->second.first, below->second.second + L"\\" + path};
    }
    if (keys_.find(location) == keys_.end()) return kFileNotFound;
    handles_[++lastHandle_] = location;
    *key = lastHandle_;
    opens.back().key = lastHandle_;
    return 0;
  }

  // As RegQueryValueEx: the type and size on success; on ERROR_MORE_DATA
  // the size needed, the data untouched.
  long Read(RegistryKey key, const std::wstring& name, std::uint32_t* type, std::uint8_t* data,
            std::uint32_t* size, bool narrow) {
    queries.push_back({key, name, *size, narrow});
    auto handle = handles_.find(key);
    if (handle == handles_.end()) return kInvalidHandle;
    const Values& values = keys_.at(handle->second);
    auto found = values.find(name);
    if (found == values.end()) return kFileNotFound;
    const std::vector<std::uint8_t>& bytes = found->second.bytes;
    if (bytes.size() > *size) {
      *size = static_cast<std::uint32_t>(bytes.size());
      return kMoreData;
    }
    if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
    *size = static_cast<std::uint32_t>(bytes.size());
    *type = found->second.type;
    return 0;
  }

  std::map<Location, Values> keys_;
  std::map<RegistryKey, Location> handles_;
  RegistryKey lastHandle_ = 0x100;
};

}  // namespace tarnix::testing
