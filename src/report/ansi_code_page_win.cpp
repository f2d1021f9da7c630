#include "report/ansi_code_page_win.h"

#include <windows.h>

namespace tarnix::win {

int Win32AnsiCodePage::WideCharToMultiByte(const wchar_t* text, int length, char* buffer,
                                           int size) {
  return ::WideCharToMultiByte(CP_ACP, 0, text, length, buffer, size, nullptr, nullptr);
}

}  // namespace tarnix::win
