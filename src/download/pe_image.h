#pragma once
// Whether a downloaded file is a Windows program at all, before anyone runs it.

#include <cstddef>
#include <cstdint>
#include <span>

namespace tarnix {

// The parts of the PE layout the check reads, little-endian in the file.
inline constexpr std::uint16_t kDosSignature = 0x5A4D;        // IMAGE_DOS_SIGNATURE, "MZ"
inline constexpr std::uint64_t kNewHeaderOffsetField = 0x3C;  // IMAGE_DOS_HEADER's e_lfanew
inline constexpr std::uint32_t kNtSignature = 0x00004550;     // IMAGE_NT_SIGNATURE, "PE\0\0"

// Random-access reads of one open file.
class FileBytes {
 public:
  virtual ~FileBytes() = default;
  // Reads exactly out.size() bytes at `offset`. Returns false when the file
  // is shorter or cannot be read; `out` is then unspecified.
  virtual bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) = 0;
};

// The bytes of a file already in memory.
class MemoryFileBytes final : public FileBytes {
 public:
  explicit MemoryFileBytes(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override;

 private:
  std::span<const std::uint8_t> bytes_;
};

// True when the file starts with "MZ" and the 32-bit little-endian e_lfanew
// at offset 0x3C points inside the file at "PE\0\0". An HTML page, an empty or
// truncated file fail.
bool IsPeImage(FileBytes& file);

}  // namespace tarnix
