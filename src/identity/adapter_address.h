#pragma once
// The hardware address of one network adapter, from the adapter list
// (ranked by connection data in the registry) or from NetBIOS.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "identity/identity_types.h"
#include "platform/registry.h"
#include "platform/win32_values.h"

namespace tarnix {

// ---------------------------------------------------------------------------
// Adapter list

using ModuleHandle = std::uintptr_t;  // HMODULE; 0 is none
using ProcAddress = std::uintptr_t;   // FARPROC; 0 is none

inline constexpr wchar_t kAdapterListLibrary[] = L"iphlpapi.dll";
inline constexpr char kAdapterListExport[] = "GetAdaptersInfo";
inline constexpr std::size_t kAdapterListRecords = 16;
// The list is read again into the size the call asks for, at most this many
// calls in all and never into more than kAdapterListMaxBytes.
inline constexpr int kAdapterListCalls = 4;
inline constexpr std::uint32_t kAdapterListMaxBytes = 1u << 20;
inline constexpr std::uint32_t kErrorBufferOverflow = 111;  // ERROR_BUFFER_OVERFLOW

// The OS calls of the adapter-list query.
class AdapterList {
 public:
  virtual ~AdapterList() = default;
  // GetSystemDirectoryW(buffer, size); returns the call's result.
  virtual std::uint32_t SystemDirectory(wchar_t* buffer, std::uint32_t size) = 0;
  // LoadLibraryW(path); 0 on failure.
  virtual ModuleHandle LoadModule(const std::wstring& path) = 0;
  // GetProcAddress(module, name); 0 on failure.
  virtual ProcAddress FindExport(ModuleHandle module, const char* name) = 0;
  // Calls the GetAdaptersInfo export found at `proc` with `buffer` and
  // `*size`; returns its result (0 on success, ERROR_BUFFER_OVERFLOW with the
  // size it needs in `*size` when the records do not fit). The records' Next
  // fields hold real addresses inside `buffer`, which is 8-byte aligned.
  virtual std::uint32_t GetAdaptersInfo(ProcAddress proc, std::uint8_t* buffer,
                                        std::uint32_t* size) = 0;
  // FreeLibrary.
  virtual void ReleaseModule(ModuleHandle module) = 0;
};

// Where the used fields of one IP_ADAPTER_INFO record lie.
struct AdapterInfoLayout {
  std::size_t recordSize;
  std::size_t pointerSize;    // of Next, at byte 0
  std::size_t nameOffset;     // AdapterName, 260 bytes
  std::size_t addressOffset;  // Address, 8 bytes
  std::size_t typeOffset;     // Type, 32-bit
};
inline constexpr std::size_t kAdapterNameSize = 260;
inline constexpr AdapterInfoLayout kAdapterInfoLayout32{648, 4, 8, 404, 416};
inline constexpr AdapterInfoLayout kAdapterInfoLayout64{704, 8, 12, 408, 420};
// The layout of the build's own platform.
inline constexpr const AdapterInfoLayout& kNativeAdapterInfoLayout =
    sizeof(void*) == 8 ? kAdapterInfoLayout64 : kAdapterInfoLayout32;

inline constexpr std::uint32_t kIfTypeEthernet = 6;  // MIB_IF_TYPE_ETHERNET
inline constexpr std::uint32_t kIfTypePpp = 23;      // MIB_IF_TYPE_PPP

// One record of the adapter list, as far as the ranking needs it.
struct AdapterRecord {
  std::string name;
  AdapterAddress address{};
  std::uint32_t type = 0;
};

// Walks the record chain in `buffer`, which the platform filled at address
// `bufferAddress`, from the record at its start. Next pointers are read in
// the layout's pointer width; one that does not leave room for the fields
// read inside the buffer ends the walk, and so does the
// buffer.size() / recordSize-th record (a chain that loops ends too).
std::vector<AdapterRecord> ParseAdapterRecords(std::span<const std::uint8_t> buffer,
                                               std::uint64_t bufferAddress,
                                               const AdapterInfoLayout& layout);

// ---------------------------------------------------------------------------
// Connection data in the registry (8-bit functions, HKEY_LOCAL_MACHINE)

inline constexpr char kNetworkClassKey[] =
    "System\\CurrentControlSet\\Control\\Network\\{4D36E972-E325-11CE-BFC1-08002BE10318}";

// The adapter's connection class, 0 (best) to 3: 0 for MediaSubType 1 on the
// PCI bus, 1 for MediaSubType 2, 2 for MediaSubType 1 elsewhere, 3 otherwise
// or when a key or value cannot be read.
int ClassifyAdapterConnection(Registry& registry, const std::string& adapterName);

// From the adapter list: the first adapter by default, replaced by a later
// Ethernet or PPP adapter of a strictly better class. The list is read into
// room for 16 records, and again into the size the call asks for while it
// does not fit (see kAdapterListCalls); a list that still does not fit is
// not ranked. `address` must arrive all zero. True when it ends non-zero;
// the address is untouched when the library cannot be loaded.
bool ReadAdapterAddressFromList(AdapterList& list, Registry& registry, AdapterAddress& address,
                                const AdapterInfoLayout& layout = kNativeAdapterInfoLayout);

// ---------------------------------------------------------------------------
// NetBIOS

inline constexpr std::uint8_t kNcbEnum = 0x37;   // NCBENUM
inline constexpr std::uint8_t kNcbReset = 0x32;  // NCBRESET
inline constexpr std::uint8_t kNcbAstat = 0x33;  // NCBASTAT
inline constexpr std::uint16_t kLanaEnumSize = 256;
inline constexpr std::uint16_t kAdapterStatusSize = 600;

// The fields of an NCB that the query sets; every other NCB field is zero.
struct NetbiosRequest {
  std::uint8_t command = 0;
  std::uint8_t lanaNumber = 0;
  std::uint8_t* buffer = nullptr;
  std::uint16_t length = 0;
  std::array<std::uint8_t, 16> callName{};
};

class NetbiosDriver {
 public:
  virtual ~NetbiosDriver() = default;
  // Netbios on an NCB built from `request`: 0 on success, a NetBIOS return
  // code otherwise (also when NetBIOS is not available).
  virtual std::uint8_t Netbios(NetbiosRequest& request) = 0;
};

// Asks the LAN adapters from the last enumerated to the first for their
// status. True when one reported a non-zero address (written to `address`).
bool ReadAdapterAddressFromNetbios(NetbiosDriver& netbios, AdapterAddress& address);

}  // namespace tarnix
