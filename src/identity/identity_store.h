#pragma once
// The identity store: the file "Global.db" below "\Korvane\Common" in an
// application-data folder, which keeps the machine identity from run to run
// and binds it to a hash of the adapter text and of the disk serial text.
//
// All file-system access goes through StoreFileSystem, shaped like the Win32
// and C run-time calls it stands for, so the Win32 side is a pass-through.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "identity/identity_types.h"
#include "platform/win32_values.h"

namespace tarnix {

// Opaque file and search handles; kInvalidHandleValue when none.
using StoreHandle = std::uintptr_t;

// Win32 values the store passes through its file-system interface.
inline constexpr int kCsidlAppData = 0x001A;        // CSIDL_APPDATA
inline constexpr int kCsidlCommonAppData = 0x0023;  // CSIDL_COMMON_APPDATA
inline constexpr std::uint32_t kFileShareNone = 0u;
inline constexpr std::uint32_t kDelete = 0x00010000u;  // DELETE
inline constexpr std::uint32_t kCreateNew = 1u;
inline constexpr std::uint32_t kCreateAlways = 2u;
inline constexpr std::uint32_t kOpenExisting = 3u;
inline constexpr std::uint32_t kMoveFileReplaceExisting = 0x1u;
inline constexpr std::uint32_t kMoveFileWriteThrough = 0x8u;
inline constexpr std::uint32_t kFileAttributeDirectory = 0x10u;
inline constexpr std::uint32_t kStatModeDirectory = 0x4000u;  // _S_IFDIR
// GetLastError values the store acts on.
inline constexpr std::uint32_t kErrorFileNotFound = 2u;
inline constexpr std::uint32_t kErrorPathNotFound = 3u;
inline constexpr std::uint32_t kErrorAccessDenied = 5u;
inline constexpr std::uint32_t kErrorGenFailure = 31u;
inline constexpr std::uint32_t kErrorSharingViolation = 32u;
inline constexpr std::uint32_t kErrorLockViolation = 33u;
inline constexpr std::uint32_t kErrorFileExists = 80u;
inline constexpr std::uint32_t kErrorAlreadyExists = 183u;
inline constexpr std::uint32_t kErrorUnableToRemoveReplaced = 1175u;
inline constexpr std::uint32_t kErrorUnableToMoveReplacement = 1176u;
inline constexpr std::uint32_t kErrorUnableToMoveReplacement2 = 1177u;

// What FindFirstFileW and FindNextFileW tell of one entry.
struct StoreFindData {
  std::wstring fileName;            // cFileName
  std::uint32_t attributes = 0;     // dwFileAttributes
  std::uint64_t lastWriteTime = 0;  // ftLastWriteTime: 100 ns units since 1601
};

class StoreFileSystem {
 public:
  virtual ~StoreFileSystem() = default;

  // SHGetSpecialFolderPathW(no owner, buffer, csidl, create): writes the
  // folder's path with a terminating zero into `buffer` (kMaxPath units).
  // Returns false on failure.
  virtual bool GetSpecialFolderPath(wchar_t* buffer, int csidl, bool create) = 0;

  // CreateFileW without security attributes or template. Returns
  // kInvalidHandleValue on failure, with GetLastError() in `*error` (never 0
  // then).
  virtual StoreHandle CreateFileW(const std::wstring& path, std::uint32_t access,
                                  std::uint32_t shareMode, std::uint32_t disposition,
                                  std::uint32_t flags, std::uint32_t* error) = 0;
  // ReadFile: false on failure, with GetLastError() in `*error` (0 on
  // success, never 0 on failure); *read is the count that arrived.
  virtual bool ReadFile(StoreHandle file, void* buffer, std::uint32_t size, std::uint32_t* read,
                        std::uint32_t* error) = 0;
  // WriteFile: false on failure; *written is the count that was written.
  virtual bool WriteFile(StoreHandle file, const void* data, std::uint32_t size,
                         std::uint32_t* written) = 0;
  // SetFilePointer(file, offset, no high part, FILE_BEGIN): false on failure.
  virtual bool SetFilePointer(StoreHandle file, std::uint32_t offset) = 0;
  // FlushFileBuffers: false on failure.
  virtual bool FlushFileBuffers(StoreHandle file) = 0;
  // GetFileSize without the high part: the low 32 bits, 0xFFFFFFFF on failure.
  virtual std::uint32_t GetFileSize(StoreHandle file) = 0;
  virtual void CloseHandle(StoreHandle file) = 0;

