#pragma once
// The launch report on the real machine.

#include <cstdint>
#include <string>

namespace tarnix::win {

// SendLaunchReport (launch_report.h) as the report's own thread runs it on
// the real machine: the machine identity (derived on this thread), WinINet
// loaded from the system folder and never unloaded, the system's ANSI code
// page, the system's tick counter and standard output. `seconds` is the
// launch's time (_time64), `hostProcess` the host's process handle (a HANDLE;
// 0 for none), which stays the caller's, and `startTick` GetTickCount at the
// report's start, from which its budget counts.
void SendLaunchReportOnSystem(const std::wstring& appName, const std::wstring& appVersion,
                              std::int64_t seconds, std::uintptr_t hostProcess,
                              std::uint32_t startTick);

// The launch's time as the report names it: _time64, seconds since 1970.
std::int64_t ReportTimeOnSystem();

}  // namespace tarnix::win
