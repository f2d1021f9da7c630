#include "download/download_worker_win.h"

#include <atomic>

#include "download/download_dialog_win.h"
#include "download/download_state_win.h"
#include "download/install_run_win.h"
#include "download/installer_trust_win.h"
#include "download/progress.h"
#include "platform/message_box.h"
#include "platform/thread_win.h"
#include "platform/win_handles_win.h"

namespace tarnix {
namespace {

// The subject common name that the installer's signing certificate must
// carry; empty when this build runs unsigned installers.
constexpr wchar_t kExpectedInstallerSigner[] = L"" TARNIX_INSTALLER_SIGNER;

using UrlDownloadToFileFn = HRESULT(WINAPI*)(IUnknown*, LPCWSTR, LPCWSTR, DWORD,
                                             IBindStatusCallback*);

template <typename Fn>
Fn LookUp(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

constexpr DWORD kStallLimitMilliseconds = static_cast<DWORD>(TARNIX_DOWNLOAD_STALL_SECONDS) * 1000u;
constexpr DWORD kStallCheckMilliseconds = 1000;

// The download has no time-out of its own. This guard stands between
// urlmon and CBindCBHttpCallback: it passes every call through unchanged, so
// urlmon sees exactly the callback's answers, and on the side notes when data
// last arrived and keeps the binding. A timer of the system's thread pool
// aborts the binding when nothing has arrived for the stall limit; the
// download then returns a failure like any other.
class StallGuard final : public IBindStatusCallback {
 public:
  explicit StallGuard(IBindStatusCallback& inner) : inner_(inner) {}
  ~StallGuard() {
    Stop();
    if (IBinding* binding = binding_.exchange(nullptr)) binding->Release();
  }
  StallGuard(const StallGuard&) = delete;
  StallGuard& operator=(const StallGuard&) = delete;

  // Starts watching; false when the system gave no timer or the limit is 0
  // (the download then runs without a stall limit).
  bool Start() {
    if (kStallLimitMilliseconds == 0) return false;
    lastData_ = ::GetTickCount();
    return ::CreateTimerQueueTimer(&timer_, nullptr, &StallGuard::Check, this,
                                   kStallCheckMilliseconds, kStallCheckMilliseconds,
                                   WT_EXECUTEDEFAULT) != FALSE;
  }
  // Stops watching; returns after a running check has finished.
  void Stop() {
    if (timer_ != nullptr) ::DeleteTimerQueueTimer(nullptr, timer_, INVALID_HANDLE_VALUE);
    timer_ = nullptr;
  }

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    return inner_.QueryInterface(riid, object);
  }
  STDMETHODIMP_(ULONG) AddRef() override { return inner_.AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return inner_.Release(); }
  STDMETHODIMP OnStartBinding(DWORD reserved, IBinding* binding) override {
    if (binding != nullptr) {
      binding->AddRef();
      if (IBinding* old = binding_.exchange(binding)) old->Release();
    }
    return inner_.OnStartBinding(reserved, binding);
  }
  STDMETHODIMP GetPriority(LONG* priority) override { return inner_.GetPriority(priority); }
  STDMETHODIMP OnLowResource(DWORD reserved) override { return inner_.OnLowResource(reserved); }
  STDMETHODIMP OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode,
                          LPCWSTR statusText) override {
    lastData_ = ::GetTickCount();
    return inner_.OnProgress(progress, progressMax, statusCode, statusText);
  }
  STDMETHODIMP OnStopBinding(HRESULT result, LPCWSTR error) override {
    stopped_ = true;
    return inner_.OnStopBinding(result, error);
  }
  STDMETHODIMP GetBindInfo(DWORD* flags, BINDINFO* info) override {
    return inner_.GetBindInfo(flags, info);
  }
  STDMETHODIMP OnDataAvailable(DWORD flags, DWORD size, FORMATETC* format,
                               STGMEDIUM* medium) override {
    lastData_ = ::GetTickCount();
    return inner_.OnDataAvailable(flags, size, format, medium);
  }
  STDMETHODIMP OnObjectAvailable(REFIID riid, IUnknown* object) override {
    return inner_.OnObjectAvailable(riid, object);
  }

 private:
  static VOID CALLBACK Check(PVOID raw, BOOLEAN) {
    auto* guard = static_cast<StallGuard*>(raw);
    if (guard->stopped_ || guard->aborted_) return;
    if (!IsStalled(guard->lastData_, ::GetTickCount(), kStallLimitMilliseconds)) return;
    if (IBinding* binding = guard->binding_.load()) {
      guard->aborted_ = true;
      binding->Abort();
    }
  }

