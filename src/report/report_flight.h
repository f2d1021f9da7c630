#pragma once
// The launch report in flight: it runs on a thread of its own beside the
// start of the host, and the launcher waits for it only at its very end, for
// at most kReportBudgetMs after the report began. The launcher then ends
// whether or not the report got through.

#include <cstdint>
#include <functional>

#include "platform/unique_handle.h"

namespace tarnix {

// How long the launcher stays (hidden) for its report, counted from the
// report's start: long enough for a lost SYN to be sent again or for a slow
// name lookup, short enough that no statistics server keeps it for long.
inline constexpr std::uint32_t kReportBudgetMs = 10000;

using ThreadHandle = std::uintptr_t;

// What a ReportFlight needs of the system: a thread, a wait for its end, the
// release of its handle and the tick counter, shaped like _beginthreadex,
// WaitForSingleObject (handling the messages sent to the waiting thread
// meanwhile), CloseHandle and GetTickCount.
class ReportFlightPlatform {
 public:
  using ThreadProc = unsigned (*)(void* parameter);
  virtual ~ReportFlightPlatform() = default;
  // Starts proc(parameter) on a new thread, running at once. Returns 0 when
  // no thread was created; proc then never runs.
  virtual ThreadHandle BeginThread(ThreadProc proc, void* parameter) = 0;
  // Waits up to `timeoutMs` for the thread to end, handling the messages that
  // other threads send to the waiting thread's windows meanwhile. True when
  // it has ended; false when the time ran out or the wait failed.
  virtual bool WaitForThread(ThreadHandle thread, std::uint32_t timeoutMs) = 0;
  // Releases the handle; the thread runs on.
  virtual void CloseThread(ThreadHandle thread) = 0;
  // Milliseconds since some fixed moment; wraps around after 2^32.
  virtual std::uint32_t TickMs() = 0;
};

class ReportFlight {
 public:
  // What the report's thread runs, given the tick at which the report began.
  using Job = std::function<void(std::uint32_t startTick)>;

  explicit ReportFlight(ReportFlightPlatform& platform)
      : platform_(platform), thread_(ThreadHandle{0}, ThreadTraits{&platform}) {}
  // Releases the thread's handle without waiting: the job owns what it uses.
  ~ReportFlight() = default;
  ReportFlight(const ReportFlight&) = delete;
  ReportFlight& operator=(const ReportFlight&) = delete;

  // Notes the tick and starts `job` on a thread of its own; returns at once.
  // Returns false when a report was already started or no thread could be
  // created: the job is then dropped, never run here, since run on this
  // thread it could hold back the host.
  bool Start(Job job);

  // Waits until the job has ended or kReportBudgetMs have passed since it
  // began. Returns true when no job runs any more (it ended, or none was
  // started); false when it may still be running.
  bool Wait();

 private:
  using ThreadTraits = ApiHandleTraits<ReportFlightPlatform, ThreadHandle, ThreadHandle{0},
                                       &ReportFlightPlatform::CloseThread>;

  static unsigned RunJob(void* parameter);

  ReportFlightPlatform& platform_;
  UniqueHandle<ThreadTraits> thread_;  // the job's thread while it may still be waited for
  std::uint32_t startTick_ = 0;
};

}  // namespace tarnix
