// The system's ANSI code page, passed through.

#include <windows.h>

#include "report/ansi_code_page.h"

namespace tarnix {
namespace {

class Win32AnsiCodePage final : public AnsiCodePage {
 public:
  int WideCharToMultiByte(const wchar_t* text, int length, char* buffer, int size) override {
    return ::WideCharToMultiByte(CP_ACP, 0, text, length, buffer, size, nullptr, nullptr);
  }
};

}  // namespace

AnsiCodePage& SystemAnsiCodePage() {
  // Never destroyed: the report may run on the installer-run thread while
  // the main thread runs the C run-time's exit.
  static AnsiCodePage& codePage = *new Win32AnsiCodePage;
  return codePage;
}

}  // namespace tarnix
