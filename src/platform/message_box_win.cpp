#include "platform/message_box_win.h"

#include <windows.h>

#include "platform/app_framework_win.h"

namespace tarnix::win {

void ShowFailureMessage(const wchar_t* text) {
  CWinApp* app = AfxGetApp();
  HWND owner = app != nullptr ? app->m_hMainWnd : nullptr;
  if (owner != nullptr && !::IsWindow(owner)) owner = nullptr;
  ::MessageBoxW(owner, text, ApplicationTitle().c_str(), MB_OK | MB_ICONEXCLAMATION);
}

}  // namespace tarnix::win
