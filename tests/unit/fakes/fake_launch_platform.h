#pragma once
// Fakes of the file query and the launch session (and the fake shell, which
// the launch tests use with them).

#include <map>
#include <string>
#include <vector>

#include "app/launch.h"
#include "fakes/fake_shell.h"
#include "platform/file_query.h"

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
