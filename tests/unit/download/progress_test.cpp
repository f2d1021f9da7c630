#include "download/progress.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace tarnix {
namespace {

TEST(ProgressPosition, TruncatesInDoublePrecisionWithoutClamping) {
  struct Case {
    std::uint32_t progress;
    std::uint32_t max;
    int position;
  };
  const Case cases[] = {
      {50, 200, 25},
      {1, 3, 33},  // truncation, not rounding
      {2, 3, 66},  // 66.67 is not rounded up
      {0, 200, 0},
      {4294967295u, 4294967295u, 100},  // no 32-bit overflow in progress * 100
      {4294967294u, 4294967295u, 99},   // just below the maximum stays below 100
      {300, 200, 150},                  // above the total: no clamping
      {4294967295u, 1, INT_MAX},        // far beyond any int: held, not undefined
  };
  for (const Case& c : cases) {
    std::optional<int> position = ProgressPosition(c.progress, c.max);
    ASSERT_TRUE(position.has_value()) << c.progress << " of " << c.max;
    EXPECT_EQ(*position, c.position) << c.progress << " of " << c.max;
  }
  EXPECT_FALSE(ProgressPosition(10, 0).has_value());
}

class RecordingBar : public ProgressSink {
 public:
  void SetPos(int position) override { calls.push_back("SetPos " + std::to_string(position)); }
  void UpdateWindow() override { calls.push_back("UpdateWindow"); }
  std::vector<std::string> calls;
};

TEST(ReportProgress, MovesThenRepaintsTheBarAndReturnsOk) {
  RecordingBar bar;
  EXPECT_EQ(ReportProgress(bar, 50, 200), kResultOk);
  EXPECT_EQ(bar.calls, (std::vector<std::string>{"SetPos 25", "UpdateWindow"}));
}

TEST(ReportProgress, UnknownTotalLeavesTheBarAloneAndReturnsFalse) {
  RecordingBar bar;
  EXPECT_EQ(ReportProgress(bar, 12345, 0), kResultFalse);
  EXPECT_EQ(ReportProgress(bar, 0, 0), kResultFalse);
  EXPECT_TRUE(bar.calls.empty());
}

TEST(IsStalled, CountsElapsedTicksAcrossTheWrapOfTheTickCount) {
  EXPECT_FALSE(IsStalled(1000, 60999, 60000));
  EXPECT_TRUE(IsStalled(1000, 61000, 60000));
  // The tick count wrapped between the last data and now: 2000 ticks passed.
  EXPECT_FALSE(IsStalled(0xFFFFFC18u, 1000, 60000));
  EXPECT_TRUE(IsStalled(0xFFFFFC18u, 59000, 60000));
}

}  // namespace
}  // namespace tarnix
