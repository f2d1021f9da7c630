// The store's write: WriteIdentityStore of identity_store.h.
#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "identity/identity_store.h"
#include "identity/identity_store_files.h"
#include "platform/bytes.h"

namespace tarnix {
namespace {

using namespace store_files;

enum class PlaceResult {
  Written,
  Refused,  // this place does not take the record this way: try the next way or place
  Failed,   // a write failed part-way: stop
};

// The version, the identity and each binding in one call each, as the record
// has always been written.
bool WriteRecord(StoreFileSystem& files, const StoreFile& file,
                 const std::array<std::uint8_t, kStoreRecordV2Size>& record) {
  return WriteExact(files, file, record.data() + kStoreVersionOffset, 4) &&
         WriteExact(files, file, record.data() + kStoreIdentityOffset, kStoreBlockSize) &&
         WriteExact(files, file, record.data() + kStoreAdapterBindingOffset, kStoreBlockSize) &&
         WriteExact(files, file, record.data() + kStoreDiskBindingOffset, kStoreBlockSize);
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
  if (!ReadExact(files, file, copy.data(), kStoreVersionSize, &error)) return error == 0;
  if (StoreRecordVersion(copy) != kStoreRewriteMark) return true;
  if (!files.SetFilePointer(file.Get(), static_cast<std::uint32_t>(kStoreRewriteCopyOffset))) {
    return false;
  }
  if (!ReadExact(files, file, copy.data(), copy.size(), &error)) return error == 0;
  if (StoreRecordVersion(copy) != kStoreVersion2) return true;
  return WriteAt(files, file, kStoreIdentityOffset, copy.data() + kStoreIdentityOffset,
                 copy.size() - kStoreIdentityOffset) &&
         files.FlushFileBuffers(file.Get()) &&
         WriteAt(files, file, kStoreVersionOffset, copy.data() + kStoreVersionOffset,
                 kStoreVersionSize) &&
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
    std::array<std::uint8_t, kStoreVersionSize> mark{};
    StoreLittleEndian<std::uint32_t>(mark.data(), kStoreRewriteMark);
    written = (created || CompleteCutRewrite(files, file)) &&
              WriteAt(files, file, kStoreRewriteCopyOffset, record.data(), record.size()) &&
              files.FlushFileBuffers(file.Get()) &&
              WriteAt(files, file, kStoreVersionOffset, mark.data(), mark.size()) &&
              files.FlushFileBuffers(file.Get()) &&
              WriteAt(files, file, kStoreIdentityOffset, record.data() + kStoreIdentityOffset,
                      record.size() - kStoreIdentityOffset) &&
              files.FlushFileBuffers(file.Get()) &&
              WriteAt(files, file, kStoreVersionOffset, record.data() + kStoreVersionOffset,
                      kStoreVersionSize) &&
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
  std::uint32_t error = 0;
  StoreSearch search(files.FindFirstFileW(path + L".*", &found, &error), StoreSearchTraits{&files});
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

// The common place first, the per-user one where the common one refuses.
bool WriteRecordBytes(StoreFileSystem& files,
                      const std::array<std::uint8_t, kStoreRecordV2Size>& record) {
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

}  // namespace

bool WriteIdentityStore(StoreFileSystem& files, std::string_view diskSerial,
                        std::string_view adapterText, const MachineId& identity) {
  return WriteRecordBytes(files, BuildStoreRecord(identity, adapterText, diskSerial));
}

bool WriteIdentityStore(StoreFileSystem& files, const StoreRecord& record) {
  if (record.version != kStoreVersion2) return false;
  const std::vector<std::uint8_t> bytes = StoreRecordBytes(record);
  std::array<std::uint8_t, kStoreRecordV2Size> whole{};
  std::copy(bytes.begin(), bytes.end(), whole.begin());
  return WriteRecordBytes(files, whole);
}

}  // namespace tarnix
