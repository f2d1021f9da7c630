#include "download/download_worker_win.h"

#include <wininet.h>

#include <cstring>

#include "download/bind_answers.h"
#include "download/download_dialog_win.h"
#include "download/download_state_win.h"
#include "download/install_run_win.h"
#include "download/installer_trust_win.h"
#include "download/progress.h"
#include "download/shipped_installer.h"
#include "download/stall_guard_win.h"
#include "platform/com_win.h"
#include "platform/file_identity_win.h"
#include "platform/launch_log.h"
#include "platform/message_box_win.h"
#include "platform/thread_win.h"
#include "platform/tick_count.h"
#include "platform/ui_text_win.h"
#include "platform/win_handles_win.h"

namespace tarnix::win {
namespace {

// The progress callback's answers, which the portable code mirrors.
static_assert(kResultOk == S_OK);
static_assert(kResultFalse == S_FALSE);
static_assert(BINDVERB_GET == 0);
static_assert(kResultAbort == E_ABORT);
static_assert(kResultInvalidArg == E_INVALIDARG);
static_assert(sizeof(HWND) == sizeof(std::uintptr_t));

// The subject common name that the installer's signing certificate must
// carry; empty when this build runs unsigned installers.
constexpr wchar_t kExpectedInstallerSigner[] = L"" TARNIX_INSTALLER_SIGNER;

using CreateUrlMonikerFn = decltype(&::CreateURLMoniker);
using CreateAsyncBindCtxFn = decltype(&::CreateAsyncBindCtx);
using DeleteUrlCacheEntryFn = decltype(&::DeleteUrlCacheEntryW);

class Win32ModulePath final : public ModulePathSource {
 public:
  std::uint32_t ModuleFileName(wchar_t* buffer, std::uint32_t size) override {
    return ::GetModuleFileNameW(nullptr, buffer, size);
  }
};

// The body is read from the binding's stream in pieces of this size.
constexpr std::size_t kBodyReadChunk = 65536;

class ProgressBarSink final : public ProgressSink {
 public:
  void SetPos(int position) override { progressBar.SetPos(position); }
  void UpdateWindow() override { progressBar.UpdateWindow(); }
};

// The download's bind status callback and the stall guard in front of it,
// on the heap: the guard is what urlmon holds, and a reference it keeps past
// the transfer's return must still find both. The last Release, on
// whichever thread, frees them.
struct BindCallbacks {
  BindCallbacks() : callback(&Free, this), guard(callback) {}
  static void Free(void* self) { delete static_cast<BindCallbacks*>(self); }

  CBindCBHttpCallback callback;
  StallGuard guard;
};

// The partial file, open for writing at its end; closed with the object.
class Win32DataWriter final : public DataWriter {
 public:
  explicit Win32DataWriter(UniqueFile file) : file_(std::move(file)) {}
  bool Write(const std::uint8_t* bytes, std::size_t size) override {
    // WriteFile may write less than asked (a full disk): the rest is written
    // again until all is written or it writes nothing.
    while (size > 0) {
      const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
      DWORD written = 0;
      if (!::WriteFile(file_.Get(), bytes, chunk, &written, nullptr) || written == 0) return false;
      bytes += written;
      size -= written;
    }
    return true;
  }
  bool Flush() override { return ::FlushFileBuffers(file_.Get()) != FALSE; }
  bool Size(std::uint64_t* size) override {
    LARGE_INTEGER value;
    if (!::GetFileSizeEx(file_.Get(), &value) || value.QuadPart < 0) return false;
    *size = static_cast<std::uint64_t>(value.QuadPart);
    return true;
  }
  bool Truncate() override {
    LARGE_INTEGER start = {};
    return ::SetFilePointerEx(file_.Get(), start, nullptr, FILE_BEGIN) &&
           ::SetEndOfFile(file_.Get());
  }

 private:
  UniqueFile file_;
};

std::uint64_t Join(DWORD high, DWORD low) { return (static_cast<std::uint64_t>(high) << 32) | low; }

constexpr wchar_t kAbortWindowClass[] = L"TarnixDownloadAbort";

LRESULT CALLBACK AbortWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != kAbortBindingMessage) return ::DefWindowProcW(window, message, wParam, lParam);
  auto* callback =
      reinterpret_cast<CBindCBHttpCallback*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (callback != nullptr) callback->AbortBinding();
  return 0;
}

