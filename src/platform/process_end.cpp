#include "platform/process_end.h"

namespace tarnix {

void EndProcess(ProcessEnd& end, bool othersEnded, unsigned exitCode) {
  if (!othersEnded) {
    end.Terminate(exitCode);
    return;
  }
  end.FlushOutput();
  end.ExitNormally(exitCode);
}

}  // namespace tarnix
