#include "identity/identity_store.h"

#include <algorithm>
#include <vector>

#include "identity/md5.h"
#include "platform/bytes.h"
#include "platform/unique_handle.h"

namespace tarnix {
namespace {

constexpr std::uint32_t kRecordVersion1 = 1;
constexpr std::uint32_t kRecordVersion2 = 2;
constexpr std::size_t kVersionOffset = 0;
constexpr std::size_t kVersionSize = 4;
constexpr std::size_t kIdentityOffset = 4;
constexpr std::size_t kAdapterBindingOffset = 20;
constexpr std::size_t kDiskBindingOffset = 36;
constexpr std::size_t kBlockSize = 16;
// A marked record with the copy after it.
constexpr std::size_t kRewriteSize = kStoreRewriteCopyOffset + kStoreRecordV2Size;
// GetFileSize's answer on failure (INVALID_FILE_SIZE); a store is never that large.
constexpr std::uint32_t kInvalidFileSize = 0xFFFFFFFFu;

using StoreFileTraits = ApiHandleTraits<StoreFileSystem, StoreHandle, kInvalidHandleValue,
                                        &StoreFileSystem::CloseHandle>;
using StoreFile = UniqueHandle<StoreFileTraits>;
using StoreSearchTraits =
    ApiHandleTraits<StoreFileSystem, StoreHandle, kInvalidHandleValue, &StoreFileSystem::FindClose>;
using StoreSearch = UniqueHandle<StoreSearchTraits>;

StoreFile OpenFile(StoreFileSystem& files, const std::wstring& path, std::uint32_t access,
                   std::uint32_t shareMode, std::uint32_t disposition,
                   std::uint32_t* error = nullptr) {
  std::uint32_t lastError = 0;
  StoreFile file(files.CreateFileW(path, access, shareMode, disposition, 0, &lastError),
                 StoreFileTraits{&files});
  if (error != nullptr) *error = file ? 0 : lastError;
  return file;
}

// Readers share deletion, so that another launcher's replace of the store
// (which renames the file a reader may hold) does not fail because of them;
// they do not share writing, so no write in place can cut a record under them.
StoreFile OpenForReading(StoreFileSystem& files, const std::wstring& path,
                         std::uint32_t* error = nullptr) {
  return OpenFile(files, path, kGenericRead, kFileShareRead | kFileShareDelete, kOpenExisting,
                  error);
}

// Another process has the file open in a way that excludes this open (a
// writer sharing nothing, a scanner), or has locked a range of it.
bool IsHeldError(std::uint32_t error) {
  return error == kErrorSharingViolation || error == kErrorLockViolation;
}

// The only refusals of an open that say no file stands there: none by that
// name, or no folder along the path. Any other (access denied on a redirected
// folder, a network error) leaves the file's record unknown.
bool IsMissingError(std::uint32_t error) {
  return error == kErrorFileNotFound || error == kErrorPathNotFound;
}

// A read counts only when every byte asked for arrives. False otherwise, with
// ReadFile's error in `*error`, or 0 where the file ends first.
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

// FindFirstFileW as an existence test.
bool FileExists(StoreFileSystem& files, const std::wstring& path) {
  StoreFindData found;
  StoreSearch search(files.FindFirstFileW(path, &found), StoreSearchTraits{&files});
  return search.IsValid();
}

std::uint32_t ReadLittleEndian32(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return LoadLittleEndian<std::uint32_t>(bytes.subspan(offset, 4).data());
}

template <std::size_t N>
void CopyBlock(std::span<const std::uint8_t> bytes, std::size_t offset,
               std::array<std::uint8_t, N>& block) {
  std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(offset), N, block.begin());
}

// The record of version 1 or 2 at the start of `bytes`.
std::optional<StoreRecord> ParseRecordAtStart(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kVersionSize) return std::nullopt;
  StoreRecord record;
  record.version = ReadLittleEndian32(bytes, kVersionOffset);
  if (record.version == kRecordVersion1) {
    if (bytes.size() < kStoreRecordV1Size) return std::nullopt;
    CopyBlock(bytes, kIdentityOffset, record.identity);
  } else if (record.version == kRecordVersion2) {
    if (bytes.size() < kStoreRecordV2Size) return std::nullopt;
    CopyBlock(bytes, kIdentityOffset, record.identity);
    CopyBlock(bytes, kAdapterBindingOffset, record.adapterBinding);
    CopyBlock(bytes, kDiskBindingOffset, record.diskBinding);
  } else {
    return std::nullopt;
  }
  return record;
}

