#pragma once
// The launch report on the real machine.

#include <cstdint>
#include <string>

namespace tarnix::win {

// SendLaunchReport (launch_report.h) as the report's own thread runs it on
// the real machine: the machine identity (derived on this thread), WinINet
// loaded from the system folder and never unloaded, the system's ANSI code
// page, the C run-time's clock and standard output. `startTick` is
// GetTickCount at the report's start, from which its budget counts.
void SendLaunchReportOnSystem(const std::wstring& appName, const std::wstring& appVersion,
                              std::uint32_t startTick);

}  // namespace tarnix::win
