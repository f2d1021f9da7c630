// The benchmark's baseline: makes only the shell start that the launcher
// makes for the host (same verb rule, mask and show command), nothing else;
// with --work-area, first the primary monitor's work-area query that the
// launcher needs for the host's window size (the floor of any launch).
//   bare_start FILE PARAMETERS [--work-area]

#include <windows.h>
#include <shellapi.h>

#include <cwchar>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr || argc < 3) return 1;
  if (argc > 3 && std::wcscmp(argv[3], L"--work-area") == 0) {
    MONITORINFO info = {};
    info.cbSize = sizeof(info);
    GetMonitorInfoW(MonitorFromWindow(nullptr, MONITOR_DEFAULTTOPRIMARY), &info);
  }
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
