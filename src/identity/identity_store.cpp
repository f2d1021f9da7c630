// The store's look-up: ReadIdentityStore of identity_store.h, with the
// backups put back and the move from the per-user place.
#include "identity/identity_store.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "identity/identity_store_files.h"

namespace tarnix {
namespace {

using namespace store_files;

// A writer cut between the two renames of its replace (a launcher terminated
// at the end of its report's budget) leaves no store, the old record at its
// backup name and the new one at its temporary name. Puts the newest writer's
// backup that holds a whole record back at `path`, without replacing a store
// that another launcher put there meanwhile: a second reader doing the same
// finds the backup gone or the store in place, and then reads that store.
// The search pattern also matches short names, so every name is checked.
// False when the folder cannot be searched (access denied, a network error),
// or the newest backup that may hold a whole record is held by another
// process or cannot be read (an older one does not go back in its place
// then).
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
    std::uint32_t error = 0;
    StoreSearch search(files.FindFirstFileW(path + L".*" + kStoreBackupSuffix, &found, &error),
                       StoreSearchTraits{&files});
    if (!search) return IsNothingFoundError(error);
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

// Puts a writer's backup back where no file stands at `path`. Stands when a
// file stands there then; Unknown when none does and the backup to put back
// is held or cannot be read, or the folder cannot be searched.
FileState RestoreFromBackup(StoreFileSystem& files, const std::wstring& path) {
  const bool held = !RestoreNewestBackup(files, path);
  const FileState state = LookUpFile(files, path);
  return held && state == FileState::Missing ? FileState::Unknown : state;
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
// cannot be read or its folder cannot be searched, and where a common store
// comes and goes under the read (another launcher between the two renames of
// its replace).
FileRead ReadStoreRecord(StoreFileSystem& files, std::optional<StoreRecord>& record) {
  const std::wstring commonPath = GetIdentityStorePath(files, StoreLocation::Common);
  FileRead read = ReadRecordAt(files, commonPath, record);
  if (read != FileRead::Missing) return read;
  switch (RestoreFromBackup(files, commonPath)) {
    case FileState::Stands:
      // Put back, or put there by another launcher since the first open.
      read = ReadRecordAt(files, commonPath, record);
      return read == FileRead::Missing ? FileRead::Unknown : read;
    case FileState::Unknown:
      return FileRead::Unknown;
    case FileState::Missing:
      break;
  }

  const std::wstring perUserPath = GetIdentityStorePath(files, StoreLocation::PerUser);
  FileState perUser = LookUpFile(files, perUserPath);
  if (perUser == FileState::Missing) perUser = RestoreFromBackup(files, perUserPath);
  if (perUser == FileState::Unknown) return FileRead::Unknown;
  if (perUser == FileState::Missing) {
    // Another launcher may have moved the per-user store to the common place
    // since that was read: its record counts.
    return ReadRecordAt(files, commonPath, record);
  }
  return MovePerUserRecord(files, perUserPath, commonPath, record);
}

}  // namespace

StoreLookup ReadIdentityStore(StoreFileSystem& files, std::string_view adapterText,
                              std::string_view diskSerial, MachineId& identity, bool& mustRewrite,
                              StoreRecord* accepted) {
  mustRewrite = false;
  std::optional<StoreRecord> record;
  if (ReadStoreRecord(files, record) == FileRead::Unknown) return StoreLookup::Held;
  if (!record) return StoreLookup::NotFound;

  if (record->version == kStoreVersion1) {
    identity = record->identity;
    if (accepted != nullptr) *accepted = *record;
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
  if (accepted != nullptr) *accepted = *record;
  // The record stands only in the copy of a cut rewrite: it is written whole.
  mustRewrite = record->rewriteCut;
  return StoreLookup::Found;
}

}  // namespace tarnix
