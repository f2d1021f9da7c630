#include "platform/shell.h"

namespace tarnix {

const wchar_t* ShellVerbForVersion(std::uint32_t version) {
  std::uint32_t major = version & 0xFFu;
  // "runas" asks for elevation, which Windows XP and 2003 do not know.
  return major < 6 ? L"open" : L"runas";
}

bool StartProcess(Shell& shell, const std::wstring& parameters, const std::wstring& file, bool wait,
                  const std::function<void()>& afterShell) {
  ShellStartRequest request;
  request.mask = kSeeMaskNoCloseProcess;
  request.verb = ShellVerbForVersion(shell.GetVersion());
  request.file = file;
  request.hasParameters = !parameters.empty();
  request.parameters = parameters;
  request.show = kShowNormal;

  UniqueProcess process(ProcessHandle{0}, {&shell});
  bool started = shell.Execute(request, process.Put());
  if (afterShell) afterShell();
  // A failed start leaves no handle; the wait then returns at once.
  if (wait) shell.WaitForProcess(process.Get());
  return started;
}

}  // namespace tarnix
