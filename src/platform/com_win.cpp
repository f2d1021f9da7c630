#include "platform/com_win.h"

#include <objbase.h>
#include <urlmon.h>

#include "platform/win_handles_win.h"

namespace tarnix::win {
namespace {

static_assert(kComOk == S_OK);
static_assert(kComAlreadyInitialized == S_FALSE);
static_assert(kComFailed == E_FAIL);
static_assert(kComNoInterface == E_NOINTERFACE);
static_assert(kComNullPointer == E_POINTER);
static_assert(kCoInitApartmentThreaded == COINIT_APARTMENTTHREADED);
static_assert(kCoInitDisableOle1Dde == COINIT_DISABLE_OLE1DDE);

constexpr bool SameId(const InterfaceId& mirrored, const GUID& system) {
  if (mirrored.data1 != system.Data1 || mirrored.data2 != system.Data2 ||
      mirrored.data3 != system.Data3)
    return false;
  for (std::size_t i = 0; i < mirrored.data4.size(); ++i) {
    if (mirrored.data4[i] != system.Data4[i]) return false;
  }
  return true;
}
static_assert(SameId(kIidUnknown, __uuidof(IUnknown)));
static_assert(SameId(kIidBindStatusCallback, __uuidof(IBindStatusCallback)));
static_assert(SameId(kIidHttpNegotiate, __uuidof(IHttpNegotiate)));
static_assert(SameId(kIidServiceProvider, __uuidof(IServiceProvider)));
static_assert(SameId(kIidWindowForBindingUI, __uuidof(IWindowForBindingUI)));
static_assert(SameId(kIidHttpSecurity, __uuidof(IHttpSecurity)));

}  // namespace

void* ComTaskMemAlloc(std::size_t bytes) {
  using AllocateFn = decltype(&::CoTaskMemAlloc);
  static const AllocateFn allocate =
      LookUpExport<AllocateFn>(LoadSystemLibrary(L"ole32.dll").Release(), "CoTaskMemAlloc");
  return allocate != nullptr ? allocate(bytes) : nullptr;
}

long Win32ComLibrary::InitializeCom() {
  if (initialize_ == nullptr) {
    HMODULE ole32 = LoadSystemLibrary(L"ole32.dll").Release();
    initialize_ = LookUpExport<InitializeFn>(ole32, "CoInitializeEx");
    uninitialize_ = LookUpExport<UninitializeFn>(ole32, "CoUninitialize");
    if (initialize_ == nullptr || uninitialize_ == nullptr) {
      initialize_ = nullptr;
      return E_FAIL;
    }
  }
  return initialize_(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
}

void Win32ComLibrary::UninitializeCom() {
  if (uninitialize_ != nullptr) uninitialize_();
}

InterfaceId InterfaceIdOf(REFIID iid) {
  InterfaceId id;
  id.data1 = iid.Data1;
  id.data2 = iid.Data2;
  id.data3 = iid.Data3;
  for (std::size_t i = 0; i < id.data4.size(); ++i) id.data4[i] = iid.Data4[i];
  return id;
}

}  // namespace tarnix::win
