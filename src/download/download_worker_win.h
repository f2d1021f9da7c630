#pragma once
// The download thread and its progress callback.

#include <windows.h>
#include <urlmon.h>

#include "download/download_worker.h"

namespace tarnix::win {

class CUseThreadDownloadDlg;

// Sets the bar to 0 of 200, fills DownloadJob from the dialog, resets
// downloadFinished and starts the download thread, then the installer-run
// thread with the dialog's launch. Shows "下载线程创建失败！" when the
// download thread cannot start.
void StartDownload(CUseThreadDownloadDlg& dialog);

// The download thread: `parameter` is &DownloadJob. Always returns 0.
unsigned DownloadThreadProc(void* parameter);

// DeleteUrlCacheEntryW of `url` through WinINet, loaded from the system folder
// on first use and kept. Does nothing where WinINet or the call is missing;
// a URL without an entry is no failure.
void DeleteUrlCacheEntryOnSystem(const std::wstring& url);

// Moves the progress bar as the download reports progress and asks for a
// fresh copy from the server in its bind information. It lives on the
// download thread's stack for one download: no reference counting (AddRef
// and Release return 1), QueryInterface answers IUnknown and
// IBindStatusCallback with itself, and every other slot declines.
class CBindCBHttpCallback final : public IBindStatusCallback {
 public:
  CBindCBHttpCallback() = default;
  ~CBindCBHttpCallback() = default;

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP OnStartBinding(DWORD reserved, IBinding* binding) override;
  STDMETHODIMP GetPriority(LONG* priority) override;
  STDMETHODIMP OnLowResource(DWORD reserved) override;
  STDMETHODIMP OnProgress(ULONG ulProgress, ULONG ulProgressMax, ULONG ulStatusCode,
                          LPCWSTR szStatusText) override;
  STDMETHODIMP OnStopBinding(HRESULT result, LPCWSTR error) override;
  STDMETHODIMP GetBindInfo(DWORD* flags, BINDINFO* info) override;
  STDMETHODIMP OnDataAvailable(DWORD flags, DWORD size, FORMATETC* format,
                               STGMEDIUM* medium) override;
  STDMETHODIMP OnObjectAvailable(REFIID riid, IUnknown* object) override;

  // The most that any progress report said had arrived, and the largest total.
  TransferCounts Counts() const { return counts_; }

 private:
  TransferCounts counts_;
};

}  // namespace tarnix::win
