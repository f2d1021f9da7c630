#include "identity/identity_store_record.h"

#include <algorithm>

#include "identity/md5.h"
#include "platform/bytes.h"

namespace tarnix {
namespace {

template <std::size_t N>
void CopyBlock(std::span<const std::uint8_t> bytes, std::size_t offset,
               std::array<std::uint8_t, N>& block) {
  std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(offset), N, block.begin());
}

// The record of version 1 or 2 at the start of `bytes`.
std::optional<StoreRecord> ParseRecordAtStart(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kStoreVersionSize) return std::nullopt;
  StoreRecord record;
  record.version = StoreRecordVersion(bytes);
  if (record.version == kStoreVersion1) {
    if (bytes.size() < kStoreRecordV1Size) return std::nullopt;
    CopyBlock(bytes, kStoreIdentityOffset, record.identity);
  } else if (record.version == kStoreVersion2) {
    if (bytes.size() < kStoreRecordV2Size) return std::nullopt;
    CopyBlock(bytes, kStoreIdentityOffset, record.identity);
    CopyBlock(bytes, kStoreAdapterBindingOffset, record.adapterBinding);
    CopyBlock(bytes, kStoreDiskBindingOffset, record.diskBinding);
  } else {
    return std::nullopt;
  }
  return record;
}

template <std::size_t N, std::size_t M>
void PutBlock(std::array<std::uint8_t, M>& record, std::size_t offset,
              const std::array<std::uint8_t, N>& block) {
  std::copy(block.begin(), block.end(), record.begin() + static_cast<std::ptrdiff_t>(offset));
}

}  // namespace

std::uint32_t StoreRecordVersion(std::span<const std::uint8_t> bytes) {
  return LoadLittleEndian<std::uint32_t>(bytes.first(kStoreVersionSize).data());
}

std::string FormatAdapterText(const AdapterAddress& address) {
  std::string text;
  text.reserve(address.size() * 2);
  for (std::uint8_t byte : address) AppendHex(text, byte, HexLetters::Lower);
  return text;
}

std::array<std::uint8_t, 16> BindingHash(std::string_view text) { return Md5(text); }

std::optional<StoreRecord> ParseStoreRecord(std::span<const std::uint8_t> bytes) {
  if (bytes.size() >= kStoreVersionSize && StoreRecordVersion(bytes) == kStoreRewriteMark) {
    if (bytes.size() < kStoreRewriteSize) return std::nullopt;
    std::optional<StoreRecord> copy = ParseRecordAtStart(bytes.subspan(kStoreRewriteCopyOffset));
    if (!copy || copy->version != kStoreVersion2) return std::nullopt;
    copy->rewriteCut = true;
    return copy;
  }
  return ParseRecordAtStart(bytes);
}

std::array<std::uint8_t, kStoreRecordV2Size> BuildStoreRecord(const MachineId& identity,
                                                              std::string_view adapterText,
                                                              std::string_view diskSerial) {
  std::array<std::uint8_t, kStoreRecordV2Size> record{};
  record[kStoreVersionOffset] = static_cast<std::uint8_t>(kStoreVersion2);
  PutBlock(record, kStoreIdentityOffset, identity);
  PutBlock(record, kStoreAdapterBindingOffset, BindingHash(adapterText));
  PutBlock(record, kStoreDiskBindingOffset, BindingHash(diskSerial));
  return record;
}

std::vector<std::uint8_t> StoreRecordBytes(const StoreRecord& record) {
  std::vector<std::uint8_t> bytes(record.version == kStoreVersion1 ? kStoreRecordV1Size
                                                                   : kStoreRecordV2Size);
  StoreLittleEndian<std::uint32_t>(bytes.data() + kStoreVersionOffset, record.version);
  std::copy(record.identity.begin(), record.identity.end(), bytes.data() + kStoreIdentityOffset);
  if (record.version == kStoreVersion2) {
    std::copy(record.adapterBinding.begin(), record.adapterBinding.end(),
              bytes.data() + kStoreAdapterBindingOffset);
    std::copy(record.diskBinding.begin(), record.diskBinding.end(),
              bytes.data() + kStoreDiskBindingOffset);
  }
  return bytes;
}

}  // namespace tarnix
