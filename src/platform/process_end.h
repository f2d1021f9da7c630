#pragma once
// How the launcher ends while other threads of its own may still run: the
// dialog's thread, a download, an installer run or the launch report.

namespace tarnix {

// The system's ways of ending the process, shaped like fflush(nullptr) and
// TerminateProcess(GetCurrentProcess()).
class ProcessEnd {
 public:
  virtual ~ProcessEnd() = default;
  // Flushes every C run-time output stream; takes each stream's lock.
  virtual void FlushOutput() = 0;
  // Ends the process at once: nothing more runs in it, no flush, no detach
  // code. Does not return on the system.
  virtual void Terminate(unsigned exitCode) = 0;
};

// Ends the process with `exitCode` by terminating it. Another thread of ours
// may still run and hold a library's or the heap's lock (a download inside
// WinINet, the dialog's thread inside the window manager): the C run-time's
// exit would run exit-time destructors under it, and ExitProcess would kill
// it and then run every library's detach code, which could wait for that
// lock forever. Output is flushed first when the report has finished; while
// it may still run, its thread may hold a stream's lock (blocked writing to a
// full pipe), so nothing is flushed, and what the report had not written to
// standard output yet is lost. The report thread may also be writing the
// identity store. A terminate can cut a store replace between its two renames
// (no store, the old record at the writer's backup name, the new one at its
// temporary name): the next reader puts the newest backup holding a whole
// record back in place. It can cut a write in place (taken only where the
// store cannot be replaced): no reader opens the store meanwhile, so none
// reads a record half-written, and a partial record left behind reads as
// absent, never as another identity.
void EndProcess(ProcessEnd& end, bool reportFinished, unsigned exitCode);

}  // namespace tarnix
