#include "download/transfer_figures.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tarnix {
namespace {

constexpr std::uint64_t kMB = 1048576;
constexpr std::uint64_t kKB = 1024;

TEST(FormatMegabytes, OneDecimalOfBinaryMegabytesRoundedHalfUp) {
  struct Case {
    std::uint64_t bytes;
    const wchar_t* text;
  };
  const Case cases[] = {
      {0, L"0.0"},
      {1, L"0.1"},          // something that arrived never reads as nothing
      {52428, L"0.1"},      // just below 0.05 MB: still not nothing
      {104857, L"0.1"},     // 0.09999 MB
      {kMB, L"1.0"},        // 1,048,576 bytes, not 1,000,000
      {1000000, L"1.0"},    // 0.954 MB
      {1101004, L"1.0"},    // 1.0499990 MB: below .x5
      {1101005, L"1.1"},    // 1.0500000 MB: .x5 rounds up
      {12897485, L"12.3"},  // 12.3 MB
      {85 * kMB, L"85.0"},
      {85 * kMB - 1, L"85.0"},
      {4096 * kMB, L"4096.0"},  // 4 GiB, beyond 32 bits
      {5 * 1024 * kMB + 1572864, L"5121.5"},
      {std::numeric_limits<std::uint64_t>::max(), L"17592186044416.0"},  // no overflow
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatMegabytes(c.bytes), c.text) << c.bytes;
  }
}

TEST(RoundTimeLeft, SecondsInFivesUnderAMinuteMinutesUnderAnHourThenHours) {
  struct Case {
    double seconds;
    TimeLeft expected;
  };
  const Case cases[] = {
      {0.0, {5, TimeUnit::kSeconds}},  // never "0 s"
      {7.49, {5, TimeUnit::kSeconds}},     {7.5, {10, TimeUnit::kSeconds}},
      {44.0, {45, TimeUnit::kSeconds}},    {57.49, {55, TimeUnit::kSeconds}},
      {57.5, {1, TimeUnit::kMinutes}},  // would round to 60 s
      {89.99, {1, TimeUnit::kMinutes}},    {90.0, {2, TimeUnit::kMinutes}},
      {3509.0, {58, TimeUnit::kMinutes}},  {3569.9, {59, TimeUnit::kMinutes}},
      {3570.0, {1, TimeUnit::kHours}},  // would round to 60 min
      {5399.0, {1, TimeUnit::kHours}},     {5400.0, {2, TimeUnit::kHours}},
      {360000.0, {100, TimeUnit::kHours}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RoundTimeLeft(c.seconds), c.expected) << c.seconds;
  }
}

double SecondsOf(TimeLeft time) {
  const double unit = time.unit == TimeUnit::kSeconds   ? 1
                      : time.unit == TimeUnit::kMinutes ? 60
                                                        : 3600;
  return time.value * unit;
}

// The steadiness of the shown figure rests on this: a longer estimate never
// rounds to a shorter time, across the units' boundaries too.
TEST(RoundTimeLeft, NeverDecreasesAsTheEstimateGrows) {
  double previous = 0;
  for (double seconds = 0; seconds < 20000; seconds += 0.25) {
    const double rounded = SecondsOf(RoundTimeLeft(seconds));
    ASSERT_GE(rounded, previous) << seconds;
    previous = rounded;
  }
}