template <std::size_t N, std::size_t M>
void PutBlock(std::array<std::uint8_t, M>& record, std::size_t offset,
              const std::array<std::uint8_t, N>& block) {
  std::copy(block.begin(), block.end(), record.begin() + static_cast<std::ptrdiff_t>(offset));
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
  std::array<std::uint8_t, kRewriteSize> bytes{};
  // Each block's read: false when the file ends first or the read fails.
  auto readBlock = [&](std::size_t offset, std::size_t count) {
    return ReadExact(files, file, bytes.data() + offset, count, error);
  };
  if (!readBlock(kVersionOffset, kVersionSize)) return *error == 0;
  const std::uint32_t version = ReadLittleEndian32(bytes, kVersionOffset);
  std::size_t end = 0;
  if (version == kRecordVersion1) {
    if (!readBlock(kIdentityOffset, kBlockSize)) return *error == 0;
    end = kStoreRecordV1Size;
  } else if (version == kRecordVersion2 || version == kStoreRewriteMark) {
    const std::size_t copies = version == kStoreRewriteMark ? 2 : 1;
    for (std::size_t copy = 0; copy < copies; ++copy) {
      const std::size_t base = copy * kStoreRewriteCopyOffset;
      if (copy > 0 && !readBlock(base + kVersionOffset, kVersionSize)) return *error == 0;
      for (std::size_t offset : {kIdentityOffset, kAdapterBindingOffset, kDiskBindingOffset}) {
        if (!readBlock(base + offset, kBlockSize)) return *error == 0;
      }
    }
    end = copies == 2 ? kRewriteSize : kStoreRecordV2Size;
  } else {
    return true;
  }
  record = ParseStoreRecord(std::span<const std::uint8_t>(bytes.data(), end));
  return true;
}

// The temporary and backup file of one writer of the store at `path`.
struct WriterFiles {
  std::wstring temp;
  std::wstring backup;
};

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

// A writer's temporary or backup file of the store named `storeName`: the
// names WriterFileNames makes, and the temporary name earlier versions
// shared ("Global.db.tmp").
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

// Where the file name of a store path starts: after its last separator.
std::size_t NameStart(const std::wstring& path) { return path.rfind(L'\\') + 1; }

enum class FileRead {
  Opened,   // the file was read: `record` holds its whole record, if any
  Missing,  // no file stands at the path, or no folder along it
  Unknown,  // held by another process throughout the retries, or not readable for another
            // reason: whatever record it holds is unknown
};

// Reads the whole record of a known version that the file at `path` holds.
// An open or read refused with a sharing or lock violation (a launcher
// writing the file in place, a scanner) is tried again a few times, the file
// closed during each pause; one refused otherwise is not.
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

// The bytes of `record` as the store holds it: a version-1 record without
// bindings.
std::vector<std::uint8_t> RecordBytes(const StoreRecord& record) {
  std::vector<std::uint8_t> bytes(record.version == kRecordVersion1 ? kStoreRecordV1Size
                                                                    : kStoreRecordV2Size);
  StoreLittleEndian<std::uint32_t>(bytes.data() + kVersionOffset, record.version);
  std::copy(record.identity.begin(), record.identity.end(), bytes.data() + kIdentityOffset);
  if (record.version == kRecordVersion2) {
    std::copy(record.adapterBinding.begin(), record.adapterBinding.end(),
              bytes.data() + kAdapterBindingOffset);
    std::copy(record.diskBinding.begin(), record.diskBinding.end(),
              bytes.data() + kDiskBindingOffset);
  }
  return bytes;
}

// Creates this writer's temporary file with CREATE_NEW, so that it is never
// another writer's, under the next name where one exists already (a killed
// writer's of the same process and thread ids). Invalid when no name could
// be made.
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

