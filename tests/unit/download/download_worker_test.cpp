#include "download/download_worker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fakes/fake_installer_trust.h"

namespace tarnix {
namespace {

using testing::FakeInstallerTrust;

// Records every call in the log it shares with the trust fake, and keeps
// the installer file it is handed. COM joins and leaves go to a log of their
// own, with the number of shared-log entries before them.
class FakeDownloadPlatform : public DownloadPlatform {
 public:
  explicit FakeDownloadPlatform(std::vector<std::wstring>& sharedLog) : log(sharedLog) {}
  long result = 0;
  long comResult = kComOk;
  InstallerFile handedOver;
  std::vector<std::wstring>& log;
  std::vector<std::wstring> com;

  long DownloadToFile(const std::wstring& url, const std::wstring& path) override {
    log.push_back(L"download " + url + L" -> " + path);
    return result;
  }
  void RemoveFile(const std::wstring& path) override { log.push_back(L"remove " + path); }
  void SignalFinished(InstallerFile installer) override {
    log.push_back(L"signal");
    handedOver = std::move(installer);
  }
  void ShowMessage(const wchar_t* text) override {
    log.push_back(std::wstring(L"message ") + text);
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

const DownloadJobRecord kJob{L"http://host/file", L"C:\\T\\TarnixSetup.exe"};
const std::wstring kDownload = L"download http://host/file -> C:\\T\\TarnixSetup.exe";
const std::wstring kOpen = L"open C:\\T\\TarnixSetup.exe";
const std::wstring kVerify = L"verify C:\\T\\TarnixSetup.exe";
const std::wstring kRemove = L"remove C:\\T\\TarnixSetup.exe";

TEST(RunDownload, ATrustedInstallerIsHandedOverStillOpenAndSignalledExactlyOnce) {
  Fixture f;
  RunDownload(kJob, L"Korvane", f.platform, f.trust);
  EXPECT_EQ(f.log, (std::vector<std::wstring>{kDownload, kOpen, L"read", L"read", L"read", kVerify,
                                              L"signer", L"close state", L"signal"}));
  EXPECT_EQ(f.platform.handedOver.Get(), FakeInstallerTrust::kFile);
}

TEST(RunDownload, AnyResultButSOkFailsWithoutTouchingTheFile) {
  // S_FALSE is a success code, but only S_OK counts; INET_E_RESOURCE_NOT_FOUND, E_ABORT.
  for (long result : {1L, static_cast<long>(0x800C0005u), static_cast<long>(0x80004004u)}) {
    Fixture f;
    f.platform.result = result;
    RunDownload(kJob, L"Korvane", f.platform, f.trust);
    EXPECT_EQ(f.log, (std::vector<std::wstring>{kDownload, L"message 下载失败！"}))
        << std::hex << result;
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

TEST(RunDownload, TheThreadRunsInsideACOMApartmentAndGoesOnWithoutOne) {
  constexpr long kChangedMode = static_cast<std::int32_t>(0x80010106u);  // RPC_E_CHANGED_MODE
  struct Case {
    long comResult;
    long downloadResult;
    bool joined;
  };
  const Case cases[] = {
      {kComOk, 0, true},
      {kComAlreadyInitialized, 0, true},
      {kComOk, static_cast<long>(0x800C0005u), true},
      {kChangedMode, 0, false},
      {kComFailed, 0, false},
  };
  for (const Case& c : cases) {
    Fixture f;
    f.platform.comResult = c.comResult;
    f.platform.result = c.downloadResult;
    RunDownload(kJob, L"Korvane", f.platform, f.trust);
    // Joined before the download; left after the last step, the hand-over or the message.
    std::vector<std::wstring> com = {L"init after 0"};
    if (c.joined) com.push_back(L"uninit after " + std::to_wstring(f.log.size()));
    EXPECT_EQ(f.platform.com, com) << std::hex << c.comResult << " " << c.downloadResult;
    EXPECT_EQ(f.log.front(), kDownload);
    EXPECT_EQ(f.log.back(), c.downloadResult == 0 ? L"signal" : L"message 下载失败！");
  }
}

}  // namespace
}  // namespace tarnix
