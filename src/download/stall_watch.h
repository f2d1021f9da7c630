#pragma once
// The watch that fails a stalled download. The download thread notes when
// data arrives; a thread of the watch's own checks now and then and aborts
// the download's binding once nothing has arrived for the stall limit.
// Only data counts: a progress report that tells a step of the request
// (finding the server, connecting, a redirect) restarts nothing, so that a
// request that keeps going round without a byte still ends.
//
// Nothing ever waits for the watch without a bound: an abort may need the
// download thread (the binding belongs to it), so the binding's end stops
// the watch without waiting for a check or an abort in progress. Only once
// the download call has returned does the download thread wait, for a short
// time and handling the messages sent to it, for an abort under way, so that
// the binding is released on its own thread before that thread leaves its
// COM apartment. Whichever of the two threads lets go of the watch last
// frees it.

#include <atomic>
#include <cstdint>
#include <memory>

namespace tarnix {

// Seconds without any received data after which a download fails; 0 means
// no limit.
inline constexpr std::uint32_t kStallLimitMs =
    static_cast<std::uint32_t>(TARNIX_DOWNLOAD_STALL_SECONDS) * 1000u;
inline constexpr std::uint32_t kStallCheckMs = 1000;
// How long the download thread waits, after the download call, for an abort
// under way to return.
inline constexpr std::uint32_t kStallAbortWaitMs = 5000;

// The progress reports' status codes that tell of received data
// (BINDSTATUS_BEGINDOWNLOADDATA, _DOWNLOADINGDATA, _ENDDOWNLOADDATA); their
// progress is the count of bytes received. Every other code tells a step of
// the request.
inline constexpr std::uint32_t kBindStatusBeginDownloadData = 4;
inline constexpr std::uint32_t kBindStatusDownloadingData = 5;
inline constexpr std::uint32_t kBindStatusEndDownloadData = 6;

// Whether a progress report (IBindStatusCallback::OnProgress) tells of new
// data: a data code whose byte count moved since the last report that did
// (`lastDataProgress`, 0 before the first). The count only grows, but it is
// 32 bits wide and wraps past 4 GiB, so any move counts.
constexpr bool ReportsData(std::uint32_t statusCode, std::uint32_t progress,
                           std::uint32_t lastDataProgress) {
  return (statusCode == kBindStatusBeginDownloadData || statusCode == kBindStatusDownloadingData ||
          statusCode == kBindStatusEndDownloadData) &&
         progress != lastDataProgress;
}

// The download's binding, as the watch stops it.
class StallBinding {
 public:
  // Lets go of the binding (a reference it holds, if any).
  virtual ~StallBinding() = default;
  // Has the binding aborted (IBinding::Abort): the download then returns a
  // failure. May wait for the download thread, or only ask it to abort.
  virtual void Abort() = 0;
};

// What the watch needs of the system.
class StallWatchPlatform {
 public:
  virtual ~StallWatchPlatform() = default;
  // A millisecond tick count that wraps around (GetTickCount).
  virtual std::uint32_t TickMs() = 0;
  // Waits up to `ms` for SignalStop (a manual-reset event): true once it was
  // signalled (or the wait failed), false when the time ran out.
  virtual bool WaitForStop(std::uint32_t ms) = 0;
  // Signals the stop; never waits.
  virtual void SignalStop() = 0;
  // The watch thread, once its abort has returned: signals that (a
  // manual-reset event); never waits.
  virtual void SignalAbortEnded() = 0;
  // The download thread: waits up to `ms` for SignalAbortEnded, handling the
  // messages sent to the thread meanwhile. True once it was signalled; false
  // when the time ran out or the wait failed.
  virtual bool WaitForAbortEnd(std::uint32_t ms) = 0;
  // The watch thread, during a Hold: whether a prompt of the system's stands
  // now. A modal prompt disables its owner, the download dialog, until it
  // closes; so a disabled dialog is a standing prompt.
  virtual bool PromptStands() = 0;
};

// Shared (std::shared_ptr) by the download thread and the watch thread.
class StallWatch {
 public:
  StallWatch(std::uint32_t limitMs, std::uint32_t checkMs,
             std::unique_ptr<StallWatchPlatform> platform);
  StallWatch(const StallWatch&) = delete;
  StallWatch& operator=(const StallWatch&) = delete;
  ~StallWatch();

  // Download thread: the binding to abort (the first one only).
  void SetBinding(std::unique_ptr<StallBinding> binding);
  // Download thread: data arrived. Ends a Hold.
  void NoteData();
  // Download thread: a progress report. NoteData when it tells of new data
  // (ReportsData); any other report changes nothing, neither the silence
  // nor a Hold: urlmon delivers its reports through a standing prompt's own
  // modal loop too.
  void NoteProgress(std::uint32_t statusCode, std::uint32_t progress);
  // Download thread: the system is about to ask the user (a credentials
  // prompt). While the prompt stands (PromptStands), the silence does not
  // count: the user may take longer than the limit. Once it has closed, the
  // limit counts afresh from the last moment it was seen, so a repeated
  // request that then stalls still fails the download. The request itself
  // restarts nothing: after one that brought no prompt (or a loop of them)
  // the silence still counts from the last data. Only data ends the hold.
  void Hold();
  // Download thread: ends the watch without waiting for it. Unless an abort
  // is under way, the binding is released here, on its own thread. Repeating
  // it does nothing.
  void Stop();
  // Download thread, once the download call has returned and before it
  // leaves its apartment: Stop, and when that met an abort under way, waits
  // up to `waitMs` for the abort to return and then releases the binding
  // here. When the abort outlasts the wait, the binding is left to whichever
  // thread lets go of the watch last, as with Stop.
  void Finish(std::uint32_t waitMs);

  // Watch thread: checks every checkMs until Stop, or until it has aborted
  // the binding once.
  void Run();

 private:
  enum class Phase { Watching, Aborting, Aborted, Stopped };

  const std::uint32_t limitMs_;
  const std::uint32_t checkMs_;
  const std::unique_ptr<StallWatchPlatform> platform_;
  // Written by the download thread before hasBinding_ is set; then read by
  // the watch thread only while it holds the Aborting phase.
  std::unique_ptr<StallBinding> binding_;
  std::atomic<bool> hasBinding_{false};
  std::atomic<std::uint32_t> lastData_;
  std::atomic<bool> held_{false};
  // Download thread only: the byte count of the last report of data.
  std::uint32_t lastDataProgress_ = 0;
  std::atomic<Phase> phase_{Phase::Watching};
  // Download thread only: its Stop met an abort under way, whose binding it
  // has not released yet.
  bool bindingLeftToAbort_ = false;
};

}  // namespace tarnix
