#include "download/bind_answers.h"

#include "download/progress.h"
#include "platform/launch_log.h"

namespace tarnix {

std::wstring HttpStatusText(std::uint32_t status) {
  return status == 0 ? L"no HTTP status" : L"HTTP status " + std::to_wstring(status);
}

long AnswerResponse(std::uint32_t status) {
  if (status < 400 || status == 401 || status == 407) return kResultOk;
  LogLine(L"download: " + HttpStatusText(status) + L", transfer aborted");
  return kResultAbort;
}

long AnswerWindowRequest(std::uintptr_t dialog, std::uintptr_t* window) {
  if (window == nullptr) return kResultInvalidArg;
  *window = dialog;
  return dialog != 0 ? kResultOk : kResultFalse;
}

long AnswerSecurityProblem(std::uint32_t problem) {
  const std::wstring prefix = L"download: security problem " + std::to_wstring(problem);
  if (problem == kInternetHttpToHttpsOnRedir) {
    LogLine(prefix + L" (a redirect from http to https) let through");
    return kResultRetry;
  }
  LogLine(prefix + L" refused, no prompt");
  return kResultAbort;
}

}  // namespace tarnix
