#include "identity/md5.h"

#include <gtest/gtest.h>

#include <string>

namespace tarnix {
namespace {

std::string Hex(const Md5Digest& digest) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (std::uint8_t byte : digest) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0xF];
  }
  return text;
}

struct Vector {
  std::string input;
  const char* digest;
};

// The test suite of RFC 1321, appendix A.5.
TEST(Md5, MatchesTheRfcTestSuite) {
  const Vector kVectors[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"1234567890123456789012345678901234567890"
       "1234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const Vector& v : kVectors) {
    EXPECT_EQ(Hex(Md5(v.input)), v.digest) << '"' << v.input << '"';
  }
}

// Lengths around the padding boundaries (55/56 bytes need one or two final
// blocks, 64 a whole extra block) and a long multi-block input.
TEST(Md5, HandlesBlockBoundariesAndLongInput) {
  EXPECT_EQ(Hex(Md5(std::string(55, 'a'))), "ef1772b6dff9a122358552954ad0df65");
  EXPECT_EQ(Hex(Md5(std::string(56, 'a'))), "3b0c8ac703f828b04c6c197006d17218");
  EXPECT_EQ(Hex(Md5(std::string(64, 'a'))), "014842d480b571495a4a0363793f7367");
  EXPECT_EQ(Hex(Md5(std::string(1000000, 'a'))), "7707d6ae4e027c70eea2a935c2296f21");
}

TEST(Md5, HashesZeroBytesAndBothOverloadsAgree) {
  const std::string withZeros("a\0b\0", 4);
  EXPECT_EQ(Md5(withZeros), Md5(withZeros.data(), withZeros.size()));
  EXPECT_NE(Md5(withZeros), Md5(std::string("ab")));
  EXPECT_EQ(Md5(nullptr, 0), Md5(std::string_view()));
}

}  // namespace
}  // namespace tarnix
