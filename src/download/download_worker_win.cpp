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
#include "platform/message_box_win.h"
#include "platform/thread_win.h"
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

using UrlDownloadToFileFn = decltype(&::URLDownloadToFileW);
using DeleteUrlCacheEntryFn = decltype(&::DeleteUrlCacheEntryW);

class Win32ModulePath final : public ModulePathSource {
 public:
  std::uint32_t ModuleFileName(wchar_t* buffer, std::uint32_t size) override {
    return ::GetModuleFileNameW(nullptr, buffer, size);
  }
};

class ProgressBarSink final : public ProgressSink {
 public:
  void SetPos(int position) override { progressBar.SetPos(position); }
  void UpdateWindow() override { progressBar.UpdateWindow(); }
};

// The download's bind status callback and the stall guard in front of it,
// on the heap: the guard is what urlmon holds, and a reference it keeps past
// URLDownloadToFileW's return must still find both. The last Release, on
// whichever thread, frees them.
struct BindCallbacks {
  BindCallbacks() : callback(&Free, this), guard(callback) {}
  static void Free(void* self) { delete static_cast<BindCallbacks*>(self); }

  CBindCBHttpCallback callback;
  StallGuard guard;
};

class Win32DownloadPlatform final : public DownloadPlatform {
 public:
  long DownloadToFile(const std::wstring& url, const std::wstring& path,
                      TransferCounts* counts) override {
    // urlmon is not always taken from the system folder, so it is loaded from
    // there by hand; a system without it fails the download.
    UniqueModule urlmon = LoadSystemLibrary(L"urlmon.dll");
    auto download = LookUpExport<UrlDownloadToFileFn>(urlmon.Get(), "URLDownloadToFileW");
    if (download == nullptr) return E_FAIL;
    // This thread's reference is the first one; urlmon holds the guard,
    // which passes every call through.
    auto* callbacks = new BindCallbacks;
    StallGuard& guard = callbacks->guard;
    guard.Start();
    HRESULT result = download(nullptr, url.c_str(), path.c_str(), 0, &guard);
    guard.Stop();
    *counts = callbacks->callback.Counts();
    guard.Release();
    // Worker threads of urlmon may outlive the call; the library stays loaded.
    static_cast<void>(urlmon.Release());
    return result;
  }
  void DeleteCacheEntry(const std::wstring& url) override { DeleteUrlCacheEntryOnSystem(url); }
  void SetProgress(int position) override { progressBar.SetPos(position); }
  void Pause(std::uint32_t milliseconds) override { ::Sleep(milliseconds); }
  std::uint32_t TickMs() override { return ::GetTickCount(); }
  bool QueryFileSize(const std::wstring& path, std::uint64_t* size) override {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
    *size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
  }
  void RemoveFile(const std::wstring& path) override { ::DeleteFileW(path.c_str()); }
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
  DownloadJob.shippedPath = ShippedInstallerPath(LauncherFilePath(module));
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
STDMETHODIMP CBindCBHttpCallback::OnStartBinding(DWORD, IBinding*) { return E_NOTIMPL; }
STDMETHODIMP CBindCBHttpCallback::GetPriority(LONG*) { return E_NOTIMPL; }
STDMETHODIMP CBindCBHttpCallback::OnLowResource(DWORD) { return E_NOTIMPL; }

STDMETHODIMP CBindCBHttpCallback::OnProgress(ULONG ulProgress, ULONG ulProgressMax,
                                             ULONG ulStatusCode, LPCWSTR) {
  if (ulProgress > counts_.received) counts_.received = ulProgress;
  if (ulProgressMax > counts_.announced) counts_.announced = ulProgressMax;
  switch (ulStatusCode) {
    case BINDSTATUS_BEGINDOWNLOADDATA:
    case BINDSTATUS_DOWNLOADINGDATA:
    case BINDSTATUS_ENDDOWNLOADDATA:
      ShowTransferFigures(ulProgress, ulProgressMax);
      break;
    default:  // the steps before the data (finding, connecting, redirecting) count no bytes
      break;
  }
  ProgressBarSink bar;
  return ReportProgress(bar, ulProgress, ulProgressMax);
}

// The figures count from the attempt's first data, so that the time spent
// connecting is no part of the rate. Every attempt starts from byte 0 of the
// file today, with nothing already there.
void CBindCBHttpCallback::ShowTransferFigures(ULONG received, ULONG total) {
  const std::uint32_t now = ::GetTickCount();
  if (!figures_) {
    figures_.emplace(UserUiLanguage());
    figures_->StartAttempt(now, 0, total);
  }
  if (std::optional<std::wstring> line = figures_->Update(now, received)) {
    transferLine.SetText(line->c_str());
  }
}

STDMETHODIMP CBindCBHttpCallback::OnStopBinding(HRESULT, LPCWSTR) { return E_NOTIMPL; }
// Every attempt asks the server: the URL cache could hand back a captive
// portal's page or an older installer again and again. Neither
// BINDF_SILENTOPERATION nor BINDF_NO_UI: the system's credentials prompt
// must be allowed.
STDMETHODIMP CBindCBHttpCallback::GetBindInfo(DWORD* flags, BINDINFO* info) {
  if (flags == nullptr || info == nullptr) return E_INVALIDARG;
  *flags = BINDF_GETNEWESTVERSION | BINDF_NOWRITECACHE;
  // A plain GET with nothing extra: every field zero (BINDVERB_GET is 0),
  // within the size the caller gave.
  const ULONG size = info->cbSize;
  std::memset(info, 0, size < sizeof(BINDINFO) ? size : sizeof(BINDINFO));
  info->cbSize = size;
  return S_OK;
}
STDMETHODIMP CBindCBHttpCallback::OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) {
  return E_NOTIMPL;
}
STDMETHODIMP CBindCBHttpCallback::OnObjectAvailable(REFIID, IUnknown*) { return E_NOTIMPL; }

// The request goes out as urlmon builds it.
STDMETHODIMP CBindCBHttpCallback::BeginningTransaction(LPCWSTR, LPCWSTR, DWORD,
                                                       LPWSTR* additionalHeaders) {
  if (additionalHeaders != nullptr) *additionalHeaders = nullptr;
  return S_OK;
}

// Told once per response that the transfer goes on with (the last one
// counts: after a credentials prompt, the answer to the repeated request).
STDMETHODIMP CBindCBHttpCallback::OnResponse(DWORD status, LPCWSTR, LPCWSTR,
                                             LPWSTR* additionalRequestHeaders) {
  counts_.httpStatus = status;
  if (additionalRequestHeaders != nullptr) *additionalRequestHeaders = nullptr;
  return S_OK;
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
  return RefuseSecurityProblem(problem);
}

}  // namespace tarnix::win
