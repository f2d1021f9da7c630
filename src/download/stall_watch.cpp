#include "download/stall_watch.h"

#include <utility>

#include "download/progress.h"

namespace tarnix {

StallWatch::StallWatch(std::uint32_t limitMs, std::uint32_t checkMs,
                       std::unique_ptr<StallWatchPlatform> platform)
    : limitMs_(limitMs),
      checkMs_(checkMs),
      platform_(std::move(platform)),
      lastData_(platform_->TickMs()) {}

// Reached on whichever thread lets go last; the binding is still held here
// only when the download thread stopped during an abort.
StallWatch::~StallWatch() = default;

void StallWatch::SetBinding(std::unique_ptr<StallBinding> binding) {
  if (!binding || hasBinding_.load() || phase_.load() != Phase::Watching) return;
  binding_ = std::move(binding);
  hasBinding_.store(true);
}

void StallWatch::NoteData() {
  lastData_.store(platform_->TickMs());
  held_.store(false);
}

void StallWatch::NoteProgress(std::uint32_t statusCode, std::uint32_t progress) {
  if (!ReportsData(statusCode, progress, lastDataProgress_)) return;
  lastDataProgress_ = progress;
  NoteData();
}

// The silence is restarted by the watch thread alone, and only when it sees
// the prompt standing.
void StallWatch::Hold() { held_.store(true); }

void StallWatch::Stop() {
  Phase before = phase_.exchange(Phase::Stopped);
  if (before == Phase::Stopped) return;
  if (before != Phase::Aborting) binding_.reset();
  bindingLeftToAbort_ = before == Phase::Aborting;
  platform_->SignalStop();
}

void StallWatch::Finish(std::uint32_t waitMs) {
  Stop();
  if (!bindingLeftToAbort_ || !platform_->WaitForAbortEnd(waitMs)) return;
  // The abort has returned and the watch thread no longer touches the binding.
  bindingLeftToAbort_ = false;
  binding_.reset();
}

void StallWatch::Run() {
  while (!platform_->WaitForStop(checkMs_)) {
    if (phase_.load() != Phase::Watching) return;
    if (!hasBinding_.load()) continue;
    // The user's time at a prompt is no silence of the network's.
    if (held_.load() && platform_->PromptStands()) {
      lastData_.store(platform_->TickMs());
      continue;
    }
    if (!IsStalled(lastData_.load(), platform_->TickMs(), limitMs_)) continue;
    // From here the binding is this thread's until the abort returns; a Stop
    // in between leaves it alone and does not wait.
    Phase expected = Phase::Watching;
    if (!phase_.compare_exchange_strong(expected, Phase::Aborting)) return;
    binding_->Abort();
    expected = Phase::Aborting;
    phase_.compare_exchange_strong(expected, Phase::Aborted);
    // Last: from here a Finish that waited releases the binding.
    platform_->SignalAbortEnded();
    return;
  }
}

}  // namespace tarnix