// Puts a copy of `record` at `path` through a temporary file of this
// launcher's own, never over a store that stands there by then: the move
// replaces nothing, so of two launchers doing this at once one copy stands
// and the other is deleted. The copy is this account's file, with the
// folder's inherited rights. True when this copy stands at `path`.
bool PutCopyInPlace(StoreFileSystem& files, const std::wstring& path, const StoreRecord& record) {
  // Without a folder, the temporary name would land in the current directory.
  if (path.empty()) return false;
  WriterFiles names;
  bool complete = false;
  {
    StoreFile file = CreateTemporaryFile(files, path, names);
    if (!file) return false;
    const std::vector<std::uint8_t> bytes = RecordBytes(record);
    complete =
        WriteExact(files, file, bytes.data(), bytes.size()) && files.FlushFileBuffers(file.Get());
    // Closed before the move: Windows moves no file that is open.
  }
  if (complete && files.MoveFileExW(names.temp, path, kMoveFileWriteThrough)) return true;
  files.DeleteFileW(names.temp);
  return false;
}

// A writer cut between the two renames of its replace (a launcher terminated
// at the end of its report's budget) leaves no store, the old record at its
// backup name and the new one at its temporary name. Puts the newest writer's
// backup that holds a whole record back at `path`, without replacing a store
// that another launcher put there meanwhile: a second reader doing the same
// finds the backup gone or the store in place, and then reads that store.
// The search pattern also matches short names, so every name is checked.
// False when the newest backup that may hold a whole record is held by
// another process or cannot be read (an older one does not go back in its
// place then).
bool RestoreNewestBackup(StoreFileSystem& files, const std::wstring& path) {
  // Without a folder, the pattern would search the current directory.
  if (path.empty()) return true;
  const std::size_t nameStart = NameStart(path);
  const std::wstring_view storeName = std::wstring_view(path).substr(nameStart);
  struct Backup {
    std::wstring name;
    std::uint64_t lastWriteTime;
  };
  std::vector<Backup> backups;
  {
    StoreFindData found;
    StoreSearch search(files.FindFirstFileW(path + L".*" + kStoreBackupSuffix, &found),
                       StoreSearchTraits{&files});
    if (!search) return true;
    do {
      if ((found.attributes & kFileAttributeDirectory) == 0 &&
          IsWriterBackupName(found.fileName, storeName)) {
        backups.push_back({found.fileName, found.lastWriteTime});
      }
    } while (files.FindNextFileW(search.Get(), &found));
  }
  // Newest first (a backup keeps the time its store was written); equal
  // times by name, so that two readers choose the same one.
  std::sort(backups.begin(), backups.end(), [](const Backup& a, const Backup& b) {
    return a.lastWriteTime != b.lastWriteTime ? a.lastWriteTime > b.lastWriteTime : a.name < b.name;
  });
  for (const Backup& backup : backups) {
    std::wstring backupPath = path.substr(0, nameStart) + backup.name;
    std::optional<StoreRecord> record;
    if (ReadRecordAt(files, backupPath, record) == FileRead::Unknown) return false;
    if (!record) continue;
    // Without MOVEFILE_REPLACE_EXISTING: a store that stands by now is newer.
    if (files.MoveFileExW(backupPath, path, kMoveFileWriteThrough)) return true;
    // Not renamed, yet no store stands: the backup is one this account may
    // read but not rename (another user's writer left it in the common
    // folder, whose files only their owner may delete), or another process
    // holds it without sharing deletion. A copy of its record goes in place;
    // the backup stays for the clean-up once a store stands.
    if (!FileExists(files, path)) PutCopyInPlace(files, path, *record);
    return true;
  }
  return true;
}

// Puts a writer's backup back where no file stands at `path`; true when a
// file stands there then. `held` is set when the backup to put back is held
// or cannot be read.
bool RestoredFromBackup(StoreFileSystem& files, const std::wstring& path, bool& held) {
  held = !RestoreNewestBackup(files, path);
  return FileExists(files, path);
}

