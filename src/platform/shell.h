#pragma once
// Starting programs through the Windows shell, shaped like ShellExecuteExW
// and the wait on the started process.

#include <cstdint>
#include <string>

#include "platform/com.h"
#include "platform/unique_handle.h"

namespace tarnix {

using ProcessHandle = std::uintptr_t;

inline constexpr std::uint32_t kSeeMaskNoCloseProcess = 0x40;  // SEE_MASK_NOCLOSEPROCESS
inline constexpr std::uint32_t kSeeMaskNoAsync = 0x100;        // SEE_MASK_NOASYNC
inline constexpr int kShowNormal = 1;                          // SW_SHOWNORMAL

// What the launcher fills into a SHELLEXECUTEINFOW (every other field zero:
// no owner window, no working directory).
struct ShellStartRequest {
  std::uint32_t mask = 0;
  std::wstring verb;
  std::wstring file;
  std::wstring parameters;
  bool hasParameters = false;  // false: lpParameters is null
  int show = 0;
};

// The shell may hand a start to shell extensions through COM, so a thread
// that starts programs through it needs COM as well.
class Shell : public ComLibrary {
 public:
  // GetVersion: the packed Windows version; its low byte is the major version.
  virtual std::uint32_t GetVersion() = 0;
  // ShellExecuteExW. Returns its BOOL result; *process receives the started
  // process's handle, or 0 when there is none; on failure *error receives
  // GetLastError() (untouched on success).
  virtual bool Execute(const ShellStartRequest& request, ProcessHandle* process,
                       std::uint32_t* error) = 0;
  // Waits without time-out for the process to end, handling the messages
  // sent to the thread meanwhile; returns at once for 0.
  virtual void WaitForProcess(ProcessHandle process) = 0;
  // GetExitCodeProcess. False on failure (*code untouched).
  virtual bool ExitCode(ProcessHandle process, std::uint32_t* code) = 0;
  // CloseHandle on a process handle that Execute gave.
  virtual void CloseProcess(ProcessHandle process) = 0;
};

// Owns a started process's handle and closes it through the Shell that
// started it.
using UniqueProcess =
    UniqueHandle<ApiHandleTraits<Shell, ProcessHandle, ProcessHandle{0}, &Shell::CloseProcess>>;

// Starts `file` through the shell with "open" (Windows major version below 6)
// or "runas" (6 and later), passing `parameters` (none when empty), and
// returns only once the shell has finished the start. The thread is inside a
// COM apartment for the shell's call only, never during the wait. With
// `wait`, returns only after the started process has ended.
// Returns the shell's result. The process handle is released, unless
// `keptProcess` is given: it then receives the handle (0 when the start failed
// or the shell gave none, as when it handed the file to a running program),
// which the caller closes with CloseHandle. The start, and with `wait` the
// exit code, go to the launch log.
bool StartProcess(Shell& shell, const std::wstring& parameters, const std::wstring& file,
                  bool wait, ProcessHandle* keptProcess = nullptr);

// The verb for a GetVersion result.
const wchar_t* ShellVerbForVersion(std::uint32_t version);

}  // namespace tarnix
