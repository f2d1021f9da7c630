#pragma once
#include "platform/shell.h"

namespace tarnix::win {

class Win32Shell final : public Shell {
 public:
  std::uint32_t GetVersion() override;
  bool Execute(const ShellStartRequest& request, ProcessHandle* process) override;
  void WaitForProcess(ProcessHandle process) override;
  void CloseProcess(ProcessHandle process) override;
};

}  // namespace tarnix::win
