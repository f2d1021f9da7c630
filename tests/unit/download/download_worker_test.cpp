#include "download/download_worker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "fakes/fake_installer_trust.h"
#include "fakes/fake_log.h"

namespace tarnix {
namespace {

using testing::FakeInstallerTrust;
using testing::RecordedLog;

const std::wstring kShippedPath = L"D:\\Offline\\TarnixSetup.exe";

// Records every call in the log it shares with the trust fake, and keeps
// the installer file it is handed. COM joins and leaves go to a log of their
// own, with the number of shared-log entries before them.
class FakeDownloadPlatform : public DownloadPlatform {
 public:
  explicit FakeDownloadPlatform(std::vector<std::wstring>& sharedLog) : log(sharedLog) {}
  long result = 0;
  long comResult = kComOk;
  // Results of the first attempts, in order; `result` answers the rest.
  std::vector<long> results;
  std::uint32_t bytes = 1000;
  // What the progress reports said in the first attempts; {bytes, 1000} in the rest.
  std::vector<TransferCounts> transfers;
  std::uint32_t tick = 0;
  int attempts = 0;
  InstallerFile handedOver;
  std::wstring handedOverPath;
  // Whether the installer beside the launcher (kShippedPath) is there.
  bool shippedPresent = true;
  std::vector<std::wstring>& log;
  std::vector<std::wstring> com;

