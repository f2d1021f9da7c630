#include "download/stall_watch.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tarnix {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

constexpr std::uint32_t kLimit = 60000;
constexpr std::uint32_t kCheck = 1000;
// Status codes of progress reports that tell a step of the request, not data
// (BINDSTATUS_CONNECTING, _SENDINGREQUEST, _MIMETYPEAVAILABLE).
constexpr std::uint32_t kConnecting = 2;
constexpr std::uint32_t kSendingRequest = 11;
constexpr std::uint32_t kMimeTypeAvailable = 13;

TEST(ReportsData, OnlyADataCodeWhoseByteCountMovedTellsOfData) {
  struct Case {
    const char* name;
    std::uint32_t code;
    std::uint32_t progress;
    std::uint32_t lastDataProgress;
    bool data;
  } cases[] = {
      {"the first bytes", kBindStatusBeginDownloadData, 4096, 0, true},
      {"more bytes", kBindStatusDownloadingData, 8192, 4096, true},
      {"the last bytes", kBindStatusEndDownloadData, 9000, 8192, true},
      {"a data code without new bytes", kBindStatusDownloadingData, 8192, 8192, false},
      {"the end of an empty body", kBindStatusEndDownloadData, 0, 0, false},
      {"the count wrapped past 4 GiB", kBindStatusDownloadingData, 100, 0xFFFFF000u, true},
      {"connecting", kConnecting, 0, 0, false},
      {"a step of the request with a count", kSendingRequest, 5000, 4096, false},
      {"the MIME type", kMimeTypeAvailable, 0, 4096, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ReportsData(c.code, c.progress, c.lastDataProgress), c.data) << c.name;
}

// Virtual time for a watch run on the test's thread: every wait that is not
// stopped lets its time pass and then runs `during`, which plays the download
// thread's part at that moment (data, the binding's end, the guard's stop).
class FakeStallWatchPlatform : public StallWatchPlatform {
 public:
  explicit FakeStallWatchPlatform(std::uint32_t startTick) : start(startTick), now(startTick) {}

  const std::uint32_t start;
  std::uint32_t now;
  bool stopSignalled = false;
  std::function<void(std::uint32_t elapsed)> during;
  // Runs on every reading of the clock, before it returns.
  std::function<void(std::uint32_t elapsed)> onTick;

  std::uint32_t Elapsed() const { return now - start; }

  std::uint32_t TickMs() override {
    if (onTick) onTick(Elapsed());
    return now;
  }
  bool WaitForStop(std::uint32_t ms) override {
    if (stopSignalled) return true;
    if (Elapsed() > 10 * kLimit) {
      ADD_FAILURE() << "the watch never ended";
      return true;
    }
    now += ms;
    if (during) during(Elapsed());
    return stopSignalled;
  }
  void SignalStop() override { stopSignalled = true; }
  void SignalAbortEnded() override { abortEnded = true; }
  bool WaitForAbortEnd(std::uint32_t ms) override {
    abortWaits.push_back(ms);
    return abortEnded;
  }
  bool PromptStands() override { return promptStands && promptStands(Elapsed()); }
  // Whether a prompt stands at an elapsed time; none when unset.
  std::function<bool(std::uint32_t elapsed)> promptStands;
  bool abortEnded = false;
  std::vector<std::uint32_t> abortWaits;  // the time each wait for the abort was given
};

// Logs its abort and its release with the virtual time, after its name
// when it has one.
class LoggingBinding : public StallBinding {
 public:
  LoggingBinding(FakeStallWatchPlatform& platform, std::vector<std::string>& log,
                 std::string name = "")
      : platform_(platform), log_(log), prefix_(name.empty() ? "" : name + ": ") {}
  ~LoggingBinding() override {
    log_.push_back(prefix_ + "released at " + std::to_string(platform_.Elapsed()));
  }
  void Abort() override {
    log_.push_back(prefix_ + "abort at " + std::to_string(platform_.Elapsed()));
  }

 private:
  FakeStallWatchPlatform& platform_;
  std::vector<std::string>& log_;
  std::string prefix_;
};

TEST(StallWatchTest, AbortsOnceAfterTheLimitWithoutDataAndReleasesTheBindingOnce) {
  struct Case {
    const char* name;
    std::uint32_t startTick;
    bool binding;
    // The download thread's part at each elapsed time.
    std::function<void(StallWatch&, std::uint32_t)> download;
    std::vector<std::string> log;
    // Whether a prompt stands (the dialog disabled) at each elapsed time.
    std::function<bool(std::uint32_t)> prompt = nullptr;
  } cases[] = {
      {"data keeps arriving, then the download ends",
       0,
       true,
       [](StallWatch& w, std::uint32_t t) {
         w.NoteProgress(kBindStatusDownloadingData, t);
         if (t == 3 * kLimit) w.Stop();
       },
       {"released at 180000"}},
      // Reports keep coming, but none with new bytes: a step of the request,
      // or a data code that repeats its count.
      {"reports without new data after the first bytes",
       0,
       true,
       [](StallWatch& w, std::uint32_t t) {
         if (t == 1000) w.NoteProgress(kBindStatusBeginDownloadData, 4096);
         w.NoteProgress(kBindStatusDownloadingData, 4096);
         w.NoteProgress(kSendingRequest, 0);
       },
       {"abort at 61000", "released at 61000"}},
      {"no data at all", 0, true, nullptr, {"abort at 60000", "released at 60000"}},
      {"data, then silence",
       0,
       true,
       [](StallWatch& w, std::uint32_t t) {
         if (t <= 5000) w.NoteData();
       },
       {"abort at 65000", "released at 65000"}},
      // Silence that starts well before the wrap of the tick count, and less
      // than the limit before it (a comparison of last + limit with now would
      // overflow there and abort at once), and data just before the wrap.
      {"silence across the wrap, 65.5 s before it",
       0xFFFF0000u,
       true,
       nullptr,
       {"abort at 60000", "released at 60000"}},
      {"silence across the wrap, 30 s before it",
       0xFFFFFFFFu - 29999u,
       true,
       nullptr,
       {"abort at 60000", "released at 60000"}},
      {"silence across the wrap, 1 ms before it",
       0xFFFFFFFFu,
       true,
       nullptr,
       {"abort at 60000", "released at 60000"}},
      {"data until 1 s before the wrap, then silence",
       0xFFFFFFFFu - 4999u,
       true,
       [](StallWatch& w, std::uint32_t t) {
         if (t <= 4000) w.NoteData();
       },
       {"abort at 64000", "released at 64000"}},
      {"a pause just short of the limit",
       0,
       true,
       [](StallWatch& w, std::uint32_t t) {
         if (t == 59000 || t == 118000) w.NoteData();
         if (t == 177000) w.Stop();
       },
       {"released at 177000"}},
      {"the download ends before the limit",
       0,
       true,
       [](StallWatch& w, std::uint32_t t) {
         if (t == 30000) w.Stop();
       },
       {"released at 30000"}},
      {"the binding ends, then the guard stops",
       0,
       true,
       [](StallWatch& w, std::uint32_t t) {
         if (t == 30000) w.Stop();  // OnStopBinding
         if (t == 30000) w.Stop();  // the guard, after the download returned
       },
       {"released at 30000"}},
      // A credentials prompt stands while the user types: no abort, however
      // long; once it has closed the limit counts afresh. urlmon delivers its
      // status reports through the prompt's own modal loop: they end neither
      // the hold nor the prompt's time.
      {"a prompt answered after five minutes while status reports arrive, data, then silence",
       0,
       true,
       [](StallWatch& w, std::uint32_t t) {
         if (t <= 5000) w.NoteProgress(kBindStatusDownloadingData, t);
         if (t == 10000) w.Hold();
         if (t > 10000 && t < 310000) {
           w.NoteProgress(kConnecting, 0);
           w.NoteProgress(kBindStatusDownloadingData, 5000);
         }
         if (t == 312000) w.NoteProgress(kBindStatusEndDownloadData, 6000);
       },
       {"abort at 372000", "released at 372000"},
       [](std::uint32_t t) { return t > 10000 && t < 310000; }},
      // The repeated request after the prompt stalls before any report: the
      // silence counts from the prompt's close, not never.
      {"a prompt answered after five minutes, then no answer at all",
       0,
       true,
       [](StallWatch& w, std::uint32_t t) {
         if (t == 10000) w.Hold();
       },
       {"abort at 370000", "released at 370000"},
       [](std::uint32_t t) { return t > 10000 && t <= 310000; }},
      // Asked for a window, the system showed no prompt after all: the
      // request restarts nothing, the silence counts from the last data.
      {"a window asked for, no prompt shown",
       0,
       true,
       [](StallWatch& w, std::uint32_t t) {
         if (t <= 5000) w.NoteData();
         if (t == 30000) w.Hold();
       },
       {"abort at 65000", "released at 65000"}},
      {"window requests in a loop, no prompt, no data",
       0,
       true,
       [](StallWatch& w, std::uint32_t t) {
         if (t <= 5000) w.NoteProgress(kBindStatusDownloadingData, t);
         if (t > 5000) {
           w.Hold();
           w.NoteProgress(kSendingRequest, 0);
         }
       },
       {"abort at 65000", "released at 65000"}},
      {"a prompt left open until the dialog goes",
       0,
       true,
       [](StallWatch& w, std::uint32_t t) {
         if (t == 1000) w.Hold();
         if (t == 9 * kLimit) w.Stop();
       },
       {"released at 540000"},
       [](std::uint32_t t) { return t > 1000; }},
      // A disabled dialog outside a Hold (the watch asks only during one) does
      // not hold the watch.
      {"the dialog disabled without a prompt's request",
       0,
       true,
       nullptr,
       {"abort at 60000", "released at 60000"},
       [](std::uint32_t) { return true; }},
      {"no binding to abort",
       0,
       false,
       [](StallWatch& w, std::uint32_t t) {
         if (t == 2 * kLimit) w.Stop();
       },
       {}},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> log;
    auto owned = std::make_unique<FakeStallWatchPlatform>(c.startTick);
    FakeStallWatchPlatform& platform = *owned;
    auto watch = std::make_shared<StallWatch>(kLimit, kCheck, std::move(owned));
    if (c.binding) watch->SetBinding(std::make_unique<LoggingBinding>(platform, log));
    if (c.download) platform.during = [&](std::uint32_t t) { c.download(*watch, t); };
    platform.promptStands = c.prompt;

    watch->Run();
    // The download returns (aborted or not) and the guard stops the watch.
    platform.during = nullptr;
    watch->Stop();
    watch.reset();
    EXPECT_THAT(log, ElementsAreArray(c.log));
  }
}

TEST(StallWatchTest, OnlyTheFirstBindingIsKeptAndAborted) {
  std::vector<std::string> log;
  auto owned = std::make_unique<FakeStallWatchPlatform>(0);
  FakeStallWatchPlatform& platform = *owned;
  auto watch = std::make_unique<StallWatch>(kLimit, kCheck, std::move(owned));
  watch->SetBinding(std::make_unique<LoggingBinding>(platform, log, "first"));
  watch->SetBinding(std::make_unique<LoggingBinding>(platform, log, "second"));
  EXPECT_THAT(log, ElementsAre("second: released at 0")) << "the second one is let go at once";
  watch->Run();
  // One set after the abort is let go at once as well.
  watch->SetBinding(std::make_unique<LoggingBinding>(platform, log, "third"));
  watch->Stop();
  watch.reset();
  EXPECT_THAT(log, ElementsAre("second: released at 0", "first: abort at 60000",
                               "third: released at 60000", "first: released at 60000"));
}

// The download thread's stop can come at any moment of the watch's check;
// here just after the watch read the clock and found the download stalled,
// before it claimed the binding for the abort.
TEST(StallWatchTest, AStopBetweenTheStallDecisionAndTheAbortAbortsNothing) {
  std::vector<std::string> log;
  auto owned = std::make_unique<FakeStallWatchPlatform>(0);
  FakeStallWatchPlatform& platform = *owned;
  auto watch = std::make_shared<StallWatch>(kLimit, kCheck, std::move(owned));
  watch->SetBinding(std::make_unique<LoggingBinding>(platform, log));
  platform.onTick = [&](std::uint32_t t) {
    if (t == kLimit) watch->Stop();
  };
  watch->Run();
  platform.onTick = nullptr;
  EXPECT_THAT(log, ElementsAre("released at 60000")) << "released by the stop, not aborted";
  watch->Stop();  // the guard's own stop, after the download returned
  watch.reset();
  EXPECT_THAT(log, ElementsAre("released at 60000")) << "released once";
}

// The download thread's Finish, with the guard's wait, once the download call
// has returned. A watch that still watches is stopped: its binding is released
// at once, inside Finish, on the calling thread, and the watch's thread, when
// it runs, aborts nothing. An abort under way is waited for 5 s at most; one
// that outlasts the wait keeps the binding until it has returned.
TEST(StallWatchTest, FinishStopsAWatchAtOnceAndWaitsAtMostFiveSecondsForAnAbortUnderWay) {
  {
    SCOPED_TRACE("still watching");
    std::vector<std::string> log;
    auto owned = std::make_unique<FakeStallWatchPlatform>(0);
    FakeStallWatchPlatform& platform = *owned;
    auto watch = std::make_shared<StallWatch>(kLimit, kCheck, std::move(owned));
    watch->SetBinding(std::make_unique<LoggingBinding>(platform, log));
    watch->Finish(kStallAbortWaitMs);
    EXPECT_THAT(log, ElementsAre("released at 0"));
    EXPECT_TRUE(platform.stopSignalled);
    EXPECT_THAT(platform.abortWaits, ElementsAre()) << "no abort to wait for";
    platform.stopSignalled = false;  // the watch's thread may miss the signal: the phase decides
    watch->Run();
    watch.reset();
    EXPECT_THAT(log, ElementsAre("released at 0")) << "nothing aborted, released once";
  }
  {
    SCOPED_TRACE("an abort under way that outlasts the wait");
    std::vector<std::string> log;
    auto owned = std::make_unique<FakeStallWatchPlatform>(0);
    FakeStallWatchPlatform& platform = *owned;
    auto watch = std::make_shared<StallWatch>(kLimit, kCheck, std::move(owned));
    struct FinishedDuringAbort : LoggingBinding {
      using LoggingBinding::LoggingBinding;
      std::function<void()> duringAbort;
      void Abort() override {
        LoggingBinding::Abort();
        duringAbort();
      }
    };
    auto binding = std::make_unique<FinishedDuringAbort>(platform, log);
    binding->duringAbort = [&] {
      watch->Finish(kStallAbortWaitMs);
      log.push_back("finished");
    };
    watch->SetBinding(std::move(binding));
    watch->Run();
    EXPECT_THAT(platform.abortWaits, ElementsAre(5000u));
    watch.reset();
    EXPECT_THAT(log, ElementsAre("abort at 60000", "finished", "released at 60000"));
  }
}

class Latch {
 public:
  void Open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  bool WaitFor(std::chrono::seconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return open_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
};

// Real threads: a stop event made of a mutex and a condition variable, and
// virtual time that passes by the check interval on every wait.
class FakeThreadedStallWatchPlatform : public StallWatchPlatform {
 public:
  std::uint32_t TickMs() override { return now_.load(); }
  bool PromptStands() override { return false; }
  bool WaitForStop(std::uint32_t ms) override {
    std::unique_lock<std::mutex> lock(mutex_);
    if (changed_.wait_for(lock, std::chrono::milliseconds(1), [this] { return stopped_; })) {
      return true;
    }
    now_ += ms;
    return false;
  }
  void SignalStop() override {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
    changed_.notify_all();
  }
  void SignalAbortEnded() override {
    std::lock_guard<std::mutex> lock(mutex_);
    abortEnded_ = true;
    changed_.notify_all();
  }
  // Real time: the bound is what keeps a download thread from waiting for
  // an abort that needs it.
  bool WaitForAbortEnd(std::uint32_t ms) override {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return abortEnded_; });
  }

 private:
  std::atomic<std::uint32_t> now_{0};
  std::mutex mutex_;
  std::condition_variable changed_;
  bool stopped_ = false;
  bool abortEnded_ = false;
};