// A message-only window of the download thread, through which the stall
// watch's thread asks for the binding's abort: the binding may be called on
// its own thread only, and a window's message reaches it from any message
// loop that runs there (a prompt's modal loop drops a thread's own messages).
UniqueWindow CreateAbortWindow(CBindCBHttpCallback& callback) {
  const HINSTANCE module = ::GetModuleHandleW(nullptr);
  static const ATOM windowClass = [module] {
    WNDCLASSW description = {};
    description.lpfnWndProc = &AbortWindowProc;
    description.hInstance = module;
    description.lpszClassName = kAbortWindowClass;
    return ::RegisterClassW(&description);
  }();
  if (windowClass == 0) return UniqueWindow();
  UniqueWindow window(::CreateWindowExW(0, kAbortWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                        nullptr, module, nullptr));
  if (window)
    ::SetWindowLongPtrW(window.Get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&callback));
  return window;
}

// The binding's calls come to this thread through its apartment's messages:
// they are handled until the binding has stopped. Once its abort has been
// asked for, the binding gets kStallAbortWaitMs to stop; one that does not
// is left. A WM_QUIT (never posted to this thread by the launcher) is put
// back for whoever loops next, and the binding is aborted.
void HandleMessagesUntilStopped(CBindCBHttpCallback& callback) {
  while (!callback.Stopped()) {
    DWORD wait = INFINITE;
    if (callback.AbortRequested()) {
      wait = TicksLeft(callback.AbortTick(), ::GetTickCount(), kStallAbortWaitMs);
      if (wait == 0) return;
    }
    if (::MsgWaitForMultipleObjects(0, nullptr, FALSE, wait, QS_ALLINPUT) == WAIT_FAILED) {
      callback.AbortBinding();
      return;
    }
    MSG message;
    while (!callback.Stopped() && ::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        ::PostQuitMessage(static_cast<int>(message.wParam));
        callback.AbortBinding();
        return;
      }
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
  }
}

// One asynchronous binding of `url` to a stream whose body the callback
// pulls: the binding's result, once it has stopped.
HRESULT BindAndWait(HMODULE urlmon, const std::wstring& url, StallGuard& guard,
                    CBindCBHttpCallback& callback) {
  auto createMoniker = LookUpExport<CreateUrlMonikerFn>(urlmon, "CreateURLMoniker");
  auto createContext = LookUpExport<CreateAsyncBindCtxFn>(urlmon, "CreateAsyncBindCtx");
  if (createMoniker == nullptr || createContext == nullptr) return E_FAIL;
  IMoniker* moniker = nullptr;
  HRESULT result = createMoniker(nullptr, url.c_str(), &moniker);
  if (FAILED(result) || moniker == nullptr) return FAILED(result) ? result : E_FAIL;
  IBindCtx* context = nullptr;
  result = createContext(0, &guard, nullptr, &context);
  if (SUCCEEDED(result) && context != nullptr) {
    const UniqueWindow abortWindow = CreateAbortWindow(callback);
    if (!abortWindow)
      LogLine(L"download: no window to abort a stalled transfer through, error " +
              std::to_wstring(::GetLastError()) + L"; no stall limit for this attempt");
    guard.Start(abortWindow.Get());
    void* stream = nullptr;
    result = moniker->BindToStorage(context, nullptr, __uuidof(IStream), &stream);
    if (stream != nullptr) static_cast<IStream*>(stream)->Release();
    if (result == MK_S_ASYNCHRONOUS || (result == S_OK && !callback.Stopped())) {
      HandleMessagesUntilStopped(callback);
      result = callback.Stopped() ? callback.StopResult() : E_ABORT;
    } else if (SUCCEEDED(result)) {
      result = callback.StopResult();
    }
    guard.Stop();
    context->Release();
  } else if (SUCCEEDED(result)) {
    result = E_FAIL;
  }
  moniker->Release();
  return result;
}