  // FindFirstFileW: kInvalidHandleValue when nothing matches; otherwise the
  // first entry in `*found`. The last part of `path` may hold wildcards.
  virtual StoreHandle FindFirstFileW(const std::wstring& path, StoreFindData* found) = 0;
  // FindNextFileW: false when no entry is left.
  virtual bool FindNextFileW(StoreHandle search, StoreFindData* found) = 0;
  virtual void FindClose(StoreHandle search) = 0;

  // DeleteFileW, MoveFileExW: false on failure.
  virtual bool DeleteFileW(const std::wstring& path) = 0;
  virtual bool MoveFileExW(const std::wstring& from, const std::wstring& to,
                           std::uint32_t flags) = 0;
  // ReplaceFileW(replaced, replacement, backup, flags): the replacement
  // takes the replaced file's name, owner, access rights and attributes, and
  // the replaced file goes to the backup name (none when empty). Returns 0 on
  // success, else GetLastError(), never 0. A failure may leave the files
  // part-way: ERROR_UNABLE_TO_MOVE_REPLACEMENT (the replaced file gone, or
  // with a backup name both files under their names),
  // ERROR_UNABLE_TO_MOVE_REPLACEMENT_2 (the replaced file at the backup name),
  // anything else (both files under their names).
  virtual std::uint32_t ReplaceFileW(const std::wstring& replaced, const std::wstring& replacement,
                                     const std::wstring& backup, std::uint32_t flags) = 0;

  // GetSystemTimeAsFileTime: 100 ns units since 1601.
  virtual std::uint64_t GetSystemTimeAsFileTime() = 0;
  // GetCurrentProcessId and GetCurrentThreadId: what makes a writer's file
  // names its own.
  virtual std::uint32_t GetCurrentProcessId() = 0;
  virtual std::uint32_t GetCurrentThreadId() = 0;

  // Sleep: suspends the calling thread for `milliseconds`.
  virtual void Sleep(std::uint32_t milliseconds) = 0;

