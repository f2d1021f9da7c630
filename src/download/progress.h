#pragma once
// The download's progress reports, turned into positions of the dialog's bar.

#include <cstdint>
#include <optional>

#include "platform/tick_count.h"

namespace tarnix {

// The bar's scale: the download fills 0 to 100, the installation then sets
// 150, 180 and 200.
inline constexpr int kProgressRangeLow = 0;
inline constexpr int kProgressRangeHigh = 200;
inline constexpr int kProgressDownloadEnd = 100;  // the end of the download's part
inline constexpr int kProgressDownloadComplete = 150;
inline constexpr int kProgressInstallerStarting = 180;
inline constexpr int kProgressAppStarting = 200;

inline constexpr long kResultOk = 0;     // S_OK
inline constexpr long kResultFalse = 1;  // S_FALSE

// The position for `progress` of `progressMax` units: progress * 100 / max in
// double precision, truncated toward zero, not clamped (300 of 200 is 150).
// Nothing when the total is unknown (max 0). A quotient beyond the range of
// int (only when progress exceeds max by far) is held at INT_MAX, which the
// bar shows as full, instead of an undefined conversion.
std::optional<int> ProgressPosition(std::uint32_t progress, std::uint32_t progressMax);

// The progress bar as the download callback uses it.
class ProgressSink {
 public:
  virtual ~ProgressSink() = default;
  // PBM_SETPOS with `position`.
  virtual void SetPos(int position) = 0;
  // Repaints the bar at once (UpdateWindow).
  virtual void UpdateWindow() = 0;
};

// One progress report of the download: moves and repaints the bar and returns
// S_OK; returns S_FALSE and leaves the bar alone when the total is unknown.
long ReportProgress(ProgressSink& bar, std::uint32_t progress, std::uint32_t progressMax);

// True when the download has received nothing for `limitMilliseconds`, from
// two readings of the wrapping tick count.
constexpr bool IsStalled(std::uint32_t lastDataTick, std::uint32_t nowTick,
                         std::uint32_t limitMilliseconds) {
  return TicksBetween(lastDataTick, nowTick) >= limitMilliseconds;
}

}  // namespace tarnix