class Win32DownloadPlatform final : public DownloadPlatform {
 public:
  long Transfer(const std::wstring& url, TransferSink& sink, TransferCounts* counts) override {
    // urlmon is not always taken from the system folder, so it is loaded from
    // there by hand; a system without it fails the download.
    UniqueModule urlmon = LoadSystemLibrary(L"urlmon.dll");
    if (!urlmon.IsValid()) return E_FAIL;
    // This thread's reference is the first one; urlmon holds the guard,
    // which passes every call through.
    auto* callbacks = new BindCallbacks;
    callbacks->callback.SetSink(&sink);
    HRESULT result = BindAndWait(urlmon.Get(), url, callbacks->guard, callbacks->callback);
    *counts = callbacks->callback.Counts();
    // A reference that urlmon keeps past this point must not reach the
    // attempt, which ends with this call.
    callbacks->callback.SetSink(nullptr);
    callbacks->guard.Release();
    // Worker threads of urlmon may outlive the call; the library stays loaded.
    static_cast<void>(urlmon.Release());
    return result;
  }
  void DeleteCacheEntry(const std::wstring& url) override { DeleteUrlCacheEntryOnSystem(url); }
  void SetProgress(int position) override { progressBar.SetPos(position); }
  void ShowStart(std::uint64_t alreadyThere, std::uint64_t total) override {
    const std::wstring line =
        alreadyThere == 0 ? std::wstring()
                          : FormatTransferLine(UserUiLanguage(), alreadyThere, total, std::nullopt);
    transferLine.SetText(line.c_str());
  }
  void Pause(std::uint32_t milliseconds) override { ::Sleep(milliseconds); }
  std::uint32_t TickMs() override { return ::GetTickCount(); }
  bool QueryFileSize(const std::wstring& path, std::uint64_t* size) override {
    std::uint64_t ignored = 0;
    return QueryFile(path, size, &ignored);
  }
  void RemoveFile(const std::wstring& path) override { ::DeleteFileW(path.c_str()); }

  // A folder of the name is no file.
  bool QueryFile(const std::wstring& path, std::uint64_t* size,
                 std::uint64_t* lastWriteTime) override {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return false;
    *size = Join(data.nFileSizeHigh, data.nFileSizeLow);
    *lastWriteTime = Join(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime);
    return true;
  }
  std::uint64_t CurrentFileTime() override {
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    return Join(now.dwHighDateTime, now.dwLowDateTime);
  }
  bool ReadSmallFile(const std::wstring& path, std::size_t limit, std::string* bytes) override {
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size;
    if (!file.IsValid() || !::GetFileSizeEx(file.Get(), &size) || size.QuadPart < 0 ||
        static_cast<std::uint64_t>(size.QuadPart) > limit)
      return false;
    std::string text(static_cast<std::size_t>(size.QuadPart), '\0');
    std::size_t done = 0;
    // ReadFile may return fewer bytes than asked; zero means the end.
    while (done < text.size()) {
      DWORD read = 0;
      if (!::ReadFile(file.Get(), text.data() + done, static_cast<DWORD>(text.size() - done), &read,
                      nullptr) ||
          read == 0)
        return false;
      done += read;
    }
    *bytes = std::move(text);
    return true;
  }
  bool WriteSmallFile(const std::wstring& path, std::string_view bytes) override {
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) return false;
    Win32DataWriter writer(std::move(file));
    return writer.Write(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()) &&
           writer.Flush();
  }
  bool DeleteFile(const std::wstring& path) override {
    if (::DeleteFileW(path.c_str())) return true;
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
  std::uint32_t MoveReplacing(const std::wstring& from, const std::wstring& to) override {
    if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      return 0;
    const DWORD error = ::GetLastError();
    return error != 0 ? error : ERROR_GEN_FAILURE;
  }
  // Readers may look (a scanner), nobody else writes: the installation's
  // lock keeps other launchers away, and a file of the name that someone
  // else holds for writing fails the open. Writes go to the end.
  std::unique_ptr<DataWriter> OpenForWriting(const std::wstring& path,
                                             std::uint32_t* error) override {
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER end = {};
    if (!file.IsValid() || !::SetFilePointerEx(file.Get(), end, nullptr, FILE_END)) {
      const DWORD last = ::GetLastError();
      *error = last != 0 ? last : ERROR_GEN_FAILURE;
      return nullptr;
    }
    return std::make_unique<Win32DataWriter>(std::move(file));
  }
  bool QueryFileIdentity(const std::wstring& path, FileIdentity* identity) override {
    return QueryFileIdentityOnSystem(path, identity);
  }
  void SignalFinished(InstallerFile installer, const std::wstring& path) override {
    // The handle moves from this thread's trust adapter, which ends with the
    // thread, to the process-wide owner that the installer run closes.
    checkedInstaller.Reset(reinterpret_cast<HANDLE>(installer.Release()));
    checkedInstallerPath = path;
    downloadFinished.SetEvent();
  }
  void ShowMessage(UiText text) override { ShowFailureMessage(text); }
  long InitializeCom() override { return com_.InitializeCom(); }
  void UninitializeCom() override { com_.UninitializeCom(); }

 private:
  Win32ComLibrary com_;
};

}  // namespace

