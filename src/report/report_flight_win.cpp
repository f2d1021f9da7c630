#include "report/report_flight_win.h"

#include <windows.h>

#include "platform/thread_win.h"

namespace tarnix::win {

static_assert(sizeof(ThreadHandle) == sizeof(HANDLE));

ThreadHandle Win32ReportFlightPlatform::BeginThread(ThreadProc proc, void* parameter) {
  return reinterpret_cast<ThreadHandle>(BeginWaitableWorkerThread(proc, parameter).Release());
}

bool Win32ReportFlightPlatform::WaitForThread(ThreadHandle thread, std::uint32_t timeoutMs) {
  // The waiting thread has used the shell (it started the host), so a
  // broadcast sent to its windows during the wait is handled, not left to
  // hold back its sender.
  return WaitHandlingSentMessages(reinterpret_cast<HANDLE>(thread), timeoutMs) == WAIT_OBJECT_0;
}

void Win32ReportFlightPlatform::CloseThread(ThreadHandle thread) {
  ::CloseHandle(reinterpret_cast<HANDLE>(thread));
}

std::uint32_t Win32ReportFlightPlatform::TickMs() { return ::GetTickCount(); }

}  // namespace tarnix::win
