#pragma once
// The identity store's files as its reading and writing share them: handles,
// exact reads and writes, the record read from a file with the retries of a
// held one, and a writer's own files beside the store (their names, the
// temporary file, a copy put in place). Internal to the store.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "identity/identity_store.h"
#include "platform/unique_handle.h"

namespace tarnix::store_files {

using StoreFileTraits = ApiHandleTraits<StoreFileSystem, StoreHandle, kInvalidHandleValue,
                                        &StoreFileSystem::CloseHandle>;
using StoreFile = UniqueHandle<StoreFileTraits>;
using StoreSearchTraits =
    ApiHandleTraits<StoreFileSystem, StoreHandle, kInvalidHandleValue, &StoreFileSystem::FindClose>;
using StoreSearch = UniqueHandle<StoreSearchTraits>;

// CreateFileW into an owning handle; its error in `*error` (0 when opened).
StoreFile OpenFile(StoreFileSystem& files, const std::wstring& path, std::uint32_t access,
                   std::uint32_t shareMode, std::uint32_t disposition,
                   std::uint32_t* error = nullptr);

// Readers share deletion, so that another launcher's replace of the store
// (which renames the file a reader may hold) does not fail because of them;
// they do not share writing, so no write in place can cut a record under them.
StoreFile OpenForReading(StoreFileSystem& files, const std::wstring& path,
                         std::uint32_t* error = nullptr);

// Another process has the file open in a way that excludes this open (a
// writer sharing nothing, a scanner), or has locked a range of it.
bool IsHeldError(std::uint32_t error);

// The only refusals of an open that say no file stands there: none by that
// name, or no folder along the path. Any other (access denied on a redirected
// folder, a network error) leaves the file's record unknown.
bool IsMissingError(std::uint32_t error);

// A read counts only when every byte asked for arrives. False otherwise, with
// ReadFile's error in `*error`, or 0 where the file ends first.
bool ReadExact(StoreFileSystem& files, const StoreFile& file, std::uint8_t* buffer,
               std::size_t size, std::uint32_t* error);

// A write counts only when every byte was written.
bool WriteExact(StoreFileSystem& files, const StoreFile& file, const std::uint8_t* data,
                std::size_t size);

// The only refusals of a search that say nothing matches: no such file, no
// folder along the path, no entry left. Any other (access denied on an
// offline redirected folder, a network error) leaves the folder unknown.
bool IsNothingFoundError(std::uint32_t error);

enum class FileState {
  Stands,   // a file or folder matches the path
  Missing,  // nothing matches, or no folder along the path
  Unknown,  // the folder could not be searched: whether a file stands there is unknown
};

// FindFirstFileW as an existence test. Missing, with no search, for an empty
// path (a bare name would be looked for in the current directory).
FileState LookUpFile(StoreFileSystem& files, const std::wstring& path);

// True only where a file is known to stand at `path`.
bool FileExists(StoreFileSystem& files, const std::wstring& path);

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
                      std::optional<StoreRecord>& record);

// The temporary and backup file of one writer of a store: "Global.db." + the
// writer's process id, thread id and attempt + ".tmp" or ".bak".
struct WriterFiles {
  std::wstring temp;
  std::wstring backup;
};

// A writer's temporary or backup file of the store named `storeName`: the
// names WriterFileNames makes, and the temporary name earlier versions
// shared ("Global.db.tmp").
bool IsWriterFileName(std::wstring_view name, std::wstring_view storeName);

// The same, of a backup.
bool IsWriterBackupName(std::wstring_view name, std::wstring_view storeName);

// Where the file name of a store path starts: after its last separator.
std::size_t NameStart(const std::wstring& path);

// Creates this writer's temporary file with CREATE_NEW, so that it is never
// another writer's, under the next name where one exists already (a killed
// writer's of the same process and thread ids). Invalid when no name could
// be made.
StoreFile CreateTemporaryFile(StoreFileSystem& files, const std::wstring& path, WriterFiles& names);

// Puts a copy of `record` at `path` through a temporary file of this
// launcher's own, never over a store that stands there by then: the move
// replaces nothing, so of two launchers doing this at once one copy stands
// and the other is deleted. The copy is this account's file, with the
// folder's inherited rights. True when this copy stands at `path`.
bool PutCopyInPlace(StoreFileSystem& files, const std::wstring& path, const StoreRecord& record);

}  // namespace tarnix::store_files
