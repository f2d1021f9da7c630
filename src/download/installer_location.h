#pragma once
// Where the installer comes from and where it is saved, without Windows.

#include <string>

namespace tarnix {

// The installer's address. The host is chosen at build time (TARNIX_DOWNLOAD_HOST).
inline constexpr wchar_t kDownloadUrl[] =
    L"http://" TARNIX_DOWNLOAD_HOST "/v1/t/full/p/union/tn/ap_kmtrw/ch_dl_url";
inline constexpr wchar_t kTempVariableName[] = L"TEMP";
inline constexpr wchar_t kInstallerFileName[] = L"TarnixSetup.exe";

// The value of "TEMP", a backslash and "TarnixSetup.exe". `tempValue` is null
// when the variable is unset, which counts as the empty text, so the result
// is then "\TarnixSetup.exe".
std::wstring InstallerPath(const wchar_t* tempValue);

}  // namespace tarnix
