// The report's query encoding against arbitrary names: the URL always keeps
// its eight fields, the encoded text holds only unreserved characters and
// "%XX", and decoding it gives back the name's UTF-8.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "report/launch_report.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

int HexValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

bool IsUnreserved(wchar_t c) {
  return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') ||
         c == L'-' || c == L'.' || c == L'_' || c == L'~';
}

// The code points a UTF-16 text stands for; a lone surrogate stands for U+FFFD.
std::vector<char32_t> CodePoints(const std::wstring& text) {
  std::vector<char32_t> points;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t unit = static_cast<char32_t>(text[i]);
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() &&
        static_cast<char32_t>(text[i + 1]) >= 0xDC00 &&
        static_cast<char32_t>(text[i + 1]) <= 0xDFFF) {
      points.push_back(0x10000 + ((unit - 0xD800) << 10) +
                       (static_cast<char32_t>(text[++i]) - 0xDC00));
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      points.push_back(0xFFFD);
    } else {
      points.push_back(unit);
    }
  }
  return points;
}

// Strict UTF-8 decoding; aborts on anything malformed.
std::vector<char32_t> DecodeUtf8(const std::vector<std::uint8_t>& bytes) {
  std::vector<char32_t> points;
  for (std::size_t i = 0; i < bytes.size();) {
    std::uint8_t lead = bytes[i];
    std::size_t length = lead < 0x80    ? 1
                         : lead >= 0xF0 ? 4
                         : lead >= 0xE0 ? 3
                         : lead >= 0xC0 ? 2
                                        : 0;
    Check(length != 0 && i + length <= bytes.size());
    char32_t cp = length == 1 ? lead : lead & (0xFF >> (length + 1));
    for (std::size_t k = 1; k < length; ++k) {
      Check((bytes[i + k] & 0xC0) == 0x80);
      cp = (cp << 6) | (bytes[i + k] & 0x3F);
    }
    static constexpr char32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
    Check(cp >= kMinimum[length] && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF));
    points.push_back(cp);
    i += length;
  }
  return points;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Pairs of bytes are UTF-16 units, as the command line delivers them.
  std::wstring name;
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    name += static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
  }

  std::wstring encoded = tarnix::PercentEncodeQueryValue(name);
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    if (encoded[i] == L'%') {
      Check(i + 2 < encoded.size());
      int high = HexValue(encoded[i + 1]);
      int low = HexValue(encoded[i + 2]);
      Check(high >= 0 && low >= 0);
      std::uint8_t byte = static_cast<std::uint8_t>(high * 16 + low);
      Check(!IsUnreserved(static_cast<wchar_t>(byte)));  // never escaped needlessly
      bytes.push_back(byte);
      i += 2;
    } else {
      Check(IsUnreserved(encoded[i]));
      bytes.push_back(static_cast<std::uint8_t>(encoded[i]));
    }
  }
  Check(DecodeUtf8(bytes) == CodePoints(name));

  std::wstring url = tarnix::BuildReportUrl(name, name, 0, L"");
  std::size_t fields = 1;
  for (wchar_t c : url) {
    Check(c != L'#' && c != L' ');
    if (c == L'&') ++fields;
  }
  Check(fields == 8);
  return 0;
}
