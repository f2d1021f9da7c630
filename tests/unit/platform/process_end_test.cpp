#include "platform/process_end.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarnix {
namespace {

class FakeProcessEnd final : public ProcessEnd {
 public:
  std::vector<std::string> calls;
  void FlushOutput() override { calls.push_back("flush"); }
  void Terminate(unsigned exitCode) override {
    calls.push_back("terminate " + std::to_string(exitCode));
  }
};

TEST(EndProcess, TerminatesAndFlushesOnlyWhenTheReportHasEnded) {
  struct Case {
    bool reportFinished;
    std::vector<std::string> calls;
  };
  const Case cases[] = {
      {true, {"flush", "terminate 0"}},
      // The report's thread may hold stdout's lock in a blocked write: no
      // flush, nothing that could wait for it.
      {false, {"terminate 0"}},
  };
  for (const Case& c : cases) {
    FakeProcessEnd end;
    EndProcess(end, c.reportFinished, 0);
    EXPECT_EQ(end.calls, c.calls) << c.reportFinished;
  }
}

}  // namespace
}  // namespace tarnix
