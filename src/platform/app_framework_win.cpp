#include "platform/app_framework_win.h"

#include <cstdio>

#include "platform/win_handles_win.h"

namespace tarnix::win {
namespace {

CWinApp* g_application = nullptr;

}  // namespace

CWinApp::CWinApp() { g_application = this; }

CWinApp::~CWinApp() {
  if (g_application == this) g_application = nullptr;
}

BOOL CWinApp::InitInstance() {
  if ((m_dwRestartManagerSupportFlags & kRestartManagerSupportRestart) != 0) {
    // Windows Vista and later only, hence looked up at run time. Typed by
    // hand: the system header declares it only for Vista and later targets.
    using RegisterFn = HRESULT(WINAPI*)(PCWSTR, DWORD);
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    auto registerRestart = LookUpExport<RegisterFn>(kernel, "RegisterApplicationRestart");
    if (registerRestart != nullptr) registerRestart(m_lpCmdLine, 0);
  }
  return TRUE;
}

int CWinApp::Run(HINSTANCE instance, const wchar_t* arguments) {
  m_hInstance = instance;
  m_lpCmdLine = arguments != nullptr ? arguments : L"";
  InitInstance();
  return 0;
}

CWinApp* AfxGetApp() { return g_application; }

const std::wstring& ApplicationTitle() {
  // Never destroyed: a worker thread may still show a message while the
  // process ends.
  static const std::wstring& title = *new std::wstring([] {
    wchar_t path[MAX_PATH] = {};
    DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring name(path, length < MAX_PATH ? length : 0);
    std::size_t slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos) name.erase(0, slash + 1);
    std::size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos) name.erase(dot);
    return name;
  }());
  return title;
}

void HardenDllSearchPath() {
  HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  auto setDefault =
      LookUpExport<decltype(&::SetDefaultDllDirectories)>(kernel, "SetDefaultDllDirectories");
  if (setDefault != nullptr && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
  // Older systems: at least take the current directory out of the search.
  auto setDirectory = LookUpExport<decltype(&::SetDllDirectoryW)>(kernel, "SetDllDirectoryW");
  if (setDirectory != nullptr) setDirectory(L"");
}

}  // namespace tarnix::win
