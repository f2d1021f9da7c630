#include "app/launch_win.h"

#include <windows.h>

#include <cstdio>
#include <memory>

#include "platform/app_framework_win.h"
#include "platform/file_query_win.h"
#include "platform/message_box_win.h"
#include "platform/registry_win.h"
#include "platform/shell_win.h"
#include "platform/win_handles_win.h"
#include "report/launch_report_win.h"

namespace tarnix::win {

std::uint32_t Win32LaunchSession::CurrentDirectory(std::uint32_t length, wchar_t* buffer) {
  return ::GetCurrentDirectoryW(length, buffer);
}

std::wstring Win32LaunchSession::CommandLineArguments() {
  CWinApp* app = AfxGetApp();
  return app != nullptr ? app->m_lpCmdLine : L"";
}

bool Win32LaunchSession::GetPrimaryWorkArea(WorkArea* area) {
  MONITORINFO info = {};
  info.cbSize = sizeof(info);
  HMONITOR monitor = ::MonitorFromWindow(nullptr, MONITOR_DEFAULTTOPRIMARY);
  if (!::GetMonitorInfoW(monitor, &info)) return false;
  area->width = info.rcWork.right - info.rcWork.left;
  area->height = info.rcWork.bottom - info.rcWork.top;
  return true;
}

WorkArea Win32LaunchSession::GetPrimaryScreenSize() {
  return WorkArea{::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
}

void Win32LaunchReporter::PrepareLaunchReport(const std::wstring& appName,
                                              const std::wstring& appVersion) {
  appName_ = appName;
  appVersion_ = appVersion;
  seconds_ = ReportTimeOnSystem();
  prepared_ = true;
}

void Win32LaunchReporter::StartLaunchReport(ProcessHandle hostProcess) {
  // The job owns the handle, so that it is closed when the job ends or is
  // dropped; closing it does not touch the host.
  auto host = std::make_shared<UniqueKernelHandle>(reinterpret_cast<HANDLE>(hostProcess));
  if (!prepared_) return;
  prepared_ = false;
  // What was written so far leaves now, while no report thread can hold the
  // stream: the process may end later without flushing it.
  std::fflush(stdout);
  // The job owns copies of the texts: the launcher may stop waiting and end
  // while it still runs.
  flight_.Start([appName = appName_, appVersion = appVersion_, seconds = seconds_,
                 host](std::uint32_t startTick) {
    SendLaunchReportOnSystem(appName, appVersion, seconds,
                             reinterpret_cast<ProcessHandle>(host->Get()), startTick);
  });
}

bool Win32LaunchReporter::WaitForLaunchReport() { return flight_.Wait(); }

namespace {

// What a launch reads and starts on the real system.
struct Win32LaunchParts {
  Win32Registry registry;
  Win32FileQuery files;
  Win32LaunchSession session;
  Win32Shell shell;

  LaunchEnvironment With(LaunchReporter& reporter) {
    return LaunchEnvironment{registry, files, session, shell, &reporter};
  }
};

}  // namespace

bool LaunchAppOnSystem(LaunchReporter& reporter) {
  Win32LaunchParts parts;
  return LaunchApp(parts.With(reporter));
}

bool LaunchAndFinishReportOnSystem() {
  Win32LaunchParts parts;
  Win32LaunchReporter reporter;
  return LaunchAndFinishReport(parts.With(reporter), ShowFailureMessage);
}

void Win32AppLaunch::InstallerStarting() {
  if (beforeInstaller_) beforeInstaller_();
}

bool Win32AppLaunch::LaunchApp() {
  bool started = LaunchAppOnSystem(reporter_);
  if (afterLaunch_) afterLaunch_();
  return started;
}

bool Win32AppLaunch::WaitForLaunchReport() { return reporter_.WaitForLaunchReport(); }

}  // namespace tarnix::win