TEST(FormatTransferLine, BothLanguagesWithAndWithoutTotalAndTimeLeft) {
  struct Case {
    UiLanguage language;
    std::uint64_t received;
    std::uint64_t total;
    std::optional<TimeLeft> timeLeft;
    const wchar_t* line;
  };
  const auto en = UiLanguage::kEnglish;
  const auto zh = UiLanguage::kChinese;
  const TimeLeft twoMinutes{2, TimeUnit::kMinutes};
  const TimeLeft fortyFiveSeconds{45, TimeUnit::kSeconds};
  const TimeLeft threeHours{3, TimeUnit::kHours};
  const Case cases[] = {
      {en, 12897485, 85 * kMB, twoMinutes, L"12.3 MB of 85.0 MB, about 2 min left"},
      {zh, 12897485, 85 * kMB, twoMinutes, L"已下载 12.3 MB / 85.0 MB，剩余约 2 分钟"},
      {en, 12897485, 85 * kMB, fortyFiveSeconds, L"12.3 MB of 85.0 MB, about 45 s left"},
      {zh, 12897485, 85 * kMB, fortyFiveSeconds, L"已下载 12.3 MB / 85.0 MB，剩余约 45 秒"},
      {en, 12897485, 85 * kMB, threeHours, L"12.3 MB of 85.0 MB, about 3 h left"},
      {zh, 12897485, 85 * kMB, threeHours, L"已下载 12.3 MB / 85.0 MB，剩余约 3 小时"},
      {en, 12897485, 85 * kMB, std::nullopt, L"12.3 MB of 85.0 MB"},
      {zh, 12897485, 85 * kMB, std::nullopt, L"已下载 12.3 MB / 85.0 MB"},
      // The total unknown: the received MB alone, whatever else is known.
      {en, 12897485, 0, std::nullopt, L"12.3 MB"},
      {zh, 12897485, 0, std::nullopt, L"已下载 12.3 MB"},
      {en, 12897485, 0, twoMinutes, L"12.3 MB"},
      {en, 0, 0, std::nullopt, L"0.0 MB"},
      {en, 0, 85 * kMB, std::nullopt, L"0.0 MB of 85.0 MB"},
      // Below the total never reads as the total; at the total it does.
      {en, 85 * kMB - 1000, 85 * kMB, fortyFiveSeconds, L"84.9 MB of 85.0 MB, about 45 s left"},
      {en, 85 * kMB, 85 * kMB, std::nullopt, L"85.0 MB of 85.0 MB"},
      {en, 500, 1000, std::nullopt, L"0.0 MB of 0.1 MB"},
      {en, 1000, 1000, std::nullopt, L"0.1 MB of 0.1 MB"},
      // More than the server announced: the bytes as they are.
      {en, 86 * kMB, 85 * kMB, std::nullopt, L"86.0 MB of 85.0 MB"},
      // Totals beyond 4 GiB (a resumed transfer's Content-Range).
      {zh, 4608 * kMB, 5120 * kMB, threeHours, L"已下载 4608.0 MB / 5120.0 MB，剩余约 3 小时"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatTransferLine(c.language, c.received, c.total, c.timeLeft), c.line)
        << c.received << " of " << c.total;
  }
}

// Feeds a TransferFigures and keeps what it shows, with the tick of each.
struct Feed {
  explicit Feed(UiLanguage language = UiLanguage::kEnglish) : figures(language) {}

  void Start(std::uint32_t tick, std::uint64_t alreadyThere, std::uint64_t total) {
    figures.StartAttempt(tick, alreadyThere, total);
  }
  std::optional<std::wstring> At(std::uint32_t tick, std::uint64_t received) {
    std::optional<std::wstring> line = figures.Update(tick, received);
    if (line) shown.emplace_back(tick, *line);
    return line;
  }
  // Data at `bytesPerSecond` from `from` for `ms`, a report every `stepMs`.
  std::uint64_t Flow(std::uint32_t& tick, std::uint64_t from, std::uint64_t bytesPerSecond,
                     std::uint32_t ms, std::uint32_t stepMs) {
    std::uint64_t bytes = from;
    for (std::uint32_t t = 0; t < ms; t += stepMs) {
      tick += stepMs;
      bytes += bytesPerSecond * stepMs / 1000;
      At(tick, bytes);
    }
    return bytes;
  }

  TransferFigures figures;
  std::vector<std::pair<std::uint32_t, std::wstring>> shown;
};