  IBindStatusCallback& inner_;
  HANDLE timer_ = nullptr;
  std::atomic<DWORD> lastData_{0};
  std::atomic<IBinding*> binding_{nullptr};
  std::atomic<bool> stopped_{false};
  std::atomic<bool> aborted_{false};
};

class ProgressBarSink final : public ProgressSink {
 public:
  void SetPos(int position) override { progressBar.SetPos(position); }
  void UpdateWindow() override { progressBar.UpdateWindow(); }
};

class Win32DownloadPorts final : public DownloadPorts {
 public:
  long DownloadToFile(const std::wstring& url, const std::wstring& path) override {
    // urlmon is not always taken from the system folder, so it is loaded from
    // there by hand; a system without it fails the download.
    win::UniqueModule urlmon = win::LoadSystemLibrary(L"urlmon.dll");
    auto download = LookUp<UrlDownloadToFileFn>(urlmon.Get(), "URLDownloadToFileW");
    if (download == nullptr) return E_FAIL;
    CBindCBHttpCallback callback;
    StallGuard guard(callback);
    guard.Start();
    HRESULT result = download(nullptr, url.c_str(), path.c_str(), 0, &guard);
    guard.Stop();
    // Worker threads of urlmon may outlive the call; the library stays loaded.
    static_cast<void>(urlmon.Release());
    return result;
  }
  void RemoveFile(const std::wstring& path) override { ::DeleteFileW(path.c_str()); }
  void SignalFinished(InstallerFile installer) override {
    checkedInstaller.Reset(reinterpret_cast<HANDLE>(installer.Release()));
    downloadFinished.SetEvent();
  }
  void ShowMessage(const wchar_t* text) override { ShowFailureMessage(text); }
};

}  // namespace

void StartDownload(CUseThreadDownloadDlg& dialog) {
  progressBar.SetRange32(kProgressRangeLow, kProgressRangeHigh);
  progressBar.SetPos(0);
  DownloadJob.url = dialog.m_strUrl;
  DownloadJob.path = dialog.m_strPath;
  // Without the event the two threads cannot hand over; starting them would
  // only let the installer run before its download ended.
  if (!downloadFinished.IsValid()) {
    ShowFailureMessage(kDownloadThreadFailedText);
    return;
  }
  downloadFinished.ResetEvent();
  if (!win::BeginWorkerThread(&DownloadThreadProc, &DownloadJob))
    ShowFailureMessage(kDownloadThreadFailedText);
  win::BeginWorkerThread(&InstallThreadProc, nullptr);
}

unsigned DownloadThreadProc(void* parameter) {
  Win32DownloadPorts ports;
  win::Win32InstallerTrust trust;
  RunDownload(*static_cast<const DownloadJobRecord*>(parameter), kExpectedInstallerSigner, ports,
              trust);
  return 0;
}

STDMETHODIMP CBindCBHttpCallback::QueryInterface(REFIID, void**) { return E_NOTIMPL; }
STDMETHODIMP_(ULONG) CBindCBHttpCallback::AddRef() { return 0; }
STDMETHODIMP_(ULONG) CBindCBHttpCallback::Release() { return 0; }
STDMETHODIMP CBindCBHttpCallback::OnStartBinding(DWORD, IBinding*) { return E_NOTIMPL; }
STDMETHODIMP CBindCBHttpCallback::GetPriority(LONG*) { return E_NOTIMPL; }
STDMETHODIMP CBindCBHttpCallback::OnLowResource(DWORD) { return E_NOTIMPL; }

STDMETHODIMP CBindCBHttpCallback::OnProgress(ULONG ulProgress, ULONG ulProgressMax, ULONG,
                                             LPCWSTR) {
  ProgressBarSink bar;
  return ReportProgress(bar, ulProgress, ulProgressMax);
}

STDMETHODIMP CBindCBHttpCallback::OnStopBinding(HRESULT, LPCWSTR) { return E_NOTIMPL; }
STDMETHODIMP CBindCBHttpCallback::GetBindInfo(DWORD*, BINDINFO*) { return E_NOTIMPL; }
STDMETHODIMP CBindCBHttpCallback::OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) {
  return E_NOTIMPL;
}
STDMETHODIMP CBindCBHttpCallback::OnObjectAvailable(REFIID, IUnknown*) { return E_NOTIMPL; }

}  // namespace tarnix
