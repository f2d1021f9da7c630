#pragma once
// File-system queries shaped like the Win32 calls.

#include <cstdint>
#include <string>

namespace tarnix {

inline constexpr std::uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;  // INVALID_FILE_ATTRIBUTES
inline constexpr std::uint32_t kFileAttributeDirectory = 0x10u;       // FILE_ATTRIBUTE_DIRECTORY

class FileQuery {
 public:
  virtual ~FileQuery() = default;
  // GetFileAttributesW: the attributes, or kInvalidFileAttributes on failure.
  virtual std::uint32_t QueryAttributes(const std::wstring& path) = 0;
};

// True when `path` names an existing file-system object that is not a folder.
inline bool IsExistingFile(FileQuery& files, const std::wstring& path) {
  std::uint32_t attributes = files.QueryAttributes(path);
  return attributes != kInvalidFileAttributes && (attributes & kFileAttributeDirectory) == 0;
}

}  // namespace tarnix
