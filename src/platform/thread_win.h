#pragma once
// Worker threads in the manner of AfxBeginThread's worker form.

namespace tarnix::win {

using WorkerProc = unsigned (*)(void* parameter);

// Starts `proc(parameter)` on a new thread at normal priority with the
// default stack size, running at once. Nobody waits for the thread or holds
// its handle. Returns false when the system did not create it.
bool BeginWorkerThread(WorkerProc proc, void* parameter);

}  // namespace tarnix::win
