#include "identity/identity_store_win.h"

#include <windows.h>
// After windows.h, which the shell and run-time headers build on.
#include <direct.h>
#include <shlobj.h>
#include <sys/stat.h>
#include <sys/types.h>

namespace tarnix::win {
namespace {

HANDLE ToHandle(StoreHandle handle) { return reinterpret_cast<HANDLE>(handle); }
StoreHandle FromHandle(HANDLE handle) { return reinterpret_cast<StoreHandle>(handle); }

// GetLastError after a failed call; a failure never reads as success.
std::uint32_t LastErrorOfFailure() {
  DWORD error = ::GetLastError();
  return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;
}

std::uint64_t FromFileTime(const FILETIME& time) {
  return (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

void FillFindData(const WIN32_FIND_DATAW& data, StoreFindData* found) {
  found->fileName = data.cFileName;
  found->attributes = data.dwFileAttributes;
  found->lastWriteTime = FromFileTime(data.ftLastWriteTime);
}

}  // namespace

static_assert(sizeof(StoreHandle) == sizeof(HANDLE));
static_assert(kCsidlAppData == CSIDL_APPDATA);
static_assert(kCsidlCommonAppData == CSIDL_COMMON_APPDATA);
static_assert(kFileShareNone == 0);  // no FILE_SHARE_ flag: a share mode without a name
static_assert(kDelete == DELETE);
static_assert(kCreateNew == CREATE_NEW);
static_assert(kCreateAlways == CREATE_ALWAYS);
static_assert(kOpenExisting == OPEN_EXISTING);
static_assert(kMoveFileReplaceExisting == MOVEFILE_REPLACE_EXISTING);
static_assert(kMoveFileWriteThrough == MOVEFILE_WRITE_THROUGH);
static_assert(kFileAttributeDirectory == FILE_ATTRIBUTE_DIRECTORY);
static_assert(kStatModeDirectory == _S_IFDIR);
static_assert(kErrorFileNotFound == ERROR_FILE_NOT_FOUND);
static_assert(kErrorPathNotFound == ERROR_PATH_NOT_FOUND);
static_assert(kErrorNoMoreFiles == ERROR_NO_MORE_FILES);
static_assert(kErrorInvalidName == ERROR_INVALID_NAME);
static_assert(kErrorDirectory == ERROR_DIRECTORY);
static_assert(kErrorAccessDenied == ERROR_ACCESS_DENIED);
static_assert(kErrorGenFailure == ERROR_GEN_FAILURE);
static_assert(kErrorSharingViolation == ERROR_SHARING_VIOLATION);
static_assert(kErrorLockViolation == ERROR_LOCK_VIOLATION);
static_assert(kErrorFileExists == ERROR_FILE_EXISTS);
static_assert(kErrorAlreadyExists == ERROR_ALREADY_EXISTS);
static_assert(kErrorUnableToRemoveReplaced == ERROR_UNABLE_TO_REMOVE_REPLACED);
static_assert(kErrorUnableToMoveReplacement == ERROR_UNABLE_TO_MOVE_REPLACEMENT);
static_assert(kErrorUnableToMoveReplacement2 == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2);
static_assert(kMaxPath == MAX_PATH);  // the buffer of SHGetSpecialFolderPathW

bool Win32StoreFileSystem::GetSpecialFolderPath(wchar_t* buffer, int csidl, bool create) {
  return ::SHGetSpecialFolderPathW(nullptr, buffer, csidl, create ? TRUE : FALSE) != FALSE;
}

StoreHandle Win32StoreFileSystem::CreateFileW(const std::wstring& path, std::uint32_t access,
                                              std::uint32_t shareMode, std::uint32_t disposition,
                                              std::uint32_t flags, std::uint32_t* error) {
  HANDLE file =
      ::CreateFileW(path.c_str(), access, shareMode, nullptr, disposition, flags, nullptr);
  *error = file == INVALID_HANDLE_VALUE ? LastErrorOfFailure() : 0;
  return FromHandle(file);
}

bool Win32StoreFileSystem::ReadFile(StoreHandle file, void* buffer, std::uint32_t size,
                                    std::uint32_t* read, std::uint32_t* error) {
  DWORD count = 0;
  BOOL ok = ::ReadFile(ToHandle(file), buffer, size, &count, nullptr);
  // A range another process locked fails with ERROR_LOCK_VIOLATION.
  *error = ok ? 0 : LastErrorOfFailure();
  *read = count;
  return ok != FALSE;
}

bool Win32StoreFileSystem::WriteFile(StoreHandle file, const void* data, std::uint32_t size,
                                     std::uint32_t* written) {
  DWORD count = 0;
  BOOL ok = ::WriteFile(ToHandle(file), data, size, &count, nullptr);
  *written = count;
  return ok != FALSE;
}

bool Win32StoreFileSystem::SetFilePointer(StoreHandle file, std::uint32_t offset) {
  // Without a high part the offset stays below 2 GiB, where
  // INVALID_SET_FILE_POINTER is never a position and always a failure.
  return ::SetFilePointer(ToHandle(file), static_cast<LONG>(offset), nullptr, FILE_BEGIN) !=
         INVALID_SET_FILE_POINTER;
}

bool Win32StoreFileSystem::FlushFileBuffers(StoreHandle file) {
  return ::FlushFileBuffers(ToHandle(file)) != FALSE;
}

std::uint32_t Win32StoreFileSystem::GetFileSize(StoreHandle file) {
  return ::GetFileSize(ToHandle(file), nullptr);
}

void Win32StoreFileSystem::CloseHandle(StoreHandle file) { ::CloseHandle(ToHandle(file)); }

StoreHandle Win32StoreFileSystem::FindFirstFileW(const std::wstring& path, StoreFindData* found,
                                                 std::uint32_t* error) {
  WIN32_FIND_DATAW data;
  HANDLE search = ::FindFirstFileW(path.c_str(), &data);
  // No match is ERROR_FILE_NOT_FOUND (ERROR_NO_MORE_FILES on some file
  // systems); a folder that cannot be reached or listed fails otherwise.
  *error = search == INVALID_HANDLE_VALUE ? LastErrorOfFailure() : 0;
  if (search != INVALID_HANDLE_VALUE) FillFindData(data, found);
  return FromHandle(search);
}

bool Win32StoreFileSystem::FindNextFileW(StoreHandle search, StoreFindData* found) {
  WIN32_FIND_DATAW data;
  if (!::FindNextFileW(ToHandle(search), &data)) return false;
  FillFindData(data, found);
  return true;
}

void Win32StoreFileSystem::FindClose(StoreHandle search) { ::FindClose(ToHandle(search)); }

bool Win32StoreFileSystem::DeleteFileW(const std::wstring& path) {
  return ::DeleteFileW(path.c_str()) != FALSE;
}

bool Win32StoreFileSystem::MoveFileExW(const std::wstring& from, const std::wstring& to,
                                       std::uint32_t flags) {
  return ::MoveFileExW(from.c_str(), to.c_str(), flags) != FALSE;
}

std::uint32_t Win32StoreFileSystem::ReplaceFileW(const std::wstring& replaced,
                                                 const std::wstring& replacement,
                                                 const std::wstring& backup, std::uint32_t flags) {
  // Present in kernel32 since Windows 2000.
  if (::ReplaceFileW(replaced.c_str(), replacement.c_str(),
                     backup.empty() ? nullptr : backup.c_str(), flags, nullptr, nullptr)) {
    return 0;
  }
  return LastErrorOfFailure();
}

std::uint64_t Win32StoreFileSystem::GetSystemTimeAsFileTime() {
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  return FromFileTime(now);
}

void Win32StoreFileSystem::Sleep(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

std::uint32_t Win32StoreFileSystem::GetCurrentProcessId() { return ::GetCurrentProcessId(); }

std::uint32_t Win32StoreFileSystem::GetCurrentThreadId() { return ::GetCurrentThreadId(); }

bool Win32StoreFileSystem::Stat(const std::wstring& path, std::uint32_t* mode) {
  struct _stat status;
  if (::_wstat(path.c_str(), &status) != 0) return false;
  *mode = status.st_mode;
  return true;
}

bool Win32StoreFileSystem::MakeDirectory(const std::wstring& path) {
  return ::_wmkdir(path.c_str()) == 0;
}

}  // namespace tarnix::win
