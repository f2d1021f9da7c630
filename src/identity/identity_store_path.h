#pragma once
// Where the identity store lives: "Global.db" below "\Korvane\Common" in
// the common or the per-user application-data folder, the folders made as
// the C run-time's calls would make them.

#include <cstddef>
#include <string>
#include <string_view>

#include "identity/identity_store_io.h"

namespace tarnix {

enum class StoreLocation {
  Common,   // CSIDL_COMMON_APPDATA: tried first for reading and writing
  PerUser,  // CSIDL_APPDATA: the fallback, and the source of the one-time move
};

inline constexpr wchar_t kStoreFolderPart[] = L"\\Korvane\\Common";
inline constexpr wchar_t kStoreFileName[] = L"\\Global.db";
// The C run-time's path splitter (_wsplitpath_s) for `path`, with the buffer
// sizes given in characters including the terminator. A part that does not
// fit empties all four parts and makes the result false.
struct SplitPathParts {
  std::wstring drive, directory, fileName, extension;
};
bool SplitPath(std::wstring_view path, SplitPathParts& parts, std::size_t driveSize = 3,
               std::size_t directorySize = 256, std::size_t fileNameSize = 256,
               std::size_t extensionSize = 256);

// True when `path` names an existing directory. A trailing "\" is dropped and
// a bare drive "X:" becomes "X:\" before the status query.
bool IsDirectoryPath(StoreFileSystem& files, const std::wstring& path);

// Creates every missing folder along `path`, from the drive root down. False
// when the path is empty, its drive root is not a directory, its directory
// part is empty or does not fit in 255 characters, or a creation fails.
bool CreateDirectoryChain(StoreFileSystem& files, const std::wstring& path);

// The full path of "Global.db" for `location`, creating the special folder
// and the "\Korvane\Common" chain below it when missing. Empty when the
// special folder cannot be obtained.
std::wstring GetIdentityStorePath(StoreFileSystem& files, StoreLocation location);

}  // namespace tarnix
