#include "download/transfer_figures.h"

#include <cmath>

#include "platform/tick_count.h"

namespace tarnix {
namespace {

constexpr std::uint32_t kSecondsPerUnit[] = {1, 60, 3600};  // in the order of TimeUnit

// Tenths of a MB, rounded half up; at least 1 for any bytes at all. The
// whole MB and the rest are taken apart so that no size overflows.
std::uint64_t Tenths(std::uint64_t bytes) {
  if (bytes == 0) return 0;
  const std::uint64_t rest = bytes % kBytesPerMegabyte;
  const std::uint64_t tenths =
      bytes / kBytesPerMegabyte * 10 + (rest * 10 + kBytesPerMegabyte / 2) / kBytesPerMegabyte;
  return tenths > 0 ? tenths : 1;
}

std::wstring TenthsText(std::uint64_t tenths) {
  return std::to_wstring(tenths / 10) + L'.' + static_cast<wchar_t>(L'0' + tenths % 10);
}

double SecondsOf(TimeLeft time) {
  return static_cast<double>(time.value) * kSecondsPerUnit[static_cast<int>(time.unit)];
}

std::uint32_t RoundedAtLeastOne(double units) {
  const double rounded = std::floor(units + 0.5);
  return rounded < 1.0 ? 1 : static_cast<std::uint32_t>(rounded);
}

}  // namespace

std::wstring FormatMegabytes(std::uint64_t bytes) { return TenthsText(Tenths(bytes)); }

// The unit changes where the smaller unit's rounding would reach the larger
// one: 57.5 s would round to 60 s, 59.5 min to 60 min.
TimeLeft RoundTimeLeft(double seconds) {
  if (seconds < 57.5) return {RoundedAtLeastOne(seconds / 5.0) * 5, TimeUnit::kSeconds};
  if (seconds < 59.5 * 60.0) return {RoundedAtLeastOne(seconds / 60.0), TimeUnit::kMinutes};
  return {RoundedAtLeastOne(seconds / 3600.0), TimeUnit::kHours};
}

std::wstring FormatTransferLine(UiLanguage language, std::uint64_t received, std::uint64_t total,
                                std::optional<TimeLeft> timeLeft) {
  std::uint64_t receivedTenths = Tenths(received);
  if (total == 0) {
    return FillUiText(UiTextIn(language, UiText::kTransferReceived), {TenthsText(receivedTenths)});
  }
  // 84.97 of 85.0 MB would read "85.0 MB of 85.0 MB" while the rest is still
  // on its way: the figure stays a tenth below until the whole file is there.
  const std::uint64_t totalTenths = Tenths(total);
  if (received < total && receivedTenths >= totalTenths) receivedTenths = totalTenths - 1;
  if (!timeLeft) {
    return FillUiText(UiTextIn(language, UiText::kTransferOfTotal),
                      {TenthsText(receivedTenths), TenthsText(totalTenths)});
  }
  static constexpr UiText kUnitTexts[] = {UiText::kTimeLeftSeconds, UiText::kTimeLeftMinutes,
                                          UiText::kTimeLeftHours};
  const std::wstring time =
      FillUiText(UiTextIn(language, kUnitTexts[static_cast<int>(timeLeft->unit)]),
                 {std::to_wstring(timeLeft->value)});
  return FillUiText(UiTextIn(language, UiText::kTransferOfTotalTimeLeft),
                    {TenthsText(receivedTenths), TenthsText(totalTenths), time});
}

void TransferFigures::StartAttempt(std::uint32_t tickMs, std::uint64_t alreadyThere,
                                   std::uint64_t total) {
  alreadyThere_ = alreadyThere;
  total_ = total;
  haveOrigin_ = false;
  originTick_ = sampleTick_ = tickMs;
  originBytes_ = sampleBytes_ = 0;
  bytesPerMs_ = 0.0;
  shownTimeLeft_.reset();
  shownAny_ = false;
}

std::optional<std::wstring> TransferFigures::Update(std::uint32_t tickMs, std::uint64_t received) {
  // Only the attempt's own bytes make its rate.
  const std::uint64_t attemptBytes = received > alreadyThere_ ? received - alreadyThere_ : 0;
  if (!haveOrigin_) {
    haveOrigin_ = true;
    originTick_ = sampleTick_ = tickMs;
    originBytes_ = sampleBytes_ = attemptBytes;
  } else {
    SampleRate(tickMs, attemptBytes);
  }
  const bool complete = total_ != 0 && received >= total_;
  if (shownAny_ && !complete && TicksBetween(shownTick_, tickMs) < kFiguresIntervalMs) {
    return std::nullopt;
  }
  std::wstring line = FormatTransferLine(language_, received, total_, SteadyTimeLeft(received));
  if (shownAny_ && line == shownLine_) return std::nullopt;
  shownAny_ = true;
  shownTick_ = tickMs;
  shownLine_ = line;
  return line;
}

// The rate is the average over the first kRateWarmUpMs of data, then an
// exponentially weighted moving average of the rate between samples, each
// weighted by its share of the time constant (elapsed / (tau + elapsed)),
// so that frequent and rare reports weigh alike per second. A burst of a
// buffered chunk and a short pause of the link move it only a little.
void TransferFigures::SampleRate(std::uint32_t tickMs, std::uint64_t attemptBytes) {
  const std::uint32_t elapsed = TicksBetween(sampleTick_, tickMs);
  if (elapsed < kRateSampleMs) return;
  const std::uint64_t delta = attemptBytes > sampleBytes_ ? attemptBytes - sampleBytes_ : 0;
  if (bytesPerMs_ <= 0.0) {
    const std::uint32_t sinceOrigin = TicksBetween(originTick_, tickMs);
    const std::uint64_t sinceOriginBytes =
        attemptBytes > originBytes_ ? attemptBytes - originBytes_ : 0;
    if (sinceOrigin >= kRateWarmUpMs) {
      bytesPerMs_ = static_cast<double>(sinceOriginBytes) / sinceOrigin;
    }
  } else {
    const double instant = static_cast<double>(delta) / elapsed;
    const double weight = static_cast<double>(elapsed) / (kRateTimeConstantMs + elapsed);
    bytesPerMs_ += weight * (instant - bytesPerMs_);
  }
  sampleTick_ = tickMs;
  sampleBytes_ = attemptBytes;
}

// The shown time left holds while it is a rounding of an estimate near the
// current one (up to kTimeLeftRiseTolerance below it, kTimeLeftFallTolerance
// above it): an estimate that wavers around a step's boundary leaves it
// alone, and it moves once the estimate has clearly left its step, to the
// new estimate's rounding. Rounding never decreases as the estimate grows,
// so comparing with the two roundings is comparing with every one between.
std::optional<TimeLeft> TransferFigures::SteadyTimeLeft(std::uint64_t received) {
  if (bytesPerMs_ <= 0.0 || total_ == 0 || received >= total_) {
    shownTimeLeft_.reset();
    return std::nullopt;
  }
  const double seconds = static_cast<double>(total_ - received) / bytesPerMs_ / 1000.0;
  if (seconds > kTimeLeftLimitSeconds) {
    shownTimeLeft_.reset();
    return std::nullopt;
  }
  if (shownTimeLeft_) {
    const double shown = SecondsOf(*shownTimeLeft_);
    if (SecondsOf(RoundTimeLeft(seconds * (1.0 - kTimeLeftRiseTolerance))) <= shown &&
        shown <= SecondsOf(RoundTimeLeft(seconds * (1.0 + kTimeLeftFallTolerance)))) {
      return shownTimeLeft_;
    }
  }
  shownTimeLeft_ = RoundTimeLeft(seconds);
  return shownTimeLeft_;
}

}  // namespace tarnix
