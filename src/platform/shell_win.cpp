#include "platform/shell_win.h"

#include <windows.h>
#include <shellapi.h>

#include "platform/thread_win.h"

namespace tarnix::win {

static_assert(kSeeMaskNoCloseProcess == SEE_MASK_NOCLOSEPROCESS);
static_assert(kSeeMaskNoAsync == SEE_MASK_NOASYNC);
static_assert(kShowNormal == SW_SHOWNORMAL);
static_assert(sizeof(ProcessHandle) == sizeof(HANDLE));

std::uint32_t Win32Shell::GetVersion() {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  return ::GetVersion();
#pragma GCC diagnostic pop
}

bool Win32Shell::Execute(const ShellStartRequest& request, ProcessHandle* process,
                         std::uint32_t* error) {
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  info.fMask = request.mask;
  info.lpVerb = request.verb.c_str();
  info.lpFile = request.file.c_str();
  info.lpParameters = request.hasParameters ? request.parameters.c_str() : nullptr;
  info.nShow = request.show;
  BOOL started = ::ShellExecuteExW(&info);
  if (!started) *error = ::GetLastError();
  *process = reinterpret_cast<ProcessHandle>(info.hProcess);
  return started != FALSE;
}

// The thread has just called the shell inside a COM apartment: either may
// have left windows on it (the input method's default window may stay), and
// an installer may broadcast to every top-level window while it runs, so the
// wait handles the messages sent meanwhile.
void Win32Shell::WaitForProcess(ProcessHandle process) {
  if (process != 0) WaitHandlingSentMessages(reinterpret_cast<HANDLE>(process), INFINITE);
}

bool Win32Shell::ExitCode(ProcessHandle process, std::uint32_t* code) {
  DWORD exitCode = 0;
  if (!::GetExitCodeProcess(reinterpret_cast<HANDLE>(process), &exitCode)) return false;
  *code = exitCode;
  return true;
}

void Win32Shell::CloseProcess(ProcessHandle process) {
  ::CloseHandle(reinterpret_cast<HANDLE>(process));
}

bool StartProcessOnSystem(const std::wstring& parameters, const std::wstring& file, bool wait) {
  Win32Shell shell;
  return StartProcess(shell, parameters, file, wait);
}

}  // namespace tarnix::win
