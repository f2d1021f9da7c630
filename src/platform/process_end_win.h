#pragma once
// Ending the launcher's process on the real system.

namespace tarnix::win {

// EndProcess on the system: fflush and ExitProcess when no other thread of
// ours may still run, TerminateProcess of the current process when one may.
[[noreturn]] void EndProcessOnSystem(bool othersEnded, unsigned exitCode);

}  // namespace tarnix::win
