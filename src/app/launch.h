#pragma once
// Launching the application through the installed host: the launcher's own
// switches, the window size, the host's command line and the shell start.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/file_query.h"
#include "platform/message_box.h"
#include "platform/registry.h"
#include "platform/shell.h"

namespace tarnix {

struct LaunchOptions {
  std::wstring appName = L"default";
  std::wstring appVersion = L"1.0.0.1";
  std::wstring windowSize;
  std::wstring appPath;
};

struct WorkArea {
  int width = 0;
  int height = 0;
};

// What a launch reads about the process and the screen.
class LaunchSession {
 public:
  virtual ~LaunchSession() = default;
  // GetCurrentDirectoryW into `buffer` of `length` units: the length written,
  // or the size needed (buffer untouched) when it does not fit, or 0.
  virtual std::uint32_t CurrentDirectory(std::uint32_t length, wchar_t* buffer) = 0;
  // The command line the process was started with, without the program name.
  virtual std::wstring CommandLineArguments() = 0;
  // The primary monitor's work area; false when it cannot be read.
  virtual bool GetPrimaryWorkArea(WorkArea* area) = 0;
  // The primary screen's full size, used when the work area is unknown.
  virtual WorkArea GetPrimaryScreenSize() = 0;
};

// The launch report, which runs after the host's start; its outcome is never
// known.
class LaunchReporter {
 public:
  virtual ~LaunchReporter() = default;
  // Notes what the report names: the application, its version and the
  // launch's time, read now. Nothing of the report runs yet.
  virtual void PrepareLaunchReport(const std::wstring& appName, const std::wstring& appVersion) = 0;
  // Starts the prepared report on a thread of its own and returns at once;
  // does nothing but close the handle when none was prepared. The report owns
  // `hostProcess` (the host's process handle, 0 for none) from here on and
  // begins its work once the host's start has settled.
  virtual void StartLaunchReport(ProcessHandle hostProcess) = 0;
  // Waits until the report has ended or its time is up. Returns true when no
  // report runs any more (it ended, or none was started); false when it may
  // still be running.
  virtual bool WaitForLaunchReport() = 0;
};

struct LaunchEnvironment {
  Registry& registry;
  FileQuery& files;
  LaunchSession& session;
  Shell& shell;
  LaunchReporter* reporter = nullptr;  // none: no report is sent
};

// Only A to Z change, as the C run-time's wide lower-casing does by default.
std::wstring LowerCaseAscii(std::wstring_view text);

// Every launch's first log line: the command line after the program's name,
// the launcher's version, and the installer's URL in force with what set it
// (`policySource`, the policy value; empty: built in), so that support reads
// from the first line which launcher ran against which server.
std::wstring StartLogLine(std::wstring_view arguments, std::wstring_view version,
                          std::wstring_view installerUrl, std::wstring_view policySource);

// Reads "--appname=", "--appwindowsize=" and "--appversion=" from the
// lower-cased command line into `options`. A "--" that starts none of them
// is skipped and parsing goes on at the next "--", so hostile input always
// ends: every pass consumes at least two characters.
void ParseLaunchSwitches(std::wstring_view commandLine, LaunchOptions& options);

// Fits `windowSize` to the work area: empty gives the whole work area; else
// "WxH" read as wcstol reads numbers, each capped at the work area's size.
std::wstring FitWindowSize(std::wstring_view windowSize, WorkArea workArea);

// Doubles every backslash.
std::wstring DoubleBackslashes(std::wstring_view path);

// Quotes `value` by the rules CommandLineToArgvW splits by, when it holds a
// blank or a tab; returns it unchanged otherwise (the empty text included).
std::wstring QuoteCommandLineValue(std::wstring_view value);

// "--load-apps=" + path + " --tarnix-host-window-size=" + size + " --no-sandbox".
std::wstring BuildHostArguments(std::wstring_view appPath, std::wstring_view windowSize);

// Builds the launch options as a launch reads them: the folder and the
// switches. The window size is as given, not yet fitted.
LaunchOptions ReadLaunchOptions(LaunchSession& session);

// The primary monitor's work area, or the primary screen's size when the work
// area cannot be read.
WorkArea ReadWorkArea(LaunchSession& session);

// Starts the host for the application in the current folder: reads the
// options, prepares the launch report (unless a policy turns it off), fits the
// window size, starts the host, starts the report with the host's process, and
// returns without waiting for the report or the host.
// Returns true when the shell started the host; false when the host is not
// installed (no report is started then) or not started.
bool LaunchApp(const LaunchEnvironment& environment);

// The direct branch of start-up: LaunchApp; when the host did not start,
// `showFailure(kRunAppFailedText)` at once, while the report runs on; then the
// wait for the report. Returns what that wait returned: false when the report
// may still be running, so that the process must end without running
// exit-time destructors under it.
bool LaunchAndFinishReport(const LaunchEnvironment& environment,
                           const std::function<void(UiText text)>& showFailure);

}  // namespace tarnix
