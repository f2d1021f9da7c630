#include "platform/process_end.h"

namespace tarnix {

void EndProcess(ProcessEnd& end, bool reportFinished, unsigned exitCode) {
  if (!reportFinished) {
    end.Terminate(exitCode);
    return;
  }
  end.FlushOutput();
  end.ExitNormally(exitCode);
}

}  // namespace tarnix
