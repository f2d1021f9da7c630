#pragma once
// A file's identity: the same whichever path reaches the file (another case,
// a short 8.3 name, a trailing separator, a "\\?\" prefix, a link).

#include <cstdint>
#include <string>

namespace tarnix {

// BY_HANDLE_FILE_INFORMATION's volume serial number and file index (its high
// and low halves as one number), which together name one file on a machine.
struct FileIdentity {
  std::uint32_t volumeSerial = 0;
  std::uint64_t fileIndex = 0;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

class FileIdentitySource {
 public:
  virtual ~FileIdentitySource() = default;
  // The identity of the file at `path`: CreateFileW for a query of its
  // attributes only (FILE_READ_ATTRIBUTES), sharing read, write and delete,
  // so that a running program's file and one that another program holds
  // open can be asked too; then GetFileInformationByHandle. False (and
  // *identity untouched) when the file cannot be opened or the query fails.
  virtual bool QueryFileIdentity(const std::wstring& path, FileIdentity* identity) = 0;
};

}  // namespace tarnix
