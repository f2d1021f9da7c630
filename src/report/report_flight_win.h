#pragma once
// The report's thread and tick counter on the real system.

#include "report/report_flight.h"

namespace tarnix::win {

class Win32ReportFlightPlatform final : public ReportFlightPlatform {
 public:
  ThreadHandle BeginThread(ThreadProc proc, void* parameter) override;
  bool WaitForThread(ThreadHandle thread, std::uint32_t timeoutMs) override;
  void CloseThread(ThreadHandle thread) override;
  std::uint32_t TickMs() override;
};

}  // namespace tarnix::win
