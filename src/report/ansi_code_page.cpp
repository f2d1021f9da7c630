#include "report/ansi_code_page.h"

#include <climits>

namespace tarnix {

std::string ToAnsiBytes(AnsiCodePage& codePage, std::wstring_view text) {
  // The call takes an int count, and reads a count of 0 as a failure.
  if (text.empty() || text.size() > static_cast<std::size_t>(INT_MAX)) return std::string();
  int length = static_cast<int>(text.size());
  int needed = codePage.WideCharToMultiByte(text.data(), length, nullptr, 0);
  if (needed <= 0) return std::string();
  std::string bytes(static_cast<std::size_t>(needed), '\0');
  int written = codePage.WideCharToMultiByte(text.data(), length, bytes.data(), needed);
  if (written <= 0 || written > needed) return std::string();
  bytes.resize(static_cast<std::size_t>(written));
  return bytes;
}

}  // namespace tarnix
