#include "download/shipped_installer.h"

#include <algorithm>
#include <optional>

#include "download/installer_location.h"
#include "platform/wide_text.h"

namespace tarnix {
namespace {

// Past the longest path Windows has (32,767 characters).
constexpr std::uint32_t kLongestModulePath = 65536;

// The identity of the file at `path`, when it can be read. A file index of 0
// names no file: a network file system may answer it for every file.
std::optional<FileIdentity> IdentityOf(FileIdentitySource& files, const std::wstring& path) {
  FileIdentity identity;
  if (path.empty() || !files.QueryFileIdentity(path, &identity) || identity.fileIndex == 0)
    return std::nullopt;
  return identity;
}

bool SameFile(const std::wstring& a, const std::optional<FileIdentity>& aIdentity,
              const std::wstring& b, const std::optional<FileIdentity>& bIdentity) {
  if (aIdentity && bIdentity) return *aIdentity == *bIdentity;
  return SamePathText(a, b);
}

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

std::wstring NotAShippedInstaller(FileIdentitySource& files, const std::wstring& shippedPath,
                                  const std::wstring& launcherPath,
                                  const std::wstring& downloadPath) {
  const std::optional<FileIdentity> shipped = IdentityOf(files, shippedPath);
  // Without the shipped file's identity the text decides: the others are not asked.
  auto identityOf = [&](const std::wstring& path) {
    return shipped ? IdentityOf(files, path) : std::nullopt;
  };
  // The launcher first: in the temporary folder, a launcher saved under the
  // installer's name is both.
  if (SameFile(shippedPath, shipped, launcherPath, identityOf(launcherPath)))
    return L" is the launcher itself";
  if (SameFile(shippedPath, shipped, downloadPath, identityOf(downloadPath)))
    return L" is the download's own file (the launcher runs from the temporary folder)";
  return {};
}

bool IsSameFile(FileIdentitySource& files, const std::wstring& a, const std::wstring& b) {
  return SameFile(a, IdentityOf(files, a), b, IdentityOf(files, b));
}

}  // namespace tarnix