TEST(TransferFigures, ShowsAtOnceThenAtMostFourTimesASecondAcrossTheTickCountsWrap) {
  Feed feed;
  std::uint32_t tick = 0xFFFFF000u;  // wraps 4 s into the transfer
  feed.Start(tick, 0, 100 * kMB);
  feed.Flow(tick, 0, 512 * kKB, 10000, 30);
  ASSERT_GE(feed.shown.size(), 30u);
  EXPECT_EQ(feed.shown.front().first, 0xFFFFF000u + 30);        // the first report shows at once
  EXPECT_EQ(feed.shown.front().second, L"0.1 MB of 100.0 MB");  // 15 KB
  for (std::size_t i = 1; i < feed.shown.size(); ++i) {
    EXPECT_GE(static_cast<std::uint32_t>(feed.shown[i].first - feed.shown[i - 1].first),
              kFiguresIntervalMs)
        << i;
  }
  // 10 s at a steady rate: about 40 lines, not one per report.
  EXPECT_LE(feed.shown.size(), 41u);
}

TEST(TransferFigures, TheLastBytesShowAtOnceAndAnUnchangedLineIsNotSentAgain) {
  Feed feed;
  feed.Start(1000, 0, 2 * kMB);
  EXPECT_EQ(feed.At(1000, 0), L"0.0 MB of 2.0 MB");
  EXPECT_EQ(feed.At(1300, kMB), L"1.0 MB of 2.0 MB");
  // 10 ms later, not due, but the whole file is there.
  EXPECT_EQ(feed.At(1310, 2 * kMB), L"2.0 MB of 2.0 MB");
  EXPECT_EQ(feed.At(1320, 2 * kMB), std::nullopt);  // the final report again
  EXPECT_EQ(feed.At(2000, 2 * kMB), std::nullopt);  // due, but nothing changed
  // A stalled transfer repeats the same bytes: nothing to send.
  Feed stalled;
  stalled.Start(0, 0, 2 * kMB);
  stalled.At(0, kMB);
  for (std::uint32_t t = 300; t < 5000; t += 300) EXPECT_EQ(stalled.At(t, kMB), std::nullopt) << t;
}

// The flows below report every 250 ms, so that every report is due.
TEST(TransferFigures, TheTimeLeftAppearsAfterThreeSecondsOfDataAndCountsDown) {
  Feed feed;
  std::uint32_t tick = 5000;
  feed.Start(tick, 0, 20 * kMB);
  // 1 MB/s. Data begins 2 s after the attempt's start (connecting); the time
  // left waits for 3 s of it.
  tick += 2000;
  feed.At(tick, 0);
  std::uint64_t bytes = feed.Flow(tick, 0, kMB, 2750, 250);
  EXPECT_EQ(feed.shown.back().second, L"2.8 MB of 20.0 MB");
  bytes = feed.Flow(tick, bytes, kMB, 250, 250);
  EXPECT_EQ(feed.shown.back().second, L"3.0 MB of 20.0 MB, about 15 s left");  // 17 s
  bytes = feed.Flow(tick, bytes, kMB, 9000, 250);
  EXPECT_EQ(feed.shown.back().second, L"12.0 MB of 20.0 MB, about 10 s left");  // 8 s
  feed.Flow(tick, bytes, kMB, 8000, 250);
  EXPECT_EQ(feed.shown.back().second, L"20.0 MB of 20.0 MB");  // done: no time left
}

TEST(TransferFigures, ResumedBytesCountInTheFiguresButNotInTheRate) {
  Feed feed(UiLanguage::kChinese);
  std::uint32_t tick = 0;
  feed.Start(tick, 50 * kMB, 85 * kMB);
  EXPECT_EQ(feed.At(tick, 50 * kMB), L"已下载 50.0 MB / 85.0 MB");
  // This attempt brings 1 MB/s: 35 MB take 35 s. Counting the 50 MB already
  // there as this attempt's would make it seconds.
  std::uint64_t bytes = feed.Flow(tick, 50 * kMB, kMB, 4000, 250);
  EXPECT_EQ(feed.shown.back().second, L"已下载 54.0 MB / 85.0 MB，剩余约 30 秒");  // 31 s
  feed.Flow(tick, bytes, kMB, 20000, 250);
  EXPECT_EQ(feed.shown.back().second, L"已下载 74.0 MB / 85.0 MB，剩余约 10 秒");  // 11 s
}

