#include "download/bind_answers.h"

#include "download/progress.h"
#include "platform/launch_log.h"

namespace tarnix {

std::wstring HttpStatusText(std::uint32_t status) {
  return status == 0 ? L"no HTTP status" : L"HTTP status " + std::to_wstring(status);
}

long AnswerWindowRequest(std::uintptr_t dialog, std::uintptr_t* window) {
  if (window == nullptr) return kResultInvalidArg;
  *window = dialog;
  return dialog != 0 ? kResultOk : kResultFalse;
}

long RefuseSecurityProblem(std::uint32_t problem) {
  LogLine(L"download: security problem " + std::to_wstring(problem) + L" refused, no prompt");
  return kResultAbort;
}

}  // namespace tarnix
