#pragma once
// The system's ANSI code page on the real machine.

#include "report/ansi_code_page.h"

namespace tarnix::win {

// WideCharToMultiByte with CP_ACP, passed through.
class Win32AnsiCodePage final : public AnsiCodePage {
 public:
  int WideCharToMultiByte(const wchar_t* text, int length, char* buffer, int size) override;
};

}  // namespace tarnix::win
