#pragma once
// The launcher's failure messages, each for one failure: ids of texts in the
// user's language (platform/ui_text.h). The box that shows them is
// win::ShowFailureMessage (message_box_win.h).

#include "platform/ui_text.h"

namespace tarnix {

inline constexpr UiText kRunAppFailedText = UiText::kRunAppFailed;
inline constexpr UiText kInstallFailedText = UiText::kInstallFailed;
inline constexpr UiText kDownloadFailedText = UiText::kDownloadFailed;
inline constexpr UiText kDownloadThreadFailedText = UiText::kDownloadThreadFailed;

}  // namespace tarnix
