#pragma once
// An in-memory registry that records every call.

#include <cstring>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "platform/registry.h"

namespace tarnix::testing {

class FakeRegistry : public Registry {
 public:
  struct Open {
    RegistryHive hive;
    std::wstring path;
    std::uint32_t access;
  };

  // Stores raw value bytes under hive\path.
  void SetBytes(RegistryHive hive, const std::wstring& path, const std::wstring& name,
                std::vector<std::uint8_t> bytes) {
    keys_[{hive, path}][name] = std::move(bytes);
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
    SetBytes(hive, path, name, std::move(bytes));
  }

  long OpenKey(RegistryHive hive, const std::wstring& path, std::uint32_t access,
               RegistryKey* key) override {
    opens.push_back({hive, path, access});
    auto found = keys_.find({hive, path});
    if (found == keys_.end()) return 2;  // ERROR_FILE_NOT_FOUND
    handles_[++lastHandle_] = &found->second;
    *key = lastHandle_;
    return 0;
  }

  long QueryValue(RegistryKey key, const std::wstring& name, std::uint8_t* data,
                  std::uint32_t* size) override {
    queries.push_back(name);
    auto values = handles_.at(key);
    auto found = values->find(name);
    if (found == values->end()) return 2;
    const std::vector<std::uint8_t>& bytes = found->second;
    if (bytes.size() > *size) {
      *size = static_cast<std::uint32_t>(bytes.size());
      return 234;  // ERROR_MORE_DATA
    }
    if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
    *size = static_cast<std::uint32_t>(bytes.size());
    return 0;
  }

  void CloseKey(RegistryKey key) override {
    closes.push_back(key);
    handles_.erase(key);
  }

  // Every opened key has been closed.
  bool AllClosed() const { return handles_.empty(); }

  std::vector<Open> opens;
  std::vector<std::wstring> queries;
  std::vector<RegistryKey> closes;

 private:
  using Values = std::map<std::wstring, std::vector<std::uint8_t>>;
  std::map<std::tuple<RegistryHive, std::wstring>, Values> keys_;
  std::map<RegistryKey, Values*> handles_;
  RegistryKey lastHandle_ = 0x100;
};

}  // namespace tarnix::testing