// Records on which thread it is released, and how often; its abort returns
// once `mayReturn` opens (or gives up after 30 s).
class BlockingBinding : public StallBinding {
 public:
  BlockingBinding(Latch& started, Latch& mayReturn, std::atomic<bool>& gaveUp,
                  std::atomic<int>& released, std::thread::id& releasedOnThread)
      : started_(started),
        mayReturn_(mayReturn),
        gaveUp_(gaveUp),
        released_(released),
        releasedOn_(releasedOnThread) {}
  ~BlockingBinding() override {
    releasedOn_ = std::this_thread::get_id();
    ++released_;
  }
  void Abort() override {
    started_.Open();
    if (!mayReturn_.WaitFor(std::chrono::seconds(30))) gaveUp_ = true;
  }

 private:
  Latch& started_;
  Latch& mayReturn_;
  std::atomic<bool>& gaveUp_;
  std::atomic<int>& released_;
  std::thread::id& releasedOn_;
};

// The binding belongs to the download thread, and its abort may need that
// thread: here it returns only once the download thread has come back from
// finishing the watch. The download thread's wait for the abort is bounded,
// so it comes back; the binding is then left to the thread that aborted it.
TEST(StallWatchTest, TheDownloadThreadNeverWaitsLongForAnAbortThatNeedsIt) {
  Latch abortStarted;
  Latch downloadThreadRan;
  std::atomic<bool> abortGaveUp{false};
  std::atomic<int> releases{0};
  std::thread::id releasedOn;

  auto watch = std::make_shared<StallWatch>(5 * kCheck, kCheck,
                                            std::make_unique<FakeThreadedStallWatchPlatform>());
  watch->SetBinding(std::make_unique<BlockingBinding>(abortStarted, downloadThreadRan, abortGaveUp,
                                                      releases, releasedOn));
  std::thread watchThread([share = watch]() mutable {
    share->Run();
    share.reset();
  });
  std::thread::id watchThreadId = watchThread.get_id();

  ASSERT_TRUE(abortStarted.WaitFor(std::chrono::seconds(30))) << "the stall was never noticed";
  // The binding ends (its stop never waits), the download returns and the
  // guard finishes the watch while the abort waits.
  watch->Stop();
  watch->Finish(200);
  watch.reset();
  downloadThreadRan.Open();
  watchThread.join();

  EXPECT_FALSE(abortGaveUp) << "the download thread waited for the abort without a bound";
  EXPECT_EQ(releases, 1);
  EXPECT_EQ(releasedOn, watchThreadId) << "released after the abort, by the thread that made it";
}

