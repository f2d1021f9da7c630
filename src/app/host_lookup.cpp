#include "app/host_lookup.h"

#include <cstring>

#include "platform/bytes.h"
#include "platform/launch_log.h"
#include "platform/wide_text.h"
#include "platform/win32_values.h"

namespace tarnix {
namespace {

// The value buffer holds 261 units but announces 260, so the text always ends
// in a zero unit whatever the data hold.
constexpr std::size_t kValueBufferUnits = kMaxPath + 1;
constexpr auto kValueBufferAnnouncedBytes = static_cast<std::uint32_t>(kMaxPath * sizeof(char16_t));

// One "%u" conversion at `pos`: returns false on a matching failure.
bool ScanUnsigned(std::wstring_view text, std::size_t& pos, std::uint32_t& value) {
  while (pos < text.size() && IsWideSpace(text[pos])) ++pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == L'+' || text[pos] == L'-')) {
    negative = text[pos] == L'-';
    ++pos;
  }
  if (pos >= text.size() || !IsDecimalDigit(text[pos])) return false;
  std::uint32_t number = 0;
  while (pos < text.size() && IsDecimalDigit(text[pos])) {
    number = number * 10u + static_cast<std::uint32_t>(text[pos] - L'0');
    ++pos;
  }
  value = negative ? 0u - number : number;
  return true;
}

}  // namespace

HostVersion ParseHostVersion(std::wstring_view text) {
  HostVersion version;
  std::size_t pos = 0;
  for (std::size_t i = 0; i < version.parts.size(); ++i) {
    if (i > 0) {
      if (pos >= text.size() || text[pos] != L'.') break;
      ++pos;
    }
    if (!ScanUnsigned(text, pos, version.parts[i])) break;
  }
  return version;
}

bool IsOlderHostVersion(const HostVersion& installed, const HostVersion& required) {
  for (std::size_t i = 0; i < required.parts.size(); ++i) {
    auto difference = static_cast<std::int32_t>(required.parts[i] - installed.parts[i]);
    if (difference > 0) return true;
    if (difference < 0) return false;
  }
  return false;
}

std::wstring ReadRegistryString(Registry& registry, std::wstring_view hiveName,
                                const std::wstring& keyPath, const std::wstring& valueName) {
  RegistryHive hive;
  if (hiveName == kLocalMachineHiveName) {
    hive = RegistryHive::LocalMachine;
  } else if (hiveName == kCurrentUserHiveName) {
    hive = RegistryHive::CurrentUser;
  } else {
    return std::wstring();
  }

  UniqueRegistryKey key = UnopenedKey(registry);
  if (registry.OpenKey(hive, keyPath, kKeyQueryValue, key.Put()) != 0) return std::wstring();

  // Whatever the value's type, its bytes are read as UTF-16 up to the first 0.
  std::uint8_t bytes[kValueBufferUnits * sizeof(char16_t)] = {};
  std::uint32_t size = kValueBufferAnnouncedBytes;
  if (registry.QueryValue(key.Get(), valueName, bytes, &size) != 0) return std::wstring();

  std::wstring text;
  for (std::size_t i = 0; i + 1 < sizeof(bytes); i += 2) {
    auto unit = static_cast<wchar_t>(LoadLittleEndian<std::uint16_t>(bytes + i));
    if (unit == 0) break;
    text.push_back(unit);
  }
  return text;
}

bool IsHostInstallNeeded(Registry& registry, FileQuery& files) {
  std::wstring hostPath =
      ReadRegistryString(registry, kCurrentUserHiveName, HostKeyPath, HostPathValueName);
  if (!IsExistingFile(files, hostPath)) {
    LogLine(L"host lookup: " + LogQuoted(hostPath) + L": missing");
    return true;
  }

  std::wstring installed =
      ReadRegistryString(registry, kCurrentUserHiveName, UninstallKeyPath, VersionValueName);
  bool tooOld =
      IsOlderHostVersion(ParseHostVersion(installed), ParseHostVersion(RequiredHostVersion));
  LogLine(L"host lookup: " + LogQuoted(hostPath) + L" version " + LogQuoted(installed) +
          (tooOld ? std::wstring(L": too old, needs ") + RequiredHostVersion : L": present"));
  return tooOld;
}

}  // namespace tarnix
