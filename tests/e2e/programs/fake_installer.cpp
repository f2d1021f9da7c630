// A stand-in for the host's installer in the end-to-end tests.
//
// It records the installation as the real installer does: the host's full
// path in HKCU\SOFTWARE\Korvane\Tarnix "install_dir" and the version in the
// uninstall key's "DisplayVersion", after copying the fake host into place.
//
// Environment:
//   TARNIX_FAKE_HOST_SOURCE     the fake host to copy
//   TARNIX_FAKE_HOST_TARGET     where the host is installed (full path)
//   TARNIX_FAKE_HOST_VERSION    the version to record (default 1.0.0.78)
//   TARNIX_FAKE_INSTALLER_MODE  "nothing": install nothing (a cancelled or failed setup);
//                               "rename": first read its own file, as a self-extracting
//                               installer does, and a second later try to rename it,
//                               as another process could; each outcome is a log line
//                               ("read ok" or "read failed N", "rename refused N" or
//                               "rename done"), then install as usual;
//                               "wait": first wait (at most 120 s) until the file named
//                               by TARNIX_FAKE_INSTALLER_GATE exists, then install as
//                               usual: an installation that runs as long as a test wants
//   TARNIX_FAKE_INSTALLER_GATE  the file that ends the "wait" mode's wait
//   TARNIX_FAKE_INSTALLER_LOG   a file that receives one line per run, the
//                               command line, so a test sees that (and how) it ran
// A GUI-subsystem program, so Wine opens no console window for it.
#include <windows.h>

#include <cwchar>

namespace {

const wchar_t* Variable(const wchar_t* name, wchar_t* buffer, DWORD size) {
  DWORD length = GetEnvironmentVariableW(name, buffer, size);
  return length > 0 && length < size ? buffer : nullptr;
}

void AppendLog(const wchar_t* path, const wchar_t* line) {
  HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  char utf8[4096];
  int bytes = WideCharToMultiByte(CP_UTF8, 0, line, -1, utf8, static_cast<int>(sizeof(utf8)) - 1,
                                  nullptr, nullptr);
  if (bytes > 0) {
    DWORD written = 0;
    utf8[bytes - 1] = '\n';
    WriteFile(file, utf8, static_cast<DWORD>(bytes), &written, nullptr);
  }
  CloseHandle(file);
}

bool SetString(const wchar_t* keyPath, const wchar_t* name, const wchar_t* value) {
  HKEY key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, keyPath, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return false;
  LONG status = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                               static_cast<DWORD>((std::wcslen(value) + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

void AppendOutcome(const wchar_t* log, const wchar_t* what, bool done, DWORD error) {
  wchar_t line[64];
  std::swprintf(line, 64, done ? L"%ls" : L"%ls %lu", what, static_cast<unsigned long>(error));
  AppendLog(log, line);
}

// What a self-extracting installer does with its own file, and what another
// process of the same user could do to it while the installer runs.
void ProbeOwnFile(const wchar_t* log) {
  wchar_t self[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  HANDLE file = CreateFileW(self, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD error = GetLastError();
  AppendOutcome(log, file != INVALID_HANDLE_VALUE ? L"read ok" : L"read failed",
                file != INVALID_HANDLE_VALUE, error);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);

  // Well after the shell has returned to the launcher, which is when the
  // launcher once let go of the file.
  Sleep(1000);
  wchar_t moved[MAX_PATH + 8];
  std::swprintf(moved, MAX_PATH + 8, L"%ls.moved", self);
  BOOL renamed = MoveFileW(self, moved);
  error = GetLastError();
  AppendOutcome(log, renamed ? L"rename done" : L"rename refused", renamed != FALSE, error);
  if (renamed) MoveFileW(moved, self);
}

// Polls for the gate file; a test creates it when the installation may end.
void WaitForGate() {
  wchar_t gate[MAX_PATH];
  if (!Variable(L"TARNIX_FAKE_INSTALLER_GATE", gate, MAX_PATH)) return;
  for (int i = 0; i < 1200 && GetFileAttributesW(gate) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(100);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  wchar_t log[MAX_PATH], mode[32], source[MAX_PATH], target[MAX_PATH], version[64];
  if (Variable(L"TARNIX_FAKE_INSTALLER_LOG", log, MAX_PATH))
    AppendLog(log, GetCommandLineW());
  bool hasMode = Variable(L"TARNIX_FAKE_INSTALLER_MODE", mode, 32) != nullptr;
  if (hasMode && std::wcscmp(mode, L"nothing") == 0) return 0;
  if (hasMode && std::wcscmp(mode, L"rename") == 0 &&
      Variable(L"TARNIX_FAKE_INSTALLER_LOG", log, MAX_PATH))
    ProbeOwnFile(log);
  if (hasMode && std::wcscmp(mode, L"wait") == 0) WaitForGate();
  if (!Variable(L"TARNIX_FAKE_HOST_SOURCE", source, MAX_PATH) ||
      !Variable(L"TARNIX_FAKE_HOST_TARGET", target, MAX_PATH))
    return 2;
  if (!Variable(L"TARNIX_FAKE_HOST_VERSION", version, 64)) std::wcscpy(version, L"1.0.0.78");

  // The target folder may not exist yet: create each level.
  wchar_t folder[MAX_PATH];
  std::wcscpy(folder, target);
  for (wchar_t* p = folder + 3; *p != 0; ++p) {
    if (*p != L'\\') continue;
    *p = 0;
    CreateDirectoryW(folder, nullptr);
    *p = L'\\';
  }
  if (!CopyFileW(source, target, FALSE)) return 3;
  if (!SetString(L"SOFTWARE\\Korvane\\Tarnix", L"install_dir", target)) return 4;
  if (!SetString(L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarnix",
                 L"DisplayVersion", version))
    return 5;
  return 0;
}
