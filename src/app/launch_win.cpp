#include "app/launch_win.h"

#include <windows.h>

#include "platform/app_framework_win.h"
#include "platform/file_query_win.h"
#include "platform/registry_win.h"
#include "platform/shell_win.h"
#include "report/launch_report.h"

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

void Win32LaunchReporter::SendLaunchReport(const std::wstring& appName,
                                           const std::wstring& appVersion) {
  tarnix::SendLaunchReport(appName, appVersion);
}

}  // namespace tarnix::win

namespace tarnix {

bool LaunchApp() {
  win::Win32Registry registry;
  win::Win32FileQuery files;
  win::Win32LaunchSession session;
  win::Win32Shell shell;
  win::Win32LaunchReporter reporter;
  LaunchEnvironment environment{registry, files, session, shell, &reporter};
  return LaunchApp(environment);
}

bool StartProcess(const std::wstring& parameters, const std::wstring& file, bool wait,
                  const std::function<void()>& afterShell) {
  win::Win32Shell shell;
  return StartProcess(shell, parameters, file, wait, afterShell);
}

}  // namespace tarnix
