#include "platform/thread_win.h"

#include <windows.h>
#include <process.h>

#include <cstdint>
#include <memory>
#include <new>

#include "platform/tick_count.h"

namespace tarnix::win {
namespace {

struct WorkerStart {
  WorkerProc proc;
  void* parameter;
};

// Takes over the start record and frees it before the worker runs.
unsigned __stdcall WorkerEntry(void* raw) {
  const WorkerStart start = *std::unique_ptr<WorkerStart>(static_cast<WorkerStart*>(raw));
  return start.proc(start.parameter);
}

}  // namespace

UniqueKernelHandle BeginWaitableWorkerThread(WorkerProc proc, void* parameter) {
  std::unique_ptr<WorkerStart> start(new (std::nothrow) WorkerStart{proc, parameter});
  if (start == nullptr) return UniqueKernelHandle();
  // _beginthreadex, not CreateThread, so the C run-time's per-thread state
  // (printf, errno) is set up for the worker.
  std::uintptr_t thread = ::_beginthreadex(nullptr, 0, &WorkerEntry, start.get(), 0, nullptr);
  if (thread == 0) return UniqueKernelHandle();
  static_cast<void>(start.release());  // the new thread frees it
  return UniqueKernelHandle(reinterpret_cast<HANDLE>(thread));
}

bool BeginWorkerThread(WorkerProc proc, void* parameter) {
  return BeginWaitableWorkerThread(proc, parameter).IsValid();
}

DWORD WaitHandlingSentMessages(HANDLE object, DWORD timeoutMs) {
  const DWORD start = ::GetTickCount();
  for (;;) {
    const DWORD left =
        timeoutMs == INFINITE ? INFINITE : TicksLeft(start, ::GetTickCount(), timeoutMs);
    // MWMO_INPUTAVAILABLE: a message sent before the wait began wakes it too.
    // Without it only new input would: one whose arrival an earlier call
    // noted without delivering it (GetQueueStatus, a PeekMessage limited to
    // other kinds of input) would wait, and its sender with it, until the
    // object is signalled.
    const DWORD wait =
        ::MsgWaitForMultipleObjectsEx(1, &object, left, QS_SENDMESSAGE, MWMO_INPUTAVAILABLE);
    if (wait != WAIT_OBJECT_0 + 1) return wait;
    // Delivers every message sent to this thread; leaves posted ones queued.
    MSG message;
    ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
  }
}

}  // namespace tarnix::win
