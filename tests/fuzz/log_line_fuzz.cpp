// The launch log's lines against arbitrary UTF-16 text (a command line, a
// path, a signer's name): every line is valid UTF-8, ends in exactly one
// CR LF, holds no other control character and stays within its bound.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/launch_log.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// Strict UTF-8: shortest forms only, no surrogates, nothing above U+10FFFF.
// Returns the number of code points.
std::size_t CheckUtf8(const std::string& text) {
  std::size_t points = 0;
  for (std::size_t i = 0; i < text.size(); ++points) {
    auto lead = static_cast<std::uint8_t>(text[i]);
    std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    Check(lead < 0x80 || lead >= 0xC2);
    Check(lead <= 0xF4 && i + length <= text.size());
    std::uint32_t c = length == 1 ? lead : lead & (0x3F >> (length - 1));
    for (std::size_t k = 1; k < length; ++k) {
      auto next = static_cast<std::uint8_t>(text[i + k]);
      Check((next & 0xC0) == 0x80);
      c = (c << 6) | (next & 0x3F);
    }
    Check(length != 3 || c >= 0x800);
    Check(length != 4 || (c >= 0x10000 && c <= 0x10FFFF));
    Check(c < 0xD800 || c > 0xDFFF);
    i += length;
  }
  return points;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::wstring text;
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    text += static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
  }
  std::string line = tarnix::FormatLogLine(tarnix::LogTime{2026, 12, 31, 23, 59, 59, 999}, 4294967295u, text);
  Check(line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0);
  std::string body = line.substr(0, line.size() - 2);
  for (char c : body) Check(static_cast<std::uint8_t>(c) >= 0x20 && c != 0x7F);
  // Nor a C1 control or a line or paragraph separator.
  Check(body.find("\xC2\x85") == std::string::npos && body.find("\xE2\x80\xA8") == std::string::npos &&
        body.find("\xE2\x80\xA9") == std::string::npos);
  // The head, at most kLogTextLimit characters of text (a pair counts as
  // one point, so points never exceed units) and the cut's mark.
  Check(CheckUtf8(body) <= 41 + tarnix::kLogTextLimit + 3);
  Check(tarnix::ToUtf8(text).size() <= text.size() * 3);
  return 0;
}
