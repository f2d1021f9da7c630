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

// Waits up to `timeoutMs` (INFINITE: without time-out) for `object`, handling
// the messages that other threads send to this thread's windows meanwhile
// (MsgWaitForMultipleObjectsEx with QS_SENDMESSAGE and MWMO_INPUTAVAILABLE,
// so that one already pending when the wait starts is handled too). A
// thread that has ever made a window, itself or through COM, the shell, DDE
// or a message box (the input method's default window may outlive them),
// must not wait without it: a broadcast sent to its windows (an installer's WM_SETTINGCHANGE, a
// log-off) would wait for it, and so would the sender. Posted messages stay
// queued. Returns WAIT_OBJECT_0, WAIT_TIMEOUT or WAIT_FAILED.
DWORD WaitHandlingSentMessages(HANDLE object, DWORD timeoutMs);

}  // namespace tarnix::win
