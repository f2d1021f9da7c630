#pragma once
// Integers in byte buffers and bytes as hexadecimal text. Windows records and
// our own files are little-endian whatever the compiler, so they are read and
// written byte by byte, never through a cast.

#include <concepts>
#include <cstddef>
#include <cstdint>

namespace tarnix {

// The unsigned integer of sizeof(T) bytes at `bytes`, least significant first.
template <std::unsigned_integral T>
constexpr T LoadLittleEndian(const std::uint8_t* bytes) {
  T value = 0;
  for (std::size_t i = sizeof(T); i > 0; --i) {
    value = static_cast<T>(static_cast<T>(value << 8) | bytes[i - 1]);
  }
  return value;
}

// Writes `value` to the sizeof(T) bytes at `bytes`, least significant first.
template <std::unsigned_integral T>
constexpr void StoreLittleEndian(std::uint8_t* bytes, T value) {
  for (std::size_t i = 0; i < sizeof(T); ++i) {
    bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

enum class HexLetters { Lower, Upper };

// Appends the two hexadecimal digits of `byte`, high digit first, to `out`
// (a std::string or std::wstring).
template <typename Text>
void AppendHex(Text& out, std::uint8_t byte, HexLetters letters = HexLetters::Lower) {
  const char* digits = letters == HexLetters::Lower ? "0123456789abcdef" : "0123456789ABCDEF";
  out.push_back(static_cast<typename Text::value_type>(digits[byte >> 4]));
  out.push_back(static_cast<typename Text::value_type>(digits[byte & 0x0F]));
}

}  // namespace tarnix
