#include "platform/launch_log.h"

#include <cstdio>

#include "platform/bytes.h"

namespace tarnix {
namespace {

LogSink* g_processLog = nullptr;

void AppendCodePoint(std::string& out, std::uint32_t c) {
  auto byte = [&out](std::uint32_t value) { out.push_back(static_cast<char>(value)); };
  if (c < 0x80) {
    byte(c);
  } else if (c < 0x800) {
    byte(0xC0 | (c >> 6));
    byte(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    byte(0xE0 | (c >> 12));
    byte(0x80 | ((c >> 6) & 0x3F));
    byte(0x80 | (c & 0x3F));
  } else {
    byte(0xF0 | (c >> 18));
    byte(0x80 | ((c >> 12) & 0x3F));
    byte(0x80 | ((c >> 6) & 0x3F));
    byte(0x80 | (c & 0x3F));
  }
}

constexpr std::uint32_t kReplacement = 0xFFFD;

// C0 and C1 controls and the Unicode line and paragraph separators: what
// some reader could take for the end of a line.
bool IsControl(std::uint32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029;
}

bool IsHighSurrogate(std::uint32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(std::uint32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Lock and Unlock of the platform (the process's threads), as a scope.
class LogLock {
 public:
  explicit LogLock(LogPlatform& platform) : platform_(platform) { platform_.Lock(); }
  ~LogLock() { platform_.Unlock(); }
  LogLock(const LogLock&) = delete;
  LogLock& operator=(const LogLock&) = delete;

 private:
  LogPlatform& platform_;
};

}  // namespace

std::string ToUtf8(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<std::uint32_t>(text[i]);
    if (IsHighSurrogate(c) && i + 1 < text.size() &&
        IsLowSurrogate(static_cast<std::uint32_t>(text[i + 1]))) {
      auto low = static_cast<std::uint32_t>(text[++i]);
      c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c) || c > 0x10FFFF) {
      c = kReplacement;
    }
    AppendCodePoint(out, c);
  }
  return out;
}

std::string FormatLogLine(const LogTime& time, std::uint32_t processId, std::wstring_view text) {
  char head[64] = {};
  std::snprintf(head, sizeof(head), "%04u-%02u-%02u %02u:%02u:%02u.%03u [%lu] ",
                static_cast<unsigned>(time.year), static_cast<unsigned>(time.month),
                static_cast<unsigned>(time.day), static_cast<unsigned>(time.hour),
                static_cast<unsigned>(time.minute), static_cast<unsigned>(time.second),
                static_cast<unsigned>(time.milliseconds), static_cast<unsigned long>(processId));
  std::wstring clean(text.substr(0, kLogTextLimit));
  for (wchar_t& c : clean) {
    if (IsControl(static_cast<std::uint32_t>(c))) c = L'?';
  }
  if (text.size() > kLogTextLimit) clean += L"...";
  std::string line = head;
  line += ToUtf8(clean);
  line += "\r\n";
  return line;
}

LaunchLog::LaunchLog(LogPlatform& platform, const std::wstring& folder, std::uint32_t processId)
    : platform_(platform),
      processId_(processId),
      mutex_(LogMutexHandle{0}, {&platform}),
      file_(kInvalidHandleValue, {&platform}) {
  if (folder.empty()) return;
  std::wstring base = folder;
  if (base.back() != L'\\') base += L'\\';
  file_.Reset(platform_.OpenForAppend(base + kLogFileName));
  if (!file_) return;  // stays silent: no path, nothing tried again
  path_ = base + kLogFileName;
  oldPath_ = base + kOldLogFileName;
  mutex_.Reset(platform_.CreateNamedMutex(kLogMutexName));
}

void LaunchLog::WriteLine(std::wstring_view text) {
  if (path_.empty()) return;
  LogLock lock(platform_);
  const std::string line = FormatLogLine(platform_.Now(), processId_, text);
  const bool owned = TakeSessionMutex();
  std::uint64_t size = 0;
  // One call per line: appends of launchers that write without the mutex
  // land before or after it, never inside it. A failed write is dropped.
  if (OpenCurrentLog(owned, &size) && size + line.size() <= kLogHardLimit) {
    platform_.Write(file_.Get(), line);
  }
  if (owned) platform_.ReleaseMutex(mutex_.Get());
}

bool LaunchLog::TakeSessionMutex() {
  if (!mutex_) mutex_.Reset(platform_.CreateNamedMutex(kLogMutexName));
  if (!mutex_) return false;
  // Abandoned: its holder ended inside a line. The files are then as a line
  // boundary leaves them (at worst no log yet, which the next open creates),
  // and the mutex is ours.
  return MutexAcquired(platform_.WaitForMutex(mutex_.Get(), kLogMutexWaitMs));
}

bool LaunchLog::OpenCurrentLog(bool mayMoveAside, std::uint64_t* size) {
  // Only a full log is ever moved aside: a handle on a file below the limit
  // is on the log at the path.
  if (file_ && platform_.FileSize(file_.Get(), size) && *size < kLogSizeLimit) return true;
  // Full, or moved aside under this handle by another launcher: the file now
  // at the path decides.
  file_.Reset(platform_.OpenForAppend(path_));
  if (!file_ || !platform_.FileSize(file_.Get(), size)) return false;
  if (*size < kLogSizeLimit || !mayMoveAside) return true;
  // Checked and moved under the same mutex, so no other launcher can have
  // moved it already. The move is refused while anyone holds the older log
  // open (Windows lets no rename replace an open file): that log is then
  // kept, and this one goes on up to kLogHardLimit.
  file_.Reset();
  platform_.Rename(path_, oldPath_);
  file_.Reset(platform_.OpenForAppend(path_));
  return file_ && platform_.FileSize(file_.Get(), size);
}

void SetProcessLog(LogSink* sink) { g_processLog = sink; }

void LogLine(std::wstring_view text) {
  if (g_processLog != nullptr) g_processLog->WriteLine(text);
}

std::wstring LogHex(std::uint32_t value) {
  std::wstring text = L"0x";
  for (int shift = 24; shift >= 0; shift -= 8) {
    AppendHex(text, static_cast<std::uint8_t>(value >> shift), HexLetters::Upper);
  }
  return text;
}

std::wstring LogQuoted(std::wstring_view text) {
  std::wstring quoted = L"\"";
  quoted += text;
  quoted += L'"';
  return quoted;
}

}  // namespace tarnix
