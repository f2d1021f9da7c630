#pragma once
// Where the installer comes from and where it is saved, without Windows.

#include <string>

namespace tarnix {

// The installer's built-in address, chosen at build time (TARNIX_DOWNLOAD_URL);
// an administrator's policy may name another (admin_policy.h).
inline constexpr wchar_t kDownloadUrl[] = L"" TARNIX_DOWNLOAD_URL;
inline constexpr wchar_t kTempVariableName[] = L"TEMP";
inline constexpr wchar_t kInstallerFileName[] = L"TarnixSetup.exe";

// The value of "TEMP", a backslash and "TarnixSetup.exe". `tempValue` is null
// when the variable is unset, which counts as the empty text, so the result
// is then "\TarnixSetup.exe".
std::wstring InstallerPath(const wchar_t* tempValue);

}  // namespace tarnix
