// Reads arbitrary UTF-16 text as the launcher's command line and as a
// window size and a host version, as a launch does.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/host_lookup.h"
#include "app/launch.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::wstring text;
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    text.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
  }
  std::wstring lower = tarnix::LowerCaseAscii(text);
  tarnix::LaunchOptions defaults;
  tarnix::LaunchOptions options;
  tarnix::ParseLaunchSwitches(lower, options);
  // Every value is its default or a piece of the command line.
  auto fromCommandLine = [&](const std::wstring& value, const std::wstring& fallback) {
    return value == fallback || lower.find(value) != std::wstring::npos;
  };
  if (!fromCommandLine(options.appName, defaults.appName) ||
      !fromCommandLine(options.appVersion, defaults.appVersion) ||
      !fromCommandLine(options.windowSize, defaults.windowSize)) {
    std::abort();
  }
  std::wstring fitted = tarnix::FitWindowSize(options.windowSize, tarnix::WorkArea{1920, 1040});
  if (fitted.find(L'x') == std::wstring::npos) std::abort();
  tarnix::ParseHostVersion(text);
  tarnix::BuildHostArguments(text, fitted);
  return 0;
}
