#pragma once
// The launch report on the real machine.

#include <cstdint>
#include <string>

namespace tarnix::win {

// The launch report as its own thread runs it: the machine identity (derived
// on this thread), WinINet loaded from the system folder and never unloaded,
// the C run-time's clock and standard output. `startTick` is GetTickCount at
// the report's start, from which its budget counts.
void SendLaunchReport(const std::wstring& appName, const std::wstring& appVersion,
                      std::uint32_t startTick);

}  // namespace tarnix::win