// Moves the record of the per-user store at `perUserPath` to the common
// place at `commonPath`, where none stood: a copy goes there through a
// temporary file of this launcher's own and a move that replaces nothing, so
// that a store another launcher puts there at the same moment (its own copy
// of the same record, or a record it writes) is never overwritten. Whatever
// stands there then counts, read again; the per-user file is deleted once
// this launcher's copy stands (one that cannot be deleted is harmless: the
// common one wins). Where no copy can be made there (a folder this account
// may not write), the per-user record counts where it is.
FileRead MovePerUserRecord(StoreFileSystem& files, const std::wstring& perUserPath,
                           const std::wstring& commonPath, std::optional<StoreRecord>& record) {
  std::optional<StoreRecord> perUser;
  FileRead read = ReadRecordAt(files, perUserPath, perUser);
  if (read == FileRead::Missing) {
    // Gone since it was seen: another launcher moved it to the common place.
    read = ReadRecordAt(files, commonPath, record);
    return read == FileRead::Missing ? FileRead::Unknown : read;
  }
  if (read == FileRead::Unknown || !perUser) return read;
  const bool copied = PutCopyInPlace(files, commonPath, *perUser);
  read = ReadRecordAt(files, commonPath, record);
  if (read == FileRead::Missing) {
    record = perUser;
    return FileRead::Opened;
  }
  if (copied && read == FileRead::Opened) files.DeleteFileW(perUserPath);
  return read;
}

// Reads the store's record: the common file, else the per-user one, whose
// record then moves to the common place. A missing store is first looked
// for among the writers' backups. Unknown as soon as the file that counts
// cannot be read, and where a common store comes and goes under the read
// (another launcher between the two renames of its replace).
FileRead ReadStoreRecord(StoreFileSystem& files, std::optional<StoreRecord>& record) {
  const std::wstring commonPath = GetIdentityStorePath(files, StoreLocation::Common);
  FileRead read = ReadRecordAt(files, commonPath, record);
  if (read != FileRead::Missing) return read;
  bool held = false;
  if (RestoredFromBackup(files, commonPath, held)) {
    // Put back, or put there by another launcher since the first open.
    read = ReadRecordAt(files, commonPath, record);
    return read == FileRead::Missing ? FileRead::Unknown : read;
  }
  if (held) return FileRead::Unknown;

  const std::wstring perUserPath = GetIdentityStorePath(files, StoreLocation::PerUser);
  if (!FileExists(files, perUserPath) && !RestoredFromBackup(files, perUserPath, held)) {
    return held ? FileRead::Unknown : FileRead::Missing;
  }
  return MovePerUserRecord(files, perUserPath, commonPath, record);
}

enum class PlaceResult {
  Written,
  Refused,  // this place does not take the record this way: try the next way or place
  Failed,   // a write failed part-way: stop
};

// The version, the identity and each binding in one call each, as the record
// has always been written.
bool WriteRecord(StoreFileSystem& files, const StoreFile& file,
                 const std::array<std::uint8_t, kStoreRecordV2Size>& record) {
  return WriteExact(files, file, record.data() + kVersionOffset, 4) &&
         WriteExact(files, file, record.data() + kIdentityOffset, kBlockSize) &&
         WriteExact(files, file, record.data() + kAdapterBindingOffset, kBlockSize) &&
         WriteExact(files, file, record.data() + kDiskBindingOffset, kBlockSize);
}

// Writes the `size` bytes at `data` at `offset` in the file.
bool WriteAt(StoreFileSystem& files, const StoreFile& file, std::size_t offset,
             const std::uint8_t* data, std::size_t size) {
  return files.SetFilePointer(file.Get(), static_cast<std::uint32_t>(offset)) &&
         WriteExact(files, file, data, size);
}

// Makes the record of a store whose rewrite in place was cut after its mark
// whole again from the copy after it: the record's bytes after the version,
// a flush, then the version 2 over the mark and a flush. Until then the copy
// holds the only whole record, and the next rewrite may not overwrite it. A
// store without the mark, or with the mark but no whole version-2 copy
// (which reads as no record), is left as it is. The handle is at the start
// of the file. False when a read or write fails.
bool CompleteCutRewrite(StoreFileSystem& files, const StoreFile& file) {
  std::array<std::uint8_t, kStoreRecordV2Size> copy{};
  std::uint32_t error = 0;
  if (!ReadExact(files, file, copy.data(), kVersionSize, &error)) return error == 0;
  if (ReadLittleEndian32(copy, kVersionOffset) != kStoreRewriteMark) return true;
  if (!files.SetFilePointer(file.Get(), static_cast<std::uint32_t>(kStoreRewriteCopyOffset))) {
    return false;
  }
  if (!ReadExact(files, file, copy.data(), copy.size(), &error)) return error == 0;
  if (ReadLittleEndian32(copy, kVersionOffset) != kRecordVersion2) return true;
  return WriteAt(files, file, kIdentityOffset, copy.data() + kIdentityOffset,
                 copy.size() - kIdentityOffset) &&
         files.FlushFileBuffers(file.Get()) &&
         WriteAt(files, file, kVersionOffset, copy.data() + kVersionOffset, kVersionSize) &&
         files.FlushFileBuffers(file.Get());
}

