#include "platform/shell.h"

#include "platform/launch_log.h"

namespace tarnix {

const wchar_t* ShellVerbForVersion(std::uint32_t version) {
  std::uint32_t major = version & 0xFFu;
  // "runas" asks for elevation, which Windows XP and 2003 do not know.
  return major < 6 ? L"open" : L"runas";
}

bool StartProcess(Shell& shell, const std::wstring& parameters, const std::wstring& file,
                  bool wait, ProcessHandle* keptProcess) {
  ShellStartRequest request;
  request.mask = kSeeMaskNoCloseProcess | kSeeMaskNoAsync;
  request.verb = ShellVerbForVersion(shell.GetVersion());
  request.file = file;
  request.hasParameters = !parameters.empty();
  request.parameters = parameters;
  request.show = kShowNormal;

  UniqueProcess process(ProcessHandle{0}, {&shell});
  std::uint32_t error = 0;
  bool started = false;
  {
    // Shell extensions may take part in the start through COM; and without
    // NOASYNC the shell may return before the start is complete, leaving it
    // to a thread that ends, or a process that exits, under it. So the start
    // is over when Execute returns, and the thread leaves the apartment
    // before any wait: an apartment thread that waits without handling
    // messages hangs whoever sends it one (an installer's broadcast, a
    // log-off) and so itself.
    ComApartment com(shell);
    started = shell.Execute(request, process.Put(), &error);
  }
  LogLine(L"start " + LogQuoted(file) + L" (" + request.verb + L"): " +
          (started ? std::wstring(L"started") : L"not started, error " + std::to_wstring(error)));
  // A failed start leaves no handle; the wait then returns at once.
  if (wait) {
    shell.WaitForProcess(process.Get());
    std::uint32_t code = 0;
    if (process && shell.ExitCode(process.Get(), &code))
      LogLine(LogQuoted(file) + L" ended with exit code " + std::to_wstring(code));
  }
  if (keptProcess != nullptr) *keptProcess = process.Release();
  return started;
}

}  // namespace tarnix
