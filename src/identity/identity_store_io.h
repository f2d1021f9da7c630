#pragma once
// The calls the identity store makes to the file system, shaped like the
// Win32 and C run-time calls they stand for, so that the Win32 side
// (identity_store_win.cpp) is a pass-through and the logic is tested against
// fakes.

#include <cstdint>
#include <string>

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
// GetLastError values the store acts on (with kErrorAccessDenied and
// kErrorSharingViolation of platform/win32_values.h).
inline constexpr std::uint32_t kErrorFileNotFound = 2u;
inline constexpr std::uint32_t kErrorPathNotFound = 3u;
inline constexpr std::uint32_t kErrorNoMoreFiles = 18u;
// A search below a file that stands where a folder should: nothing can be
// stored there (Wine gives the first, Windows the second).
inline constexpr std::uint32_t kErrorInvalidName = 123u;
inline constexpr std::uint32_t kErrorDirectory = 267u;
inline constexpr std::uint32_t kErrorGenFailure = 31u;
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

  // FindFirstFileW: kInvalidHandleValue on failure, with GetLastError() in
  // `*error` (never 0 then): nothing matches, or the folder could not be
  // searched (access denied, a network error); otherwise the first entry in
  // `*found` and 0 in `*error`. The last part of `path` may hold wildcards.
  virtual StoreHandle FindFirstFileW(const std::wstring& path, StoreFindData* found,
                                     std::uint32_t* error) = 0;
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

}  // namespace tarnix
