#include "download/stall_guard_win.h"

#include "download/download_state_win.h"
#include "platform/com_win.h"
#include "platform/launch_log.h"
#include "platform/thread_win.h"
#include "platform/win_handles_win.h"

namespace tarnix::win {
namespace {

// The data codes of the progress reports, which the portable watch mirrors.
static_assert(kBindStatusBeginDownloadData == BINDSTATUS_BEGINDOWNLOADDATA);
static_assert(kBindStatusDownloadingData == BINDSTATUS_DOWNLOADINGDATA);
static_assert(kBindStatusEndDownloadData == BINDSTATUS_ENDDOWNLOADDATA);

// A tick count, a manual-reset event that the watch's thread waits on, and
// one that the download thread waits on for an abort under way.
class Win32StallWatchPlatform final : public StallWatchPlatform {
 public:
  Win32StallWatchPlatform()
      : stop_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
        abortEnded_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  bool IsValid() const { return stop_.IsValid() && abortEnded_.IsValid(); }

  std::uint32_t TickMs() override { return ::GetTickCount(); }
  bool WaitForStop(std::uint32_t ms) override {
    return ::WaitForSingleObject(stop_.Get(), ms) != WAIT_TIMEOUT;
  }
  void SignalStop() override { ::SetEvent(stop_.Get()); }
  void SignalAbortEnded() override { ::SetEvent(abortEnded_.Get()); }
  // The download thread is inside its apartment here, and the abort may
  // send to its windows.
  bool WaitForAbortEnd(std::uint32_t ms) override {
    return WaitHandlingSentMessages(abortEnded_.Get(), ms) == WAIT_OBJECT_0;
  }
  // The prompt is a modal dialog owned by the download dialog, which it
  // disables until it closes. Reading the state is safe from any thread.
  bool PromptStands() override {
    HWND dialog = DownloadDialogWindow();
    return dialog != nullptr && !::IsWindowEnabled(dialog);
  }

 private:
  UniqueKernelHandle stop_;
  UniqueKernelHandle abortEnded_;
};

// The binding belongs to the download thread's apartment, where only that
// thread may call it: the watch asks for the abort with a message to a
// window of the download thread, which aborts there (AbortWindow). It holds
// no reference of the binding's, so nothing of it is released here either.
class Win32StallBinding final : public StallBinding {
 public:
  explicit Win32StallBinding(HWND abortWindow) : abortWindow_(abortWindow) {}
  // A post that fails (the thread's message queue full) is logged: the
  // download then ends only when the server ends it.
  void Abort() override {
    if (!::PostMessageW(abortWindow_, kAbortBindingMessage, 0, 0))
      LogLine(L"download: the stall watch's abort could not be posted, error " +
              std::to_wstring(::GetLastError()));
  }

 private:
  HWND abortWindow_;
};

// The watch's thread: its parameter is a heap-held share of the watch.
unsigned RunStallWatch(void* parameter) {
  std::unique_ptr<std::shared_ptr<StallWatch>> watch(
      static_cast<std::shared_ptr<StallWatch>*>(parameter));
  (*watch)->Run();
  return 0;
}

}  // namespace

bool StallGuard::Start(HWND abortWindow) {
  abortWindow_ = abortWindow;
  if (kStallLimitMs == 0 || abortWindow == nullptr) return false;
  auto platform = std::make_unique<Win32StallWatchPlatform>();
  if (!platform->IsValid()) return false;
  watch_ = std::make_shared<StallWatch>(kStallLimitMs, kStallCheckMs, std::move(platform));
  auto* share = new std::shared_ptr<StallWatch>(watch_);
  if (!BeginWorkerThread(&RunStallWatch, share)) {
    delete share;
    watch_.reset();
    return false;
  }
  return true;
}

void StallGuard::Stop() {
  if (!watch_) return;
  watch_->Finish(kStallAbortWaitMs);
  watch_.reset();
}

// The guard is the object urlmon holds: asked for the callback, the callback
// answers with the guard, never with itself, so that every later call still
// passes the watch; its other interfaces it answers itself.
STDMETHODIMP StallGuard::QueryInterface(REFIID riid, void** object) {
  return inner_.QueryInterface(riid, object);
}
void StallGuard::PromptComing() {
  if (watch_) watch_->Hold();
}

STDMETHODIMP_(ULONG) StallGuard::AddRef() { return inner_.AddRef(); }
STDMETHODIMP_(ULONG) StallGuard::Release() { return inner_.Release(); }

STDMETHODIMP StallGuard::OnStartBinding(DWORD reserved, IBinding* binding) {
  if (watch_ && binding != nullptr && abortWindow_ != nullptr)
    watch_->SetBinding(std::make_unique<Win32StallBinding>(abortWindow_));
  return inner_.OnStartBinding(reserved, binding);
}

STDMETHODIMP StallGuard::GetPriority(LONG* priority) { return inner_.GetPriority(priority); }
STDMETHODIMP StallGuard::OnLowResource(DWORD reserved) { return inner_.OnLowResource(reserved); }

STDMETHODIMP StallGuard::OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode,
                                    LPCWSTR statusText) {
  if (watch_) watch_->NoteProgress(statusCode, progress);
  return inner_.OnProgress(progress, progressMax, statusCode, statusText);
}

STDMETHODIMP StallGuard::OnStopBinding(HRESULT result, LPCWSTR error) {
  // The binding has ended: nothing is left to abort.
  if (watch_) watch_->Stop();
  return inner_.OnStopBinding(result, error);
}

STDMETHODIMP StallGuard::GetBindInfo(DWORD* flags, BINDINFO* info) {
  return inner_.GetBindInfo(flags, info);
}

STDMETHODIMP StallGuard::OnDataAvailable(DWORD flags, DWORD size, FORMATETC* format,
                                         STGMEDIUM* medium) {
  // Data only when bytes were read: a notification whose stream has nothing
  // yet (E_PENDING) is none.
  const std::uint64_t before = inner_.BytesRead();
  const HRESULT result = inner_.OnDataAvailable(flags, size, format, medium);
  if (watch_ && inner_.BytesRead() != before) watch_->NoteData();
  return result;
}

STDMETHODIMP StallGuard::OnObjectAvailable(REFIID riid, IUnknown* object) {
  return inner_.OnObjectAvailable(riid, object);
}

}  // namespace tarnix::win
