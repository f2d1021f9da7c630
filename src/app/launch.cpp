#include "app/launch.h"

#include <climits>
#include <cstdio>

#include "app/host_lookup.h"
#include "platform/admin_policy.h"
#include "platform/launch_log.h"
#include "platform/wide_text.h"
#include "platform/win32_values.h"

namespace tarnix {
namespace {

constexpr auto kCurrentDirectoryUnits = static_cast<std::uint32_t>(kMaxPath);
constexpr wchar_t kHostArgumentsTemplate[] = L"--load-apps=APPPATH";
constexpr std::wstring_view kAppPathPlaceholder = L"APPPATH";

struct Switch {
  std::wstring_view name;
  std::wstring LaunchOptions::*field;
  bool trim;
};
constexpr Switch kSwitches[] = {
    {L"--appname=", &LaunchOptions::appName, false},
    {L"--appwindowsize=", &LaunchOptions::windowSize, true},
    {L"--appversion=", &LaunchOptions::appVersion, false},
};

std::wstring_view TrimWideSpace(std::wstring_view text) {
  while (!text.empty() && IsWideSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsWideSpace(text.back())) text.remove_suffix(1);
  return text;
}

// wcstol with a 32-bit long: white space, one sign, decimal digits; 0 without
// digits; saturates at the limits.
long ReadLong(std::wstring_view text) {
  std::size_t pos = 0;
  while (pos < text.size() && IsWideSpace(text[pos])) ++pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == L'+' || text[pos] == L'-')) {
    negative = text[pos] == L'-';
    ++pos;
  }
  long long magnitude = 0;
  const long long limit = negative ? -static_cast<long long>(INT32_MIN) : INT32_MAX;
  for (; pos < text.size() && IsDecimalDigit(text[pos]); ++pos) {
    magnitude = magnitude * 10 + (text[pos] - L'0');
    if (magnitude > limit) magnitude = limit;
  }
  return static_cast<long>(negative ? -magnitude : magnitude);
}

std::wstring FormatSize(long width, long height) {
  wchar_t text[32] = {};
  std::swprintf(text, 32, L"%ldx%ld", width, height);
  return text;
}

std::wstring ReplaceAll(std::wstring text, std::wstring_view what, std::wstring_view with) {
  for (std::size_t pos = text.find(what); pos != std::wstring::npos;
       pos = text.find(what, pos + with.size())) {
    text.replace(pos, what.size(), with);
  }
  return text;
}

}  // namespace

std::wstring LowerCaseAscii(std::wstring_view text) {
  std::wstring lower(text);
  for (wchar_t& c : lower) {
    c = AsciiLower(c);
  }
  return lower;
}

void ParseLaunchSwitches(std::wstring_view commandLine, LaunchOptions& options) {
  std::wstring_view rest = commandLine;
  while (!rest.empty()) {
    std::size_t start = rest.find(L"--");
    if (start == std::wstring_view::npos) return;
    rest.remove_prefix(start);

    const Switch* match = nullptr;
    for (const Switch& candidate : kSwitches) {
      if (rest.starts_with(candidate.name)) match = &candidate;
    }
    if (match == nullptr) {
      rest.remove_prefix(2);  // an unknown switch: go on at the next "--"
      continue;
    }

    rest.remove_prefix(match->name.size());
    std::wstring_view value = rest;
    // A blank ends the value; a tab does not. Without a blank the rest stays
    // to be read, so a "--" inside the value starts a further switch.
    std::size_t blank = rest.find(L' ');
    if (blank != std::wstring_view::npos) {
      value = rest.substr(0, blank);
      rest.remove_prefix(blank + 1);
    }
    options.*(match->field) = std::wstring(match->trim ? TrimWideSpace(value) : value);
  }
}

std::wstring FitWindowSize(std::wstring_view windowSize, WorkArea workArea) {
  if (windowSize.empty()) return FormatSize(workArea.width, workArea.height);
  long width = 0;
  long height = 0;
  std::size_t x = windowSize.find(L'x');
  if (x == std::wstring_view::npos) {
    height = ReadLong(windowSize);
  } else {
    width = ReadLong(windowSize.substr(0, x));
    height = ReadLong(windowSize.substr(x + 1));
  }
  // Only an upper bound: 0 and negative sizes pass as they are.
  if (width > workArea.width) width = workArea.width;
  if (height > workArea.height) height = workArea.height;
  return FormatSize(width, height);
}

