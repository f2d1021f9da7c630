#include "download/installer_trust.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/fake_installer_trust.h"
#include "fakes/fake_log.h"

namespace tarnix {
namespace {

using testing::FakeInstallerTrust;

const std::wstring kPath = L"C:\\T\\TarnixSetup.exe";
const std::wstring kSigner = L"Korvane";
const std::wstring kOpen = L"open C:\\T\\TarnixSetup.exe";
const std::wstring kVerify = L"verify C:\\T\\TarnixSetup.exe";

std::vector<std::wstring> Without(std::vector<std::wstring> log, const std::wstring& entry) {
  std::erase(log, entry);
  return log;
}

TEST(CheckInstaller, ATrustedProgramIsVerifiedThroughItsHandleAndStaysOpen) {
  FakeInstallerTrust trust;
  InstallerCheck check = CheckInstaller(trust, kPath, kSigner);
  EXPECT_EQ(check.verdict, InstallerVerdict::kTrusted);
  EXPECT_EQ(check.file.Get(), FakeInstallerTrust::kFile);
  // One open; the PE check and WinVerifyTrust both go through that handle.
  EXPECT_EQ(trust.log, (std::vector<std::wstring>{kOpen, L"read", L"read", L"read", kVerify,
                                                  L"signer", L"close state"}));
  check.file.Reset();
  EXPECT_EQ(trust.log.back(), L"close file");
}

TEST(CheckInstaller, OnlyAWinVerifyTrustSuccessCounts) {
  struct Case {
    const char* name;
    long result;
    InstallerVerdict verdict;
  };
  const Case cases[] = {
      {"trusted", 0, InstallerVerdict::kTrusted},
      {"no signature (TRUST_E_NOSIGNATURE)", static_cast<long>(0x800B0100u),
       InstallerVerdict::kNotTrusted},
      {"bad digest (TRUST_E_BAD_DIGEST)", static_cast<long>(0x80096010u),
       InstallerVerdict::kNotTrusted},
      {"untrusted root (CERT_E_UNTRUSTEDROOT)", static_cast<long>(0x800B0109u),
       InstallerVerdict::kNotTrusted},
      {"expired (CERT_E_EXPIRED)", static_cast<long>(0x800B0101u), InstallerVerdict::kNotTrusted},
      {"distrusted (TRUST_E_EXPLICIT_DISTRUST)", static_cast<long>(0x800B0111u),
       InstallerVerdict::kNotTrusted},
      {"an unknown error (E_FAIL)", static_cast<long>(0x80004005u), InstallerVerdict::kNotTrusted},
      {"WinVerifyTrust missing (ERROR_PROC_NOT_FOUND)", static_cast<long>(0x8007007Fu),
       InstallerVerdict::kNotTrusted},
      {"a positive code", 1, InstallerVerdict::kNotTrusted},
  };
  for (const Case& c : cases) {
    FakeInstallerTrust trust;
    trust.verifyResult = c.result;
    InstallerCheck check = CheckInstaller(trust, kPath, kSigner);
    EXPECT_EQ(check.verdict, c.verdict) << c.name;
    EXPECT_EQ(trust.Count(L"close state"), 1) << c.name;
    if (c.verdict == InstallerVerdict::kTrusted) continue;
    // A failed verification asks for no signer, and nothing stays open.
    EXPECT_EQ(trust.Count(L"signer"), 0) << c.name;
    EXPECT_FALSE(check.file.IsValid()) << c.name;
    EXPECT_EQ(trust.Count(L"close file"), 1) << c.name;
  }
}

TEST(CheckInstaller, TheSignerMustBeTheExpectedNameWholeAndInTheSameCase) {
  struct Case {
    std::optional<std::wstring> signer;
    bool trusted;
  };
  const Case cases[] = {
      {L"Korvane", true},
      {L"korvane", false},
      {L"KORVANE", false},
      {L"Korvan", false},        // a prefix of the name
      {L"Korvane Ltd", false},   // the name as a prefix
      {L"Evil Korvane", false},  // the name as a suffix
      {L" Korvane", false},
      {L"", false},
      {std::wstring(L"Korvane\0x", 9), false},  // an embedded zero hides nothing
      {std::nullopt, false},                    // no certificate in the chain
  };
  for (const Case& c : cases) {
    FakeInstallerTrust trust;
    trust.signer = c.signer;
    InstallerCheck check = CheckInstaller(trust, kPath, kSigner);
    std::wstring shown = c.signer ? *c.signer : L"(none)";
    EXPECT_EQ(check.verdict, c.trusted ? InstallerVerdict::kTrusted : InstallerVerdict::kNotTrusted)
        << shown;
    EXPECT_EQ(check.file.IsValid(), c.trusted);
    EXPECT_EQ(trust.Count(L"close state"), 1);
  }
}

TEST(CheckInstaller, AFileThatIsNotAProgramIsNeitherVerifiedNorKept) {
  FakeInstallerTrust trust;
  const std::string page = "<!DOCTYPE html><html><body>Please sign in</body></html>";
  trust.bytes.assign(page.begin(), page.end());
  InstallerCheck check = CheckInstaller(trust, kPath, kSigner);
  EXPECT_EQ(check.verdict, InstallerVerdict::kNotAProgram);
  EXPECT_FALSE(check.file.IsValid());
  EXPECT_EQ(trust.log, (std::vector<std::wstring>{kOpen, L"read", L"close file"}));
}

TEST(CheckInstaller, WithoutAnExpectedSignerOnlyThePeCheckRunsAndTheFileIsStillHeld) {
  FakeInstallerTrust program;
  InstallerCheck check = CheckInstaller(program, kPath, L"");
  EXPECT_EQ(check.verdict, InstallerVerdict::kTrusted);
  EXPECT_TRUE(check.file.IsValid());
  EXPECT_EQ(program.log, (std::vector<std::wstring>{kOpen, L"read", L"read", L"read"}));

  FakeInstallerTrust page;
  page.bytes = {'<', 'h', 't', 'm', 'l', '>'};
  EXPECT_EQ(CheckInstaller(page, kPath, L"").verdict, InstallerVerdict::kNotAProgram);
}

TEST(CheckInstaller, OnlyASharingViolationIsRetriedAndOnlyForABoundedTime) {
  constexpr std::uint32_t kSharing = kErrorSharingViolation;
  struct Case {
    const char* name;
    std::vector<std::uint32_t> openErrors;
    InstallerVerdict verdict;
    int opens;
  };
  const Case cases[] = {
      {"cleared within the retry", {kSharing, kSharing, 0}, InstallerVerdict::kTrusted, 3},
      {"cleared on the last try",
       {std::vector<std::uint32_t>(kOpenAttempts - 1, kSharing)},
       InstallerVerdict::kTrusted,
       kOpenAttempts},
      {"never cleared", {kSharing}, InstallerVerdict::kCouldNotOpen, kOpenAttempts},
      {"file not found", {2}, InstallerVerdict::kCouldNotOpen, 1},
      {"access denied", {5}, InstallerVerdict::kCouldNotOpen, 1},
      {"a sharing violation, then access denied",
       {kSharing, 5},
       InstallerVerdict::kCouldNotOpen,
       2},
  };
  for (const Case& c : cases) {
    FakeInstallerTrust trust;
    trust.openErrors = c.openErrors;
    if (c.verdict == InstallerVerdict::kTrusted) trust.openErrors.push_back(0);
    InstallerCheck check = CheckInstaller(trust, kPath, kSigner);
    EXPECT_EQ(check.verdict, c.verdict) << c.name;
    EXPECT_EQ(trust.Count(kOpen), c.opens) << c.name;
    // A pause between tries, none after the last.
    EXPECT_EQ(trust.Count(L"pause " + std::to_wstring(kOpenRetryPauseMilliseconds)), c.opens - 1)
        << c.name;
    if (c.opens == kOpenAttempts) {
      // A scanner may hold a fresh file for seconds: the retry waits 30 s in all.
      EXPECT_EQ(static_cast<std::uint32_t>(c.opens - 1) * kOpenRetryPauseMilliseconds, 30000u)
          << c.name;
    }
    if (c.verdict == InstallerVerdict::kCouldNotOpen) {
      EXPECT_EQ(Without(Without(trust.log, kOpen), L"pause 100"), std::vector<std::wstring>{})
          << c.name << ": nothing is read, verified or closed";
    }
  }
}

TEST(CheckInstaller, TheLogNamesEveryStepWithItsResult) {
  struct Case {
    const char* name;
    void (*arrange)(FakeInstallerTrust&);
    std::vector<std::wstring> lines;
  };
  const Case cases[] = {
      {"held twice by a scanner, then trusted",
       [](FakeInstallerTrust& t) {
         t.openErrors = {32, 32, 0};
       },
       {L"installer check: opened after 2 sharing retries", L"installer check: a Windows program",
        L"installer check: WinVerifyTrust 0x00000000",
        L"installer check: signer \"Korvane\", expected \"Korvane\""}},
      {"no access",
       [](FakeInstallerTrust& t) { t.openErrors = {5}; },
       {L"installer check: not opened, error 5, after 0 sharing retries"}},
      {"an HTML page",
       [](FakeInstallerTrust& t) {
         t.bytes = {'<', 'h'};
       },
       {L"installer check: opened after 0 sharing retries",
        L"installer check: not a Windows program"}},
      {"untrusted root",
       [](FakeInstallerTrust& t) { t.verifyResult = static_cast<long>(0x800B0109u); },
       {L"installer check: opened after 0 sharing retries", L"installer check: a Windows program",
        L"installer check: WinVerifyTrust 0x800B0109"}},
      {"no certificate",
       [](FakeInstallerTrust& t) { t.signer = std::nullopt; },
       {L"installer check: opened after 0 sharing retries", L"installer check: a Windows program",
        L"installer check: WinVerifyTrust 0x00000000", L"installer check: no signer name"}},
  };
  for (const Case& c : cases) {
    testing::RecordedLog lines;
    FakeInstallerTrust trust;
    c.arrange(trust);
    CheckInstaller(trust, kPath, kSigner);
    EXPECT_EQ(lines.lines, c.lines) << c.name;
  }
}

}  // namespace
}  // namespace tarnix
