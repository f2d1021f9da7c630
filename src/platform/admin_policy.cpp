#include "platform/admin_policy.h"

#include <cstdint>

#include "platform/bytes.h"
#include "platform/launch_log.h"
#include "platform/wide_text.h"

namespace tarnix {
namespace {

constexpr long kErrorFileNotFound = 2;  // ERROR_FILE_NOT_FOUND
constexpr long kErrorMoreData = 234;    // ERROR_MORE_DATA
// A URL of the longest accepted length, its terminating zero, and one unit
// more, so that a longer text is seen as longer rather than cut.
constexpr std::size_t kUrlBufferBytes = (kMaxPolicyUrlLength + 2) * sizeof(char16_t);
// Room for a short value of another type, so that it is told apart as such.
constexpr std::size_t kDwordBufferBytes = 64;

struct PolicyKey {
  RegistryHive hive;
  const wchar_t* name;
};
// The machine's key first: its values win.
constexpr PolicyKey kPolicyKeys[] = {
    {RegistryHive::LocalMachine, L"HKEY_LOCAL_MACHINE\\"},
    {RegistryHive::CurrentUser, L"HKEY_CURRENT_USER\\"},
};

// Logs "policy: <value> in <key><what>".
void LogPolicyValue(const PolicyKey& key, const wchar_t* valueName, std::wstring_view what) {
  std::wstring line = L"policy: ";
  line += valueName;
  line += L" in ";
  line += key.name;
  line += kPolicyKeyPath;
  line += what;
  LogLine(line);
}

// The value from one key into `data` (*size bytes at most; then the bytes
// read) and its type. False when the key or the value is missing or cannot
// be read (logged, unless it is simply missing).
bool ReadPolicyValue(Registry& registry, const PolicyKey& key, const wchar_t* valueName,
                     std::uint32_t* type, std::uint8_t* data, std::uint32_t* size) {
  UniqueRegistryKey opened = UnopenedKey(registry);
  long result =
      registry.OpenKey(key.hive, kPolicyKeyPath, kKeyQueryValue | kKeyWow64_64Key, opened.Put());
  if (result == kErrorFileNotFound) return false;
  if (result != 0) {
    LogLine(L"policy: " + std::wstring(key.name) + kPolicyKeyPath + L" not readable, error " +
            std::to_wstring(result));
    return false;
  }
  result = registry.QueryTypedValue(opened.Get(), valueName, type, data, size);
  if (result == kErrorFileNotFound) return false;
  if (result != 0) {
    LogPolicyValue(key, valueName,
                   result == kErrorMoreData
                       ? std::wstring(L" ignored: too long")
                       : L" ignored: not readable, error " + std::to_wstring(result));
    return false;
  }
  return true;
}

// The UTF-16 text up to the first zero unit or the end of the data.
std::wstring TextOf(const std::uint8_t* bytes, std::uint32_t size) {
  std::wstring text;
  for (std::uint32_t i = 0; i + 1 < size; i += 2) {
    auto unit = static_cast<wchar_t>(LoadLittleEndian<std::uint16_t>(bytes + i));
    if (unit == 0) break;
    text.push_back(unit);
  }
  return text;
}

// A text for the log with each control character shown as "?", so that a
// hostile value cannot forge a line.
std::wstring Printable(std::wstring_view text) {
  std::wstring shown(text);
  for (wchar_t& c : shown) {
    if (c < 0x20 || c == 0x7F) c = L'?';
  }
  return shown;
}

bool IsAsciiLetterOrDigit(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9');
}

bool IsHostCharacter(wchar_t c) {
  return IsAsciiLetterOrDigit(c) || c == L'-' || c == L'.' || c == L'_';
}

bool IsAddressCharacter(wchar_t c) {
  return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F') ||
         c == L':' || c == L'.';
}

// "host", "host:port", "[address]" or "[address]:port".
bool IsValidAuthority(std::wstring_view authority) {
  std::wstring_view rest = authority;
  if (!rest.empty() && rest.front() == L'[') {
    std::size_t close = rest.find(L']');
    if (close == std::wstring_view::npos || close == 1) return false;
    for (wchar_t c : rest.substr(1, close - 1)) {
      if (!IsAddressCharacter(c)) return false;
    }
    rest.remove_prefix(close + 1);
  } else {
    std::size_t end = 0;
    while (end < rest.size() && IsHostCharacter(rest[end])) ++end;
    if (end == 0) return false;
    rest.remove_prefix(end);
  }
  if (rest.empty()) return true;
  if (rest.front() != L':' || rest.size() < 2 || rest.size() > 6) return false;
  std::uint32_t port = 0;
  for (wchar_t c : rest.substr(1)) {
    if (c < L'0' || c > L'9') return false;
    port = port * 10 + static_cast<std::uint32_t>(c - L'0');
  }
  return port >= 1 && port <= 65535;
}

}  // namespace

bool IsAcceptedPolicyUrl(std::wstring_view url) {
  if (url.size() > kMaxPolicyUrlLength) return false;
  for (wchar_t c : url) {
    if (c <= 0x20 || c >= 0x7F || c == L'\\') return false;
  }
  std::wstring_view rest = url;
  if (StartsWithIgnoringCase(rest, L"http://")) {
    rest.remove_prefix(7);
  } else if (StartsWithIgnoringCase(rest, L"https://")) {
    rest.remove_prefix(8);
  } else {
    return false;
  }
  return IsValidAuthority(rest.substr(0, rest.find_first_of(L"/?#")));
}

bool IsUsageReportAllowed(Registry& registry) {
  for (const PolicyKey& key : kPolicyKeys) {
    std::uint8_t data[kDwordBufferBytes] = {};
    std::uint32_t size = sizeof(data);
    std::uint32_t type = 0;
    if (!ReadPolicyValue(registry, key, kUsageReportValueName, &type, data, &size)) continue;
    if (type != kRegDword || size != sizeof(std::uint32_t)) {
      LogPolicyValue(key, kUsageReportValueName, L" ignored: not a REG_DWORD");
      continue;
    }
    if (LoadLittleEndian<std::uint32_t>(data) != 0) return true;
    LogPolicyValue(key, kUsageReportValueName, L" is 0: the usage report is turned off");
    return false;
  }
  return true;
}

std::wstring ChooseInstallerUrl(Registry& registry, const std::wstring& builtIn,
                                std::wstring* source) {
  if (source != nullptr) source->clear();
  for (const PolicyKey& key : kPolicyKeys) {
    std::uint8_t data[kUrlBufferBytes];
    std::uint32_t size = sizeof(data);
    std::uint32_t type = 0;
    if (!ReadPolicyValue(registry, key, kInstallerUrlValueName, &type, data, &size)) continue;
    if (type != kRegSz) {
      LogPolicyValue(key, kInstallerUrlValueName, L" ignored: not a REG_SZ");
      continue;
    }
    std::wstring url = TextOf(data, size);
    if (!IsAcceptedPolicyUrl(url)) {
      LogPolicyValue(key, kInstallerUrlValueName,
                     L" ignored: not an http:// or https:// URL the launcher accepts: " +
                         LogQuoted(Printable(url.substr(0, 300))));
      continue;
    }
    const std::wstring where =
        std::wstring(kInstallerUrlValueName) + L" in " + key.name + kPolicyKeyPath;
    LogLine(L"policy: installer URL " + LogQuoted(url) + L" from " + where);
    if (source != nullptr) *source = where;
    return url;
  }
  return builtIn;
}

}  // namespace tarnix
