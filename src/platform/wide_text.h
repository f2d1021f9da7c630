#pragma once
// Character rules of the C run-time in its default locale, for UTF-16 text.

#include <string_view>

namespace tarnix {

// iswspace: the ASCII white space and the Unicode space separators.
constexpr bool IsWideSpace(wchar_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

constexpr bool IsDecimalDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// The letters A to Z lower-cased; every other unit as it is.
constexpr wchar_t AsciiLower(wchar_t c) {
  return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

// Whether `text` begins with `prefix`, the letters A to Z matched in either case.
constexpr bool StartsWithIgnoringCase(std::wstring_view text, std::wstring_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (AsciiLower(text[i]) != AsciiLower(prefix[i])) return false;
  }
  return true;
}

// Whether both texts are the same, the letters A to Z matched in either case.
constexpr bool EqualsIgnoringCase(std::wstring_view a, std::wstring_view b) {
  return a.size() == b.size() && StartsWithIgnoringCase(a, b);
}

}  // namespace tarnix
