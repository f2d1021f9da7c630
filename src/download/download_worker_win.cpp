#include "download/download_worker_win.h"

#include "download/download_dialog_win.h"
#include "download/download_state_win.h"
#include "download/install_run_win.h"
#include "download/pe_image.h"
#include "download/progress.h"
#include "download/stall_guard_win.h"
#include "platform/message_box.h"
#include "platform/thread_win.h"
#include "platform/win_handles_win.h"

namespace tarnix {
namespace {

using UrlDownloadToFileFn = HRESULT(WINAPI*)(IUnknown*, LPCWSTR, LPCWSTR, DWORD,
                                             IBindStatusCallback*);

template <typename Fn>
Fn LookUp(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

class ProgressBarSink final : public ProgressSink {
 public:
  void SetPos(int position) override { progressBar.SetPos(position); }
  void UpdateWindow() override { progressBar.UpdateWindow(); }
};

class Win32FileBytes final : public FileBytes {
 public:
  explicit Win32FileBytes(const std::wstring& path)
      : file_(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr)) {}

  bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override {
    if (!file_ || offset > 0x7FFFFFFFFFFFFFFFull || out.size() > 0xFFFFFFFFu) return false;
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(offset);
    if (!::SetFilePointerEx(file_.Get(), position, nullptr, FILE_BEGIN)) return false;
    DWORD read = 0;
    return ::ReadFile(file_.Get(), out.data(), static_cast<DWORD>(out.size()), &read, nullptr) &&
           read == out.size();
  }

 private:
  win::UniqueFile file_;
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
    win::StallGuard guard(callback);
    guard.Start();
    HRESULT result = download(nullptr, url.c_str(), path.c_str(), 0, &guard);
    guard.Stop();
    // Worker threads of urlmon may outlive the call; the library stays loaded.
    static_cast<void>(urlmon.Release());
    return result;
  }
  bool IsPeImageFile(const std::wstring& path) override {
    Win32FileBytes file(path);
    return IsPeImage(file);
  }
  void RemoveFile(const std::wstring& path) override { ::DeleteFileW(path.c_str()); }
  void SignalFinished() override { downloadFinished.SetEvent(); }
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
  RunDownload(*static_cast<const DownloadJobRecord*>(parameter), ports);
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
