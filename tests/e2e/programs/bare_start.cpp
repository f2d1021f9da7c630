// The benchmark's baseline: makes only the shell start that the launcher
// makes for the host (same verb rule, mask and show command), nothing else;
// with --floor, what any launch must do around that start: the primary
// monitor's work-area query that the host's window size needs, a COM
// apartment joined for the shell's call (ole32 loaded at run time, as the
// launcher loads it) and the start made synchronously (SEE_MASK_NOASYNC).
//   bare_start FILE PARAMETERS [--floor]

#include <windows.h>
#include <shellapi.h>

#include <cwchar>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr || argc < 3) return 1;
  const bool floor = argc > 3 && std::wcscmp(argv[3], L"--floor") == 0;
  using InitializeFn = HRESULT(WINAPI*)(void*, DWORD);
  using UninitializeFn = void(WINAPI*)();
  InitializeFn initialize = nullptr;
  UninitializeFn uninitialize = nullptr;
  if (floor) {
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(MonitorFromWindow(nullptr, MONITOR_DEFAULTTOPRIMARY), &monitor);
    HMODULE ole32 = LoadLibraryExW(L"ole32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (ole32 == nullptr) ole32 = LoadLibraryW(L"ole32.dll");
    initialize = reinterpret_cast<InitializeFn>(
        reinterpret_cast<void*>(GetProcAddress(ole32, "CoInitializeEx")));
    uninitialize = reinterpret_cast<UninitializeFn>(
        reinterpret_cast<void*>(GetProcAddress(ole32, "CoUninitialize")));
  }
  const bool joined = initialize != nullptr && uninitialize != nullptr &&
                      SUCCEEDED(initialize(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE));
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS | (floor ? SEE_MASK_NOASYNC : 0);
  info.lpVerb = (GetVersion() & 0xFF) < 6 ? L"open" : L"runas";
  info.lpFile = argv[1];
  info.lpParameters = argv[2];
  info.nShow = SW_SHOWNORMAL;
  BOOL started = ShellExecuteExW(&info);
  if (joined) uninitialize();
  if (info.hProcess != nullptr) CloseHandle(info.hProcess);
  LocalFree(argv);
  return started ? 0 : 2;
}
