#pragma once
// A shell that records every start, wait, close and COM join and answers
// from fields.

#include <cstdint>
#include <vector>

#include "platform/shell.h"

namespace tarnix::testing {

class FakeShell : public Shell {
 public:
  std::uint32_t version = 0x23F00206;  // a Windows 6.2 GetVersion value
  bool succeed = true;
  ProcessHandle processToReturn = 0x4242;
  std::vector<ShellStartRequest> starts;
  std::vector<ProcessHandle> waits;
  std::vector<ProcessHandle> closes;
  long comResult = 0;  // S_OK
  int comInitializations = 0;
  int comUninitializations = 0;

  std::uint32_t GetVersion() override { return version; }
  std::uint32_t errorOnFailure = 1223;  // ERROR_CANCELLED: the elevation was refused
  std::uint32_t exitCode = 0;

  bool Execute(const ShellStartRequest& request, ProcessHandle* process,
               std::uint32_t* error) override {
    starts.push_back(request);
    *process = succeed ? processToReturn : 0;
    if (!succeed) *error = errorOnFailure;
    return succeed;
  }
  void WaitForProcess(ProcessHandle process) override { waits.push_back(process); }
  bool ExitCode(ProcessHandle, std::uint32_t* code) override {
    *code = exitCode;
    return true;
  }
  void CloseProcess(ProcessHandle process) override { closes.push_back(process); }
  long InitializeCom() override {
    ++comInitializations;
    return comResult;
  }
  void UninitializeCom() override { ++comUninitializations; }
};

}  // namespace tarnix::testing
