#include "identity/identity_store_files.h"

#include <algorithm>
#include <array>
#include <vector>

namespace tarnix::store_files {
namespace {

// GetFileSize's answer on failure (INVALID_FILE_SIZE); a store is never that large.
constexpr std::uint32_t kInvalidFileSize = 0xFFFFFFFFu;

void AppendHex32(std::wstring& text, std::uint32_t value) {
  static constexpr wchar_t kDigits[] = L"0123456789abcdef";
  for (int shift = 28; shift >= 0; shift -= 4) text.push_back(kDigits[(value >> shift) & 0xFu]);
}

WriterFiles WriterFileNames(const std::wstring& path, std::uint32_t processId,
                            std::uint32_t threadId, std::uint32_t attempt) {
  std::wstring base = path + L".";
  AppendHex32(base, processId);
  base.push_back(L'-');
  AppendHex32(base, threadId);
  base.push_back(L'-');
  AppendHex32(base, attempt);
  return {base + kStoreTempSuffix, base + kStoreBackupSuffix};
}

bool IsHexOrDash(wchar_t c) {
  return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || c == L'-';
}

// Reads the record of an open store file with exact reads in file order: the
// version, then the identity and, for version 2, the two bindings; under the
// rewrite mark, the rest of the marked record and then the copy after it, in
// the same blocks. True when the file was read, `record` then holding its
// whole record, if any; false when the size query or a ReadFile failed, with
// ReadFile's error in `*error` (kErrorGenFailure for the size query).
bool ReadRecord(StoreFileSystem& files, const StoreFile& file, std::optional<StoreRecord>& record,
                std::uint32_t* error) {
  record.reset();
  *error = 0;
  const std::uint32_t size = files.GetFileSize(file.Get());
  if (size == kInvalidFileSize) {
    *error = kErrorGenFailure;
    return false;
  }
  if (size < kStoreRecordV1Size) return true;
  std::array<std::uint8_t, kStoreRewriteSize> bytes{};
  // Each block's read: false when the file ends first or the read fails.
  auto readBlock = [&](std::size_t offset, std::size_t count) {
    return ReadExact(files, file, bytes.data() + offset, count, error);
  };
  if (!readBlock(kStoreVersionOffset, kStoreVersionSize)) return *error == 0;
  const std::uint32_t version = StoreRecordVersion(bytes);
  std::size_t end = 0;
  if (version == kStoreVersion1) {
    if (!readBlock(kStoreIdentityOffset, kStoreBlockSize)) return *error == 0;
    end = kStoreRecordV1Size;
  } else if (version == kStoreVersion2 || version == kStoreRewriteMark) {
    const std::size_t copies = version == kStoreRewriteMark ? 2 : 1;
    for (std::size_t copy = 0; copy < copies; ++copy) {
      const std::size_t base = copy * kStoreRewriteCopyOffset;
      if (copy > 0 && !readBlock(base + kStoreVersionOffset, kStoreVersionSize)) return *error == 0;
      for (std::size_t offset :
           {kStoreIdentityOffset, kStoreAdapterBindingOffset, kStoreDiskBindingOffset}) {
        if (!readBlock(base + offset, kStoreBlockSize)) return *error == 0;
      }
    }
    end = copies == 2 ? kStoreRewriteSize : kStoreRecordV2Size;
  } else {
    return true;
  }
  record = ParseStoreRecord(std::span<const std::uint8_t>(bytes.data(), end));
  return true;
}

}  // namespace

StoreFile OpenFile(StoreFileSystem& files, const std::wstring& path, std::uint32_t access,
                   std::uint32_t shareMode, std::uint32_t disposition, std::uint32_t* error) {
  std::uint32_t lastError = 0;
  StoreFile file(files.CreateFileW(path, access, shareMode, disposition, 0, &lastError),
                 StoreFileTraits{&files});
  if (error != nullptr) *error = file ? 0 : lastError;
  return file;
}

StoreFile OpenForReading(StoreFileSystem& files, const std::wstring& path, std::uint32_t* error) {
  return OpenFile(files, path, kGenericRead, kFileShareRead | kFileShareDelete, kOpenExisting,
                  error);
}

bool IsHeldError(std::uint32_t error) {
  return error == kErrorSharingViolation || error == kErrorLockViolation;
}

bool IsMissingError(std::uint32_t error) {
  return error == kErrorFileNotFound || error == kErrorPathNotFound;
}

bool ReadExact(StoreFileSystem& files, const StoreFile& file, std::uint8_t* buffer,
               std::size_t size, std::uint32_t* error) {
  std::uint32_t read = 0;
  *error = 0;
  return files.ReadFile(file.Get(), buffer, static_cast<std::uint32_t>(size), &read, error) &&
         read == size;
}

bool WriteExact(StoreFileSystem& files, const StoreFile& file, const std::uint8_t* data,
                std::size_t size) {
  std::uint32_t written = 0;
  return files.WriteFile(file.Get(), data, static_cast<std::uint32_t>(size), &written) &&
         written == size;
}

// A search finds nothing: no such file or folder, no entry left, or a file
// where a folder of the path should be (nothing can be stored below it).
bool IsNothingFoundError(std::uint32_t error) {
  return IsMissingError(error) || error == kErrorNoMoreFiles || error == kErrorInvalidName ||
         error == kErrorDirectory;
}

FileState LookUpFile(StoreFileSystem& files, const std::wstring& path) {
  if (path.empty()) return FileState::Missing;
  StoreFindData found;
  std::uint32_t error = 0;
  StoreSearch search(files.FindFirstFileW(path, &found, &error), StoreSearchTraits{&files});
  if (search) return FileState::Stands;
  return IsNothingFoundError(error) ? FileState::Missing : FileState::Unknown;
}

bool FileExists(StoreFileSystem& files, const std::wstring& path) {
  return LookUpFile(files, path) == FileState::Stands;
}

bool IsWriterFileName(std::wstring_view name, std::wstring_view storeName) {
  if (!name.starts_with(storeName)) return false;
  name.remove_prefix(storeName.size());
  if (name == kStoreTempSuffix) return true;
  if (!name.starts_with(L'.')) return false;
  name.remove_prefix(1);
  if (!name.ends_with(kStoreTempSuffix) && !name.ends_with(kStoreBackupSuffix)) return false;
  name.remove_suffix(std::wstring_view(kStoreTempSuffix).size());  // ".tmp" or ".bak"
  return !name.empty() && std::all_of(name.begin(), name.end(), IsHexOrDash);
}

bool IsWriterBackupName(std::wstring_view name, std::wstring_view storeName) {
  return name.ends_with(kStoreBackupSuffix) && IsWriterFileName(name, storeName);
}

std::size_t NameStart(const std::wstring& path) { return path.rfind(L'\\') + 1; }

FileRead ReadRecordAt(StoreFileSystem& files, const std::wstring& path,
                      std::optional<StoreRecord>& record) {
  record.reset();
  // Without a folder there is nothing to read: a bare name would be looked
  // for in the current directory.
  if (path.empty()) return FileRead::Missing;
  for (std::uint32_t retry = 0;; ++retry) {
    std::uint32_t error = 0;
    {
      StoreFile file = OpenForReading(files, path, &error);
      if (!file && IsMissingError(error)) return FileRead::Missing;
      if (file && ReadRecord(files, file, record, &error)) return FileRead::Opened;
    }
    if (!IsHeldError(error) || retry == kStoreHeldReadRetries) return FileRead::Unknown;
    files.Sleep(kStoreHeldReadRetryPauseMs);
  }
}

StoreFile CreateTemporaryFile(StoreFileSystem& files, const std::wstring& path,
                              WriterFiles& names) {
  const std::uint32_t processId = files.GetCurrentProcessId();
  const std::uint32_t threadId = files.GetCurrentThreadId();
  for (std::uint32_t attempt = 0; attempt < kStoreTempNameAttempts; ++attempt) {
    names = WriterFileNames(path, processId, threadId, attempt);
    std::uint32_t error = 0;
    StoreFile file = OpenFile(files, names.temp, kGenericWrite, kFileShareNone, kCreateNew, &error);
    if (file || (error != kErrorFileExists && error != kErrorAlreadyExists)) return file;
  }
  return StoreFile(kInvalidHandleValue, StoreFileTraits{&files});
}

bool PutCopyInPlace(StoreFileSystem& files, const std::wstring& path, const StoreRecord& record) {
  // Without a folder, the temporary name would land in the current directory.
  if (path.empty()) return false;
  WriterFiles names;
  bool complete = false;
  {
    StoreFile file = CreateTemporaryFile(files, path, names);
    if (!file) return false;
    const std::vector<std::uint8_t> bytes = StoreRecordBytes(record);
    complete =
        WriteExact(files, file, bytes.data(), bytes.size()) && files.FlushFileBuffers(file.Get());
    // Closed before the move: Windows moves no file that is open.
  }
  if (complete && files.MoveFileExW(names.temp, path, kMoveFileWriteThrough)) return true;
  files.DeleteFileW(names.temp);
  return false;
}

}  // namespace tarnix::store_files
