#include "identity/adapter_address_win.h"

// clang-format off
#include <windows.h>
#include <iphlpapi.h>
// clang-format on

#include <cstddef>
#include <cstring>
#include <tuple>

namespace tarnix::win {
namespace {

// The portable reader walks IP_ADAPTER_INFO by these offsets; hold them to
// the platform's own record.
constexpr const AdapterInfoLayout& kLayout = kNativeAdapterInfoLayout;
// Everything up to the two lease times must match. The times are 64-bit in
// the system's record (648 bytes on i686, 704 on x86-64); MinGW's i686 header
// declares them 32-bit (640 bytes), which does not touch the fields we read.
static_assert(offsetof(IP_ADAPTER_INFO, LeaseObtained) == kLayout.recordSize - 16);
static_assert(sizeof(IP_ADAPTER_INFO) <= kLayout.recordSize);
static_assert(sizeof(void*) == kLayout.pointerSize);
static_assert(offsetof(IP_ADAPTER_INFO, AdapterName) == kLayout.nameOffset);
static_assert(offsetof(IP_ADAPTER_INFO, Address) == kLayout.addressOffset);
static_assert(offsetof(IP_ADAPTER_INFO, Type) == kLayout.typeOffset);
static_assert(sizeof(IP_ADAPTER_INFO::AdapterName) == kAdapterNameSize);
static_assert(sizeof(ModuleHandle) == sizeof(HMODULE));
static_assert(sizeof(ProcAddress) == sizeof(FARPROC));
static_assert(kErrorBufferOverflow == ERROR_BUFFER_OVERFLOW);
// The records hold 64-bit fields; the reader's storage of 64-bit words keeps
// them aligned.
static_assert(alignof(IP_ADAPTER_INFO) <= alignof(std::uint64_t));
static_assert(kIfTypeEthernet == MIB_IF_TYPE_ETHERNET);
static_assert(kIfTypePpp == MIB_IF_TYPE_PPP);

static_assert(kNcbEnum == NCBENUM);
static_assert(kNcbReset == NCBRESET);
static_assert(kNcbAstat == NCBASTAT);
static_assert(sizeof(LANA_ENUM) == kLanaEnumSize);
// The status buffer holds the adapter's status and up to 30 names.
static_assert(sizeof(ADAPTER_STATUS) + 30 * sizeof(NAME_BUFFER) == kAdapterStatusSize);
static_assert(sizeof(NCB::ncb_callname) == std::tuple_size_v<decltype(NetbiosRequest::callName)>);

using GetAdaptersInfoFunction = decltype(&::GetAdaptersInfo);

}  // namespace

std::uint32_t Win32AdapterList::SystemDirectory(wchar_t* buffer, std::uint32_t size) {
  return ::GetSystemDirectoryW(buffer, size);
}

ModuleHandle Win32AdapterList::LoadModule(const std::wstring& path) {
  return reinterpret_cast<ModuleHandle>(::LoadLibraryW(path.c_str()));
}

ProcAddress Win32AdapterList::FindExport(ModuleHandle module, const char* name) {
  return reinterpret_cast<ProcAddress>(::GetProcAddress(reinterpret_cast<HMODULE>(module), name));
}

std::uint32_t Win32AdapterList::GetAdaptersInfo(ProcAddress proc, std::uint8_t* buffer,
                                                std::uint32_t* size) {
  ULONG length = *size;
  auto getAdaptersInfo = reinterpret_cast<GetAdaptersInfoFunction>(proc);
  DWORD result = getAdaptersInfo(reinterpret_cast<PIP_ADAPTER_INFO>(buffer), &length);
  *size = length;
  return result;
}

void Win32AdapterList::ReleaseModule(ModuleHandle module) {
  ::FreeLibrary(reinterpret_cast<HMODULE>(module));
}

Win32NetbiosDriver::Win32NetbiosDriver()
    : library_(LoadSystemLibrary(L"netapi32.dll")),
      netbios_(LookUpExport<decltype(netbios_)>(library_.Get(), "Netbios")) {}

std::uint8_t Win32NetbiosDriver::Netbios(NetbiosRequest& request) {
  if (netbios_ == nullptr) return NRC_SYSTEM;  // NetBIOS is not available
  NCB ncb;
  std::memset(&ncb, 0, sizeof(ncb));
  ncb.ncb_command = request.command;
  ncb.ncb_lana_num = request.lanaNumber;
  ncb.ncb_buffer = request.buffer;
  ncb.ncb_length = request.length;
  std::memcpy(ncb.ncb_callname, request.callName.data(), sizeof(ncb.ncb_callname));
  return netbios_(&ncb);
}

}  // namespace tarnix::win