// An abort under way when the download call returns: the download thread
// waits for it and releases the binding itself, on its own thread (inside
// its apartment), whether the abort returned before the wait or during it.
TEST(StallWatchTest, FinishWaitsForAnAbortUnderWayAndReleasesTheBindingOnItsOwnThread) {
  for (bool returnsDuringTheWait : {false, true}) {
    SCOPED_TRACE(returnsDuringTheWait ? "the abort returns during the wait"
                                      : "the abort returned before the wait");
    Latch abortStarted;
    Latch abortMayReturn;
    std::atomic<bool> abortGaveUp{false};
    std::atomic<int> releases{0};
    std::thread::id releasedOn;

    auto watch = std::make_shared<StallWatch>(5 * kCheck, kCheck,
                                              std::make_unique<FakeThreadedStallWatchPlatform>());
    watch->SetBinding(std::make_unique<BlockingBinding>(abortStarted, abortMayReturn, abortGaveUp,
                                                        releases, releasedOn));
    std::thread watchThread([share = watch]() mutable {
      share->Run();
      share.reset();
    });
    ASSERT_TRUE(abortStarted.WaitFor(std::chrono::seconds(30))) << "the stall was never noticed";
    watch->Stop();  // the binding's end, while the abort runs
    EXPECT_EQ(releases, 0) << "the binding's end must not release what the abort uses";
    std::thread opener;
    if (returnsDuringTheWait) {
      opener = std::thread([&abortMayReturn] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        abortMayReturn.Open();
      });
    } else {
      abortMayReturn.Open();
    }
    watch->Finish(30000);
    EXPECT_EQ(releases, 1) << "released before Finish returned";
    EXPECT_EQ(releasedOn, std::this_thread::get_id());
    watch->Finish(30000);  // the guard's destructor: nothing more
    watch.reset();
    if (opener.joinable()) opener.join();
    watchThread.join();
    EXPECT_EQ(releases, 1);
    EXPECT_FALSE(abortGaveUp);
  }
}

}  // namespace
}  // namespace tarnix
