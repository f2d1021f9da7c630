#include "download/pe_image.h"

#include <algorithm>
#include <array>

namespace tarnix {
namespace {

constexpr std::uint64_t kNewHeaderOffsetField = 0x3C;  // e_lfanew in the DOS header

}  // namespace

bool MemoryFileBytes::ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) {
  if (offset > bytes_.size() || out.size() > bytes_.size() - offset) return false;
  std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset), out.size(), out.begin());
  return true;
}

bool IsPeImage(FileBytes& file) {
  std::array<std::uint8_t, 2> magic{};
  if (!file.ReadAt(0, magic) || magic[0] != 'M' || magic[1] != 'Z') return false;

  std::array<std::uint8_t, 4> field{};
  if (!file.ReadAt(kNewHeaderOffsetField, field)) return false;
  std::uint32_t newHeader = static_cast<std::uint32_t>(field[0]) |
                            static_cast<std::uint32_t>(field[1]) << 8 |
                            static_cast<std::uint32_t>(field[2]) << 16 |
                            static_cast<std::uint32_t>(field[3]) << 24;
  // e_lfanew is signed in the header: a negative value points nowhere.
  if (newHeader > 0x7FFFFFFFu) return false;

  std::array<std::uint8_t, 4> signature{};
  if (!file.ReadAt(newHeader, signature)) return false;
  return signature == std::array<std::uint8_t, 4>{'P', 'E', 0, 0};
}

}  // namespace tarnix
