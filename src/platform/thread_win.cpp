#include "platform/thread_win.h"

#include <windows.h>
#include <process.h>

#include <cstdint>
#include <new>

namespace tarnix::win {
namespace {

struct WorkerStart {
  WorkerProc proc;
  void* parameter;
};

unsigned __stdcall WorkerEntry(void* raw) {
  auto* start = static_cast<WorkerStart*>(raw);
  WorkerProc proc = start->proc;
  void* parameter = start->parameter;
  delete start;
  return proc(parameter);
}

}  // namespace

UniqueKernelHandle BeginWaitableWorkerThread(WorkerProc proc, void* parameter) {
  auto* start = new (std::nothrow) WorkerStart{proc, parameter};
  if (start == nullptr) return UniqueKernelHandle();
  // _beginthreadex, not CreateThread, so the C run-time's per-thread state
  // (printf, errno) is set up for the worker.
  std::uintptr_t thread = ::_beginthreadex(nullptr, 0, &WorkerEntry, start, 0, nullptr);
  if (thread == 0) {
    delete start;
    return UniqueKernelHandle();
  }
  return UniqueKernelHandle(reinterpret_cast<HANDLE>(thread));
}

bool BeginWorkerThread(WorkerProc proc, void* parameter) {
  return BeginWaitableWorkerThread(proc, parameter).IsValid();
}

}  // namespace tarnix::win
