#include "identity/machine_id.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "identity/md5.h"
#include "platform/bytes.h"

namespace Base::GUID {

CSeqIDGen::~CSeqIDGen() = default;

bool CSeqIDGen::CopyCachedId(std::uint8_t* id) const {
  if (m_cachedId == nullptr) return false;
  std::memcpy(id, m_cachedId.get(), 16);
  return true;
}

bool CSeqIDGen::CacheId(const std::uint8_t* id) {
  m_cachedId.reset();  // the old block goes first, so a failed allocation leaves none
  m_cachedId.reset(new (std::nothrow) std::uint8_t[16]);
  if (m_cachedId == nullptr) return false;
  std::memcpy(m_cachedId.get(), id, 16);
  return true;
}

}  // namespace Base::GUID

namespace tarnix {

// Two digits for each byte of the identity, and the zero byte.
static_assert(kMachineIdTextSize == 2 * std::tuple_size_v<MachineId> + 1);
char MachineIdText[kMachineIdTextSize] = {};

namespace {

// Created by the first GetMachineId and never destroyed: the process may end
// while another thread is inside the derivation, which must not meet a cache
// torn down under it. The system frees the block with the process.
Base::GUID::CSeqIDGen& ProcessSeqIDGen() {
  static Base::GUID::CSeqIDGen& generator = *new Base::GUID::CSeqIDGen;
  return generator;
}

// The list query first, NetBIOS second, the fixed address last.
AdapterAddress ReadAdapterAddress(IdentitySources& sources) {
  AdapterAddress address{};
  if (sources.ReadAdapterAddressFromList(address)) return address;
  if (sources.ReadAdapterAddressFromNetbios(address)) return address;
  return kFallbackAdapterAddress;
}

}  // namespace

std::string BuildHashInput(const DiskIdentity* disk, std::string_view adapterText) {
  std::string input;
  if (disk != nullptr) {
    for (const std::string* piece : {&disk->serial, &disk->model, &disk->firmware}) {
      input.append(*piece);
      input.append(kDiskSeparator);
    }
  }
  input.append(adapterText);
  input.append(kHashSuffix);
  return input;
}

bool CacheMachineId(Base::GUID::CSeqIDGen& generator, const std::uint8_t* id) {
  return generator.CacheId(id);
}

bool DeriveMachineId(Base::GUID::CSeqIDGen& generator, IdentityEnvironment& environment,
                     std::uint8_t* id) {
  // Once cached, the identity costs no device query and no file access.
  if (generator.CopyCachedId(id)) return true;

  AdapterAddress address = ReadAdapterAddress(environment.sources);
  DiskIdentity disk;
  bool diskFound = environment.sources.ReadDiskIdentity(disk);
  std::string adapterText = FormatAdapterText(address);
  // Without a disk the serial is empty, whatever a failed probe left behind.
  std::string_view serial = diskFound ? std::string_view(disk.serial) : std::string_view();

  MachineId identity{};
  bool mustRewrite = false;
  StoreRecord accepted;
  switch (
      ReadIdentityStore(environment.files, adapterText, serial, identity, mustRewrite, &accepted)) {
    case StoreLookup::Found:
      if (!mustRewrite) break;
      if (accepted.rewriteCut) {
        // The copy of a cut rewrite is written whole as it was accepted:
        // rebound to the present hardware, it would keep the identity across
        // a change that its own bindings do not survive.
        WriteIdentityStore(environment.files, accepted);
      } else {
        // A legacy record is kept, now bound to the present hardware.
        WriteIdentityStore(environment.files, serial, adapterText, identity);
      }
      break;
    case StoreLookup::NotFound:
      identity = Md5(BuildHashInput(diskFound ? &disk : nullptr, adapterText));
      WriteIdentityStore(environment.files, serial, adapterText, identity);
      break;
    case StoreLookup::Held:
      // A store that another process holds is not a missing one: its record
      // (perhaps kept across a hardware change, or a legacy one) stays, and
      // this run reports the identity of the present hardware.
      identity = Md5(BuildHashInput(diskFound ? &disk : nullptr, adapterText));
      break;
  }
  // Neither a failed write nor a failed cache withholds the identity.
  std::copy(identity.begin(), identity.end(), id);
  CacheMachineId(generator, id);
  return true;
}

bool GetMachineId(IdentityEnvironment& environment, std::uint8_t* id) {
  if (id == nullptr) return false;
  std::fill_n(id, 16, std::uint8_t{0});
  return DeriveMachineId(ProcessSeqIDGen(), environment, id);
}

bool FormatMachineIdText(IdentityEnvironment& environment) {
  std::fill(std::begin(MachineIdText), std::end(MachineIdText), '\0');
  std::uint8_t id[16] = {};
  if (!GetMachineId(environment, id)) return false;
  std::string text;
  for (std::uint8_t byte : id) AppendHex(text, byte, HexLetters::Lower);
  // The zero byte after the 32 digits is already in place.
  std::copy(text.begin(), text.end(), MachineIdText);
  return true;
}

}  // namespace tarnix
