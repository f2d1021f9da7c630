#include "platform/launch_log_win.h"

#include <cstdlib>
#include <memory>

namespace tarnix::win {
namespace {

static_assert(sizeof(LogFileHandle) == sizeof(HANDLE));
static_assert(sizeof(LogMutexHandle) == sizeof(HANDLE));

HANDLE AsHandle(std::uintptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

Win32LogPlatform::Win32LogPlatform() { ::InitializeCriticalSection(&lock_); }
Win32LogPlatform::~Win32LogPlatform() { ::DeleteCriticalSection(&lock_); }

LogFileHandle Win32LogPlatform::OpenForAppend(const std::wstring& path) {
  // Appending only: every write goes to the end of the file, whoever else
  // writes (the attributes are read for the size). Delete sharing lets
  // another launcher move a full log aside while this handle is open.
  HANDLE file = ::CreateFileW(path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  return reinterpret_cast<LogFileHandle>(file);
}

bool Win32LogPlatform::FileSize(LogFileHandle file, std::uint64_t* size) {
  LARGE_INTEGER value;
  if (!::GetFileSizeEx(AsHandle(file), &value) || value.QuadPart < 0) return false;
  *size = static_cast<std::uint64_t>(value.QuadPart);
  return true;
}

bool Win32LogPlatform::Write(LogFileHandle file, std::string_view bytes) {
  if (bytes.size() > 0xFFFFFFFFu) return false;
  DWORD written = 0;
  return ::WriteFile(AsHandle(file), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     nullptr) &&
         written == bytes.size();
}

void Win32LogPlatform::Close(LogFileHandle file) { ::CloseHandle(AsHandle(file)); }

bool Win32LogPlatform::Rename(const std::wstring& from, const std::wstring& to) {
  return ::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

LogTime Win32LogPlatform::Now() {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  return LogTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
                 now.wMilliseconds};
}

void Win32LogPlatform::Lock() { ::EnterCriticalSection(&lock_); }
void Win32LogPlatform::Unlock() { ::LeaveCriticalSection(&lock_); }

LogMutexHandle Win32LogPlatform::CreateNamedMutex(const std::wstring& name) {
  return reinterpret_cast<LogMutexHandle>(::CreateMutexW(nullptr, FALSE, name.c_str()));
}

std::uint32_t Win32LogPlatform::WaitForMutex(LogMutexHandle mutex, std::uint32_t timeoutMs) {
  return ::WaitForSingleObject(AsHandle(mutex), timeoutMs);
}

void Win32LogPlatform::ReleaseMutex(LogMutexHandle mutex) { ::ReleaseMutex(AsHandle(mutex)); }

void Win32LogPlatform::CloseMutex(LogMutexHandle mutex) { ::CloseHandle(AsHandle(mutex)); }

void OpenProcessLogOnSystem() {
  const wchar_t* temp = ::_wgetenv(L"TEMP");
  if (temp == nullptr || *temp == L'\0') return;
  auto platform = std::make_unique<Win32LogPlatform>();
  auto log = std::make_unique<LaunchLog>(*platform, temp, ::GetCurrentProcessId());
  // A log that could not be opened goes again, before any other thread
  // exists. An open one is never destroyed: worker threads may still write
  // while the process ends.
  if (!log->IsOpen()) return;
  SetProcessLog(log.release());
  static_cast<void>(platform.release());
}

}  // namespace tarnix::win
