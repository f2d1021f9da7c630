#pragma once
// A small stand-in for the application-object part of MFC: one process-wide
// application whose InitInstance does all the work, the application title
// and the main window that message boxes belong to.

#include <windows.h>

#include <string>

namespace tarnix::win {

inline constexpr DWORD kRestartManagerSupportRestart = 0x1;  // restart only, no recovery

class CWinApp {
 public:
  CWinApp();
  virtual ~CWinApp();
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  // The framework's base initialisation: registers the process for restart
  // when m_dwRestartManagerSupportFlags asks for it. Returns TRUE.
  virtual BOOL InitInstance();

  // Runs the program: stores the arguments, calls InitInstance and returns
  // the exit code (0; the launcher defines none of its own).
  int Run(HINSTANCE instance, const wchar_t* arguments);

  HINSTANCE m_hInstance = nullptr;
  const wchar_t* m_lpCmdLine = L"";  // the arguments after the program name
  HWND m_hMainWnd = nullptr;         // owner of message boxes while it exists
  DWORD m_dwRestartManagerSupportFlags = 0;
};

// The one application object (null before it is constructed).
CWinApp* AfxGetApp();

// The executable's file name without its extension.
const std::wstring& ApplicationTitle();

// Makes DLL loading ignore the program's folder and the current directory
// for every library that is not given by full path.
void HardenDllSearchPath();

}  // namespace tarnix::win
