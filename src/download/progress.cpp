#include "download/progress.h"

#include <climits>

namespace tarnix {

std::optional<int> ProgressPosition(std::uint32_t progress, std::uint32_t progressMax) {
  if (progressMax == 0) return std::nullopt;
  double quotient = static_cast<double>(progress) * 100.0 / static_cast<double>(progressMax);
  // Both counts are unsigned, so the quotient is never negative.
  if (quotient >= static_cast<double>(INT_MAX)) return INT_MAX;
  return static_cast<int>(quotient);
}

long ReportProgress(ProgressSink& bar, std::uint32_t progress, std::uint32_t progressMax) {
  std::optional<int> position = ProgressPosition(progress, progressMax);
  if (!position) return kResultFalse;
  bar.SetPos(*position);
  bar.UpdateWindow();
  return kResultOk;
}

}  // namespace tarnix
