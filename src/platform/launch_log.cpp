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

// Lock and Unlock of the platform, as a scope.
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
    : platform_(platform), processId_(processId), file_(kInvalidHandleValue, {&platform}) {
  if (folder.empty()) return;
  std::wstring base = folder;
  if (base.back() != L'\\') base += L'\\';
  path_ = base + kLogFileName;
  oldPath_ = base + kOldLogFileName;
  file_.Reset(platform_.OpenForAppend(path_));
}

void LaunchLog::WriteLine(std::wstring_view text) {
  LogLock lock(platform_);
  if (!file_) return;
  MoveAsideIfFull();
  if (!file_) return;
  // One call per line: appends of other launchers land before or after it,
  // never inside it. A failed write is dropped.
  platform_.Write(file_.Get(), FormatLogLine(platform_.Now(), processId_, text));
}

void LaunchLog::MoveAsideIfFull() {
  std::uint64_t size = 0;
  if (!platform_.FileSize(file_.Get(), &size) || size < kLogSizeLimit) return;
  // Another launcher may have moved it aside already and started a new one:
  // the file now at the path decides.
  file_.Reset(platform_.OpenForAppend(path_));
  if (!file_ || !platform_.FileSize(file_.Get(), &size) || size < kLogSizeLimit) return;
  file_.Reset();
  platform_.Rename(path_, oldPath_);  // when refused, the full log just goes on
  file_.Reset(platform_.OpenForAppend(path_));
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
