#include "report/report_flight.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarnix {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr ThreadHandle kThread = 0x77;

// Threads that run only when the test says so, and a tick counter the test
// moves. A wait that the thread does not end in time uses up its time-out.
class FakeReportFlightPlatform : public ReportFlightPlatform {
 public:
  std::uint32_t tick = 0xFFFFFF00u;  // the counter wraps during a wait
  bool canStart = true;
  bool ended = false;
  std::vector<std::string> calls;

  ~FakeReportFlightPlatform() override {
    if (proc_ != nullptr) RunThread();  // a started thread always runs in the end
  }

  ThreadHandle BeginThread(ThreadProc proc, void* parameter) override {
    calls.push_back("begin");
    if (!canStart) return 0;
    proc_ = proc;
    parameter_ = parameter;
    return kThread;
  }
  bool WaitForThread(ThreadHandle thread, std::uint32_t timeoutMs) override {
    calls.push_back("wait " + std::to_string(timeoutMs) + (thread == kThread ? "" : " (?)"));
    if (!ended) tick += timeoutMs;
    return ended;
  }
  void CloseThread(ThreadHandle thread) override {
    calls.push_back(thread == kThread ? "close" : "close (?)");
  }
  std::uint32_t TickMs() override { return tick; }

  // The thread's whole life, as the system would run it.
  void RunThread() {
    ThreadProc proc = proc_;
    proc_ = nullptr;
    proc(parameter_);
    ended = true;
  }

 private:
  ThreadProc proc_ = nullptr;
  void* parameter_ = nullptr;
};

class ReportFlightTest : public ::testing::Test {
 protected:
  std::vector<std::uint32_t> jobRuns;  // the start tick each run was given
  FakeReportFlightPlatform threads;
  std::optional<ReportFlight> flight{std::in_place, threads};

  ReportFlight::Job Job() {
    return [this](std::uint32_t startTick) { jobRuns.push_back(startTick); };
  }
};

TEST_F(ReportFlightTest, StartReturnsAtOnceAndTheJobRunsOnItsThreadWithTheStartTick) {
  const std::uint32_t startTick = threads.tick;
  EXPECT_TRUE(flight->Start(Job()));
  EXPECT_THAT(jobRuns, IsEmpty()) << "nothing of the job runs on the caller's thread";
  threads.tick += 40;
  threads.RunThread();
  EXPECT_THAT(jobRuns, ElementsAre(startTick));
}

TEST_F(ReportFlightTest, WaitGivesTheJobWhatIsLeftOfTheBudgetAcrossTheTickWrap) {
  struct Case {
    std::uint32_t elapsedMs;  // from the start to the wait (the host's start and more)
    const char* wait;
  };
  const Case cases[] = {
      {0, "wait 10000"}, {300, "wait 9700"}, {9999, "wait 1"},
      {10000, "wait 0"},  // the budget is spent: only a look whether the job ended
      {25000, "wait 0"},
  };
  for (const Case& c : cases) {
    FakeReportFlightPlatform fake;
    ReportFlight caseFlight(fake);
    ASSERT_TRUE(caseFlight.Start([](std::uint32_t) {}));
    fake.tick += c.elapsedMs;
    EXPECT_FALSE(caseFlight.Wait()) << c.elapsedMs;
    EXPECT_THAT(fake.calls, ElementsAre("begin", c.wait)) << c.elapsedMs;
  }
}

TEST_F(ReportFlightTest, AJobThatEndsInTimeIsWaitedForOnceAndItsHandleClosedOnce) {
  ASSERT_TRUE(flight->Start(Job()));
  threads.RunThread();
  EXPECT_TRUE(flight->Wait());
  EXPECT_TRUE(flight->Wait());
  flight.reset();
  EXPECT_THAT(threads.calls, ElementsAre("begin", "wait 10000", "close"));
}

TEST_F(ReportFlightTest, AJobStillRunningAtTheEndOfTheBudgetIsLeftRunning) {
  ASSERT_TRUE(flight->Start(Job()));
  EXPECT_FALSE(flight->Wait());
  EXPECT_FALSE(flight->Wait()) << "the budget is spent";
  flight.reset();  // releases the handle, does not wait
  EXPECT_THAT(threads.calls, ElementsAre("begin", "wait 10000", "wait 0", "close"));
  threads.RunThread();  // the job owns what it uses: it may still run after its flight
  EXPECT_EQ(jobRuns.size(), 1u);
}

TEST_F(ReportFlightTest, WithoutAThreadTheReportIsDroppedAndNothingWaits) {
  threads.canStart = false;
  auto owned = std::make_shared<int>(0);
  std::weak_ptr<int> watch = owned;
  EXPECT_FALSE(flight->Start(
      [owned = std::move(owned), this](std::uint32_t startTick) { jobRuns.push_back(startTick); }));
  EXPECT_TRUE(watch.expired()) << "the job is released";
  EXPECT_TRUE(flight->Wait());
  EXPECT_THAT(jobRuns, IsEmpty());
  EXPECT_THAT(threads.calls, ElementsAre("begin"));
}

TEST_F(ReportFlightTest, OnlyOneReportPerFlight) {
  ASSERT_TRUE(flight->Start(Job()));
  EXPECT_FALSE(flight->Start(Job()));
  threads.RunThread();
  EXPECT_EQ(jobRuns.size(), 1u);
  EXPECT_THAT(threads.calls, ElementsAre("begin"));
}

}  // namespace
}  // namespace tarnix
