#pragma once
// An administrator's policy for the launcher: values under
// HKLM\SOFTWARE\Policies\Korvane\Tarnix, then the same key under HKCU. A
// value set in the machine's key wins over the user's. The keys are read in
// the 64-bit view where the system has one, where policy tools write them.
//
// A value of the wrong type, or one that cannot be read or is not valid, is
// logged and ignored: the other key, then the built-in behaviour, applies.

#include <string>
#include <string_view>

#include "platform/registry.h"

namespace tarnix {

inline constexpr wchar_t kPolicyKeyPath[] = L"SOFTWARE\\Policies\\Korvane\\Tarnix";
inline constexpr wchar_t kUsageReportValueName[] = L"UsageReport";
inline constexpr wchar_t kInstallerUrlValueName[] = L"InstallerUrl";
// INTERNET_MAX_URL_LENGTH: longer URLs are not ones the system downloads from.
inline constexpr std::size_t kMaxPolicyUrlLength = 2083;

// Whether `url` is one the launcher accepts from a policy: "http://" or
// "https://" (any case), a host of letters, digits, "-", "." and "_" or an
// address in brackets, an optional port of 1 to 65535, then nothing or a
// path, query or fragment; no user name or password (a policy is readable by
// every user); only printable ASCII without blanks or backslashes; at most
// kMaxPolicyUrlLength characters.
bool IsAcceptedPolicyUrl(std::wstring_view url);

// False when a policy turns the usage report off (UsageReport, a REG_DWORD
// of 0), which is logged; true otherwise (any other number, none, or a
// value of another type).
bool IsUsageReportAllowed(Registry& registry);

// The installer's URL: the policy's InstallerUrl (a REG_SZ that
// IsAcceptedPolicyUrl accepts), logged; else `builtIn`. *source (when given)
// names the value that set it ("InstallerUrl in HKEY_...\SOFTWARE\..."), or
// is empty for the built-in URL.
std::wstring ChooseInstallerUrl(Registry& registry, const std::wstring& builtIn,
                                std::wstring* source = nullptr);

}  // namespace tarnix