void DeleteUrlCacheEntryOnSystem(const std::wstring& url) {
  // WinINet keeps the cache; once loaded it stays, as its threads may outlive a call.
  static const DeleteUrlCacheEntryFn deleteEntry = LookUpExport<DeleteUrlCacheEntryFn>(
      LoadSystemLibrary(L"wininet.dll").Release(), "DeleteUrlCacheEntryW");
  if (deleteEntry != nullptr) deleteEntry(url.c_str());
}

void StartDownload(CUseThreadDownloadDlg& dialog) {
  progressBar.SetRange32(kProgressRangeLow, kProgressRangeHigh);
  progressBar.SetPos(0);
  DownloadJob.url = dialog.m_strUrl;
  DownloadJob.path = dialog.m_strPath;
  Win32ModulePath module;
  DownloadJob.launcherPath = LauncherFilePath(module);
  DownloadJob.shippedPath = ShippedInstallerPath(DownloadJob.launcherPath);
  // Without the event the two threads cannot hand over; starting them would
  // only let the installer run before its download ended.
  if (!downloadFinished.IsValid()) {
    ShowFailureMessage(kDownloadThreadFailedText);
    return;
  }
  downloadFinished.ResetEvent();
  if (!BeginWorkerThread(&DownloadThreadProc, &DownloadJob))
    ShowFailureMessage(kDownloadThreadFailedText);
  installThread = BeginWaitableWorkerThread(&InstallThreadProc, &dialog.Launch());
}

unsigned DownloadThreadProc(void* parameter) {
  Win32DownloadPlatform platform;
  Win32InstallerTrust trust;
  RunDownload(*static_cast<const DownloadJobRecord*>(parameter), kExpectedInstallerSigner, platform,
              trust);
  return 0;
}

BindCallbackInterfaces CBindCBHttpCallback::Interfaces() {
  BindCallbackInterfaces interfaces;
  interfaces.callback = outer_;
  interfaces.httpNegotiate = static_cast<IHttpNegotiate*>(this);
  interfaces.serviceProvider = static_cast<IServiceProvider*>(this);
  // IWindowForBindingUI is IHttpSecurity's base: the same pointer.
  interfaces.httpSecurity = static_cast<IHttpSecurity*>(this);
  return interfaces;
}

// Every interface handed out carries a reference, which its holder releases.
STDMETHODIMP CBindCBHttpCallback::QueryInterface(REFIID riid, void** object) {
  HRESULT result = QueryBindStatusCallback(InterfaceIdOf(riid), Interfaces(), object);
  if (result == S_OK) references_.AddRef();
  return result;
}
STDMETHODIMP CBindCBHttpCallback::QueryService(REFGUID service, REFIID riid, void** object) {
  HRESULT result = QueryBindStatusCallbackService(InterfaceIdOf(service), InterfaceIdOf(riid),
                                                  Interfaces(), object);
  if (result == S_OK) references_.AddRef();
  return result;
}
STDMETHODIMP_(ULONG) CBindCBHttpCallback::AddRef() { return references_.AddRef(); }
STDMETHODIMP_(ULONG) CBindCBHttpCallback::Release() { return references_.Release(); }
STDMETHODIMP CBindCBHttpCallback::OnStartBinding(DWORD, IBinding* binding) {
  if (binding != nullptr && binding_ == nullptr) {
    binding_ = binding;
    binding_->AddRef();
  }
  return S_OK;
}

