#pragma once
// The 16-byte machine identity: read from the identity store, or derived with
// MD5 from the disk identity and an adapter address and then stored; computed
// at most once per process and served from the cache of one CSeqIDGen.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "identity/identity_sources.h"
#include "identity/identity_store.h"
#include "identity/identity_types.h"

namespace Base::GUID {

// Owner of the process-wide identity cache: one 16-byte heap block, null
// while the cache is empty.
class CSeqIDGen {
 public:
  CSeqIDGen() = default;
  virtual ~CSeqIDGen();
  CSeqIDGen(const CSeqIDGen&) = delete;
  CSeqIDGen& operator=(const CSeqIDGen&) = delete;

  // Copies the cached identity to `id` (16 bytes). False when the cache is empty.
  bool CopyCachedId(std::uint8_t* id) const;
  // Replaces the cached block with a new one holding the 16 bytes at `id`.
  // False, with the cache left empty, when the block cannot be allocated.
  bool CacheId(const std::uint8_t* id);

 private:
  std::unique_ptr<std::uint8_t[]> m_cachedId;
};

}  // namespace Base::GUID

namespace tarnix {

// Where the derivation reaches the machine: its hardware and its files.
struct IdentityEnvironment {
  IdentitySources& sources;
  StoreFileSystem& files;
};

// Taken when neither adapter query finds an address.
inline constexpr AdapterAddress kFallbackAdapterAddress = {0x1a, 0x2b, 0x3c, 0x4d, 0x5e, 0x6f};
inline constexpr char kDiskSeparator[] = "#";
inline constexpr char kHashSuffix[] = "#QZR";
inline constexpr std::size_t kMachineIdTextSize = 33;

// The process-wide text form: 32 lowercase hexadecimal digits and a zero
// byte; all zero while it holds no identity.
extern char MachineIdText[kMachineIdTextSize];

// The bytes whose MD5 is a new identity: serial "#" model "#" firmware "#"
// (only when `disk` is given, every byte counted), then the adapter text and
// "#QZR".
std::string BuildHashInput(const DiskIdentity* disk, std::string_view adapterText);

// Puts the 16 bytes at `id` into the cache of `generator`. Returns whether
// the cache now holds them.
bool CacheMachineId(Base::GUID::CSeqIDGen& generator, const std::uint8_t* id);

// Fills the 16 bytes at `id` from the cache of `generator`, or else from the
// store or a fresh digest (which is then stored, unless another process held
// the store throughout the read), and caches the result.
// Always returns true.
bool DeriveMachineId(Base::GUID::CSeqIDGen& generator, IdentityEnvironment& environment,
                     std::uint8_t* id);

// The process-wide identity. False, touching nothing, when `id` is null;
// otherwise fills its 16 bytes and returns true. The first call creates the
// process's CSeqIDGen.
bool GetMachineId(IdentityEnvironment& environment, std::uint8_t* id);

// Fills MachineIdText with the process-wide identity's text form. Returns
// false, leaving the text empty, when no identity could be obtained.
bool FormatMachineIdText(IdentityEnvironment& environment);

}  // namespace tarnix
