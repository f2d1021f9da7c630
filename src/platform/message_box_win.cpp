#include "platform/message_box_win.h"

#include <windows.h>

#include "platform/app_framework_win.h"
#include "platform/ui_text_win.h"

namespace tarnix::win {

void ShowFailureMessage(UiText text) {
  CWinApp* app = AfxGetApp();
  HWND owner = app != nullptr ? app->m_hMainWnd : nullptr;
  if (owner != nullptr && !::IsWindow(owner)) owner = nullptr;
  ::MessageBoxW(owner, UserUiText(text), ApplicationTitle().c_str(), MB_OK | MB_ICONEXCLAMATION);
}

}  // namespace tarnix::win
