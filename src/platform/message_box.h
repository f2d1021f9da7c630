#pragma once
// The launcher's failure messages: a fixed text, an OK button only, the
// exclamation icon and the application title as caption. Safe to call from
// any thread; returns when the user has closed the box.

namespace tarnix {

// The texts the launcher shows, each for one failure.
inline constexpr wchar_t kRunAppFailedText[] = L"运行App失败！";
inline constexpr wchar_t kInstallFailedText[] = L"安装Tarnix失败！";
inline constexpr wchar_t kDownloadFailedText[] = L"下载失败！";
inline constexpr wchar_t kDownloadThreadFailedText[] = L"下载线程创建失败！";

void ShowFailureMessage(const wchar_t* text);

}  // namespace tarnix
