#include "platform/shell.h"

namespace tarnix {

const wchar_t* ShellVerbForVersion(std::uint32_t version) {
  std::uint32_t major = version & 0xFFu;
  // "runas" asks for elevation, which Windows XP and 2003 do not know.
  return major < 6 ? L"open" : L"runas";
}

bool StartProcess(Shell& shell, const std::wstring& parameters, const std::wstring& file,
                  bool wait) {
  // Shell extensions may take part in the start through COM; and without
  // NOASYNC the shell may return before the start is complete, leaving it to
  // a thread that ends, or a process that exits, under it.
  ComApartment com(shell);
  ShellStartRequest request;
  request.mask = kSeeMaskNoCloseProcess | kSeeMaskNoAsync;
  request.verb = ShellVerbForVersion(shell.GetVersion());
  request.file = file;
  request.hasParameters = !parameters.empty();
  request.parameters = parameters;
  request.show = kShowNormal;

  UniqueProcess process(ProcessHandle{0}, {&shell});
  bool started = shell.Execute(request, process.Put());
  // A failed start leaves no handle; the wait then returns at once.
  if (wait) shell.WaitForProcess(process.Get());
  return started;
}

}  // namespace tarnix
