#include "report/report_flight.h"

#include <memory>
#include <utility>

#include "platform/tick_count.h"

namespace tarnix {
namespace {

// Handed to the new thread, which owns it from then on.
struct PendingJob {
  ReportFlight::Job job;
  std::uint32_t startTick;
};

}  // namespace

unsigned ReportFlight::RunJob(void* parameter) {
  std::unique_ptr<PendingJob> pending(static_cast<PendingJob*>(parameter));
  pending->job(pending->startTick);
  return 0;
}

bool ReportFlight::Start(Job job) {
  if (thread_) return false;
  const std::uint32_t startTick = platform_.TickMs();
  auto pending = std::make_unique<PendingJob>(PendingJob{std::move(job), startTick});
  ThreadHandle thread = platform_.BeginThread(&ReportFlight::RunJob, pending.get());
  if (thread == 0) return false;
  static_cast<void>(pending.release());  // the thread frees it
  thread_.Reset(thread);
  startTick_ = startTick;
  return true;
}

bool ReportFlight::Wait() {
  if (!thread_) return true;
  const std::uint32_t remaining = TicksLeft(startTick_, platform_.TickMs(), kReportBudgetMs);
  if (!platform_.WaitForThread(thread_.Get(), remaining)) return false;
  thread_.Reset();
  return true;
}

}  // namespace tarnix
