#include "download/shipped_installer.h"

#include <algorithm>

#include "download/installer_location.h"
#include "platform/wide_text.h"

namespace tarnix {
namespace {

// Past the longest path Windows has (32,767 characters).
constexpr std::uint32_t kLongestModulePath = 65536;

}  // namespace

std::wstring LauncherFilePath(ModulePathSource& source) {
  for (std::uint32_t size = 260; size <= kLongestModulePath; size *= 2) {
    std::wstring buffer(size, L'\0');
    std::uint32_t length = source.ModuleFileName(buffer.data(), size);
    if (length == 0) return {};
    if (length < size) {
      buffer.resize(length);
      return buffer;
    }
  }
  return {};
}

std::wstring ShippedInstallerPath(const std::wstring& launcherPath) {
  std::size_t slash = launcherPath.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return {};
  return launcherPath.substr(0, slash + 1) + kInstallerFileName;
}

bool SamePathText(const std::wstring& a, const std::wstring& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](wchar_t x, wchar_t y) { return AsciiLower(x) == AsciiLower(y); });
}

}  // namespace tarnix
