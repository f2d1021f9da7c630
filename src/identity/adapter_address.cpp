#include "identity/adapter_address.h"

#include <algorithm>
#include <cstring>

#include "platform/bytes.h"
#include "platform/unique_handle.h"

namespace tarnix {
namespace {

// A pointer-sized field of the platform's record: 4 or 8 bytes.
std::uint64_t LoadPointer(const std::uint8_t* p, std::size_t size) {
  return size == 8 ? LoadLittleEndian<std::uint64_t>(p) : LoadLittleEndian<std::uint32_t>(p);
}

bool IsZero(const AdapterAddress& address) {
  return std::all_of(address.begin(), address.end(), [](std::uint8_t b) { return b == 0; });
}

using ModuleTraits =
    ApiHandleTraits<AdapterList, ModuleHandle, ModuleHandle{0}, &AdapterList::ReleaseModule>;
using UniqueModule = UniqueHandle<ModuleTraits>;

constexpr int kWorstClass = 3;
constexpr std::size_t kMaxAdapterNameInSubkey = 258;
constexpr std::uint32_t kMediaSubTypeLan = 1;
constexpr std::uint32_t kMediaSubTypeWireless = 2;
constexpr std::size_t kPnpInstanceIdBufferSize = 260;

// Calls GetAdaptersInfo into `storage`, first with room for 16 records, then
// with the size an overflow asks for, until the list fits, the size asked for
// does not grow or passes the bound, or the calls run out. Returns the
// filled bytes, or nothing when the list could not be read. The storage is
// of 64-bit words, so the records' 64-bit fields are aligned as the system
// lays them out.
std::span<const std::uint8_t> ReadAdapterList(AdapterList& list, ProcAddress getAdaptersInfo,
                                              const AdapterInfoLayout& layout,
                                              std::vector<std::uint64_t>& storage) {
  auto offered = static_cast<std::uint32_t>(kAdapterListRecords * layout.recordSize);
  for (int call = 0; call < kAdapterListCalls; ++call) {
    storage.assign((offered + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t), 0);
    auto* bytes = reinterpret_cast<std::uint8_t*>(storage.data());
    std::uint32_t size = offered;
    std::uint32_t result = list.GetAdaptersInfo(getAdaptersInfo, bytes, &size);
    if (result == 0) return std::span<const std::uint8_t>(bytes, offered);
    // Adapters may come and go between the calls, so the size asked for is
    // taken as it comes, but only while it grows and stays within the bound.
    if (result != kErrorBufferOverflow || size <= offered || size > kAdapterListMaxBytes) break;
    offered = size;
  }
  return {};
}

}  // namespace

std::vector<AdapterRecord> ParseAdapterRecords(std::span<const std::uint8_t> buffer,
                                               std::uint64_t bufferAddress,
                                               const AdapterInfoLayout& layout) {
  std::vector<AdapterRecord> records;
  if (layout.recordSize == 0 || buffer.size() < layout.recordSize) return records;
  // Addresses are compared in the layout's pointer width, so a 32-bit chain
  // can be read wherever the buffer lies.
  const std::uint64_t mask = layout.pointerSize >= 8
                                 ? ~std::uint64_t{0}
                                 : (std::uint64_t{1} << (8 * layout.pointerSize)) - 1;
  const std::size_t maxRecords = buffer.size() / layout.recordSize;
  // The bytes of a record that are read.
  const std::size_t extent = std::max({layout.pointerSize, layout.nameOffset + kAdapterNameSize,
                                       layout.addressOffset + 8, layout.typeOffset + 4});

  std::size_t offset = 0;
  while (records.size() < maxRecords) {
    const std::uint8_t* record = buffer.data() + offset;
    AdapterRecord parsed;
    const auto* name = reinterpret_cast<const char*>(record + layout.nameOffset);
    parsed.name.assign(name, std::find(name, name + kAdapterNameSize, '\0'));
    std::memcpy(parsed.address.data(), record + layout.addressOffset, parsed.address.size());
    parsed.type = LoadLittleEndian<std::uint32_t>(record + layout.typeOffset);
    records.push_back(std::move(parsed));

    std::uint64_t next = LoadPointer(record, layout.pointerSize);
    if (next == 0) break;
    std::uint64_t relative = (next - bufferAddress) & mask;
    if (relative > buffer.size() - extent) break;
    offset = static_cast<std::size_t>(relative);
  }
  return records;
}

int ClassifyAdapterConnection(Registry& registry, const std::string& adapterName) {
  UniqueRegistryKey classKey = UnopenedKey(registry);
  if (registry.OpenKeyNarrow(RegistryHive::LocalMachine, kNetworkClassKey, kKeyRead,
                             classKey.Put()) != 0) {
    return kWorstClass;
  }
  UniqueRegistryKey connectionKey = UnopenedKey(registry);
  std::string subkey = adapterName.substr(0, kMaxAdapterNameInSubkey) + "\\Connection";
  if (registry.OpenKeyNarrow(classKey.Get(), subkey, kKeyRead, connectionKey.Put()) != 0) {
    return kWorstClass;
  }

  // The keys close in reverse order: connection subkey, then the class key.
  std::uint8_t mediaSubType[4] = {};
  std::uint32_t size = sizeof(mediaSubType);
  if (registry.QueryValueNarrow(connectionKey.Get(), "MediaSubType", mediaSubType, &size) != 0) {
    return kWorstClass;
  }
  // One byte short of the buffer, so the text always ends with a zero.
  std::uint8_t pnpInstanceId[kPnpInstanceIdBufferSize] = {};
  size = kPnpInstanceIdBufferSize - 1;
  if (registry.QueryValueNarrow(connectionKey.Get(), "PnpInstanceID", pnpInstanceId, &size) != 0) {
    return kWorstClass;
  }

  switch (LoadLittleEndian<std::uint32_t>(mediaSubType)) {
    case kMediaSubTypeLan:
      return std::memcmp(pnpInstanceId, "PCI", 3) == 0 ? 0 : 2;
    case kMediaSubTypeWireless:
      return 1;
    default:
      return kWorstClass;
  }
}

bool ReadAdapterAddressFromList(AdapterList& list, Registry& registry, AdapterAddress& address,
                                const AdapterInfoLayout& layout) {
  wchar_t directory[kMaxPath] = {};
  list.SystemDirectory(directory, static_cast<std::uint32_t>(kMaxPath));
  std::wstring path(directory, std::find(directory, directory + kMaxPath, L'\0'));
  if (!path.empty() && path.back() != L'\\') path += L'\\';
  path += kAdapterListLibrary;
  path.resize(std::min<std::size_t>(path.size(), kMaxPath - 1));

  UniqueModule module(list.LoadModule(path), ModuleTraits{&list});
  if (!module) return false;

  std::vector<std::uint64_t> buffer;

  if (ProcAddress getAdaptersInfo = list.FindExport(module.Get(), kAdapterListExport)) {
    std::span<const std::uint8_t> records = ReadAdapterList(list, getAdaptersInfo, layout, buffer);
    int best = kWorstClass;
    for (const AdapterRecord& record :
         ParseAdapterRecords(records, reinterpret_cast<std::uintptr_t>(records.data()), layout)) {
      int connectionClass = ClassifyAdapterConnection(registry, record.name);
      // The first adapter is the default; a later Ethernet or PPP adapter
      // replaces it only with a strictly better connection.
      bool take =
          IsZero(address) ||
          ((record.type == kIfTypeEthernet || record.type == kIfTypePpp) && connectionClass < best);
      if (take) {
        address = record.address;
        best = connectionClass;
      }
    }
  }
  module.Reset();
  return !IsZero(address);
}

bool ReadAdapterAddressFromNetbios(NetbiosDriver& netbios, AdapterAddress& address) {
  std::array<std::uint8_t, kLanaEnumSize> lanaEnum{};
  NetbiosRequest enumerate;
  enumerate.command = kNcbEnum;
  enumerate.buffer = lanaEnum.data();
  enumerate.length = kLanaEnumSize;
  if (netbios.Netbios(enumerate) != 0) return false;

  // From the last enumerated LAN adapter to the first.
  std::size_t count = std::min<std::size_t>(lanaEnum[0], kLanaEnumSize - 1);
  for (std::size_t k = count; k > 0; --k) {
    std::uint8_t lana = lanaEnum[k];  // lana[k - 1]

    NetbiosRequest reset;
    reset.command = kNcbReset;
    reset.lanaNumber = lana;
    if (netbios.Netbios(reset) != 0) continue;

    std::array<std::uint8_t, kAdapterStatusSize> status{};
    NetbiosRequest adapterStatus;
    adapterStatus.command = kNcbAstat;
    adapterStatus.lanaNumber = lana;
    adapterStatus.buffer = status.data();
    adapterStatus.length = kAdapterStatusSize;
    adapterStatus.callName[0] = '*';
    if (netbios.Netbios(adapterStatus) != 0) continue;

    std::memcpy(address.data(), status.data(), address.size());
    if (!IsZero(address)) return true;
  }
  return false;
}

}  // namespace tarnix
