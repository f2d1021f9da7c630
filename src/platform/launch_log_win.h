#pragma once
// The launch log on the real file system.

#include <windows.h>

#include "platform/launch_log.h"

namespace tarnix::win {

class Win32LogPlatform final : public LogPlatform {
 public:
  Win32LogPlatform();
  ~Win32LogPlatform() override;
  Win32LogPlatform(const Win32LogPlatform&) = delete;
  Win32LogPlatform& operator=(const Win32LogPlatform&) = delete;

  LogFileHandle OpenForAppend(const std::wstring& path) override;
  bool FileSize(LogFileHandle file, std::uint64_t* size) override;
  bool Write(LogFileHandle file, std::string_view bytes) override;
  void Close(LogFileHandle file) override;
  bool Rename(const std::wstring& from, const std::wstring& to) override;
  LogTime Now() override;
  void Lock() override;
  void Unlock() override;
  LogMutexHandle CreateNamedMutex(const std::wstring& name) override;
  std::uint32_t WaitForMutex(LogMutexHandle mutex, std::uint32_t timeoutMs) override;
  void ReleaseMutex(LogMutexHandle mutex) override;
  void CloseMutex(LogMutexHandle mutex) override;

 private:
  CRITICAL_SECTION lock_;
};

// Opens the process's log in the folder named by "TEMP" (where the installer
// goes too) and installs it for LogLine. Call once, first thing, before any
// other thread starts. The log is never closed: threads write to it until
// the process ends, and the process's end closes its file and mutex handles.
void OpenProcessLogOnSystem();

}  // namespace tarnix::win
