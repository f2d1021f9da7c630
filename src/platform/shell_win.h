#pragma once
#include <functional>
#include <string>

#include "platform/shell.h"

namespace tarnix::win {

class Win32Shell final : public Shell {
 public:
  std::uint32_t GetVersion() override;
  bool Execute(const ShellStartRequest& request, ProcessHandle* process,
               std::uint32_t* error) override;
  void WaitForProcess(ProcessHandle process) override;
  bool ExitCode(ProcessHandle process, std::uint32_t* code) override;
  void CloseProcess(ProcessHandle process) override;
};

// StartProcess through the real shell.
bool StartProcessOnSystem(const std::wstring& parameters, const std::wstring& file, bool wait,
                          const std::function<void()>& afterShell = nullptr);

}  // namespace tarnix::win
