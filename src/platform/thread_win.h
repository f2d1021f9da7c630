#pragma once
// Worker threads in the manner of AfxBeginThread's worker form.

#include "platform/win_handles_win.h"

namespace tarnix::win {

using WorkerProc = unsigned (*)(void* parameter);

// Starts `proc(parameter)` on a new thread at normal priority with the
// default stack size, running at once. Nobody waits for the thread or holds
// its handle. Returns false when the system did not create it.
bool BeginWorkerThread(WorkerProc proc, void* parameter);

// The same, keeping the thread's handle so that the caller can wait for the
// thread's end. Returns an invalid handle when the system did not create it.
UniqueKernelHandle BeginWaitableWorkerThread(WorkerProc proc, void* parameter);

}  // namespace tarnix::win
