#pragma once
// The launcher's failure messages: a fixed text, an OK button only, the
// exclamation icon and the application title as caption. Safe to call from
// any thread; returns when the user has closed the box.

namespace tarnix {

void ShowFailureMessage(const wchar_t* text);

}  // namespace tarnix
