#pragma once
// The stall guard between urlmon and the download's progress callback.

#include <windows.h>
// After windows.h, which the COM headers build on.
#include <urlmon.h>

#include <memory>

#include "download/download_worker_win.h"
#include "download/stall_watch.h"

namespace tarnix::win {

// Passes every call through to `inner` unchanged, so urlmon sees exactly the
// callback's answers (the callback names the guard as its IUnknown and
// IBindStatusCallback), and on the side feeds a StallWatch: the binding, and
// the progress reports, of which only those of data count. The download then
// fails like any other once it has received nothing for kStallLimitMs.
// When the moniker asks for its window (a prompt may come), the watch does
// not count the silence while the prompt stands (the dialog disabled): the
// user may take longer than the limit (StallWatch::Hold).
// Its AddRef and Release are the callback's: the two share one count.
class StallGuard final : public IBindStatusCallback, private PromptObserver {
 public:
  explicit StallGuard(CBindCBHttpCallback& inner) : inner_(inner) { inner_.SetOuter(this, this); }
  ~StallGuard() { Stop(); }
  StallGuard(const StallGuard&) = delete;
  StallGuard& operator=(const StallGuard&) = delete;

  // Starts the watch's thread, which aborts the binding by posting
  // kAbortBindingMessage to `abortWindow` (a window of the download thread).
  // False when the limit is 0, or the system gave no event or thread: the
  // download then runs without a stall limit.
  bool Start(HWND abortWindow);
  // Ends the watch once the download call has returned (inside the thread's
  // apartment): waits only for an abort under way, for kStallAbortWaitMs at
  // most; the guard keeps passing calls through.
  void Stop();

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP OnStartBinding(DWORD reserved, IBinding* binding) override;
  STDMETHODIMP GetPriority(LONG* priority) override;
  STDMETHODIMP OnLowResource(DWORD reserved) override;
  STDMETHODIMP OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode,
                          LPCWSTR statusText) override;
  STDMETHODIMP OnStopBinding(HRESULT result, LPCWSTR error) override;
  STDMETHODIMP GetBindInfo(DWORD* flags, BINDINFO* info) override;
  STDMETHODIMP OnDataAvailable(DWORD flags, DWORD size, FORMATETC* format,
                               STGMEDIUM* medium) override;
  STDMETHODIMP OnObjectAvailable(REFIID riid, IUnknown* object) override;

 private:
  void PromptComing() override;

  CBindCBHttpCallback& inner_;
  std::shared_ptr<StallWatch> watch_;
  HWND abortWindow_ = nullptr;
};

}  // namespace tarnix::win