  // _wstat: true and the st_mode bits in *mode when the query succeeds.
  virtual bool Stat(const std::wstring& path, std::uint32_t* mode) = 0;
  // _wmkdir: true when the folder was created.
  virtual bool MakeDirectory(const std::wstring& path) = 0;
};

enum class StoreLocation {
  Common,   // CSIDL_COMMON_APPDATA: tried first for reading and writing
  PerUser,  // CSIDL_APPDATA: the fallback, and the source of the one-time move
};

inline constexpr wchar_t kStoreFolderPart[] = L"\\Korvane\\Common";
inline constexpr wchar_t kStoreFileName[] = L"\\Global.db";
// A writer's own files beside the store: "Global.db." + its unique part
// (process id, thread id and attempt, 8 hexadecimal digits each:
// "00000f3c-00000a10-00000000")
// + ".tmp" for the record on its way, ".bak" for the replaced store.
inline constexpr wchar_t kStoreTempSuffix[] = L".tmp";
inline constexpr wchar_t kStoreBackupSuffix[] = L".bak";
// Names tried for the temporary file before the write goes in place.
inline constexpr std::uint32_t kStoreTempNameAttempts = 8;
// A writer's file older than this (100 ns units: one day) is a killed
// writer's leftover, which the next writer removes (a backup only while a
// store stands).
inline constexpr std::uint64_t kStoreLeftoverAge = 24ull * 60 * 60 * 10'000'000;
// A replace refused with a sharing violation (a scanner holding the fresh
// temporary file) is tried again this many times, this long apart, before
// the record is written in place.
inline constexpr std::uint32_t kStoreReplaceRetries = 5;
inline constexpr std::uint32_t kStoreReplaceRetryPauseMs = 500;
// A store that another process holds without sharing reading (a launcher
// writing it in place, a scanner) or with a locked range is read again this
// many times, this long apart, before the read gives up as held.
inline constexpr std::uint32_t kStoreHeldReadRetries = 4;
inline constexpr std::uint32_t kStoreHeldReadRetryPauseMs = 250;

// The 12 lowercase hexadecimal digits of the address's 6 bytes, in order.
std::string FormatAdapterText(const AdapterAddress& address);

// MD5 of the text's bytes, zero bytes included, no terminator.
std::array<std::uint8_t, 16> BindingHash(std::string_view text);

// One store record as read or written.
struct StoreRecord {
  std::uint32_t version = 0;  // 1 (legacy, no bindings) or 2
  MachineId identity{};
  std::array<std::uint8_t, 16> adapterBinding{};  // version 2 only
  std::array<std::uint8_t, 16> diskBinding{};     // version 2 only
  // Read from the copy after the record: a rewrite in place was cut after
  // its mark, so the record at the start of the file is not whole.
  bool rewriteCut = false;
};

inline constexpr std::size_t kStoreRecordV1Size = 20;
inline constexpr std::size_t kStoreRecordV2Size = 52;
// A rewrite in place first puts a whole copy of the new record right after
// the record, then marks the record's version (0x80 | 2) while it writes the
// record over; until the version is written back, the copy counts. Readers
// of the two versions take the mark for an unknown version.
inline constexpr std::uint32_t kStoreRewriteMark = 0x82u;
inline constexpr std::size_t kStoreRewriteCopyOffset = kStoreRecordV2Size;

// Decodes the record at the start of `bytes` (little-endian version at 0,
// identity at 4, adapter binding at 20, disk binding at 36); under the
// rewrite mark, the version-2 record at kStoreRewriteCopyOffset instead
// (with `rewriteCut` set). Bytes after the record are ignored. Empty when
// the bytes are too few for the version or the version is neither 1 nor 2
// (nor the mark with a whole version-2 copy after it).
std::optional<StoreRecord> ParseStoreRecord(std::span<const std::uint8_t> bytes);

// The 52 bytes of a version-2 record.
std::array<std::uint8_t, kStoreRecordV2Size> BuildStoreRecord(const MachineId& identity,
                                                              std::string_view adapterText,
                                                              std::string_view diskSerial);

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

// What a look-up in the store found.
enum class StoreLookup {
  Found,     // a record gave the identity
  NotFound,  // no store, no whole record, or a record of other hardware: a new identity is stored
  Held,      // the store (or the backup to put back) was held by another process throughout the
             // read's retries, or could not be read for a reason other than its absence (access
             // denied, a network error): its record is unknown, so nothing may be written over it
};

// Looks the identity up in the store. Returns Found and fills `identity` when
// a version-2 record matches at least one binding, or a version-1 record was
// read; `mustRewrite` is then set for a version-1 record and for one read
// from the copy of a cut rewrite. Otherwise leaves `identity` untouched.
// `mustRewrite` is cleared at entry. Only a file (or folder) that is not
// there counts as missing. An open or read refused with a sharing or lock
// violation is tried again kStoreHeldReadRetries times,
// kStoreHeldReadRetryPauseMs apart; still refused, or refused for any other
// reason, the result is Held. Where no file stands at a store's path but a
// writer's backup of it holds a whole record (a writer cut between the two
// renames of its replace), the newest such backup is first moved back into
// place, never over a store that another launcher has put there meanwhile (a
// backup that this account may read but not rename, such as another user's
// in the common folder, is copied into place instead and left). The record
// of a per-user file with no common file beside it is then copied to the
// common place, never over a common store that another launcher has put
// there meanwhile; whatever stands there then counts, and the per-user file
// is deleted once this launcher's copy stands. The store is opened sharing
// reading and deletion, so another process may replace it meanwhile.
StoreLookup ReadIdentityStore(StoreFileSystem& files, std::string_view adapterText,
                              std::string_view diskSerial, MachineId& identity, bool& mustRewrite);

// Writes a version-2 record to the common place, or to the per-user place
// when the common file can be neither replaced nor written. The record goes
// to a temporary file of this writer's own (a unique name, made with
// CREATE_NEW, beside the store) first, which then replaces the store file in
// one step with ReplaceFileW and a backup name of its own (keeping an
// existing file's owner, access rights and attributes), so a write that fails
// part-way leaves the previous file as it was and two writers at once never
// touch each other's files. A replacement that fails part-way is completed
// with a move; where it is refused (no right to delete the store, no right to
// create files beside it), the record is written over the store file in
// place, without truncating it: a copy of the new record after the old one
// first, then the rewrite mark in the version, the record, and the version
// last, each step flushed, so that a write cut anywhere leaves the old record
// or the new one (a store whose earlier rewrite was cut is first completed
// from its copy); a replace refused with a sharing violation is first tried
// again for a few seconds. No temporary or backup file is left behind while
// the record stands, and the writer's files of the store older than a day
// (of a killed writer) are removed, a backup only while a store stands.
// Returns true only when the whole record is in place; false also when
// another process holds the store open while the record would be written in
// place.
bool WriteIdentityStore(StoreFileSystem& files, std::string_view diskSerial,
                        std::string_view adapterText, const MachineId& identity);

}  // namespace tarnix