// Writes the record over the store at `path` in place. The file keeps its
// owner and rights. It is not truncated, and the record is never written
// where the version it sits under counts: a copy of the new record goes
// right after the old one (past every reader's record), a flush, then the
// rewrite mark in the version, which makes the copy count, a flush, the
// record's bytes after the version, a flush, and the version 2 last, which
// makes the record count, and a flush. The version (4 bytes in the file's
// first sector, written by one call) cannot be half written, so a write cut
// anywhere (a failure, the end of the report's budget, a power cut that
// loses what was not flushed) reads as the old record or the new one, the
// version 2 over a version-2 record included. Readers that know no mark take
// the marked file for no record, for the moment it lasts. A store whose
// earlier rewrite was cut is first completed from its copy. Nothing else may
// open the store meanwhile, so no reader sees the record part-way. A store
// that another process holds open is being read or written at this moment:
// the record is not taken elsewhere then. Where no store stands, the file is
// made, and deleted again when the write fails (so that it hides no backup
// that a reader would put back).
PlaceResult WriteRecordInPlace(StoreFileSystem& files, const std::wstring& path,
                               const std::array<std::uint8_t, kStoreRecordV2Size>& record) {
  constexpr std::uint32_t kReadWrite = kGenericRead | kGenericWrite;
  std::uint32_t error = 0;
  bool created = false;
  bool written = false;
  {
    StoreFile file = OpenFile(files, path, kReadWrite, kFileShareNone, kOpenExisting, &error);
    if (!file && error == kErrorFileNotFound) {
      file = OpenFile(files, path, kReadWrite, kFileShareNone, kCreateNew, &error);
      created = file.IsValid();
    }
    if (!file) {
      // A file that appeared since (another launcher's) is as good as held.
      bool held = IsHeldError(error) || error == kErrorFileExists;
      return held ? PlaceResult::Failed : PlaceResult::Refused;
    }
    std::array<std::uint8_t, kVersionSize> mark{};
    StoreLittleEndian<std::uint32_t>(mark.data(), kStoreRewriteMark);
    written = (created || CompleteCutRewrite(files, file)) &&
              WriteAt(files, file, kStoreRewriteCopyOffset, record.data(), record.size()) &&
              files.FlushFileBuffers(file.Get()) &&
              WriteAt(files, file, kVersionOffset, mark.data(), mark.size()) &&
              files.FlushFileBuffers(file.Get()) &&
              WriteAt(files, file, kIdentityOffset, record.data() + kIdentityOffset,
                      record.size() - kIdentityOffset) &&
              files.FlushFileBuffers(file.Get()) &&
              WriteAt(files, file, kVersionOffset, record.data() + kVersionOffset, kVersionSize) &&
              files.FlushFileBuffers(file.Get());
  }
  if (written) return PlaceResult::Written;
  if (created) files.DeleteFileW(path);
  return PlaceResult::Failed;
}

// Removes the writers' files of the store at `path` that were last written
// more than a day ago: a writer that was killed leaves them behind, and no
// live writer keeps one that long. A backup keeps the replaced store's time,
// so it is removed only while a store stands at `path` (checked just before
// each backup's removal): without one, it may hold the only record, which the
// next reader puts back. Files that cannot be deleted are left alone, and so
// are files dated after now (a clock set back).
void RemoveLeftoverWriterFiles(StoreFileSystem& files, const std::wstring& path) {
  const std::size_t nameStart = NameStart(path);
  std::wstring_view storeName = std::wstring_view(path).substr(nameStart);
  StoreFindData found;
  StoreSearch search(files.FindFirstFileW(path + L".*", &found), StoreSearchTraits{&files});
  if (!search) return;
  const std::uint64_t now = files.GetSystemTimeAsFileTime();
  do {
    bool old = now > found.lastWriteTime && now - found.lastWriteTime > kStoreLeftoverAge;
    if (!old || (found.attributes & kFileAttributeDirectory) != 0 ||
        !IsWriterFileName(found.fileName, storeName)) {
      continue;
    }
    if (IsWriterBackupName(found.fileName, storeName) && !FileExists(files, path)) continue;
    files.DeleteFileW(path.substr(0, nameStart) + found.fileName);
  } while (files.FindNextFileW(search.Get(), &found));
}

