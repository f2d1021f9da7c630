// Stands in for the Tarnix host: records the command line it was started
// with and how CommandLineToArgvW splits it, then exits.
//
// The record goes to the file named by TARNIX_FAKE_HOST_LOG, in UTF-8:
//   line 1: the whole command line
//   then one line per argument as CommandLineToArgvW gives it
//   last line: the current directory prefixed with "cwd="

#include <windows.h>
#include <shellapi.h>

#include <string>

#include "utf8.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  wchar_t logPath[MAX_PATH] = {};
  if (GetEnvironmentVariableW(L"TARNIX_FAKE_HOST_LOG", logPath, MAX_PATH) == 0) return 3;

  std::wstring record = GetCommandLineW();
  record += L"\n";
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
  for (int i = 0; argv != nullptr && i < count; ++i) {
    record += argv[i];
    record += L"\n";
  }
  LocalFree(argv);
  wchar_t cwd[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, cwd);
  record += L"cwd=";
  record += cwd;
  record += L"\n";

  // Written under a temporary name and renamed, so a reader never sees half a record.
  std::wstring temporary = std::wstring(logPath) + L".part";
  HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 4;
  std::string bytes = Utf8(record);
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  MoveFileExW(temporary.c_str(), logPath, MOVEFILE_REPLACE_EXISTING);
  return 0;
}
