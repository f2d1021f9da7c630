// Reads an IDENTIFY text from arbitrary bytes: the first two bytes are the
// first and last word, the rest is the IDENTIFY data.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "identity/disk_identity.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  std::size_t firstWord = data[0];
  std::size_t lastWord = data[1];
  std::span<const std::uint8_t> identify(data + 2, size - 2);

  std::string text = tarnix::IdentifyString(identify, firstWord, lastWord);
  std::size_t words = identify.size() / 2;
  std::size_t available =
      firstWord > lastWord || firstWord >= words ? 0 : std::min(lastWord + 1, words) - firstWord;
  if (text.size() > 2 * available) std::abort();
  if (!text.empty() && text.back() == ' ') std::abort();
  // Every byte kept is the word's byte, high byte first.
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::size_t word = firstWord + i / 2;
    std::uint8_t expected = identify[2 * word + (i % 2 == 0 ? 1 : 0)];
    if (static_cast<std::uint8_t>(text[i]) != expected) std::abort();
  }
  return 0;
}
