#include "download/download_worker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "download/bind_answers.h"
#include "download/progress.h"
#include "fakes/fake_installer_trust.h"
#include "fakes/fake_log.h"
#include "fakes/fake_transfer_files.h"

namespace tarnix {
namespace {

using testing::FakeInstallerTrust;
using testing::RecordedLog;

const std::wstring kShippedPath = L"D:\\Offline\\TarnixSetup.exe";
constexpr long kNotFound = static_cast<std::int32_t>(0x800C0005u);  // INET_E_RESOURCE_NOT_FOUND
constexpr long kCut = static_cast<std::int32_t>(0x800C0007u);       // INET_E_DATA_NOT_AVAILABLE

// What the server (or the network) does with one request.
struct Answer {
  std::uint32_t status = 200;
  std::wstring headers = L"Content-Length: 1000\r\nETag: \"v1\"\r\n";
  std::size_t bodyBytes = 1000;  // of the file, from the first byte asked for
  long result = 0;               // the binding's result
};

// Records every call in the log it shares with the trust fake, keeps the
// installer file it is handed, and plays scripted answers into each
// transfer's sink over an in-memory folder. COM joins and leaves go to a log
// of their own, with the number of shared-log entries before them.
class FakeDownloadPlatform : public testing::WithFakeFiles<DownloadPlatform> {
 public:
  explicit FakeDownloadPlatform(std::vector<std::wstring>& sharedLog) : log(sharedLog) {}
  long comResult = kComOk;
  // The answers to the first attempts, in order; `answer` answers the rest.
  std::vector<Answer> answers;
  Answer answer;
  std::uint32_t tick = 0;
  int attempts = 0;
  InstallerFile handedOver;
  std::wstring handedOverPath;
  // Whether the installer beside the launcher (kShippedPath) is there.
  bool shippedPresent = true;
  std::vector<std::wstring>& log;
  std::vector<std::wstring> com;

