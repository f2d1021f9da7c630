#include "platform/bytes.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace tarnix {
namespace {

// Bytes whose every position is distinct, with the top bit set at the end so
// that a sign extension or a lost high byte shows.
constexpr std::uint8_t kBytes[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};

TEST(LoadLittleEndian, ReadsTheLowestByteFirstInEveryWidth) {
  EXPECT_EQ(LoadLittleEndian<std::uint8_t>(kBytes), 0x01u);
  EXPECT_EQ(LoadLittleEndian<std::uint16_t>(kBytes), 0x2301u);
  EXPECT_EQ(LoadLittleEndian<std::uint32_t>(kBytes), 0x67452301u);
  EXPECT_EQ(LoadLittleEndian<std::uint64_t>(kBytes), 0xEFCDAB8967452301u);
  EXPECT_EQ(LoadLittleEndian<std::uint32_t>(kBytes + 4), 0xEFCDAB89u);
  static_assert(LoadLittleEndian<std::uint16_t>(kBytes + 6) == 0xEFCD);
}

TEST(StoreLittleEndian, WritesOnlyItsWidthAndReadsBack) {
  std::array<std::uint8_t, 10> buffer{};
  buffer.fill(0x55);
  StoreLittleEndian<std::uint32_t>(buffer.data() + 1, 0xA1B2C3D4u);
  EXPECT_EQ(buffer, (std::array<std::uint8_t, 10>{0x55, 0xD4, 0xC3, 0xB2, 0xA1, 0x55, 0x55, 0x55,
                                                  0x55, 0x55}));
  StoreLittleEndian<std::uint64_t>(buffer.data() + 1, 0xEFCDAB8967452301u);
  EXPECT_EQ(LoadLittleEndian<std::uint64_t>(buffer.data() + 1), 0xEFCDAB8967452301u);
  EXPECT_EQ(buffer[0], 0x55);
  EXPECT_EQ(buffer[9], 0x55);
}

TEST(AppendHex, WritesTwoDigitsHighFirstInEitherCase) {
  struct Case {
    std::uint8_t byte;
    const char* lower;
    const char* upper;
  };
  const Case kCases[] = {
      {0x00, "00", "00"}, {0x0F, "0f", "0F"}, {0xA5, "a5", "A5"},
      {0xFF, "ff", "FF"}, {0x90, "90", "90"},
  };
  for (const Case& c : kCases) {
    std::string lower = "x";
    AppendHex(lower, c.byte);
    EXPECT_EQ(lower, std::string("x") + c.lower);
    std::wstring upper = L"%";
    AppendHex(upper, c.byte, HexLetters::Upper);
    EXPECT_EQ(upper, L"%" + std::wstring(c.upper, c.upper + 2));
  }
}

}  // namespace
}  // namespace tarnix
