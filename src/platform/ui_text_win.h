#pragma once
// The user's language, as Windows names it.

#include "platform/ui_text.h"

namespace tarnix::win {

// The language of the user's Windows interface (GetUserDefaultUILanguage).
UiLanguage UserUiLanguage();

// The text in the user's language.
const wchar_t* UserUiText(UiText text);

}  // namespace tarnix::win
