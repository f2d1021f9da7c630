// The store-record parser over arbitrary file contents: it must never read
// past the bytes it is given, and a version-2 record it accepts must build
// back to the same 52 bytes: those at the start, or under the rewrite mark
// those of the copy after the marked record.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "identity/identity_store.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto record = tarnix::ParseStoreRecord(std::span<const std::uint8_t>(data, size));
  if (!record) return 0;
  if (record->version != 1 && record->version != 2) std::abort();
  if (record->version == 1 && size < tarnix::kStoreRecordV1Size) std::abort();
  if (record->rewriteCut != (size >= 4 && std::memcmp(data, "\x82\x00\x00\x00", 4) == 0)) {
    std::abort();
  }
  if (record->version == 2) {
    if (record->rewriteCut) {
      if (size < tarnix::kStoreRewriteCopyOffset) std::abort();
      data += tarnix::kStoreRewriteCopyOffset;
      size -= tarnix::kStoreRewriteCopyOffset;
    }
    if (size < tarnix::kStoreRecordV2Size) std::abort();
    // The layout round trip: fields back into bytes at the same offsets.
    if (std::memcmp(data, "\x02\x00\x00\x00", 4) != 0) std::abort();
    if (std::memcmp(data + 4, record->identity.data(), 16) != 0) std::abort();
    if (std::memcmp(data + 20, record->adapterBinding.data(), 16) != 0) std::abort();
    if (std::memcmp(data + 36, record->diskBinding.data(), 16) != 0) std::abort();
  }
  return 0;
}
