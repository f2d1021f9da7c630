#pragma once
// Ending the launcher's process on the real system.

namespace tarnix::win {

// EndProcess on the system: fflush and ExitProcess when the launch report
// has finished, TerminateProcess of the current process when it may still
// be running.
[[noreturn]] void EndProcessOnSystem(bool reportFinished, unsigned exitCode);

}  // namespace tarnix::win
