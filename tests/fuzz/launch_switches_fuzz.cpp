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
  tarnix::LaunchOptions options;
  tarnix::ParseLaunchSwitches(tarnix::LowerCaseAscii(text), options);
  // Every value is a piece of the command line.
  if (options.appName.size() > text.size() || options.appVersion.size() > text.size() ||
      options.windowSize.size() > text.size()) {
    std::abort();
  }
  std::wstring size = tarnix::FitWindowSize(options.windowSize, tarnix::WorkArea{1920, 1040});
  if (size.find(L'x') == std::wstring::npos) std::abort();
  tarnix::ParseHostVersion(text);
  tarnix::BuildHostArguments(text, size);
  return 0;
}