void CBindCBHttpCallback::AbortBinding() {
  if (!abortRequested_) {
    abortRequested_ = true;
    abortTick_ = ::GetTickCount();
  }
  if (binding_ == nullptr) return;
  // OnStopBinding may come inside Abort and let go of binding_.
  IBinding* binding = binding_;
  binding->AddRef();
  const HRESULT result = binding->Abort();
  binding->Release();
  if (FAILED(result))
    LogLine(L"download: the binding's abort failed, " + LogHex(static_cast<std::uint32_t>(result)));
}
STDMETHODIMP CBindCBHttpCallback::GetPriority(LONG*) { return E_NOTIMPL; }
STDMETHODIMP CBindCBHttpCallback::OnLowResource(DWORD) { return E_NOTIMPL; }

// The bar and the line under it show the whole file: after a resume the
// bytes already there count.
STDMETHODIMP CBindCBHttpCallback::OnProgress(ULONG ulProgress, ULONG ulProgressMax,
                                             ULONG ulStatusCode, LPCWSTR) {
  if (ulProgress > counts_.received) counts_.received = ulProgress;
  if (ulProgressMax > counts_.announced) counts_.announced = ulProgressMax;
  // A binding left running after its attempt (its abort never ended it)
  // shows nothing: the bar belongs to the next attempt.
  if (sink_ == nullptr) return S_OK;
  const TransferSink::FileProgress file = sink_->Progress(ulProgress, ulProgressMax);
  std::uint64_t received = file.received;
  std::uint64_t total = file.total;
  switch (ulStatusCode) {
    case BINDSTATUS_BEGINDOWNLOADDATA:
    case BINDSTATUS_DOWNLOADINGDATA:
    case BINDSTATUS_ENDDOWNLOADDATA:
      ShowTransferFigures(received >= ulProgress ? received - ulProgress : 0, received, total);
      break;
    default:  // the steps before the data (finding, connecting, redirecting) count no bytes
      break;
  }
  while (total > 0xFFFFFFFFull) {
    total >>= 1;
    received >>= 1;
  }
  ProgressBarSink bar;
  return ReportProgress(bar, static_cast<std::uint32_t>(received),
                        static_cast<std::uint32_t>(total));
}

// The figures count from the attempt's first data, so that the time spent
// connecting is no part of the rate; the bytes already there (a resume) are
// shown but not counted in the rate.
void CBindCBHttpCallback::ShowTransferFigures(std::uint64_t alreadyThere, std::uint64_t received,
                                              std::uint64_t total) {
  const std::uint32_t now = ::GetTickCount();
  if (!figures_ || figuresBase_ != alreadyThere) {
    figures_.emplace(UserUiLanguage());
    figures_->StartAttempt(now, alreadyThere, total);
    figuresBase_ = alreadyThere;
  }
  if (std::optional<std::wstring> line = figures_->Update(now, received)) {
    transferLine.SetText(line->c_str());
  }
}

