#pragma once
// The texts of the launcher's failure messages, each for one failure. The
// box that shows them is win::ShowFailureMessage (message_box_win.h).

namespace tarnix {

inline constexpr wchar_t kRunAppFailedText[] = L"运行App失败！";
inline constexpr wchar_t kInstallFailedText[] = L"安装Tarnix失败！";
inline constexpr wchar_t kDownloadFailedText[] = L"下载失败！";
inline constexpr wchar_t kDownloadThreadFailedText[] = L"下载线程创建失败！";

}  // namespace tarnix
