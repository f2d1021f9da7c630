#pragma once
// The system's ANSI code page, through which WinINet turns a wide URL into
// the bytes it sends: a text in it is what the statistics server has always
// received for a name.

#include <string>
#include <string_view>

namespace tarnix {

class AnsiCodePage {
 public:
  virtual ~AnsiCodePage() = default;
  // WideCharToMultiByte(CP_ACP, 0, text, length, buffer, size, no default
  // character given, no flag asked for): a character the code page lacks
  // becomes the code page's own default character. With size 0 returns the
  // bytes needed and writes nothing; otherwise the bytes written. 0 on failure.
  virtual int WideCharToMultiByte(const wchar_t* text, int length, char* buffer, int size) = 0;
};

// `text` in the code page. Empty when the conversion fails.
std::string ToAnsiBytes(AnsiCodePage& codePage, std::wstring_view text);

}  // namespace tarnix