std::wstring DoubleBackslashes(std::wstring_view path) {
  return ReplaceAll(std::wstring(path), L"\\", L"\\\\");
}

std::wstring QuoteCommandLineValue(std::wstring_view value) {
  if (value.find_first_of(L" \t") == std::wstring_view::npos) return std::wstring(value);
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : value) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes are literal unless a quote follows them: then each one is
    // doubled and the quote itself escaped.
    if (c == L'"') {
      quoted.append(backslashes * 2 + 1, L'\\');
    } else {
      quoted.append(backslashes, L'\\');
    }
    backslashes = 0;
    quoted.push_back(c);
  }
  quoted.append(backslashes * 2, L'\\');  // they precede the closing quote
  quoted.push_back(L'"');
  return quoted;
}

std::wstring BuildHostArguments(std::wstring_view appPath, std::wstring_view windowSize) {
  std::wstring arguments =
      ReplaceAll(kHostArgumentsTemplate, kAppPathPlaceholder, QuoteCommandLineValue(appPath));
  arguments += L" --tarnix-host-window-size=";
  arguments += windowSize;
  arguments += L" --no-sandbox";
  return arguments;
}

LaunchOptions ReadLaunchOptions(LaunchSession& session) {
  LaunchOptions options;
  wchar_t directory[kCurrentDirectoryUnits] = {};
  std::uint32_t length = session.CurrentDirectory(kCurrentDirectoryUnits, directory);
  if (length > 0 && length < kCurrentDirectoryUnits) options.appPath = directory;

  ParseLaunchSwitches(LowerCaseAscii(session.CommandLineArguments()), options);
  return options;
}

WorkArea ReadWorkArea(LaunchSession& session) {
  WorkArea area;
  if (!session.GetPrimaryWorkArea(&area)) area = session.GetPrimaryScreenSize();
  return area;
}

bool LaunchApp(const LaunchEnvironment& environment) {
  std::wstring hostPath = ReadRegistryString(environment.registry, kCurrentUserHiveName,
                                             HostKeyPath, HostPathValueName);
  if (!IsExistingFile(environment.files, hostPath)) {
    LogLine(L"launch: host " + LogQuoted(hostPath) + L" missing");
    return false;
  }

  LaunchOptions options = ReadLaunchOptions(environment.session);
  // The report names the launch's time, read here; its work (the identity,
  // WinINet, the request) would compete with the host's start, so it starts
  // only after the shell and then waits for the host's start to settle. An
  // administrator's policy may turn the report off: then nothing of it
  // happens, not even the identity's derivation.
  LaunchReporter* reporter = environment.reporter;
  if (reporter != nullptr && !IsUsageReportAllowed(environment.registry)) reporter = nullptr;
  if (reporter != nullptr) reporter->PrepareLaunchReport(options.appName, options.appVersion);
  std::wstring fitted = FitWindowSize(options.windowSize, ReadWorkArea(environment.session));
  LogLine(L"launch: appname " + LogQuoted(options.appName) + L", appversion " +
          LogQuoted(options.appVersion) + L", appwindowsize " + LogQuoted(options.windowSize) +
          L" fitted to " + fitted + L", folder " + LogQuoted(options.appPath));
  options.windowSize = fitted;
  ProcessHandle host = 0;
  bool started =
      StartProcess(environment.shell, BuildHostArguments(options.appPath, options.windowSize),
                   DoubleBackslashes(hostPath), false, reporter != nullptr ? &host : nullptr);
  if (reporter != nullptr) reporter->StartLaunchReport(host);
  return started;
}

bool LaunchAndFinishReport(const LaunchEnvironment& environment,
                           const std::function<void(UiText text)>& showFailure) {
  if (!LaunchApp(environment)) showFailure(kRunAppFailedText);
  return environment.reporter == nullptr || environment.reporter->WaitForLaunchReport();
}

std::wstring StartLogLine(std::wstring_view arguments, std::wstring_view version,
                          std::wstring_view installerUrl, std::wstring_view policySource) {
  std::wstring line = L"launcher started with " + LogQuoted(arguments) + L": version ";
  line += version;
  line += L", download URL " + LogQuoted(installerUrl);
  line += policySource.empty() ? std::wstring(L" (built in)")
                               : L" (from " + std::wstring(policySource) + L")";
  return line;
}

}  // namespace tarnix
