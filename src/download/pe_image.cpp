#include "download/pe_image.h"

#include <algorithm>
#include <array>

#include "platform/bytes.h"

namespace tarnix {

bool MemoryFileBytes::ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) {
  if (offset > bytes_.size() || out.size() > bytes_.size() - offset) return false;
  std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset), out.size(), out.begin());
  return true;
}

bool IsPeImage(FileBytes& file) {
  std::array<std::uint8_t, 2> magic{};
  if (!file.ReadAt(0, magic) || LoadLittleEndian<std::uint16_t>(magic.data()) != kDosSignature)
    return false;

  std::array<std::uint8_t, 4> field{};
  if (!file.ReadAt(kNewHeaderOffsetField, field)) return false;
  auto newHeader = LoadLittleEndian<std::uint32_t>(field.data());
  // e_lfanew is signed in the header: a negative value points nowhere.
  if (newHeader > 0x7FFFFFFFu) return false;

  std::array<std::uint8_t, 4> signature{};
  if (!file.ReadAt(newHeader, signature)) return false;
  return LoadLittleEndian<std::uint32_t>(signature.data()) == kNtSignature;
}

}  // namespace tarnix