TEST(TransferFigures, ANewAttemptForgetsTheRateAndShowsAtOnce) {
  Feed feed;
  std::uint32_t tick = 0;
  feed.Start(tick, 0, 100 * kMB);
  feed.At(tick, 0);
  feed.Flow(tick, 0, kMB, 5000, 250);
  ASSERT_EQ(feed.shown.back().second, L"5.0 MB of 100.0 MB, about 2 min left");
  // Cut; the next attempt starts from byte 0 on a much slower link.
  tick += 50;
  feed.Start(tick, 0, 100 * kMB);
  EXPECT_EQ(feed.At(tick, 0), L"0.0 MB of 100.0 MB");
  std::uint64_t bytes = feed.Flow(tick, 0, 100 * kKB, 2750, 250);
  EXPECT_EQ(feed.shown.back().second, L"0.3 MB of 100.0 MB");
  feed.Flow(tick, bytes, 100 * kKB, 250, 250);
  // 300 KB at 100 KB/s: about 17 min left, nothing of the fast link's minutes.
  EXPECT_EQ(feed.shown.back().second, L"0.3 MB of 100.0 MB, about 17 min left");
}

TEST(TransferFigures, WithoutATotalOnlyTheReceivedMegabytes) {
  Feed feed;
  std::uint32_t tick = 0;
  feed.Start(tick, 0, 0);
  feed.At(tick, 0);
  feed.Flow(tick, 0, kMB, 10000, 250);
  for (const auto& [when, line] : feed.shown) {
    EXPECT_EQ(line.find(L"of"), std::wstring::npos) << line;
  }
  EXPECT_EQ(feed.shown.back().second, L"10.0 MB");
}

// The shown time left of a link whose bytes come in bursts: each second
// alternately twice the average and nothing, with reports in uneven chunks.
// A plain "bytes in the last interval" estimate would swing between half and
// infinity; the line must only count down, in few steps.
TEST(TransferFigures, TheTimeLeftOfABurstyLinkOnlyCountsDown) {
  Feed feed;
  std::uint32_t tick = 0;
  const std::uint64_t total = 60 * kMB;  // 60 s at 1 MB/s on average
  feed.Start(tick, 0, total);
  std::uint64_t bytes = 0;
  feed.At(tick, bytes);
  while (bytes < total) {
    const bool busy = (tick / 1000) % 2 == 0;
    tick += busy ? 70 : 330;
    if (busy) bytes += 2 * kMB * 70 / 1000 + 3000 * ((tick / 70) % 3);  // uneven chunks
    if (bytes > total) bytes = total;
    feed.At(tick, bytes);
  }
  std::vector<double> left;
  for (const auto& [when, line] : feed.shown) {
    const std::size_t about = line.find(L"about ");
    if (about == std::wstring::npos) continue;
    const std::wstring figure = line.substr(about + 6);
    const double value = std::stod(figure);
    left.push_back(figure.find(L"min") != std::wstring::npos ? value * 60 : value);
  }
  ASSERT_GE(left.size(), 5u);
  std::size_t changes = 0;
  for (std::size_t i = 1; i < left.size(); ++i) {
    EXPECT_LE(left[i], left[i - 1]) << "the time left went up at line " << i;
    if (left[i] != left[i - 1]) ++changes;
  }
  // From about a minute down to 5 s in 5 s steps: at most a dozen changes.
  EXPECT_LE(changes, 12u);
}

TEST(TransferFigures, TheTimeLeftFollowsALinkThatSlowsDown) {
  Feed feed;
  std::uint32_t tick = 0;
  feed.Start(tick, 0, 100 * kMB);
  feed.At(tick, 0);
  std::uint64_t bytes = feed.Flow(tick, 0, kMB, 10000, 250);
  EXPECT_EQ(feed.shown.back().second, L"10.0 MB of 100.0 MB, about 2 min left");  // 90 s
  // Down to a quarter: 82.5 MB left at 256 KB/s are 330 s. A rising estimate
  // moves the line only once it is clearly higher, so it trails by a step.
  feed.Flow(tick, bytes, 256 * kKB, 30000, 250);
  EXPECT_EQ(feed.shown.back().second, L"17.5 MB of 100.0 MB, about 5 min left");
}

}  // namespace
}  // namespace tarnix
