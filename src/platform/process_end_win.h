#pragma once
// Ending the launcher's process on the real system.

namespace tarnix::win {

// EndProcess on the system: TerminateProcess of the current process, after
// fflush when the launch report has finished.
[[noreturn]] void EndProcessOnSystem(bool reportFinished, unsigned exitCode);

}  // namespace tarnix::win