STDMETHODIMP CBindCBHttpCallback::OnStopBinding(HRESULT result, LPCWSTR) {
  stopped_ = true;
  stopResult_ = result;
  if (binding_ != nullptr) {
    binding_->Release();
    binding_ = nullptr;
  }
  return S_OK;
}
// Every attempt asks the server: the URL cache could hand back a captive
// portal's page or an older installer again and again. The binding is
// asynchronous and the body is pulled from its stream by OnDataAvailable, so
// that every byte reaches the partial file as it arrives (a binding to a
// file would keep it in a cache file until the end). Neither
// BINDF_SILENTOPERATION nor BINDF_NO_UI: the system's credentials prompt
// must be allowed.
STDMETHODIMP CBindCBHttpCallback::GetBindInfo(DWORD* flags, BINDINFO* info) {
  if (flags == nullptr || info == nullptr) return E_INVALIDARG;
  *flags = BINDF_ASYNCHRONOUS | BINDF_ASYNCSTORAGE | BINDF_PULLDATA | BINDF_GETNEWESTVERSION |
           BINDF_NOWRITECACHE;
  // A plain GET with nothing extra: every field zero (BINDVERB_GET is 0),
  // within the size the caller gave.
  const ULONG size = info->cbSize;
  std::memset(info, 0, size < sizeof(BINDINFO) ? size : sizeof(BINDINFO));
  info->cbSize = size;
  return S_OK;
}
// Reads what the stream holds now (E_PENDING: wait for the next call;
// S_FALSE: the end) and hands it to the attempt. A piece it cannot keep
// aborts the binding.
STDMETHODIMP CBindCBHttpCallback::OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM* medium) {
  if (medium == nullptr || medium->tymed != TYMED_ISTREAM || medium->pstm == nullptr) return S_OK;
  if (buffer_.empty()) buffer_.resize(kBodyReadChunk);
  for (;;) {
    ULONG read = 0;
    const HRESULT result =
        medium->pstm->Read(buffer_.data(), static_cast<ULONG>(buffer_.size()), &read);
    bytesRead_ += read;
    if (read > 0 && sink_ != nullptr && !sink_->Body(buffer_.data(), read)) {
      AbortBinding();
      return E_ABORT;
    }
    if (result != S_OK || read == 0) return S_OK;
  }
}
STDMETHODIMP CBindCBHttpCallback::OnObjectAvailable(REFIID, IUnknown*) { return E_NOTIMPL; }

// The request goes out as urlmon builds it, with the attempt's own headers
// (a range to resume) added in memory of COM's task allocator, which the
// caller frees.
STDMETHODIMP CBindCBHttpCallback::BeginningTransaction(LPCWSTR, LPCWSTR, DWORD,
                                                       LPWSTR* additionalHeaders) {
  if (additionalHeaders == nullptr) return E_INVALIDARG;
  *additionalHeaders = nullptr;
  const std::wstring headers = sink_ != nullptr ? sink_->RequestHeaders() : std::wstring();
  if (headers.empty()) return S_OK;
  const std::size_t bytes = (headers.size() + 1) * sizeof(wchar_t);
  auto* copy = static_cast<wchar_t*>(ComTaskMemAlloc(bytes));
  if (copy == nullptr) return E_OUTOFMEMORY;
  std::memcpy(copy, headers.c_str(), bytes);
  *additionalHeaders = copy;
  return S_OK;
}

// Told once per response that the transfer goes on with (the last one
// counts: after a credentials prompt, the answer to the repeated request).
STDMETHODIMP CBindCBHttpCallback::OnResponse(DWORD status, LPCWSTR responseHeaders, LPCWSTR,
                                             LPWSTR* additionalRequestHeaders) {
  counts_.httpStatus = status;
  if (additionalRequestHeaders != nullptr) *additionalRequestHeaders = nullptr;
  if (sink_ == nullptr) return AnswerResponse(status);
  return sink_->Response(status, responseHeaders != nullptr ? responseHeaders : L"");
}

// The prompt's owner is the dialog, a window of the main thread, which runs
// its modal loop all the while; the prompt's own modal loop runs on this
// thread. Cross-thread ownership attaches the two threads' input, which both
// loops keep handling. Closing the dialog while a prompt is up ends the
// process (the download thread with it).
STDMETHODIMP CBindCBHttpCallback::GetWindow(REFGUID, HWND* window) {
  if (prompts_ != nullptr) prompts_->PromptComing();
  std::uintptr_t dialog = reinterpret_cast<std::uintptr_t>(DownloadDialogWindow());
  std::uintptr_t answer = 0;
  HRESULT result = AnswerWindowRequest(dialog, window != nullptr ? &answer : nullptr);
  if (window != nullptr) *window = reinterpret_cast<HWND>(answer);
  return result;
}

STDMETHODIMP CBindCBHttpCallback::OnSecurityProblem(DWORD problem) {
  return AnswerSecurityProblem(problem);
}

}  // namespace tarnix::win
