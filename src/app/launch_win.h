#pragma once
// The launch on the real system.

#include <functional>
#include <string>
#include <utility>

#include "app/launch.h"
#include "download/install_run.h"
#include "report/report_flight_win.h"

namespace tarnix::win {

class Win32LaunchSession final : public LaunchSession {
 public:
  std::uint32_t CurrentDirectory(std::uint32_t length, wchar_t* buffer) override;
  std::wstring CommandLineArguments() override;
  bool GetPrimaryWorkArea(WorkArea* area) override;
  WorkArea GetPrimaryScreenSize() override;
};

// The launch report with the machine identity, through WinINet, on a thread
// of its own. Its owner waits for it before the process ends.
class Win32LaunchReporter final : public LaunchReporter {
 public:
  void PrepareLaunchReport(const std::wstring& appName, const std::wstring& appVersion) override;
  void StartLaunchReport(ProcessHandle hostProcess) override;
  bool WaitForLaunchReport() override;

 private:
  Win32ReportFlightPlatform threads_;
  ReportFlight flight_{threads_};
  bool prepared_ = false;
  std::wstring appName_;
  std::wstring appVersion_;
  std::int64_t seconds_ = 0;
};

// LaunchApp on the real registry, file system, screen and shell, with its
// report through `reporter`.
bool LaunchAppOnSystem(LaunchReporter& reporter);

// LaunchAndFinishReport on the real system, its failure shown in a message
// box. False when the report may still be running.
bool LaunchAndFinishReportOnSystem();

// The launch that the download branch hands over to after an installation:
// LaunchAppOnSystem with a report of its own, and the wait for that report.
// `beforeInstaller` runs right before the installer's start; `afterLaunch`
// once the host's start has been tried, before the wait: the installation is
// over then.
class Win32AppLaunch final : public AppLaunch {
 public:
  Win32AppLaunch(std::function<void()> beforeInstaller, std::function<void()> afterLaunch)
      : beforeInstaller_(std::move(beforeInstaller)), afterLaunch_(std::move(afterLaunch)) {}
  void InstallerStarting() override;
  bool LaunchApp() override;
  bool WaitForLaunchReport() override;

 private:
  Win32LaunchReporter reporter_;
  std::function<void()> beforeInstaller_;
  std::function<void()> afterLaunch_;
};

}  // namespace tarnix::win
