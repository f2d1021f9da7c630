#pragma once
// The installer-run thread.

namespace tarnix::win {

// Waits for downloadFinished, runs the installer, launches the application
// through `parameter`, an AppLaunch that outlives the process's threads, and
// ends the process with exit code 0. Returns 0 (without ending the process)
// when the installer file is missing after the download, or when the dialog
// has closed (the dialog's thread, waiting for this thread's end when the
// installer ran, then ends the process).
unsigned InstallThreadProc(void* parameter);

}  // namespace tarnix::win
