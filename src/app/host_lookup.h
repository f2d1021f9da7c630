#pragma once
// Whether the Tarnix host is installed and new enough, from the current
// user's installation record.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/file_query.h"
#include "platform/registry.h"

namespace tarnix {

inline constexpr wchar_t RequiredHostVersion[] = L"1.0.0.78";
inline constexpr wchar_t HostKeyPath[] = L"SOFTWARE\\Korvane\\Tarnix";
inline constexpr wchar_t HostPathValueName[] = L"install_dir";
inline constexpr wchar_t UninstallKeyPath[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarnix";
inline constexpr wchar_t VersionValueName[] = L"DisplayVersion";

inline constexpr wchar_t kCurrentUserHiveName[] = L"HKEY_CURRENT_USER";
inline constexpr wchar_t kLocalMachineHiveName[] = L"HKEY_LOCAL_MACHINE";

// Four components, most significant first.
struct HostVersion {
  std::array<std::uint32_t, 4> parts{};
};

// Reads `text` as "%u.%u.%u.%u" does: white space before a number is skipped,
// a sign is allowed, each "." must follow directly, and parsing stops at the
// first mismatch, leaving the remaining components 0. Numbers wrap modulo 2^32.
HostVersion ParseHostVersion(std::wstring_view text);

// True when `installed` is older than `required`: the first component whose
// 32-bit difference (required - installed, read as signed) is not zero decides.
bool IsOlderHostVersion(const HostVersion& installed, const HostVersion& required);

// One string value. `hiveName` must be exactly "HKEY_LOCAL_MACHINE" or
// "HKEY_CURRENT_USER". Returns the empty text when the hive name is neither,
// the key or value cannot be read, or the data exceed 520 bytes.
std::wstring ReadRegistryString(Registry& registry, std::wstring_view hiveName,
                                const std::wstring& keyPath, const std::wstring& valueName);

// True when the host's executable is missing (or a folder) or its installed
// version is older than RequiredHostVersion.
bool IsHostInstallNeeded(Registry& registry, FileQuery& files);

}  // namespace tarnix
