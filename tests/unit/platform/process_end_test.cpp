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
  void ExitNormally(unsigned exitCode) override { calls.push_back("exit " + std::to_string(exitCode)); }
  void Terminate(unsigned exitCode) override {
    calls.push_back("terminate " + std::to_string(exitCode));
  }
};

TEST(EndProcess, FlushesAndExitsOnlyWhenNoOtherThreadRuns) {
  struct Case {
    bool othersEnded;
    std::vector<std::string> calls;
  };
  const Case cases[] = {
      {true, {"flush", "exit 0"}},
      // The report's thread may hold stdout's lock in a blocked write, a
      // download WinINet's: no flush, no detach code, nothing that could
      // wait for them.
      {false, {"terminate 0"}},
  };
  for (const Case& c : cases) {
    FakeProcessEnd end;
    EndProcess(end, c.othersEnded, 0);
    EXPECT_EQ(end.calls, c.calls) << c.othersEnded;
  }
}

}  // namespace
}  // namespace tarnix
