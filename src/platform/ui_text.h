#pragma once
// Every text the user sees, in each language the launcher speaks: one table,
// a column per language, so that a language is one more column. The titles
// of the dialog and the message boxes, standard output and the log are not
// texts of this table: they are the same in every language.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace tarnix {

enum class UiText {
  kRunAppFailed,
  kInstallFailed,
  kDownloadFailed,
  kDownloadThreadFailed,
  kProgressLabel,  // the download dialog's label before the bar
  kDoneButton,     // the download dialog's button
  // The line under the download dialog's bar (patterns: %1, %2, %3 stand for
  // the values, in any order a language needs; sizes in MB with one decimal).
  kTransferReceived,         // %1: MB received, the total unknown
  kTransferOfTotal,          // %1 MB received of %2 MB
  kTransferOfTotalTimeLeft,  // as kTransferOfTotal, %3: one of the times below
  kTimeLeftSeconds,          // %1: a number of seconds
  kTimeLeftMinutes,          // %1: a number of minutes
  kTimeLeftHours,            // %1: a number of hours
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

// `pattern` with each "%1" to "%9" replaced by that value (the first, second...
// of `values`); a "%" followed by anything else, or by a number without a
// value, stays as it is.
std::wstring FillUiText(const wchar_t* pattern, std::initializer_list<std::wstring_view> values);

}  // namespace tarnix
