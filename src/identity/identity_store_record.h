#pragma once
// The identity store's record: its byte layout, and the bindings that tie
// it to the adapter and the disk.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "identity/identity_types.h"

namespace tarnix {

// The 12 lowercase hexadecimal digits of the address's 6 bytes, in order.
std::string FormatAdapterText(const AdapterAddress& address);

// MD5 of the text's bytes, zero bytes included, no terminator.
std::array<std::uint8_t, 16> BindingHash(std::string_view text);

// One store record as read or written.
struct StoreRecord {
  std::uint32_t version = 0;  // 1 (legacy, no bindings) or 2
  MachineId identity{};
  std::array<std::uint8_t, 16> adapterBinding{};  // version 2 only
  std::array<std::uint8_t, 16> diskBinding{};     // version 2 only
  // Read from the copy after the record: a rewrite in place was cut after
  // its mark, so the record at the start of the file is not whole.
  bool rewriteCut = false;
};

// The layout of a record: the little-endian version at 0, the identity at
// 4, and for version 2 the adapter binding at 20 and the disk binding at 36,
// 16 bytes each.
inline constexpr std::uint32_t kStoreVersion1 = 1;
inline constexpr std::uint32_t kStoreVersion2 = 2;
inline constexpr std::size_t kStoreVersionOffset = 0;
inline constexpr std::size_t kStoreVersionSize = 4;
inline constexpr std::size_t kStoreIdentityOffset = 4;
inline constexpr std::size_t kStoreAdapterBindingOffset = 20;
inline constexpr std::size_t kStoreDiskBindingOffset = 36;
inline constexpr std::size_t kStoreBlockSize = 16;

inline constexpr std::size_t kStoreRecordV1Size = 20;
inline constexpr std::size_t kStoreRecordV2Size = 52;
// A rewrite in place first puts a whole copy of the new record right after
// the record, then marks the record's version (0x80 | 2) while it writes the
// record over; until the version is written back, the copy counts. Readers
// of the two versions take the mark for an unknown version.
inline constexpr std::uint32_t kStoreRewriteMark = 0x82u;
inline constexpr std::size_t kStoreRewriteCopyOffset = kStoreRecordV2Size;
// A marked record with the copy after it.
inline constexpr std::size_t kStoreRewriteSize = kStoreRewriteCopyOffset + kStoreRecordV2Size;

// The version at the start of `bytes`, which holds at least its 4 bytes.
std::uint32_t StoreRecordVersion(std::span<const std::uint8_t> bytes);

// Decodes the record at the start of `bytes` (little-endian version at 0,
// identity at 4, adapter binding at 20, disk binding at 36); under the
// rewrite mark, the version-2 record at kStoreRewriteCopyOffset instead
// (with `rewriteCut` set). Bytes after the record are ignored. Empty when
// the bytes are too few for the version or the version is neither 1 nor 2
// (nor the mark with a whole version-2 copy after it).
std::optional<StoreRecord> ParseStoreRecord(std::span<const std::uint8_t> bytes);

// The 52 bytes of a version-2 record.
std::array<std::uint8_t, kStoreRecordV2Size> BuildStoreRecord(const MachineId& identity,
                                                              std::string_view adapterText,
                                                              std::string_view diskSerial);

// The bytes of `record` as the store holds it: a version-1 record without
// bindings, a version-2 record with them.
std::vector<std::uint8_t> StoreRecordBytes(const StoreRecord& record);

}  // namespace tarnix
