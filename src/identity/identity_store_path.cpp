#include "identity/identity_store_path.h"

#include <algorithm>

namespace tarnix {

bool SplitPath(std::wstring_view path, SplitPathParts& parts, std::size_t driveSize,
               std::size_t directorySize, std::size_t fileNameSize, std::size_t extensionSize) {
  parts = SplitPathParts{};
  auto fail = [&parts] {
    parts = SplitPathParts{};
    return false;
  };

  // A drive is the first two characters when the second is ':'.
  if (path.size() >= 2 && path[1] == L':') {
    if (driveSize < 3) return fail();
    parts.drive = path.substr(0, 2);
    path.remove_prefix(2);
  }

  // The directory runs through the last separator; the extension starts at
  // the last '.' of what follows.
  std::size_t lastSlashEnd = std::wstring_view::npos;
  std::size_t dot = std::wstring_view::npos;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (path[i] == L'/' || path[i] == L'\\') {
      lastSlashEnd = i + 1;
    } else if (path[i] == L'.') {
      dot = i;
    }
  }
  std::size_t nameStart = 0;
  if (lastSlashEnd != std::wstring_view::npos) {
    if (directorySize <= lastSlashEnd) return fail();
    parts.directory = path.substr(0, lastSlashEnd);
    nameStart = lastSlashEnd;
  }
  if (dot != std::wstring_view::npos && dot >= nameStart) {
    if (fileNameSize <= dot - nameStart) return fail();
    if (extensionSize <= path.size() - dot) return fail();
    parts.fileName = path.substr(nameStart, dot - nameStart);
    parts.extension = path.substr(dot);
  } else {
    if (fileNameSize <= path.size() - nameStart) return fail();
    parts.fileName = path.substr(nameStart);
  }
  return true;
}

bool IsDirectoryPath(StoreFileSystem& files, const std::wstring& path) {
  if (path.empty()) return false;
  // The status query refuses a trailing separator, except on a drive root,
  // and reads a bare "X:" as the drive's current directory.
  std::wstring normalised = path;
  bool isDriveRoot = normalised.size() >= 2 && normalised.ends_with(L":\\");
  if (normalised.size() != 1 && !isDriveRoot) {
    if (normalised.back() == L':') {
      normalised.push_back(L'\\');
    } else if (normalised.back() == L'\\') {
      normalised.pop_back();
    }
  }
  std::uint32_t mode = 0;
  return files.Stat(normalised, &mode) && (mode & kStatModeDirectory) != 0;
}

bool CreateDirectoryChain(StoreFileSystem& files, const std::wstring& path) {
  if (path.empty()) return false;
  std::wstring folder = path;
  if (folder.back() != L'\\') folder.push_back(L'\\');

  // A directory part over 255 characters empties every part, and the chain
  // then fails for want of a directory.
  SplitPathParts parts;
  SplitPath(folder, parts);

  std::wstring current = parts.drive + L"\\";
  if (!IsDirectoryPath(files, current)) return false;

  std::wstring_view remaining = parts.directory;
  if (remaining.empty()) return false;
  if (remaining.front() == L'\\') remaining.remove_prefix(1);

  // One level at a time from the root down; existing levels are left alone.
  for (std::size_t separator = remaining.find(L'\\'); separator != std::wstring_view::npos;
       separator = remaining.find(L'\\')) {
    current.append(remaining.substr(0, separator));
    current.push_back(L'\\');
    remaining.remove_prefix(separator + 1);
    if (!IsDirectoryPath(files, current) && !files.MakeDirectory(current)) return false;
  }
  return true;
}

std::wstring GetIdentityStorePath(StoreFileSystem& files, StoreLocation location) {
  int csidl = location == StoreLocation::Common ? kCsidlCommonAppData : kCsidlAppData;
  wchar_t buffer[kMaxPath] = {};
  if (!files.GetSpecialFolderPath(buffer, csidl, true)) return std::wstring();

  // The text ends at the first zero unit, and never past the buffer.
  std::wstring path(buffer, std::find(buffer, buffer + kMaxPath, L'\0'));
  path.append(kStoreFolderPart);
  if (!IsDirectoryPath(files, path)) CreateDirectoryChain(files, path);
  path.append(kStoreFileName);
  return path;
}

}  // namespace tarnix
