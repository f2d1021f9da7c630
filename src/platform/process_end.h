#pragma once
// How the launcher ends once its work is done, given whether another of its
// threads (the launch report, a download, an installer run) may still run.

namespace tarnix {

// The system's ways of ending the process, shaped like fflush(nullptr),
// ExitProcess and TerminateProcess(GetCurrentProcess()).
class ProcessEnd {
 public:
  virtual ~ProcessEnd() = default;
  // Flushes every C run-time output stream; takes each stream's lock.
  virtual void FlushOutput() = 0;
  // Ends the process: stops the other threads, then runs every library's
  // detach code. Does not return on the system.
  virtual void ExitNormally(unsigned exitCode) = 0;
  // Ends the process at once: nothing more runs in it, no flush, no detach
  // code. Does not return on the system.
  virtual void Terminate(unsigned exitCode) = 0;
};

// Ends the process with `exitCode`. When no other thread of ours may still
// run, output is flushed and the process exits as usual. When one may (the
// launch report, or the download and installer-run threads that a closed
// dialog leaves behind), that thread may hold a stream's lock (the report
// blocked writing to a full pipe) or a library's or the heap's lock (a
// download inside WinINet): a flush would wait for it forever and the detach
// code could too, and the C run-time's exit would run exit-time destructors
// under it. So the process is terminated instead. What the report had not
// written to standard output yet is lost. The report thread
// may also be writing the identity store. A terminate can cut a store
// replace between its two renames (no store, the old record at the writer's
// backup name, the new one at its temporary name): the next reader puts the
// newest backup holding a whole record back in place. It can cut a write in
// place (taken only where the store cannot be replaced): no reader opens the
// store meanwhile, so none reads a record half-written, and a partial record
// left behind reads as absent, never as another identity.
void EndProcess(ProcessEnd& end, bool othersEnded, unsigned exitCode);

}  // namespace tarnix
