#pragma once
// Fakes of the file query, the shell and the launch session.

#include <map>
#include <string>
#include <vector>

#include "app/launch.h"
#include "platform/file_query.h"
#include "platform/shell.h"

namespace tarnix::testing {

class FakeFiles : public FileQuery {
 public:
  std::map<std::wstring, std::uint32_t> attributes;  // absent: the call fails
  std::vector<std::wstring> asked;

  std::uint32_t QueryAttributes(const std::wstring& path) override {
    asked.push_back(path);
    auto found = attributes.find(path);
    return found == attributes.end() ? kInvalidFileAttributes : found->second;
  }
};

class FakeShell : public Shell {
 public:
  std::uint32_t version = 0x23F00206;  // a Windows 6.2 GetVersion value
  bool succeed = true;
  ProcessHandle processToReturn = 0x4242;
  std::vector<ShellStartRequest> starts;
  std::vector<ProcessHandle> waits;
  std::vector<ProcessHandle> closes;

  std::uint32_t GetVersion() override { return version; }
  bool Execute(const ShellStartRequest& request, ProcessHandle* process) override {
    starts.push_back(request);
    *process = succeed ? processToReturn : 0;
    return succeed;
  }
  void WaitForProcess(ProcessHandle process) override { waits.push_back(process); }
  void CloseProcess(ProcessHandle process) override { closes.push_back(process); }
};

class FakeSession : public LaunchSession {
 public:
  std::wstring currentDirectory = L"C:\\Apps\\Demo";
  std::wstring arguments;
  bool workAreaKnown = true;
  WorkArea workArea{1920, 1040};
  WorkArea screen{1920, 1080};

  std::uint32_t CurrentDirectory(std::uint32_t length, wchar_t* buffer) override {
    auto needed = static_cast<std::uint32_t>(currentDirectory.size());
    if (needed + 1 > length) return needed + 1;  // too small: nothing written
    currentDirectory.copy(buffer, currentDirectory.size());
    buffer[needed] = 0;
    return needed;
  }
  std::wstring CommandLineArguments() override { return arguments; }
  bool GetPrimaryWorkArea(WorkArea* area) override {
    if (workAreaKnown) *area = workArea;
    return workAreaKnown;
  }
  WorkArea GetPrimaryScreenSize() override { return screen; }
};

}  // namespace tarnix::testing
