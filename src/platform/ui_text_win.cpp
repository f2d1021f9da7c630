#include "platform/ui_text_win.h"

#include <windows.h>

namespace tarnix::win {

static_assert(PRIMARYLANGID(0xFFFF) == 0x3FF && LANG_CHINESE == 0x04,
              "the language id's layout in ui_text.cpp");

// The user interface's language, not the locale's: a Chinese Windows set to
// English formats stay Chinese. Windows 2000 and later have the call.
UiLanguage UserUiLanguage() { return UiLanguageFor(::GetUserDefaultUILanguage()); }

const wchar_t* UserUiText(UiText text) { return UiTextIn(UserUiLanguage(), text); }

}  // namespace tarnix::win
