// The benchmark's baseline: makes only the shell start that the launcher
// makes for the host (same verb rule, mask and show command), nothing else.
//   bare_start FILE PARAMETERS

#include <windows.h>
#include <shellapi.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr || argc < 3) return 1;
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpVerb = (GetVersion() & 0xFF) < 6 ? L"open" : L"runas";
  info.lpFile = argv[1];
  info.lpParameters = argv[2];
  info.nShow = SW_SHOWNORMAL;
  BOOL started = ShellExecuteExW(&info);
  if (info.hProcess != nullptr) CloseHandle(info.hProcess);
  LocalFree(argv);
  return started ? 0 : 2;
}
