#pragma once
// The launch and the shell start on the real system.

#include <functional>
#include <string>

#include "app/launch.h"

namespace tarnix::win {

class Win32LaunchSession final : public LaunchSession {
 public:
  std::uint32_t CurrentDirectory(std::uint32_t length, wchar_t* buffer) override;
  std::wstring CommandLineArguments() override;
  bool GetPrimaryWorkArea(WorkArea* area) override;
  WorkArea GetPrimaryScreenSize() override;
};

// The launch report with the machine identity, through WinINet.
class Win32LaunchReporter final : public LaunchReporter {
 public:
  void SendLaunchReport(const std::wstring& appName, const std::wstring& appVersion) override;
};

}  // namespace tarnix::win

namespace tarnix {

// LaunchApp on the real registry, file system, screen and shell.
bool LaunchApp();

// StartProcess through the real shell.
bool StartProcess(const std::wstring& parameters, const std::wstring& file, bool wait,
                  const std::function<void()>& afterShell = nullptr);

}  // namespace tarnix
