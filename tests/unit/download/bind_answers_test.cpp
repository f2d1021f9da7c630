#include "download/bind_answers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "download/progress.h"
#include "fakes/fake_log.h"

namespace tarnix {
namespace {

TEST(HttpStatusText, NamesTheStatusOrItsAbsence) {
  EXPECT_EQ(HttpStatusText(0), L"no HTTP status");
  EXPECT_EQ(HttpStatusText(200), L"HTTP status 200");
  EXPECT_EQ(HttpStatusText(407), L"HTTP status 407");
  EXPECT_EQ(HttpStatusText(4294967295u), L"HTTP status 4294967295");
}

TEST(AnswerWindowRequest, GivesTheDialogOrSaysThereIsNone) {
  std::uintptr_t window = 7;
  EXPECT_EQ(AnswerWindowRequest(0x1234, &window), kResultOk);
  EXPECT_EQ(window, 0x1234u);
  window = 7;
  EXPECT_EQ(AnswerWindowRequest(0, &window), kResultFalse);
  EXPECT_EQ(window, 0u);
  EXPECT_EQ(AnswerWindowRequest(0x1234, nullptr), kResultInvalidArg);
}

// The answers to the responses of one download, in the order urlmon tells
// them, and what the log says. Only an error status other than a request for
// credentials ends the transfer; Wine writes a 404's body all the same, so
// the check after the download refuses it there.
TEST(AnswerResponse, GoesOnExceptAtAFinalErrorStatus) {
  struct Case {
    const char* name;
    std::vector<std::uint32_t> statuses;
    std::vector<long> answers;
    std::vector<std::wstring> log;
  } cases[] = {
      {"200", {200}, {kResultOk}, {}},
      {"302 then 200", {302, 200}, {kResultOk, kResultOk}, {}},
      {"407, the credentials prompt, then 200", {407, 200}, {kResultOk, kResultOk}, {}},
      {"401 then 200", {401, 200}, {kResultOk, kResultOk}, {}},
      {"404 with a body", {404}, {kResultAbort}, {L"download: HTTP status 404, transfer aborted"}},
      {"302 then 404",
       {302, 404},
       {kResultOk, kResultAbort},
       {L"download: HTTP status 404, transfer aborted"}},
      {"400, the lowest error",
       {400},
       {kResultAbort},
       {L"download: HTTP status 400, transfer aborted"}},
      {"206, 304 and 399 go on", {206, 304, 399}, {kResultOk, kResultOk, kResultOk}, {}},
      {"408, 429, 503",
       {408, 429, 503},
       {kResultAbort, kResultAbort, kResultAbort},
       {L"download: HTTP status 408, transfer aborted",
        L"download: HTTP status 429, transfer aborted",
        L"download: HTTP status 503, transfer aborted"}},
  };
  for (const Case& c : cases) {
    testing::RecordedLog lines;
    std::vector<long> answers;
    for (std::uint32_t status : c.statuses) answers.push_back(AnswerResponse(status));
    EXPECT_EQ(answers, c.answers) << c.name;
    EXPECT_EQ(lines.lines, c.log) << c.name;
  }
}

TEST(AnswerSecurityProblem, LetsOnlyARedirectToHttpsThroughAndRefusesTheRestWithoutAPrompt) {
  const struct {
    const char* name;
    std::uint32_t problem;
    long answer;
  } cases[] = {
      {"a redirect from http to https", kInternetHttpToHttpsOnRedir, kResultRetry},
      {"a redirect from https to http", kInternetHttpsToHttpOnRedir, kResultAbort},
      {"a redirect that needs confirmation", kHttpRedirectNeedsConfirmation, kResultAbort},
      {"mixed security", kInternetMixedSecurity, kResultAbort},
      {"certificate expired", kInternetSecCertDateInvalid, kResultAbort},
      {"certificate for another name", kInternetSecCertCnInvalid, kResultAbort},
      {"certificate from an untrusted root", kInternetInvalidCa, kResultAbort},
      {"a client certificate asked for", kInternetClientAuthCertNeeded, kResultAbort},
      {"certificate errors", kInternetSecCertErrors, kResultAbort},
      {"no revocation information", kInternetSecCertNoRev, kResultAbort},
      {"revocation check failed", kInternetSecCertRevFailed, kResultAbort},
      {"invalid certificate", kInternetSecInvalidCert, kResultAbort},
      {"certificate revoked", kInternetSecCertRevoked, kResultAbort},
      {"a problem this build does not know", 12999, kResultAbort},
      {"no problem code", 0, kResultAbort},
  };
  for (const auto& c : cases) {
    testing::RecordedLog lines;
    EXPECT_EQ(AnswerSecurityProblem(c.problem), c.answer) << c.name;
    const std::wstring code = std::to_wstring(c.problem);
    EXPECT_EQ(lines.lines,
              std::vector<std::wstring>{c.answer == kResultRetry
                                            ? L"download: security problem " + code +
                                                  L" (a redirect from http to https) let through"
                                            : L"download: security problem " + code +
                                                  L" refused, no prompt"})
        << c.name;
  }
}

}  // namespace
}  // namespace tarnix
