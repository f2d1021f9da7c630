// The platform's URL download with nothing around it, for the download
// benchmark: URLDownloadToFileW without a callback.
//
//   url_download URL FILE     exit code 0 when the call returned S_OK, 1 otherwise

// clang-format off
#include <windows.h>
#include <urlmon.h>
// clang-format on

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr || argc != 3) return 2;
  // Loaded at run time from the system folder, as the launcher loads it.
  wchar_t path[MAX_PATH] = {};
  UINT length = GetSystemDirectoryW(path, MAX_PATH);
  if (length == 0 || length + 12 >= MAX_PATH) return 2;
  lstrcatW(path, L"\\urlmon.dll");
  HMODULE urlmon = LoadLibraryW(path);
  using DownloadFn = decltype(&::URLDownloadToFileW);
  auto download = reinterpret_cast<DownloadFn>(
      reinterpret_cast<void*>(GetProcAddress(urlmon, "URLDownloadToFileW")));
  if (download == nullptr) return 2;
  HRESULT result = download(nullptr, argv[1], argv[2], 0, nullptr);
  LocalFree(argv);
  return result == S_OK ? 0 : 1;
}
