#pragma once
// The launcher's failure box.

#include "platform/message_box.h"

namespace tarnix::win {

// A fixed text in the user's language, an OK button only, the exclamation icon and the application
// title as caption, owned by the application's main window while it exists.
// Safe to call from any thread; returns when the user has closed the box.
void ShowFailureMessage(UiText text);

}  // namespace tarnix::win
