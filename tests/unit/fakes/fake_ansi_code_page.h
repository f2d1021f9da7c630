#pragma once
// WideCharToMultiByte(CP_ACP, 0, ...) as Windows answers it on a system whose
// ANSI code page is 936 (Chinese, double-byte) or 1252 (Western), for a few
// characters: ASCII stays, a known character becomes its bytes, and every
// other UTF-16 unit, a lone surrogate too, becomes the default character "?".

#include <map>
#include <string>
#include <utility>

#include "report/ansi_code_page.h"

namespace tarnix::testing {

class FakeAnsiCodePage : public AnsiCodePage {
 public:
  explicit FakeAnsiCodePage(std::map<wchar_t, std::string> table) : table_(std::move(table)) {}

  bool fail = false;
  int calls = 0;

  int WideCharToMultiByte(const wchar_t* text, int length, char* buffer, int size) override {
    ++calls;
    if (fail || length <= 0) return 0;
    std::string bytes;
    for (int i = 0; i < length; ++i) {
      auto unit = static_cast<unsigned long>(text[i]);
      auto known = table_.find(text[i]);
      if (unit < 0x80) {
        bytes += static_cast<char>(unit);
      } else if (known != table_.end()) {
        bytes += known->second;
      } else {
        bytes += '?';
      }
    }
    int needed = static_cast<int>(bytes.size());
    if (size == 0) return needed;
    if (size < needed) return 0;  // ERROR_INSUFFICIENT_BUFFER
    bytes.copy(buffer, bytes.size());
    return needed;
  }

 private:
  std::map<wchar_t, std::string> table_;
};

// Code page 936 (GBK): two bytes for a Chinese character, the trail byte
// possibly in the ASCII range ("丂" is 81 40, "@" as its second byte).
inline FakeAnsiCodePage ChineseCodePage() {
  return FakeAnsiCodePage({{L'\u4e2d', "\xD6\xD0"},
                           {L'\u6587', "\xCE\xC4"},
                           {L'\u5e94', "\xD3\xA6"},
                           {L'\u7528', "\xD3\xC3"},
                           {L'\u4e02', "\x81\x40"},
                           {L'\u00e9', "\xA8\xA6"}});
}

// Code page 1252: one byte for a Western character, no Chinese at all.
inline FakeAnsiCodePage WesternCodePage() {
  return FakeAnsiCodePage({{L'\u00e9', "\xE9"}, {L'\u20ac', "\x80"}, {L'\u00a0', "\xA0"}});
}

}  // namespace tarnix::testing