  long DownloadToFile(const std::wstring& url, const std::wstring& path,
                      TransferCounts* counts) override {
    log.push_back(L"download " + url + L" -> " + path);
    tick += 250;  // every attempt takes a quarter of a second
    std::size_t index = static_cast<std::size_t>(attempts++);
    *counts = index < transfers.size() ? transfers[index] : TransferCounts{bytes, 1000, 200};
    return index < results.size() ? results[index] : result;
  }
  void DeleteCacheEntry(const std::wstring& url) override { log.push_back(L"uncache " + url); }
  void SetProgress(int position) override { log.push_back(L"bar " + std::to_wstring(position)); }
  void Pause(std::uint32_t milliseconds) override {
    log.push_back(L"pause " + std::to_wstring(milliseconds));
    tick += milliseconds;
  }
  std::uint32_t TickMs() override { return tick; }
  // Sizes of the downloaded file after the first attempts (kUnreadable: the
  // query fails); 1000 after the rest.
  static constexpr std::uint64_t kUnreadable = ~std::uint64_t{0};
  std::vector<std::uint64_t> sizes;
  bool QueryFileSize(const std::wstring& path, std::uint64_t* size) override {
    if (path == kShippedPath) {
      if (shippedPresent) *size = 5000;
      return shippedPresent;
    }
    std::size_t index = static_cast<std::size_t>(attempts - 1);
    std::uint64_t found = index < sizes.size() ? sizes[index] : 1000;
    if (found == kUnreadable) return false;
    *size = found;
    return true;
  }
  void RemoveFile(const std::wstring& path) override { log.push_back(L"remove " + path); }
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
const std::wstring kDownload = L"download http://host/file -> C:\\T\\TarnixSetup.exe";
const std::wstring kOpen = L"open C:\\T\\TarnixSetup.exe";
const std::wstring kVerify = L"verify C:\\T\\TarnixSetup.exe";
const std::wstring kRemove = L"remove C:\\T\\TarnixSetup.exe";

TEST(RunDownload, ATrustedInstallerIsHandedOverStillOpenAndSignalledExactlyOnce) {
  Fixture f;
  RunDownload(kJob, L"Korvane", f.platform, f.trust);
  EXPECT_EQ(f.log, (std::vector<std::wstring>{kUncache, kDownload, kOpen, L"read", L"read", L"read",
                                              kVerify, L"signer", L"close state", L"signal"}));
  EXPECT_EQ(f.platform.handedOver.Get(), FakeInstallerTrust::kFile);
  EXPECT_EQ(f.platform.handedOverPath, kJob.path);
}

TEST(RunDownload, AnyResultButSOkIsTriedThreeTimesThenFailsOnceWithThePartialFileGone) {
  // S_FALSE is a success code, but only S_OK counts; INET_E_RESOURCE_NOT_FOUND,
  // and E_ABORT, which the stall guard's abort gives.
  for (long result : {1L, static_cast<long>(0x800C0005u), static_cast<long>(0x80004004u)}) {
    Fixture f;
    RecordedLog lines;
    f.platform.result = result;
    RunDownload(kJob, L"Korvane", f.platform, f.trust);
    // Each attempt asks the server afresh and starts from an empty bar and no file.
    EXPECT_EQ(f.log, (std::vector<std::wstring>{
                         kUncache, kDownload, kRemove, L"pause 2000", L"bar 0",
                         kUncache, kDownload, kRemove, L"pause 5000", L"bar 0",
                         kUncache, kDownload, kRemove, L"message 下载失败！"}))
        << std::hex << result;
    EXPECT_EQ(f.trust.Count(L"open C:\\T\\TarnixSetup.exe"), 0);
    ASSERT_EQ(lines.With(L"download attempt").size(), 3u);
    EXPECT_EQ(lines.With(L"download attempt")[2],
              L"download attempt 3 of 3: result " + LogHex(static_cast<std::uint32_t>(result)) +
                  L", HTTP status 200, 1000 bytes, 250 ms");
    EXPECT_EQ(lines.With(L"pause"), (std::vector<std::wstring>{
                                         L"download: pause of 2000 ms before attempt 2",
                                         L"download: pause of 5000 ms before attempt 3"}));
  }
}

TEST(RunDownload, ASuccessOnTheSecondOrThirdAttemptGoesOnToTheCheck) {
  for (std::size_t failures : {1u, 2u}) {
    Fixture f;
    // The first failure came back as success with an empty file, as a reset
    // can; the second (when there is one) with less than the announced total.
    f.platform.results.assign(failures, 0);
    const std::uint64_t flawed[] = {0, 999};
    f.platform.sizes.assign(flawed, flawed + failures);
    RunDownload(kJob, L"Korvane", f.platform, f.trust);
    EXPECT_EQ(f.platform.attempts, static_cast<int>(failures) + 1);
    EXPECT_EQ(f.trust.Count(L"signal"), 1) << failures;
    EXPECT_TRUE(f.platform.handedOver.IsValid());
    EXPECT_EQ(std::count(f.log.begin(), f.log.end(), L"message 下载失败！"), 0);
    EXPECT_EQ(std::count(f.log.begin(), f.log.end(), L"bar 0"), static_cast<long>(failures));
    // The file of the successful attempt stays; only failed attempts' files went.
    EXPECT_EQ(std::count(f.log.begin(), f.log.end(), kRemove), static_cast<long>(failures));
  }
}

TEST(RunDownload, ASuccessThatLeftAFlawedFileIsAFailedAttemptLoggedWithWhatArrived) {
  struct Case {
    const char* name;
    TransferCounts counts;  // of the first attempt
    std::uint64_t size;     // of its file
    const wchar_t* line;    // its log line
  };
  const Case cases[] = {
      {"empty, no size announced", {0, 0}, 0,
       L"download attempt 1 of 3: result 0x00000000, no HTTP status, 0 bytes, 250 ms, the file is "
       L"empty"},
      {"empty, a size announced", {0, 1000, 200}, 0,
       L"download attempt 1 of 3: result 0x00000000, HTTP status 200, 0 bytes, 250 ms, the file is "
       L"empty"},
      {"short of the announced size", {999, 1000, 200}, 999,
       L"download attempt 1 of 3: result 0x00000000, HTTP status 200, 999 bytes, 250 ms, the file "
       L"has 999 of 1000 bytes"},
      {"size unreadable", {1000, 0, 200}, FakeDownloadPlatform::kUnreadable,
       L"download attempt 1 of 3: result 0x00000000, HTTP status 200, 1000 bytes, 250 ms, the "
       L"file's size cannot be read"},
      // Wine hands a proxy's 407 over as success with an empty file, and a
      // 404's page as success with its bytes.
      {"a proxy's 407 as success", {0, 0, 407}, 0,
       L"download attempt 1 of 3: result 0x00000000, HTTP status 407, 0 bytes, 250 ms, an HTTP "
       L"error status"},
      {"a 404 page as success", {180, 180, 404}, 180,
       L"download attempt 1 of 3: result 0x00000000, HTTP status 404, 180 bytes, 250 ms, an HTTP "
       L"error status"},
      {"a 503 page as success", {180, 180, 503}, 180,
       L"download attempt 1 of 3: result 0x00000000, HTTP status 503, 180 bytes, 250 ms, an HTTP "
       L"error status"},
  };
  for (const Case& c : cases) {
    Fixture f;
    RecordedLog lines;
    f.platform.transfers = {c.counts, {1000, 0, 200}};  // the second: whole, no size announced
    f.platform.sizes = {c.size};
    RunDownload(kJob, L"Korvane", f.platform, f.trust);
    EXPECT_EQ(f.platform.attempts, 2) << c.name;
    EXPECT_EQ(f.trust.Count(L"signal"), 1) << c.name;
    EXPECT_EQ(std::count(f.log.begin(), f.log.end(), kRemove), 1) << c.name;
    EXPECT_EQ(lines.With(L"download attempt"),
              (std::vector<std::wstring>{
                  c.line,
                  L"download attempt 2 of 3: result 0x00000000, HTTP status 200, 1000 bytes, 250 ms"}))
        << c.name;
  }
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

// Each download call, and nothing else, runs inside an apartment: the thread
// joins right before it, leaves right after it, and is outside for the
// pauses, the check, the hand-over and the failure box.
TEST(RunDownload, OnlyEachDownloadCallRunsInsideACOMApartmentAndAFailedJoinGoesOnWithout) {
  constexpr long kChangedMode = static_cast<std::int32_t>(0x80010106u);  // RPC_E_CHANGED_MODE
  const long kNotFound = static_cast<long>(0x800C0005u);
  struct Case {
    long comResult;
    long downloadResult;
    bool joined;
  };
  const Case cases[] = {
      {kComOk, 0, true},
      {kComAlreadyInitialized, 0, true},
      {kComOk, kNotFound, true},
      {kChangedMode, 0, false},
      {kComFailed, kNotFound, false},
  };
  for (const Case& c : cases) {
    Fixture f;
    f.platform.comResult = c.comResult;
    f.platform.result = c.downloadResult;
    RunDownload(kJob, L"Korvane", f.platform, f.trust);
    // A join right before each download line, and (when it joined) a leave
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
  EXPECT_EQ(f.log, (std::vector<std::wstring>{kOpenShipped, L"read", L"read", L"read",
                                              kVerifyShipped, L"signer", L"close state",
                                              L"bar 100", L"signal"}));
  EXPECT_EQ(f.platform.attempts, 0);
  EXPECT_EQ(f.platform.handedOver.Get(), FakeInstallerTrust::kFile);
  EXPECT_EQ(f.platform.handedOverPath, kShippedPath);
  EXPECT_EQ(lines.With(L"installer beside the launcher"),
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
         t.beforeOpen = [&t](const std::wstring& path) { t.openErrors = {path == kShippedPath ? 5u : 0u}; };
       },
       true, false, L"\": could not open, downloading instead"},
      {"not a program",
       [](FakeInstallerTrust& t, FakeDownloadPlatform&) {
         t.beforeOpen = [&t](const std::wstring& path) {
           t.bytes = path == kShippedPath ? std::vector<std::uint8_t>{'<', 'h'} : testing::SmallProgram();
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
    EXPECT_EQ(lines.With(L"installer beside the launcher").back(),
              L"installer beside the launcher: \"D:\\Offline\\TarnixSetup.exe" + std::wstring(c.line))
        << c.name;
  }
}

TEST(RunDownload, AFailedDownloadAfterAFailedShippedInstallerRemovesOnlyTheDownloadsFile) {
  Fixture f;
  f.trust.beforeOpen = [&f](const std::wstring& path) {
    f.trust.signer = path == kShippedPath ? L"Someone Else" : L"Korvane";
  };
  f.platform.result = static_cast<long>(0x800C0005u);
  RunDownload(ShippedJob(), L"Korvane", f.platform, f.trust);
  EXPECT_EQ(f.trust.Count(kRemove), 3);
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
