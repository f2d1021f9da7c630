// Decodes a storage descriptor's text from arbitrary bytes: the first four
// bytes are the text offset, the fifth chooses pair swapping, the rest is the
// descriptor as the query returned it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

#include "identity/disk_identity.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 5) return 0;
  std::uint32_t offset = 0;
  std::memcpy(&offset, data, 4);
  bool swapPairs = (data[4] & 1) != 0;
  std::span<const std::uint8_t> descriptor(data + 5, size - 5);

  tarnix::DescriptorField field{};
  std::string_view text = tarnix::DecodeDescriptorString(descriptor, offset, field, swapPairs);
  // The text lies in the field, ends before its zero and holds no zero.
  if (text.data() != reinterpret_cast<const char*>(field.data())) std::abort();
  if (text.size() >= field.size() || field[text.size()] != 0) std::abort();
  if (std::memchr(text.data(), 0, text.size()) != nullptr) std::abort();
  return 0;
}