  long Transfer(const std::wstring& url, TransferSink& sink, TransferCounts* counts) override {
    const std::wstring headers = sink.RequestHeaders();
    log.push_back(L"transfer " + url + (headers.empty() ? L"" : L" with " + headers));
    tick += 250;  // every attempt takes a quarter of a second
    std::size_t index = static_cast<std::size_t>(attempts++);
    const Answer& a = index < answers.size() ? answers[index] : answer;
    counts->httpStatus = a.status;
    if (a.status != 0 && sink.Response(a.status, a.headers) != kResultOk) return kResultAbort;
    const std::string body(a.bodyBytes, 'x');
    if (!body.empty() &&
        !sink.Body(reinterpret_cast<const std::uint8_t*>(body.data()), body.size()))
      return kResultAbort;
    counts->received = static_cast<std::uint32_t>(a.bodyBytes);
    return a.result;
  }
  void DeleteCacheEntry(const std::wstring& url) override { log.push_back(L"uncache " + url); }
  void SetProgress(int position) override { log.push_back(L"bar " + std::to_wstring(position)); }
  std::vector<std::wstring> lines;  // what the line under the bar showed as attempts started
  void ShowStart(std::uint64_t alreadyThere, std::uint64_t total) override {
    lines.push_back(std::to_wstring(alreadyThere) + L" of " + std::to_wstring(total));
  }
  void Pause(std::uint32_t milliseconds) override {
    log.push_back(L"pause " + std::to_wstring(milliseconds));
    tick += milliseconds;
  }
  std::uint32_t TickMs() override { return tick; }
  bool QueryFileSize(const std::wstring& path, std::uint64_t* size) override {
    if (path == kShippedPath) {
      if (shippedPresent) *size = 5000;
      return shippedPresent;
    }
    std::uint64_t ignored = 0;
    return files.QueryFile(path, size, &ignored);
  }
  void RemoveFile(const std::wstring& path) override {
    log.push_back(L"remove " + path);
    files.DeleteFile(path);
  }
  // File identities by path; a path not here has none that can be read.
  std::map<std::wstring, FileIdentity> identities;
  bool QueryFileIdentity(const std::wstring& path, FileIdentity* identity) override {
    auto found = identities.find(path);
    if (found == identities.end()) return false;
    *identity = found->second;
    return true;
  }
  void SignalFinished(InstallerFile installer, const std::wstring& path) override {
    log.push_back(L"signal");
    handedOver = std::move(installer);
    handedOverPath = path;
  }
  void ShowMessage(UiText text) override {
    log.push_back(std::wstring(L"message ") + UiTextIn(UiLanguage::kChinese, text));
  }
  long InitializeCom() override {
    com.push_back(L"init after " + std::to_wstring(log.size()));
    return comResult;
  }
  void UninitializeCom() override { com.push_back(L"uninit after " + std::to_wstring(log.size())); }
};

struct Fixture {
  std::vector<std::wstring> log;
  FakeInstallerTrust trust{log};
  FakeDownloadPlatform platform{log};
};

const DownloadJobRecord kJob{L"http://host/file", L"C:\\T\\TarnixSetup.exe", L"", L""};
const std::wstring kUncache = L"uncache http://host/file";
const std::wstring kDownload = L"transfer http://host/file";
const std::wstring kOpen = L"open C:\\T\\TarnixSetup.exe";
const std::wstring kVerify = L"verify C:\\T\\TarnixSetup.exe";
const std::wstring kRemove = L"remove C:\\T\\TarnixSetup.exe";

std::size_t CountOf(const std::vector<std::wstring>& log, const std::wstring& entry) {
  return static_cast<std::size_t>(std::count(log.begin(), log.end(), entry));
}

TEST(RunDownload, ATrustedInstallerIsHandedOverStillOpenAndSignalledExactlyOnce) {
  Fixture f;
  RunDownload(kJob, L"Korvane", f.platform, f.trust);
  EXPECT_EQ(f.log,
            (std::vector<std::wstring>{kUncache, L"bar 0", kDownload, kOpen, L"read", L"read",
                                       L"read", kVerify, L"signer", L"close state", L"signal"}));
  EXPECT_EQ(f.platform.handedOver.Get(), FakeInstallerTrust::kFile);
  EXPECT_EQ(f.platform.handedOverPath, kJob.path);
  EXPECT_EQ(f.platform.files.files.size(), 1u);  // the installer alone: no partial file, no record
}

TEST(RunDownload, AnAttemptIsLoggedAsItStartsAndAsItEnds) {
  Fixture f;
  RecordedLog lines;
  RunDownload(kJob, L"Korvane", f.platform, f.trust);
  EXPECT_EQ(lines.With(L"download attempt"),
            (std::vector<std::wstring>{
                L"download attempt 1 of 3: \"http://host/file\" from byte 0",
                L"download attempt 1 of 3: result 0x00000000, HTTP status 200, 1000 bytes "
                L"received, 250 ms"}));
}

TEST(RunDownload, FailedAttemptsAreTriedThreeTimesThenFailOnceWithNothingLeftBehind) {
  // S_FALSE is a success code, but a body must arrive; INET_E_RESOURCE_NOT_FOUND
  // without any response, and E_ABORT, which the stall guard's abort gives.
  for (long result : {1L, kNotFound, kResultAbort}) {
    Fixture f;
    RecordedLog lines;
    f.platform.answer = Answer{0, L"", 0, result};
    RunDownload(kJob, L"Korvane", f.platform, f.trust);
    EXPECT_EQ(f.log,
              (std::vector<std::wstring>{kUncache, L"bar 0", kDownload, L"pause 2000", kUncache,
                                         L"bar 0", kDownload, L"pause 5000", kUncache, L"bar 0",
                                         kDownload, L"message 下载失败！"}))
        << std::hex << result;
    EXPECT_EQ(f.trust.Count(kOpen), 0);
    EXPECT_TRUE(f.platform.files.files.empty());
    ASSERT_EQ(lines.With(L"download attempt").size(), 6u);
    EXPECT_EQ(lines.With(L"download attempt")[5],
              L"download attempt 3 of 3: result " + LogHex(static_cast<std::uint32_t>(result)) +
                  L", no HTTP status, 0 bytes received, 250 ms, no HTTP response");
    EXPECT_EQ(lines.With(L"pause"),
              (std::vector<std::wstring>{L"download: pause of 2000 ms before attempt 2",
                                         L"download: pause of 5000 ms before attempt 3"}));
  }
}

// A 4xx is the server's last word, and the download ends at once; a 5xx, a
// timed-out request, too many requests and a proxy that wants credentials
// are tried again.
TEST(RunDownload, AFinalStatusEndsTheDownloadAtOnceAndOtherErrorsAreTriedAgain) {
  struct Case {
    std::uint32_t status;
    int attempts;
  };
  const Case cases[] = {{404, 1}, {403, 1}, {410, 1}, {401, 1}, {400, 1},
                        {407, 3}, {408, 3}, {429, 3}, {500, 3}, {503, 3}};
  for (const Case& c : cases) {
    Fixture f;
    RecordedLog lines;
    // Wine hands an error's page over as success.
    f.platform.answer = Answer{c.status, L"Content-Length: 180\r\n", 180, 0};
    RunDownload(kJob, L"Korvane", f.platform, f.trust);
    EXPECT_EQ(f.platform.attempts, c.attempts) << c.status;
    EXPECT_EQ(CountOf(f.log, L"message 下载失败！"), 1u) << c.status;
    EXPECT_EQ(f.trust.Count(kOpen), 0) << c.status;
    EXPECT_FALSE(f.platform.files.Has(kJob.path)) << c.status;
    EXPECT_EQ(lines.With(L"the server's answer is final").size(), c.attempts == 1 ? 1u : 0u)
        << c.status;
  }
}

TEST(RunDownload, ASuccessOnTheSecondOrThirdAttemptGoesOnToTheCheck) {
  // The first failure came back as success with an empty body, as a reset
  // can; the second (when there is one) with less than the announced total.
  const Answer flawed[] = {Answer{200, L"Content-Length: 1000\r\n", 0, 0},
                           Answer{200, L"Content-Length: 1000\r\n", 999, 0}};
  for (std::size_t failures : {1u, 2u}) {
    Fixture f;
    RecordedLog lines;
    f.platform.answers.assign(flawed, flawed + failures);
    RunDownload(kJob, L"Korvane", f.platform, f.trust);
    EXPECT_EQ(f.platform.attempts, static_cast<int>(failures) + 1);
    EXPECT_EQ(f.trust.Count(L"signal"), 1) << failures;
    EXPECT_TRUE(f.platform.handedOver.IsValid());
    EXPECT_EQ(CountOf(f.log, L"message 下载失败！"), 0u);
    EXPECT_EQ(lines.With(L"download attempt 1 of 3: result")[0],
              L"download attempt 1 of 3: result 0x00000000, HTTP status 200, 0 bytes received, "
              L"250 ms, the file has 0 bytes of 1000 bytes");
  }
}

// A cut transfer goes on from where it stopped in the next attempt, and the
// bar starts there.
TEST(RunDownload, TheAttemptAfterACutAsksForTheRestAndTheBarStartsWhereItStopped) {
  Fixture f;
  RecordedLog lines;
  f.platform.answers = {
      Answer{200, L"Content-Length: 1000\r\nETag: \"v1\"\r\n", 400, kCut},
      Answer{206, L"Content-Range: bytes 400-999/1000\r\nContent-Length: 600\r\n", 600, 0}};
  RunDownload(kJob, L"Korvane", f.platform, f.trust);
  EXPECT_EQ(f.platform.attempts, 2);
  EXPECT_EQ(CountOf(f.log, kDownload), 1u);
  EXPECT_EQ(CountOf(f.log, kDownload + L" with Range: bytes=400-\r\nIf-Range: \"v1\"\r\n"), 1u);
  EXPECT_EQ(CountOf(f.log, L"bar 40"), 1u);
  EXPECT_EQ(f.platform.lines, (std::vector<std::wstring>{L"0 of 0", L"400 of 1000"}));
  EXPECT_EQ(f.platform.files.Bytes(kJob.path).size(), 1000u);
  EXPECT_EQ(f.platform.handedOverPath, kJob.path);
  EXPECT_EQ(lines.With(L"download attempt"),
            (std::vector<std::wstring>{
                L"download attempt 1 of 3: \"http://host/file\" from byte 0",
                L"download attempt 1 of 3: result 0x800C0007, HTTP status 200, 400 bytes "
                L"received, 250 ms, the file has 400 bytes of 1000 bytes; 400 bytes kept for a "
                L"resume",
                L"download attempt 2 of 3: \"http://host/file\" from byte 400",
                L"download attempt 2 of 3: result 0x00000000, HTTP status 206, 600 bytes "
                L"received, 250 ms"}));
}

// A file put together from two transfers that fails the check may be a bad
// splice: it is downloaded whole once more, and only once.
TEST(RunDownload, AResumedFileThatFailsTheCheckIsDownloadedWholeOnceMore) {
  for (bool secondAlsoFails : {false, true}) {
    Fixture f;
    RecordedLog lines;
    const Answer cut{200, L"Content-Length: 1000\r\nETag: \"v1\"\r\n", 400, kCut};
    const Answer rest{206, L"Content-Range: bytes 400-999/1000\r\nContent-Length: 600\r\n", 600, 0};
    f.platform.answers = {cut, rest};
    int checks = 0;
    f.trust.beforeOpen = [&](const std::wstring&) {
      f.trust.signer = ++checks == 1 || secondAlsoFails ? L"Someone Else" : L"Korvane";
    };
    RunDownload(kJob, L"Korvane", f.platform, f.trust);
    EXPECT_EQ(f.platform.attempts, 3) << secondAlsoFails;  // the cut, the rest, the whole file
    EXPECT_EQ(CountOf(f.log, kDownload), 2u) << secondAlsoFails;
    EXPECT_EQ(checks, 2) << secondAlsoFails;
    EXPECT_EQ(lines.With(L"downloading it whole once more").size(), 1u);
    EXPECT_EQ(f.trust.Count(L"signal"), secondAlsoFails ? 0 : 1);
    EXPECT_EQ(CountOf(f.log, L"message 下载失败！"), secondAlsoFails ? 1u : 0u);
  }
}

TEST(RunDownload, ALauncherThatIsTheDownloadsOwnFileDownloadsNothing) {
  Fixture f;
  RecordedLog lines;
  DownloadJobRecord job = kJob;
  job.launcherPath = L"C:\\T\\TARNIX~1.EXE";  // the same file by its short name
  f.platform.identities = {{kJob.path, FileIdentity{7, 42}},
                           {job.launcherPath, FileIdentity{7, 42}}};
  RunDownload(job, L"Korvane", f.platform, f.trust);
  EXPECT_EQ(f.platform.attempts, 0);
  EXPECT_EQ(f.log.back(), L"message 下载失败！");
  EXPECT_EQ(lines.With(L"is the launcher itself; nothing is downloaded").size(), 1u);
}

TEST(RunDownload, APartialFileThatCannotBeOpenedFailsTheAttemptWithoutARequest) {
  Fixture f;
  RecordedLog lines;
  f.platform.files.opensRefused = kPartialFileAttempts;  // held for all of the first attempt
  RunDownload(kJob, L"Korvane", f.platform, f.trust);
  EXPECT_EQ(f.platform.attempts, 1);  // one request: the first attempt made none
  EXPECT_EQ(
      lines.With(L"download attempt 1 of 3: no request, the partial file cannot be opened").size(),
      1u);
  EXPECT_EQ(f.trust.Count(L"signal"), 1);
}

TEST(RunDownload, AnInstallerThatFailsTheCheckIsClosedThenDeletedAndReportedAsAFailedDownload) {
  struct Case {
    const char* name;
    void (*arrange)(FakeInstallerTrust&);
    bool opened;
  };
  const Case cases[] = {
      {"could not open", [](FakeInstallerTrust& t) { t.openErrors = {5}; }, false},
      {"not a program", [](FakeInstallerTrust& t) { t.bytes = {'<', 'h', 't', 'm', 'l', '>'}; },
       true},
      {"no signature",
       [](FakeInstallerTrust& t) { t.verifyResult = static_cast<long>(0x800B0100u); }, true},
      {"another signer", [](FakeInstallerTrust& t) { t.signer = L"Someone Else"; }, true},
  };
  for (const Case& c : cases) {
    Fixture f;
    c.arrange(f.trust);
    RunDownload(kJob, L"Korvane", f.platform, f.trust);
    // The same bytes would come again: a completed download is not retried.
    EXPECT_EQ(f.platform.attempts, 1) << c.name;
    EXPECT_EQ(f.trust.Count(L"signal"), 0) << c.name;
    EXPECT_FALSE(f.platform.handedOver.IsValid()) << c.name;
    EXPECT_FALSE(f.platform.files.Has(kJob.path)) << c.name;
    // Our own handle shares no deletion: it must be closed before the delete.
    std::vector<std::wstring> tail(f.log.end() - 2, f.log.end());
    EXPECT_EQ(tail, (std::vector<std::wstring>{kRemove, L"message 下载失败！"})) << c.name;
    EXPECT_EQ(f.trust.Count(L"close file"), c.opened ? 1 : 0) << c.name;
    if (c.opened) {
      EXPECT_LT(std::find(f.log.begin(), f.log.end(), L"close file"),
                std::find(f.log.begin(), f.log.end(), kRemove))
          << c.name;
    }
  }
}

// Each transfer, and nothing else, runs inside an apartment: the thread
// joins right before it, leaves right after it, and is outside for the
// pauses, the check, the hand-over and the failure box.
TEST(RunDownload, OnlyEachDownloadCallRunsInsideACOMApartmentAndAFailedJoinGoesOnWithout) {
  constexpr long kChangedMode = static_cast<std::int32_t>(0x80010106u);  // RPC_E_CHANGED_MODE
  struct Case {
    long comResult;
    long downloadResult;
    bool joined;
  };
  const Case cases[] = {
      {kComOk, 0, true},        {kComAlreadyInitialized, 0, true}, {kComOk, kNotFound, true},
      {kChangedMode, 0, false}, {kComFailed, kNotFound, false},
  };
  for (const Case& c : cases) {
    Fixture f;
    f.platform.comResult = c.comResult;
    if (c.downloadResult != 0) f.platform.answer = Answer{0, L"", 0, c.downloadResult};
    RunDownload(kJob, L"Korvane", f.platform, f.trust);
    // A join right before each transfer line, and (when it joined) a leave
    // right after it, before anything else happens.
    std::vector<std::wstring> com;
    for (std::size_t i = 0; i < f.log.size(); ++i) {
      if (f.log[i] != kDownload) continue;
      com.push_back(L"init after " + std::to_wstring(i));
      if (c.joined) com.push_back(L"uninit after " + std::to_wstring(i + 1));
    }
    EXPECT_EQ(com.size(), (c.downloadResult == 0 ? 1u : 3u) * (c.joined ? 2u : 1u));
    EXPECT_EQ(f.platform.com, com) << std::hex << c.comResult << " " << c.downloadResult;
    EXPECT_EQ(f.log.back(), c.downloadResult == 0 ? L"signal" : L"message 下载失败！");
  }
}

// --- the installer shipped beside the launcher ---

DownloadJobRecord ShippedJob() {
  DownloadJobRecord job = kJob;
  job.shippedPath = kShippedPath;
  job.launcherPath = L"D:\\Offline\\TarnixLauncher.exe";
  return job;
}

const std::wstring kOpenShipped = L"open " + kShippedPath;
const std::wstring kVerifyShipped = L"verify " + kShippedPath;

TEST(RunDownload, AShippedInstallerThatPassesTheCheckIsHandedOverOpenWithoutADownload) {
  Fixture f;
  RecordedLog lines;
  RunDownload(ShippedJob(), L"Korvane", f.platform, f.trust);
  // Checked exactly as a download; the bar goes to the end of the download's part.
  EXPECT_EQ(f.log,
            (std::vector<std::wstring>{kOpenShipped, L"read", L"read", L"read", kVerifyShipped,
                                       L"signer", L"close state", L"bar 100", L"signal"}));
  EXPECT_EQ(f.platform.attempts, 0);
  EXPECT_EQ(f.platform.handedOver.Get(), FakeInstallerTrust::kFile);
  EXPECT_EQ(f.platform.handedOverPath, kShippedPath);
  EXPECT_EQ(
      lines.With(L"installer beside the launcher"),
      (std::vector<std::wstring>{
          L"installer beside the launcher: \"D:\\Offline\\TarnixSetup.exe\": 5000 bytes, "
          L"checking",
          L"installer beside the launcher: \"D:\\Offline\\TarnixSetup.exe\": used in place of "
          L"a download"}));
}

TEST(RunDownload, AShippedInstallerThatFailsTheCheckIsLeftAloneAndTheDownloadRunsAsBefore) {
  struct Case {
    const char* name;
    void (*arrange)(FakeInstallerTrust&, FakeDownloadPlatform&);
    bool tried;           // an open of the shipped file was tried
    bool opened;          // and it opened
    const wchar_t* line;  // the log's last word on the shipped file
  };
  const Case cases[] = {
      {"none there", [](FakeInstallerTrust&, FakeDownloadPlatform& p) { p.shippedPresent = false; },
       false, false, L"\": none"},
      {"could not open (no access)",
       [](FakeInstallerTrust& t, FakeDownloadPlatform&) {
         t.beforeOpen = [&t](const std::wstring& path) {
           t.openErrors = {path == kShippedPath ? 5u : 0u};
         };
       },
       true, false, L"\": could not open, downloading instead"},
      {"not a program",
       [](FakeInstallerTrust& t, FakeDownloadPlatform&) {
         t.beforeOpen = [&t](const std::wstring& path) {
           t.bytes =
               path == kShippedPath ? std::vector<std::uint8_t>{'<', 'h'} : testing::SmallProgram();
         };
       },
       true, true, L"\": not a program, downloading instead"},
      {"another signer",
       [](FakeInstallerTrust& t, FakeDownloadPlatform&) {
         t.beforeOpen = [&t](const std::wstring& path) {
           t.signer = path == kShippedPath ? L"Someone Else" : L"Korvane";
         };
       },
       true, true, L"\": not trusted, downloading instead"},
  };
  for (const Case& c : cases) {
    Fixture f;
    RecordedLog lines;
    c.arrange(f.trust, f.platform);
    RunDownload(ShippedJob(), L"Korvane", f.platform, f.trust);
    // One download, checked and handed over as always.
    EXPECT_EQ(f.platform.attempts, 1) << c.name;
    EXPECT_EQ(f.platform.handedOverPath, kJob.path) << c.name;
    EXPECT_TRUE(f.platform.handedOver.IsValid()) << c.name;
    EXPECT_EQ(f.trust.Count(kOpenShipped), c.tried ? 1 : 0) << c.name;
    // The shipped file is closed before the download starts, and never removed.
    EXPECT_EQ(f.trust.Count(L"close file"), c.opened ? 1 : 0) << c.name;
    EXPECT_EQ(f.trust.Count(L"remove " + kShippedPath), 0) << c.name;
    if (c.opened) {
      EXPECT_LT(std::find(f.log.begin(), f.log.end(), L"close file"),
                std::find(f.log.begin(), f.log.end(), kDownload))
          << c.name;
    }
    ASSERT_FALSE(lines.With(L"installer beside the launcher").empty()) << c.name;
    EXPECT_EQ(
        lines.With(L"installer beside the launcher").back(),
        L"installer beside the launcher: \"D:\\Offline\\TarnixSetup.exe" + std::wstring(c.line))
        << c.name;
  }
}

TEST(RunDownload, AFailedDownloadAfterAFailedShippedInstallerRemovesOnlyTheDownloadsFile) {
  Fixture f;
  f.trust.beforeOpen = [&f](const std::wstring& path) {
    f.trust.signer = path == kShippedPath ? L"Someone Else" : L"Korvane";
  };
  f.platform.answer = Answer{0, L"", 0, kNotFound};
  RunDownload(ShippedJob(), L"Korvane", f.platform, f.trust);
  EXPECT_EQ(f.platform.attempts, 3);
  EXPECT_EQ(f.trust.Count(L"remove " + kShippedPath), 0);
  EXPECT_EQ(f.log.back(), L"message 下载失败！");
}

// The launcher never runs itself as the installer, nor takes the download's
// own file for one shipped beside it: the file is not opened, the download
// runs, and the log says what was found.
TEST(RunDownload, TheLauncherItselfOrTheDownloadsOwnFileIsNoShippedInstaller) {
  const FileIdentity same{0xC0FFEE, 77};
  struct Case {
    const char* name;
    std::wstring launcherPath;
    std::wstring shippedPath;
    std::map<std::wstring, FileIdentity> identities;
    const wchar_t* line;
  } cases[] = {
      {"the launcher saved as TarnixSetup.exe",
       L"D:\\Offline\\TarnixSetup.exe",
       L"D:\\Offline\\TarnixSetup.exe",
       {},
       L" is the launcher itself"},
      {"the launcher so saved, started by its short path",
       L"D:\\OFFLIN~1\\TARNIX~1.EXE",
       L"D:\\OFFLIN~1\\TarnixSetup.exe",
       {{L"D:\\OFFLIN~1\\TARNIX~1.EXE", same}, {L"D:\\OFFLIN~1\\TarnixSetup.exe", same}},
       L" is the launcher itself"},
      {"the launcher in the temporary folder, by another case",
       L"c:\\t\\TarnixLauncher.exe",
       L"c:\\t\\tarnixsetup.EXE",
       {},
       L" is the download's own file (the launcher runs from the temporary folder)"},
      {"the launcher in the temporary folder, by its long path",
       L"C:\\Temp Files\\TarnixLauncher.exe",
       L"C:\\Temp Files\\TarnixSetup.exe",
       {{L"C:\\Temp Files\\TarnixSetup.exe", same}, {kJob.path, same}},
       L" is the download's own file (the launcher runs from the temporary folder)"},
  };
  for (const Case& c : cases) {
    Fixture f;
    RecordedLog lines;
    DownloadJobRecord job = kJob;
    job.launcherPath = c.launcherPath;
    job.shippedPath = c.shippedPath;
    f.platform.identities = c.identities;
    RunDownload(job, L"Korvane", f.platform, f.trust);
    EXPECT_EQ(f.trust.Count(L"open " + job.shippedPath), 0) << c.name;
    EXPECT_EQ(f.platform.attempts, 1) << c.name;
    EXPECT_EQ(f.platform.handedOverPath, kJob.path) << c.name;
    EXPECT_EQ(lines.With(L"installer beside the launcher"),
              std::vector<std::wstring>{L"installer beside the launcher: \"" + c.shippedPath +
                                        L"\"" + c.line})
        << c.name;
  }
}

}  // namespace
}  // namespace tarnix
