#pragma once
#include <string>

#include "platform/com_win.h"
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
  long InitializeCom() override { return com_.InitializeCom(); }
  void UninitializeCom() override { com_.UninitializeCom(); }

 private:
  Win32ComLibrary com_;
};

// StartProcess through the real shell.
bool StartProcessOnSystem(const std::wstring& parameters, const std::wstring& file, bool wait);

}  // namespace tarnix::win
