#include "platform/process_end.h"

namespace tarnix {

void EndProcess(ProcessEnd& end, bool reportFinished, unsigned exitCode) {
  if (reportFinished) end.FlushOutput();
  end.Terminate(exitCode);
}

}  // namespace tarnix