bool MoveIntoPlace(StoreFileSystem& files, const std::wstring& from, const std::wstring& to) {
  return files.MoveFileExW(from, to, kMoveFileReplaceExisting | kMoveFileWriteThrough);
}

// ReplaceFileW of the store at `path` with the temporary file, tried again
// for a few seconds while it is refused with a sharing violation: a scanner
// opens a freshly closed file for a moment, and the replacement must be open
// nowhere. (The violation comes before either rename, so both files still
// have their names.) Returns the last call's result.
std::uint32_t ReplaceRetryingSharingViolations(StoreFileSystem& files, const std::wstring& path,
                                               const WriterFiles& names) {
  std::uint32_t error = files.ReplaceFileW(path, names.temp, names.backup, 0);
  for (std::uint32_t retry = 0; error == kErrorSharingViolation && retry < kStoreReplaceRetries;
       ++retry) {
    files.Sleep(kStoreReplaceRetryPauseMs);
    error = files.ReplaceFileW(path, names.temp, names.backup, 0);
  }
  return error;
}

// Puts the closed temporary file in the place of the store at `path`: over
// an existing store with ReplaceFileW, which keeps the store's owner, access
// rights and attributes (a moved file would take the folder's inherited
// rights and the writer as owner), completing a replacement that stopped
// part-way; where there is no store yet, with a move. True when the record
// stands at `path`; otherwise the temporary file keeps its name, and the store
// is in place or gone. No backup is left, except where the old store could
// not go back from it (then `backupKept` is set).
bool PutTemporaryFileInPlace(StoreFileSystem& files, const std::wstring& path,
                             const WriterFiles& names, bool& backupKept) {
  backupKept = false;
  if (!FileExists(files, path)) return MoveIntoPlace(files, names.temp, path);
  // No flag that ignores merge errors: a replacement that cannot carry the
  // store's rights over is refused, and the write in place then keeps them.
  bool placed = false;
  switch (ReplaceRetryingSharingViolations(files, path, names)) {
    case 0:
      placed = true;
      break;
    case kErrorUnableToMoveReplacement:
      // The store is gone and the record still under its own name; where the
      // store is still there (as documented with a backup name), the write in
      // place keeps its rights rather than a move replacing them.
      placed = !FileExists(files, path) && MoveIntoPlace(files, names.temp, path);
      break;
    case kErrorUnableToMoveReplacement2:
      // The old store sits at the backup name and nothing at the store's.
      placed = MoveIntoPlace(files, names.temp, path);
      // Where the record cannot go, the old store goes back, unless another
      // writer has put a store in place meanwhile.
      if (!placed) files.MoveFileExW(names.backup, path, kMoveFileWriteThrough);
      break;
    default:
      // ERROR_UNABLE_TO_REMOVE_REPLACED and any other refusal: both files
      // kept their names.
      break;
  }
  // The backup is gone by now wherever the replace did not succeed as
  // documented; a system that leaves a copy of the store there is covered too.
  // Where nothing stands at `path` (the old store could not go back), the
  // backup holds the only record: it stays until a record stands there, or
  // for a reader to put back.
  if (FileExists(files, path)) {
    files.DeleteFileW(names.backup);
  } else {
    backupKept = true;
  }
  return placed;
}

// Writes the record to this writer's temporary file and puts that in the
// place of `path` in one step. A write that fails part-way leaves `path` as
// it was. Where the temporary file cannot be made or put in place, the record
// is written in place, and only then is the temporary file removed: it is not
// deleted while it may hold the only record.
PlaceResult ReplaceRecordAt(StoreFileSystem& files, const std::wstring& path,
                            const std::array<std::uint8_t, kStoreRecordV2Size>& record) {
  RemoveLeftoverWriterFiles(files, path);
  WriterFiles names;
  bool complete = false;
  {
    StoreFile file = CreateTemporaryFile(files, path, names);
    if (!file) return WriteRecordInPlace(files, path, record);
    complete = WriteRecord(files, file, record) && files.FlushFileBuffers(file.Get());
    // Closed here, before the replace: Windows neither moves nor replaces
    // with a file that is open.
  }
  if (!complete) {
    files.DeleteFileW(names.temp);
    return PlaceResult::Failed;
  }
  bool backupKept = false;
  if (PutTemporaryFileInPlace(files, path, names, backupKept)) return PlaceResult::Written;
  PlaceResult result = WriteRecordInPlace(files, path, record);
  files.DeleteFileW(names.temp);
  if (backupKept && result == PlaceResult::Written) files.DeleteFileW(names.backup);
  return result;
}

