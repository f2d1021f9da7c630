// The report's query encoding against arbitrary names: the URL always keeps
// its eight fields, the encoded text holds only unreserved characters and
// "%XX", and decoding it gives back exactly the code page's bytes of the name.

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "report/ansi_code_page.h"
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

// A double-byte code page whose trail bytes may be any byte at all, "&", "#",
// "%" and the zero byte included: ASCII stays, every other unit becomes a
// lead byte of 0x81 or more and its low byte.
class DoubleByteCodePage final : public tarnix::AnsiCodePage {
 public:
  static std::string Convert(const wchar_t* text, int length) {
    std::string bytes;
    for (int i = 0; i < length; ++i) {
      auto unit = static_cast<std::uint32_t>(text[i]);
      if (unit < 0x80) {
        bytes += static_cast<char>(unit);
      } else {
        bytes += static_cast<char>(0x81 + ((unit >> 8) & 0x7E));
        bytes += static_cast<char>(unit & 0xFF);
      }
    }
    return bytes;
  }
  int WideCharToMultiByte(const wchar_t* text, int length, char* buffer, int size) override {
    std::string bytes = Convert(text, length);
    if (bytes.size() > INT_MAX) return 0;
    if (size == 0) return static_cast<int>(bytes.size());
    if (static_cast<std::size_t>(size) < bytes.size()) return 0;
    bytes.copy(buffer, bytes.size());
    return static_cast<int>(bytes.size());
  }
};

// Decodes "%XX" and checks that nothing else but unreserved characters
// appears and that no unreserved byte was escaped needlessly.
std::string Decode(const std::wstring& encoded) {
  std::string bytes;
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    if (encoded[i] == L'%') {
      Check(i + 2 < encoded.size());
      int high = HexValue(encoded[i + 1]);
      int low = HexValue(encoded[i + 2]);
      Check(high >= 0 && low >= 0);
      auto byte = static_cast<std::uint8_t>(high * 16 + low);
      Check(!IsUnreserved(static_cast<wchar_t>(byte)));
      bytes.push_back(static_cast<char>(byte));
      i += 2;
    } else {
      Check(IsUnreserved(encoded[i]));
      bytes.push_back(static_cast<char>(encoded[i]));
    }
  }
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string raw(reinterpret_cast<const char*>(data), size);
  Check(Decode(tarnix::PercentEncodeBytes(raw)) == raw);

  // Pairs of bytes are UTF-16 units, as the command line delivers them.
  std::wstring name;
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    name += static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
  }
  DoubleByteCodePage codePage;
  std::string expected = DoubleByteCodePage::Convert(name.data(), static_cast<int>(name.size()));
  Check(Decode(tarnix::EncodeQueryValue(name, codePage)) == expected);

  std::wstring url = tarnix::BuildReportUrl(name, name, 0, L"", codePage);
  std::size_t fields = 1;
  for (wchar_t c : url) {
    Check(c != L'#' && c != L' ');
    if (c == L'&') ++fields;
  }
  Check(fields == 8);
  return 0;
}
