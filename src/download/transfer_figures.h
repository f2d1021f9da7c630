#pragma once
// The line under the download's bar: how much of the installer has arrived,
// of how much, and about how long the rest will take.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/ui_text.h"

namespace tarnix {

// Sizes are shown in MB of 1,048,576 bytes, as Windows shows file sizes:
// the figure a user compares with Explorer's is the same.
inline constexpr std::uint64_t kBytesPerMegabyte = 1048576;
// The line changes at most four times a second.
inline constexpr std::uint32_t kFiguresIntervalMs = 250;
// The time left is shown once the attempt's data has flowed this long: the
// first seconds of a connection say little about its rate.
inline constexpr std::uint32_t kRateWarmUpMs = 3000;
// The smoothed rate takes in a new measurement at most this often.
inline constexpr std::uint32_t kRateSampleMs = 500;
// The smoothing's time constant: a change of the link's speed is followed
// within a few multiples of it.
inline constexpr std::uint32_t kRateTimeConstantMs = 5000;
// The shown time left stays while the estimate is within these shares of it:
// a time left falls as time passes, and rises again only on a link that has
// clearly slowed, not after a pause of a second or two.
inline constexpr double kTimeLeftFallTolerance = 0.1;
inline constexpr double kTimeLeftRiseTolerance = 0.15;
// An estimate beyond this many seconds (100 h) is no estimate: not shown.
inline constexpr std::uint32_t kTimeLeftLimitSeconds = 100 * 3600;

enum class TimeUnit { kSeconds, kMinutes, kHours };

// A time left as the line says it: a value in one unit.
struct TimeLeft {
  std::uint32_t value;
  TimeUnit unit;
  friend bool operator==(const TimeLeft&, const TimeLeft&) = default;
};

// `bytes` in MB with one decimal ("12.3"), rounded half up at the second
// decimal; an amount above 0 but below 0.05 MB reads 0.1, so that something
// that has arrived never reads as nothing.
std::wstring FormatMegabytes(std::uint64_t bytes);

// `seconds` (>= 0) rounded to what the line says: under a minute to 5 s
// steps (at least 5 s), under an hour to whole minutes (at least 1), beyond
// that to whole hours. Nondecreasing in `seconds`.
TimeLeft RoundTimeLeft(double seconds);

// The line in `language`: received of total (0: unknown total, then only the
// received MB), and the time left when given. A received amount below the
// total never reads as the total itself.
std::wstring FormatTransferLine(UiLanguage language, std::uint64_t received, std::uint64_t total,
                                std::optional<TimeLeft> timeLeft);

// The figures of one download attempt after another, from the progress
// reports of the transfer. Not thread-safe: one thread reports.
class TransferFigures {
 public:
  explicit TransferFigures(UiLanguage language) : language_(language) {}

  // A new attempt from the reading `tickMs` of the wrapping millisecond tick
  // count: `alreadyThere` bytes of the file are there before it (a resumed
  // transfer counts them; they are no part of the attempt's rate), `total`
  // is the whole file's size (0: unknown). Forgets the previous attempt's
  // rate and shown time left; the next Update shows a line at once.
  void StartAttempt(std::uint32_t tickMs, std::uint64_t alreadyThere, std::uint64_t total);

  // `received` bytes of the whole file (the bytes already there included)
  // at the reading `tickMs`. Returns the line to show: always at the
  // attempt's first update; after that only a line that differs from the one
  // shown last, at most every kFiguresIntervalMs, and at once when the total
  // is reached. Nothing otherwise.
  std::optional<std::wstring> Update(std::uint32_t tickMs, std::uint64_t received);

 private:
  void SampleRate(std::uint32_t tickMs, std::uint64_t attemptBytes);
  std::optional<TimeLeft> SteadyTimeLeft(std::uint64_t received);

  UiLanguage language_;
  std::uint64_t alreadyThere_ = 0;
  std::uint64_t total_ = 0;
  // The attempt's first update: where its rate is counted from.
  bool haveOrigin_ = false;
  std::uint32_t originTick_ = 0;
  std::uint64_t originBytes_ = 0;
  std::uint32_t sampleTick_ = 0;
  std::uint64_t sampleBytes_ = 0;
  double bytesPerMs_ = 0.0;  // 0: not known yet
  std::optional<TimeLeft> shownTimeLeft_;
  bool shownAny_ = false;
  std::uint32_t shownTick_ = 0;
  std::wstring shownLine_;
};

}  // namespace tarnix
