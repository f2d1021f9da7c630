#include "download/bind_answers.h"

#include <gtest/gtest.h>

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

TEST(RefuseSecurityProblem, AbortsWithoutAPromptAndLogsTheProblem) {
  // 12045 ERROR_INTERNET_INVALID_CA, 12037 _SEC_CERT_DATE_INVALID, 12038
  // _SEC_CERT_CN_INVALID, 12040 HTTPS_TO_HTTP_ON_REDIR.
  for (std::uint32_t problem : {12045u, 12037u, 12038u, 12040u}) {
    testing::RecordedLog lines;
    EXPECT_EQ(RefuseSecurityProblem(problem), kResultAbort) << problem;
    EXPECT_EQ(lines.lines,
              std::vector<std::wstring>{L"download: security problem " + std::to_wstring(problem) +
                                        L" refused, no prompt"});
  }
}

}  // namespace
}  // namespace tarnix
