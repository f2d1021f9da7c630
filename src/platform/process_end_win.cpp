#include "platform/process_end_win.h"

#include <windows.h>

#include <cstdio>

#include "platform/process_end.h"

namespace tarnix::win {
namespace {

class Win32ProcessEnd final : public ProcessEnd {
 public:
  void FlushOutput() override { std::fflush(nullptr); }
  void Terminate(unsigned exitCode) override {
    ::TerminateProcess(::GetCurrentProcess(), exitCode);
  }
};

}  // namespace

void EndProcessOnSystem(bool reportFinished, unsigned exitCode) {
  Win32ProcessEnd end;
  EndProcess(end, reportFinished, exitCode);
  // Only a TerminateProcess that failed comes back here.
  ::ExitProcess(exitCode);
}

}  // namespace tarnix::win
