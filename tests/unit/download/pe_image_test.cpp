#include "download/pe_image.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarnix {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A file of `size` zero bytes with "MZ", e_lfanew and, where it fits, `signature` at e_lfanew.
Bytes DosFile(std::size_t size, std::uint32_t newHeader, std::string signature = {"PE\0\0", 4}) {
  Bytes file(size, 0);
  if (size >= 2) file[0] = 'M', file[1] = 'Z';
  for (std::size_t i = 0; i < 4 && 0x3C + i < size; ++i)
    file[0x3C + i] = static_cast<std::uint8_t>(newHeader >> (8 * i));
  for (std::size_t i = 0; i < signature.size() && newHeader + i < size; ++i)
    file[newHeader + i] = static_cast<std::uint8_t>(signature[i]);
  return file;
}

Bytes Truncated(Bytes file, std::size_t size) {
  file.resize(size);
  return file;
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

TEST(IsPeImage, AcceptsOnlyAnMzHeaderPointingAtAPeSignatureInsideTheFile) {
  struct Case {
    const char* name;
    Bytes file;
    bool isPe;
  };
  const Case cases[] = {
      {"usual layout", DosFile(0x200, 0x80), true},
      {"signature ends exactly at the end of the file", DosFile(0x84, 0x80), true},
      {"signature right after the DOS header", DosFile(0x44, 0x40), true},
      {"empty file", Bytes{}, false},
      {"one byte", Text("M"), false},
      {"MZ alone", Text("MZ"), false},
      {"DOS header cut before e_lfanew ends", Truncated(DosFile(0x200, 0x80), 0x3E), false},
      {"e_lfanew past the end", DosFile(0x80, 0x1000), false},
      {"signature cut by the end of the file", DosFile(0x82, 0x80), false},
      {"negative e_lfanew", DosFile(0x200, 0xFFFFFFF0u), false},
      {"wrong signature", DosFile(0x200, 0x80, {"PE\0\1", 4}), false},
      {"NE program", DosFile(0x200, 0x80, {"NE\0\0", 4}), false},
      {"lower-case magic",
       [] {
         Bytes file = DosFile(0x200, 0x80);
         file[0] = 'm';
         file[1] = 'z';
         return file;
       }(),
       false},
      {"HTML error page",
       Text("<!DOCTYPE html><html><body>404 Not Found</body></html>"
            "<!-- padding so the page is longer than a DOS header -->"),
       false},
  };
  for (const Case& c : cases) {
    MemoryFileBytes bytes(c.file);
    EXPECT_EQ(IsPeImage(bytes), c.isPe) << c.name;
  }
}

TEST(MemoryFileBytes, RefusesReadsBeyondTheEnd) {
  const Bytes file = {1, 2, 3, 4};
  MemoryFileBytes bytes(file);
  std::uint8_t out[2] = {};
  EXPECT_TRUE(bytes.ReadAt(2, out));
  EXPECT_EQ(out[0], 3);
  EXPECT_FALSE(bytes.ReadAt(3, out));
  EXPECT_FALSE(bytes.ReadAt(0xFFFFFFFFFFFFFFFFull, out));
}

}  // namespace
}  // namespace tarnix
