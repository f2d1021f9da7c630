#pragma once
// The launch log: one line per step that can fail, appended by every launch
// to "TarnixLauncher.log" in the temporary folder, so that a failure leaves a
// trace the user can send. Logging never stops a launch: a log that cannot be
// opened or written is skipped without a word.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/unique_handle.h"
#include "platform/win32_values.h"

namespace tarnix {

inline constexpr wchar_t kLogFileName[] = L"TarnixLauncher.log";
inline constexpr wchar_t kOldLogFileName[] = L"TarnixLauncher.log.1";
// A log at or past this size is moved aside before the next line.
inline constexpr std::uint64_t kLogSizeLimit = 1024ull * 1024;
// While a full log cannot be moved aside (the older log is held open), lines
// go on up to this size; a line that would take the log past it is dropped.
inline constexpr std::uint64_t kLogHardLimit = 2 * kLogSizeLimit;
// Longer texts (a hostile command line) are cut, so that no line floods the log.
inline constexpr std::size_t kLogTextLimit = 2048;
// The mutex that all launchers of a logon session take around each line, so
// that the size check and the move aside are one step.
inline constexpr wchar_t kLogMutexName[] = L"Local\\TarnixLauncherLog";
// How long a line waits for another launcher's line; past it, the line is
// written without moving a full log aside.
inline constexpr std::uint32_t kLogMutexWaitMs = 500;

using LogFileHandle = std::uintptr_t;
using LogMutexHandle = std::uintptr_t;

// GetLocalTime's fields that a line shows.
struct LogTime {
  std::uint16_t year = 0;
  std::uint16_t month = 0;
  std::uint16_t day = 0;
  std::uint16_t hour = 0;
  std::uint16_t minute = 0;
  std::uint16_t second = 0;
  std::uint16_t milliseconds = 0;
};

// The OS calls of the log, one method per call.
class LogPlatform {
 public:
  virtual ~LogPlatform() = default;
  // CreateFileW(path, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, FILE_SHARE_READ |
  // FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_ALWAYS). The handle, or kInvalidHandleValue.
  virtual LogFileHandle OpenForAppend(const std::wstring& path) = 0;
  // GetFileSizeEx. False on failure (*size untouched).
  virtual bool FileSize(LogFileHandle file, std::uint64_t* size) = 0;
  // One WriteFile of all of `bytes`. False when it failed or wrote less.
  virtual bool Write(LogFileHandle file, std::string_view bytes) = 0;
  // CloseHandle.
  virtual void Close(LogFileHandle file) = 0;
  // MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING). False on failure (on
  // Windows, also when `to` exists and anyone holds it open).
  virtual bool Rename(const std::wstring& from, const std::wstring& to) = 0;
  // GetLocalTime.
  virtual LogTime Now() = 0;
  // Enter and leave the log's critical section: threads of one process take
  // turns, also when the session's mutex is missing.
  virtual void Lock() = 0;
  virtual void Unlock() = 0;
  // CreateMutexW(no security, not owned, name): the handle (also when the
  // mutex exists already), or 0.
  virtual LogMutexHandle CreateNamedMutex(const std::wstring& name) = 0;
  // WaitForSingleObject(mutex, timeoutMs): its answer (kWaitObject0, kWaitAbandoned...).
  virtual std::uint32_t WaitForMutex(LogMutexHandle mutex, std::uint32_t timeoutMs) = 0;
  // ReleaseMutex, on the thread that owns it.
  virtual void ReleaseMutex(LogMutexHandle mutex) = 0;
  // CloseHandle.
  virtual void CloseMutex(LogMutexHandle mutex) = 0;
};

using UniqueLogFile = UniqueHandle<
    ApiHandleTraits<LogPlatform, LogFileHandle, kInvalidHandleValue, &LogPlatform::Close>>;
using UniqueLogMutex = UniqueHandle<
    ApiHandleTraits<LogPlatform, LogMutexHandle, LogMutexHandle{0}, &LogPlatform::CloseMutex>>;

// Where LogLine's lines go.
class LogSink {
 public:
  virtual ~LogSink() = default;
  virtual void WriteLine(std::wstring_view text) = 0;
};

// UTF-16 as UTF-8 (a lone surrogate becomes U+FFFD). Where wchar_t is wider
// than 16 bits, a unit above 0xFFFF is taken as the code point it is.
std::string ToUtf8(std::wstring_view text);

// "YYYY-MM-DD hh:mm:ss.mmm [pid] text\r\n" in UTF-8. Control characters (C0,
// C1, and the line and paragraph separators) in the text become "?", so
// that no value can start a line of its own; the text is cut at
// kLogTextLimit characters.
std::string FormatLogLine(const LogTime& time, std::uint32_t processId, std::wstring_view text);

// The log file of one process, shared with every other launcher that writes
// at the same time. Each line goes out in one append, under the session's
// mutex: the size is read there, a log that has reached kLogSizeLimit is
// moved aside to kOldLogFileName, and a handle left on a log that another
// launcher moved aside is replaced by one on the new log, so that no line
// lands in the old one.
class LaunchLog final : public LogSink {
 public:
  // Opens `folder`\TarnixLauncher.log for appending; an empty folder or a
  // failed open leaves the log silent.
  LaunchLog(LogPlatform& platform, const std::wstring& folder, std::uint32_t processId);
  LaunchLog(const LaunchLog&) = delete;
  LaunchLog& operator=(const LaunchLog&) = delete;

  bool IsOpen() const { return file_.IsValid(); }
  void WriteLine(std::wstring_view text) override;

 private:
  // True when this thread now owns the session's mutex.
  bool TakeSessionMutex();
  // Leaves file_ on the log at the path, moved aside first when it is full
  // and `mayMoveAside`; *size is its size. False when there is no log to write.
  bool OpenCurrentLog(bool mayMoveAside, std::uint64_t* size);

  LogPlatform& platform_;
  std::wstring path_;
  std::wstring oldPath_;
  std::uint32_t processId_;
  UniqueLogMutex mutex_;
  UniqueLogFile file_;
};

// Lines kept in memory, to be written once the log is open (the first line
// names what is read before it).
class HeldLogLines final : public LogSink {
 public:
  std::vector<std::wstring> lines;
  void WriteLine(std::wstring_view text) override { lines.emplace_back(text); }
};

// The process's log, set at start-up before any other thread runs (lines
// held until the log is open, then the log); null (the default) discards
// every line.
void SetProcessLog(LogSink* sink);
// Writes one line to the process's log, if there is one.
void LogLine(std::wstring_view text);

// "0x" and eight uppercase hexadecimal digits: how results and codes are logged.
std::wstring LogHex(std::uint32_t value);
// The text between quotes, as paths and names are logged.
std::wstring LogQuoted(std::wstring_view text);

}  // namespace tarnix
