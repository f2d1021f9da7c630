#pragma once
// An unnamed auto-reset event in the manner of MFC's CEvent.

#include "platform/win_handles_win.h"

namespace tarnix::win {

class CEvent {
 public:
  // Auto-reset, not signalled, default security. IsValid() tells whether the
  // system created it.
  CEvent() : handle_(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

  bool IsValid() const { return handle_.IsValid(); }
  bool SetEvent() const { return ::SetEvent(handle_.Get()) != FALSE; }
  bool ResetEvent() const { return ::ResetEvent(handle_.Get()) != FALSE; }
  // Waits without time-out. Returns true when the event released this
  // thread (and so went back to unsignalled); false when the wait failed.
  bool Wait() const { return ::WaitForSingleObject(handle_.Get(), INFINITE) == WAIT_OBJECT_0; }

 private:
  UniqueKernelHandle handle_;
};

}  // namespace tarnix::win