// Replaces the store at `path` in one step, or writes it in place where
// replacing is refused (no right to delete the store, no right to create a
// file beside it), so that a store that could be written before can still be
// written.
PlaceResult WriteRecordAt(StoreFileSystem& files, const std::wstring& path,
                          const std::array<std::uint8_t, kStoreRecordV2Size>& record) {
  // Without a folder there is no place: a bare temporary name would land in
  // the current directory.
  if (path.empty()) return PlaceResult::Refused;
  return ReplaceRecordAt(files, path, record);
}

}  // namespace

std::string FormatAdapterText(const AdapterAddress& address) {
  std::string text;
  text.reserve(address.size() * 2);
  for (std::uint8_t byte : address) AppendHex(text, byte, HexLetters::Lower);
  return text;
}

std::array<std::uint8_t, 16> BindingHash(std::string_view text) { return Md5(text); }

std::optional<StoreRecord> ParseStoreRecord(std::span<const std::uint8_t> bytes) {
  if (bytes.size() >= kVersionSize &&
      ReadLittleEndian32(bytes, kVersionOffset) == kStoreRewriteMark) {
    if (bytes.size() < kRewriteSize) return std::nullopt;
    std::optional<StoreRecord> copy = ParseRecordAtStart(bytes.subspan(kStoreRewriteCopyOffset));
    if (!copy || copy->version != kRecordVersion2) return std::nullopt;
    copy->rewriteCut = true;
    return copy;
  }
  return ParseRecordAtStart(bytes);
}

std::array<std::uint8_t, kStoreRecordV2Size> BuildStoreRecord(const MachineId& identity,
                                                              std::string_view adapterText,
                                                              std::string_view diskSerial) {
  std::array<std::uint8_t, kStoreRecordV2Size> record{};
  record[kVersionOffset] = static_cast<std::uint8_t>(kRecordVersion2);
  PutBlock(record, kIdentityOffset, identity);
  PutBlock(record, kAdapterBindingOffset, BindingHash(adapterText));
  PutBlock(record, kDiskBindingOffset, BindingHash(diskSerial));
  return record;
}

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

StoreLookup ReadIdentityStore(StoreFileSystem& files, std::string_view adapterText,
                              std::string_view diskSerial, MachineId& identity, bool& mustRewrite) {
  mustRewrite = false;
  std::optional<StoreRecord> record;
  if (ReadStoreRecord(files, record) == FileRead::Unknown) return StoreLookup::Held;
  if (!record) return StoreLookup::NotFound;

  if (record->version == kRecordVersion1) {
    identity = record->identity;
    mustRewrite = true;
    return StoreLookup::Found;
  }
  // One matching binding is enough: the identity survives a change of
  // either the adapter or the disk, not of both.
  if (BindingHash(adapterText) != record->adapterBinding &&
      BindingHash(diskSerial) != record->diskBinding) {
    return StoreLookup::NotFound;
  }
  identity = record->identity;
  // The record stands only in the copy of a cut rewrite: it is written whole.
  mustRewrite = record->rewriteCut;
  return StoreLookup::Found;
}

bool WriteIdentityStore(StoreFileSystem& files, std::string_view diskSerial,
                        std::string_view adapterText, const MachineId& identity) {
  auto record = BuildStoreRecord(identity, adapterText, diskSerial);
  for (StoreLocation location : {StoreLocation::Common, StoreLocation::PerUser}) {
    switch (WriteRecordAt(files, GetIdentityStorePath(files, location), record)) {
      case PlaceResult::Written:
        return true;
      case PlaceResult::Failed:
        return false;
      case PlaceResult::Refused:
        break;
    }
  }
  return false;
}

}  // namespace tarnix
