#pragma once
// Every text the user sees, in each language the launcher speaks: one table,
// a column per language, so that a language is one more column. The titles
// of the dialog and the message boxes, standard output and the log are not
// texts of this table: they are the same in every language.

#include <cstdint>

namespace tarnix {

enum class UiText {
  kRunAppFailed,
  kInstallFailed,
  kDownloadFailed,
  kDownloadThreadFailed,
  kProgressLabel,  // the download dialog's label before the bar
  kDoneButton,     // the download dialog's button
  kCount
};

enum class UiLanguage { kChinese, kEnglish, kCount };

// The language for a Windows language id (a LANGID as GetUserDefaultUILanguage
// returns it): Chinese for every Chinese one (primary language 0x04: the
// Simplified and the Traditional scripts alike, whatever the region), English
// for every other.
UiLanguage UiLanguageFor(std::uint16_t languageId);

// The text in the language; never null.
const wchar_t* UiTextIn(UiLanguage language, UiText text);

}  // namespace tarnix
