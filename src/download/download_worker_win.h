#pragma once
// The download thread and its progress callback.

#include <servprov.h>
#include <urlmon.h>
#include <windows.h>

#include <optional>
#include <vector>

#include "download/download_worker.h"
#include "download/transfer_figures.h"
#include "platform/com.h"

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

// The message that asks the download thread's abort window to abort the
// binding (posted by the stall watch's thread).
inline constexpr UINT kAbortBindingMessage = WM_APP + 1;

// The download's bind status callback. It moves the progress bar as the
// download reports progress (and sets the line under it from the reports of
// data, TransferFigures), asks for an asynchronous binding whose body it
// pulls itself, fresh from the server, hands the attempt's request headers
// (a range to resume), the response's status and headers and every piece of
// the body to the attempt's TransferSink (IHttpNegotiate; OnDataAvailable),
// notes when the binding has stopped and with what result, gives the
// download dialog as the owner of the system's prompts (IWindowForBindingUI:
// a proxy or server that asks for credentials gets the system's prompt) and
// refuses every security problem but a redirect from http to https without
// a prompt (IHttpSecurity). The moniker finds these through QueryInterface
// or IServiceProvider::QueryService.
//
// It lives on the heap for one download, together with the stall guard that
// urlmon holds (BindCallbacks in download_worker_win.cpp), and counts the
// references of both (ComReferenceCount): urlmon may release them after
// the transfer has returned, as a binding that an abort still holds does
// when it ends; the last Release frees the pair. The calls of the download
// come on the download thread, inside its apartment, while that thread
// handles its messages until the binding has stopped; a prompt runs its
// modal loop there, owned by the dialog of the main thread.
// Told when the moniker asks for the window of a prompt, right before the
// prompt; the stall guard holds its watch then.
class PromptObserver {
 public:
  virtual void PromptComing() = 0;

 protected:
  ~PromptObserver() = default;
};

class CBindCBHttpCallback final : public IBindStatusCallback,
                                  public IHttpNegotiate,
                                  public IServiceProvider,
                                  public IHttpSecurity {
 public:
  // `destroy(owner)` frees the object (and the guard with it) once the last
  // reference is released; the creator holds the first one.
  CBindCBHttpCallback(ComReferenceCount::Destroy destroy, void* owner)
      : references_(destroy, owner) {}
  ~CBindCBHttpCallback() = default;
  CBindCBHttpCallback(const CBindCBHttpCallback&) = delete;
  CBindCBHttpCallback& operator=(const CBindCBHttpCallback&) = delete;

  // The attempt that the request, the response and the body belong to.
  void SetSink(TransferSink* sink) { sink_ = sink; }
  // Whether OnStopBinding has come, and its result.
  bool Stopped() const { return stopped_; }
  HRESULT StopResult() const { return stopResult_; }
  // Aborts the binding while it runs (a body that cannot be kept, a stall);
  // on the download thread only.
  void AbortBinding();
  // Whether AbortBinding was called, and at which tick.
  bool AbortRequested() const { return abortRequested_; }
  DWORD AbortTick() const { return abortTick_; }
  // Body bytes read from the binding's stream so far.
  std::uint64_t BytesRead() const { return bytesRead_; }

  // Names the object that urlmon holds (the stall guard, which passes every
  // call through) as this object's IUnknown and IBindStatusCallback, so
  // that every interface answers IUnknown alike, as COM's identity asks.
  // `prompts` (may be null) hears of every window request.
  void SetOuter(IBindStatusCallback* outer, PromptObserver* prompts) {
    outer_ = outer;
    prompts_ = prompts;
  }

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

  // IHttpNegotiate
  STDMETHODIMP BeginningTransaction(LPCWSTR url, LPCWSTR headers, DWORD reserved,
                                    LPWSTR* additionalHeaders) override;
  STDMETHODIMP OnResponse(DWORD status, LPCWSTR responseHeaders, LPCWSTR requestHeaders,
                          LPWSTR* additionalRequestHeaders) override;
  // IServiceProvider
  STDMETHODIMP QueryService(REFGUID service, REFIID riid, void** object) override;
  // IWindowForBindingUI, and IHttpSecurity
  STDMETHODIMP GetWindow(REFGUID reason, HWND* window) override;
  STDMETHODIMP OnSecurityProblem(DWORD problem) override;

  // The most that any progress report said had arrived, the largest total,
  // and the last HTTP status.
  TransferCounts Counts() const { return counts_; }

 private:
  BindCallbackInterfaces Interfaces();
  // The line under the bar, from a report of data: `received` of `total`
  // bytes (0: unknown) of the whole file, `alreadyThere` of them from
  // before this attempt.
  void ShowTransferFigures(std::uint64_t alreadyThere, std::uint64_t received, std::uint64_t total);

  ComReferenceCount references_;
  IBindStatusCallback* outer_ = this;
  PromptObserver* prompts_ = nullptr;
  TransferCounts counts_;
  TransferSink* sink_ = nullptr;
  // Held from OnStartBinding to OnStopBinding.
  IBinding* binding_ = nullptr;
  bool stopped_ = false;
  HRESULT stopResult_ = E_FAIL;
  bool abortRequested_ = false;
  DWORD abortTick_ = 0;
  std::uint64_t bytesRead_ = 0;
  std::vector<std::uint8_t> buffer_;
  // Started by the attempt's first report of data, again when the bytes
  // already there change (a whole file sent in answer to a range).
  std::optional<TransferFigures> figures_;
  std::uint64_t figuresBase_ = 0;
};

}  // namespace tarnix::win
