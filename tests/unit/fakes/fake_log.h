#pragma once
// A process log that keeps its lines, installed for the life of one test.

#include <string>
#include <string_view>
#include <vector>

#include "platform/launch_log.h"

namespace tarnix::testing {

class RecordedLog : public LogSink {
 public:
  RecordedLog() { SetProcessLog(this); }
  ~RecordedLog() override { SetProcessLog(nullptr); }
  RecordedLog(const RecordedLog&) = delete;
  RecordedLog& operator=(const RecordedLog&) = delete;

  std::vector<std::wstring> lines;
  void WriteLine(std::wstring_view text) override { lines.emplace_back(text); }

  // The lines that contain `part`.
  std::vector<std::wstring> With(std::wstring_view part) const {
    std::vector<std::wstring> found;
    for (const std::wstring& line : lines) {
      if (line.find(part) != std::wstring::npos) found.push_back(line);
    }
    return found;
  }
};

}  // namespace tarnix::testing
