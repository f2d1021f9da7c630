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
//   TARNIX_FAKE_INSTALLER_MODE  "nothing": install nothing (a cancelled or failed setup)
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

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  wchar_t log[MAX_PATH], mode[32], source[MAX_PATH], target[MAX_PATH], version[64];
  if (Variable(L"TARNIX_FAKE_INSTALLER_LOG", log, MAX_PATH))
    AppendLog(log, GetCommandLineW());
  if (Variable(L"TARNIX_FAKE_INSTALLER_MODE", mode, 32) && std::wcscmp(mode, L"nothing") == 0)
    return 0;
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
