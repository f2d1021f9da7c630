#pragma once
// COM as the launcher's threads use it: a thread that calls the shell or the
// URL moniker joins a single-threaded apartment for that call only, and the
// progress callback answers QueryInterface as COM's identity rules ask.

#include <array>
#include <atomic>
#include <cstdint>

namespace tarnix {

// HRESULTs of the COM calls below, named so that the logic needs no Windows
// header; com_win.cpp holds each to the system's headers.
inline constexpr long kComOk = 0;                                                // S_OK
inline constexpr long kComAlreadyInitialized = 1;                                // S_FALSE
inline constexpr long kComFailed = static_cast<std::int32_t>(0x80004005u);       // E_FAIL
inline constexpr long kComNoInterface = static_cast<std::int32_t>(0x80004002u);  // E_NOINTERFACE
inline constexpr long kComNullPointer = static_cast<std::int32_t>(0x80004003u);  // E_POINTER

// CoInitializeEx's flags: an apartment of the thread's own, without OLE1's
// DDE, which the shell would otherwise use to talk to other programs.
inline constexpr std::uint32_t kCoInitApartmentThreaded = 0x2;  // COINIT_APARTMENTTHREADED
inline constexpr std::uint32_t kCoInitDisableOle1Dde = 0x4;     // COINIT_DISABLE_OLE1DDE

// What a thread needs of the COM library.
class ComLibrary {
 public:
  virtual ~ComLibrary() = default;
  // CoInitializeEx(nullptr, kCoInitApartmentThreaded | kCoInitDisableOle1Dde):
  // its result; kComFailed when COM cannot be reached at all.
  virtual long InitializeCom() = 0;
  // CoUninitialize.
  virtual void UninitializeCom() = 0;
};

// The calling thread inside a single-threaded apartment for the scope. A
// failed join (COM missing, the thread already in a multi-threaded
// apartment) is no reason to stop: the thread goes on without, as it always
// did. The thread leaves again only when it joined (S_OK, or S_FALSE when it
// was inside already), since every successful join needs its own leave.
// The scope holds the one call that needs COM, and no wait that leaves sent
// messages waiting: a thread in a single-threaded apartment must handle
// messages while it waits, or a broadcast sent to it (an installer's
// WM_SETTINGCHANGE, a log-off) hangs the sender, and with it whoever waits
// for the sender. The one wait inside a scope, the download thread's for a
// stalled download's abort under way (StallWatch::Finish), handles the
// messages sent to the thread and lasts 5 s at most.
class ComApartment {
 public:
  explicit ComApartment(ComLibrary& com);
  ~ComApartment();
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  ComLibrary& com_;
  bool joined_;
};

// A COM interface id (GUID), field by field.
struct InterfaceId {
  std::uint32_t data1 = 0;
  std::uint16_t data2 = 0;
  std::uint16_t data3 = 0;
  std::array<std::uint8_t, 8> data4{};
  friend constexpr bool operator==(const InterfaceId&, const InterfaceId&) = default;
};

inline constexpr InterfaceId kIidUnknown{
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr InterfaceId kIidBindStatusCallback{
    0x79EAC9C1, 0xBAF9, 0x11CE, {0x8C, 0x82, 0x00, 0xAA, 0x00, 0x4B, 0xA9, 0x0B}};
inline constexpr InterfaceId kIidHttpNegotiate{
    0x79EAC9D2, 0xBAF9, 0x11CE, {0x8C, 0x82, 0x00, 0xAA, 0x00, 0x4B, 0xA9, 0x0B}};
inline constexpr InterfaceId kIidServiceProvider{
    0x6D5140C1, 0x7436, 0x11CE, {0x80, 0x34, 0x00, 0xAA, 0x00, 0x60, 0x09, 0xFA}};
inline constexpr InterfaceId kIidWindowForBindingUI{
    0x79EAC9D5, 0xBAFA, 0x11CE, {0x8C, 0x82, 0x00, 0xAA, 0x00, 0x4B, 0xA9, 0x0B}};
inline constexpr InterfaceId kIidHttpSecurity{
    0x79EAC9D7, 0xBAFA, 0x11CE, {0x8C, 0x82, 0x00, 0xAA, 0x00, 0x4B, 0xA9, 0x0B}};

// The interface pointers of a binding's status callback, one per interface
// it offers. IHttpSecurity derives from IWindowForBindingUI, so one pointer
// serves both.
struct BindCallbackInterfaces {
  void* callback = nullptr;         // IUnknown and IBindStatusCallback: the object's identity
  void* httpNegotiate = nullptr;    // IHttpNegotiate
  void* serviceProvider = nullptr;  // IServiceProvider
  void* httpSecurity = nullptr;     // IHttpSecurity and IWindowForBindingUI
};

// QueryInterface of a binding's status callback: IUnknown and
// IBindStatusCallback give `self.callback`, IHttpNegotiate, IServiceProvider,
// IWindowForBindingUI and IHttpSecurity their pointers, each with S_OK;
// anything else a null pointer and E_NOINTERFACE (never a pointer left as it
// was, which a caller might use). A null `object` is E_POINTER.
long QueryBindStatusCallback(const InterfaceId& asked, const BindCallbackInterfaces& self,
                             void** object);

// IServiceProvider::QueryService of the same object. The moniker asks for the
// services IHttpNegotiate, IWindowForBindingUI and IHttpSecurity, whose
// service ids are their interface ids; the callback itself provides each, so
// such a service answers `asked` as QueryInterface does. Any other service
// (IAuthenticate among them: without it the system prompts for credentials
// itself, owned by the window) is E_NOINTERFACE with a null pointer.
long QueryBindStatusCallbackService(const InterfaceId& service, const InterfaceId& asked,
                                    const BindCallbackInterfaces& self, void** object);

// The reference count of a COM object on the heap whose interface pointers
// share one count. Its creator holds the first reference, every interface
// handed out (QueryInterface, QueryService) one more. The Release that takes
// the count to 0 calls `destroy(owner)`, which frees the object: that Release
// may come on another thread, after the call that handed the object out has
// returned (the URL moniker's binding, held by a stalled download's abort or
// by the moniker's own threads, releases its callback whenever it ends).
class ComReferenceCount {
 public:
  using Destroy = void (*)(void* owner);
  ComReferenceCount(Destroy destroy, void* owner) : destroy_(destroy), owner_(owner) {}
  ComReferenceCount(const ComReferenceCount&) = delete;
  ComReferenceCount& operator=(const ComReferenceCount&) = delete;

  // The count after the call, as AddRef and Release return it.
  std::uint32_t AddRef() { return ++count_; }
  // The object may be gone when this returns 0: the caller touches nothing of
  // it then.
  std::uint32_t Release() {
    const Destroy destroy = destroy_;
    void* const owner = owner_;
    const std::uint32_t left = --count_;
    if (left == 0) destroy(owner);
    return left;
  }

 private:
  const Destroy destroy_;
  void* const owner_;
  std::atomic<std::uint32_t> count_{1};
};

}  // namespace tarnix
