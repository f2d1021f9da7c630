#include "platform/launch_log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tarnix {
namespace {

// One logon session's log folder and named mutex, shared by the fake
// launchers below, as Windows shares them.
struct FakeSession {
  struct File {
    std::string bytes;
    int openHandles = 0;
  };
  std::map<std::wstring, std::shared_ptr<File>> files;
  // The named mutex: the launcher that owns it (0: nobody), how often, and
  // whether its last owner ended holding it.
  int owner = 0;
  int depth = 0;
  bool abandoned = false;

  void Put(const std::wstring& path, std::string bytes) {
    auto& file = files[path];
    if (!file) file = std::make_shared<File>();
    file->bytes = std::move(bytes);
  }
  std::string Text(const std::wstring& path) const {
    auto found = files.find(path);
    return found == files.end() ? "" : found->second->bytes;
  }
};

// One launcher's calls, as Windows answers them: a handle stays on its file
// through a rename (and keeps writing into it under its new name), a rename
// onto a file that anyone holds open fails, and a mutex owned by another
// launcher is not given within the wait (the fake cannot block: it answers
// as if the holder kept it past the time-out).
class FakeLogPlatform : public LogPlatform {
 public:
  FakeLogPlatform(FakeSession& shared, int processId) : session(shared), id(processId) {}
  ~FakeLogPlatform() override {
    EXPECT_TRUE(handles.empty()) << "every handle is closed";
  }

  FakeSession& session;
  int id;
  std::map<LogFileHandle, std::shared_ptr<FakeSession::File>> handles;
  std::vector<std::wstring> calls;
  bool openFails = false;
  bool writeFails = false;
  bool mutexFails = false;
  // Runs just before this launcher's next rename: another launcher's step.
  std::function<void()> beforeRename;
  LogFileHandle next = 0x100;
  int lockDepth = 0;

  LogFileHandle OpenForAppend(const std::wstring& path) override {
    calls.push_back(L"open " + path);
    if (openFails) return kInvalidHandleValue;
    auto& file = session.files[path];
    if (!file) file = std::make_shared<FakeSession::File>();
    ++file->openHandles;
    handles[next] = file;
    return next++;
  }
  bool FileSize(LogFileHandle file, std::uint64_t* size) override {
    *size = handles.at(file)->bytes.size();
    return true;
  }
  bool Write(LogFileHandle file, std::string_view bytes) override {
    EXPECT_EQ(lockDepth, 1) << "every line is written under the process's lock";
    if (writeFails) return false;
    handles.at(file)->bytes += bytes;
    return true;
  }
  void Close(LogFileHandle file) override {
    calls.push_back(L"close");
    --handles.at(file)->openHandles;
    handles.erase(file);
  }
  bool Rename(const std::wstring& from, const std::wstring& to) override {
    calls.push_back(L"rename " + from + L" -> " + to);
    if (beforeRename) std::exchange(beforeRename, nullptr)();
    auto& files = session.files;
    if (!files.count(from)) return false;
    if (files.count(to) && files[to]->openHandles > 0) return false;  // ERROR_ACCESS_DENIED
    files[to] = files[from];
    files.erase(from);
    return true;
  }
  LogTime Now() override { return LogTime{2026, 3, 7, 9, 5, 2, 42}; }
  void Lock() override { ++lockDepth; }
  void Unlock() override { --lockDepth; }
  LogMutexHandle CreateNamedMutex(const std::wstring& name) override {
    calls.push_back(L"create mutex " + name);
    return mutexFails ? 0 : kMutex;
  }
  std::uint32_t WaitForMutex(LogMutexHandle mutex, std::uint32_t timeoutMs) override {
    EXPECT_EQ(mutex, kMutex);
    calls.push_back(L"wait " + std::to_wstring(timeoutMs));
    if (session.owner != 0 && session.owner != id) return kWaitTimeout;
    session.owner = id;
    ++session.depth;
    return std::exchange(session.abandoned, false) ? kWaitAbandoned : kWaitObject0;
  }
  void ReleaseMutex(LogMutexHandle mutex) override {
    EXPECT_EQ(mutex, kMutex);
    calls.push_back(L"release");
    EXPECT_EQ(session.owner, id) << "released by its owner only";
    if (--session.depth == 0) session.owner = 0;
  }
  void CloseMutex(LogMutexHandle mutex) override { EXPECT_EQ(mutex, kMutex); }

  static constexpr LogMutexHandle kMutex = 0x900;
};

const std::wstring kFolder = L"C:\\Temp";
const std::wstring kPath = L"C:\\Temp\\TarnixLauncher.log";
const std::wstring kOldPath = L"C:\\Temp\\TarnixLauncher.log.1";

std::string Line(std::uint32_t processId, std::wstring_view text) {
  return FormatLogLine(LogTime{2026, 3, 7, 9, 5, 2, 42}, processId, text);
}

TEST(FormatLogLine, TimeToTheMillisecondProcessIdAndUtf8TextOnOneLine) {
  LogTime time{2026, 12, 10, 21, 7, 3, 9};
  EXPECT_EQ(FormatLogLine(time, 4242, L"host lookup: missing"),
            "2026-12-10 21:07:03.009 [4242] host lookup: missing\r\n");
  // Chinese text, a character beyond the BMP as a surrogate pair, and a lone surrogate.
  std::wstring text = L"下载失败！ ";
  text += static_cast<wchar_t>(0xD83D);
  text += static_cast<wchar_t>(0xDE00);
  text += L" ";
  text += static_cast<wchar_t>(0xDC00);
  EXPECT_EQ(FormatLogLine(time, 1, text),
            "2026-12-10 21:07:03.009 [1] \xE4\xB8\x8B\xE8\xBD\xBD\xE5\xA4\xB1\xE8\xB4\xA5\xEF\xBC\x81 "
            "\xF0\x9F\x98\x80 \xEF\xBF\xBD\r\n");
  // A value cannot break the line or forge another one.
  EXPECT_EQ(FormatLogLine(time, 1, L"a\r\n2026-01-01 00:00:00.000 [9] forged\tb\x85\x2028\x7F"),
            "2026-12-10 21:07:03.009 [1] a??2026-01-01 00:00:00.000 [9] forged?b???\r\n");
}

TEST(FormatLogLine, EveryControlCharacterAndSeparatorBecomesAQuestionMarkAndNothingElse) {
  struct Case {
    wchar_t c;
    bool replaced;
  };
  // The edges of the C0 and C1 ranges, DEL, and the line and paragraph separators.
  const Case cases[] = {{0x00, true},   {0x1F, true},   {0x20, false},  {0x7E, false},
                        {0x7F, true},   {0x80, true},   {0x9F, true},   {0xA0, false},
                        {0x2027, false}, {0x2028, true}, {0x2029, true}, {0x202A, false}};
  for (const Case& c : cases) {
    const std::wstring value{L'a', c.c, L'b'};
    EXPECT_EQ(Line(1, value), Line(1, c.replaced ? std::wstring(L"a?b") : value))
        << std::hex << static_cast<unsigned>(c.c);
  }
}

TEST(FormatLogLine, OnlyATextLongerThanTheLimitIsCutAndMarked) {
  const std::string head = "2026-03-07 09:05:02.042 [1] ";
  for (std::size_t length : {kLogTextLimit - 1, kLogTextLimit, kLogTextLimit + 1, std::size_t{100000}}) {
    const bool cut = length > kLogTextLimit;
    EXPECT_EQ(Line(1, std::wstring(length, L'x')),
              head + std::string(cut ? kLogTextLimit : length, 'x') + (cut ? "..." : "") + "\r\n")
        << length;
  }
}

TEST(LaunchLog, AppendsEachLineInOneWriteUnderTheSessionsMutex) {
  FakeSession session;
  session.Put(kPath, "earlier\r\n");
  FakeLogPlatform platform(session, 1);
  LaunchLog log(platform, kFolder, 77);
  log.WriteLine(L"one");
  log.WriteLine(L"two");
  EXPECT_EQ(session.Text(kPath), "earlier\r\n" + Line(77, L"one") + Line(77, L"two"));
  // Opened once; the mutex taken around each line (never for long) and given up after it.
  EXPECT_EQ(platform.calls,
            (std::vector<std::wstring>{L"open " + kPath, L"create mutex Local\\TarnixLauncherLog",
                                       L"wait 500", L"release", L"wait 500", L"release"}));
  EXPECT_EQ(platform.lockDepth, 0);
  EXPECT_EQ(session.owner, 0);
}

TEST(LaunchLog, ALogThatHasReachedTheLimitIsMovedAsideReplacingTheOlderOne) {
  for (std::uint64_t size : {kLogSizeLimit - 1, kLogSizeLimit, kLogSizeLimit + 1}) {
    FakeSession session;
    session.Put(kOldPath, "oldest");
    FakeLogPlatform platform(session, 1);
    LaunchLog log(platform, kFolder, 1);
    const std::string before(size, 'a');
    session.Put(kPath, before);
    log.WriteLine(L"next");
    if (size < kLogSizeLimit) {
      EXPECT_EQ(session.Text(kOldPath), "oldest") << size;
      EXPECT_EQ(session.Text(kPath), before + Line(1, L"next")) << size;
    } else {
      EXPECT_EQ(session.Text(kOldPath), before) << size;
      EXPECT_EQ(session.Text(kPath), Line(1, L"next")) << size;
    }
    EXPECT_EQ(session.files[kOldPath]->openHandles, 0) << "no handle of ours stays on the older log";
  }
}

TEST(LaunchLog, TwoLaunchersAtTheLimitKeepTheFullHistoryAndNeitherWritesIntoTheOlderLog) {
  // Launcher B finds the log full; between its size check and its rename,
  // launcher A writes its first line.
  FakeSession session;
  session.Put(kOldPath, "oldest");
  FakeLogPlatform platformA(session, 1);
  FakeLogPlatform platformB(session, 2);
  LaunchLog a(platformA, kFolder, 1);
  LaunchLog b(platformB, kFolder, 2);
  const std::string history(kLogSizeLimit, 'h');
  session.Put(kPath, history);
  platformB.beforeRename = [&] { a.WriteLine(L"A's first"); };
  b.WriteLine(L"B's first");
  // A could not take the mutex: it moved nothing, and its line ended the full log.
  EXPECT_EQ(session.Text(kOldPath), history + Line(1, L"A's first"));
  EXPECT_EQ(session.Text(kPath), Line(2, L"B's first"));
  // A's handle was left on the older log: A's next line goes to the new one.
  a.WriteLine(L"A's second");
  EXPECT_EQ(session.Text(kOldPath), history + Line(1, L"A's first"));
  EXPECT_EQ(session.Text(kPath), Line(2, L"B's first") + Line(1, L"A's second"));
  EXPECT_EQ(session.files[kOldPath]->openHandles, 0);
}

TEST(LaunchLog, ALogAnotherLauncherMovedAsideAlreadyIsNotMovedAgain) {
  FakeSession session;
  FakeLogPlatform platform(session, 1);
  LaunchLog log(platform, kFolder, 1);
  session.Put(kPath, std::string(kLogSizeLimit, 'a'));
  // The other launcher: moves the full log aside under this one's handle and starts a new one.
  FakeLogPlatform other(session, 2);
  ASSERT_TRUE(other.Rename(kPath, kOldPath));
  session.Put(kPath, "other\r\n");
  platform.calls.clear();
  log.WriteLine(L"mine");
  EXPECT_EQ(session.Text(kOldPath).size(), kLogSizeLimit);
  EXPECT_EQ(session.Text(kPath), "other\r\n" + Line(1, L"mine"));
  EXPECT_EQ(platform.calls,
            (std::vector<std::wstring>{L"wait 500", L"open " + kPath, L"close", L"release"}));
}

TEST(LaunchLog, AFullLogThatCannotBeMovedAsideStopsAtTheHardLimitUntilItCanBe) {
  // A launcher of an earlier version keeps the older log open: Windows
  // refuses every rename onto it.
  FakeSession session;
  session.Put(kOldPath, "oldest");
  FakeLogPlatform holder(session, 3);
  UniqueLogFile held(holder.OpenForAppend(kOldPath), {&holder});
  FakeLogPlatform platform(session, 1);
  LaunchLog log(platform, kFolder, 1);
  // The hard limit is 2 MiB.
  const std::size_t hardLimit = 2097152;
  const std::size_t line = Line(1, L"line").size();
  session.Put(kPath, std::string(hardLimit - 2 * line, 'a'));
  log.WriteLine(L"line");  // past the limit, written on
  log.WriteLine(L"line");  // fills it up to the hard limit exactly
  log.WriteLine(L"line");  // would pass it: dropped
  EXPECT_EQ(session.Text(kPath).size(), hardLimit);
  // A line that would end a single byte past it is dropped too.
  const std::size_t oneShort = hardLimit + 1 - line;
  session.Put(kPath, std::string(oneShort, 'a'));
  log.WriteLine(L"line");
  EXPECT_EQ(session.Text(kPath).size(), oneShort);
  EXPECT_EQ(session.Text(kOldPath), "oldest");
  // Once the older log is free, the next line moves the full one aside.
  held.Reset();
  log.WriteLine(L"after");
  EXPECT_EQ(session.Text(kOldPath).size(), oneShort);
  EXPECT_EQ(session.Text(kPath), Line(1, L"after"));
}

TEST(LaunchLog, WithoutTheSessionsMutexAFullLogIsWrittenOnAndNeverMovedAside) {
  struct Case {
    const char* name;
    bool mutexFails;
    int heldBy;
    bool abandoned;
    bool moved;
  };
  const Case cases[] = {
      {"free", false, 0, false, true},
      // Its holder ended in the middle of a line: the mutex is this launcher's now.
      {"abandoned", false, 0, true, true},
      {"held past the wait by another launcher", false, 2, false, false},
      {"not created", true, 0, false, false},
  };
  for (const Case& c : cases) {
    FakeSession session;
    session.owner = c.heldBy;
    session.depth = c.heldBy != 0 ? 1 : 0;
    session.abandoned = c.abandoned;
    FakeLogPlatform platform(session, 1);
    platform.mutexFails = c.mutexFails;
    LaunchLog log(platform, kFolder, 1);
    const std::string full(kLogSizeLimit, 'a');
    session.Put(kPath, full);
    log.WriteLine(L"x");
    EXPECT_EQ(session.Text(kOldPath), c.moved ? full : "") << c.name;
    EXPECT_EQ(session.Text(kPath), (c.moved ? "" : full) + Line(1, L"x")) << c.name;
    EXPECT_EQ(session.owner, c.heldBy) << c.name << ": given up when taken";
    EXPECT_EQ(std::count(platform.calls.begin(), platform.calls.end(), L"release"), c.moved ? 1 : 0)
        << c.name;
  }
  // A mutex that could not be created is tried again at each line.
  FakeSession session;
  FakeLogPlatform platform(session, 1);
  platform.mutexFails = true;
  LaunchLog log(platform, kFolder, 1);
  platform.mutexFails = false;
  log.WriteLine(L"x");
  EXPECT_EQ(platform.calls, (std::vector<std::wstring>{
                                L"open " + kPath, L"create mutex Local\\TarnixLauncherLog",
                                L"create mutex Local\\TarnixLauncherLog", L"wait 500", L"release"}));
}

TEST(LaunchLog, FailuresAreSilentAndNeverStopTheLaunch) {
  {
    FakeSession session;
    FakeLogPlatform platform(session, 1);
    platform.openFails = true;
    LaunchLog log(platform, kFolder, 1);
    EXPECT_FALSE(log.IsOpen());
    log.WriteLine(L"nowhere");
    EXPECT_EQ(platform.calls, (std::vector<std::wstring>{L"open " + kPath}));
  }
  {
    // No folder ("TEMP" unset): nothing is opened at all.
    FakeSession session;
    FakeLogPlatform platform(session, 1);
    LaunchLog log(platform, L"", 1);
    log.WriteLine(L"nowhere");
    EXPECT_TRUE(platform.calls.empty());
  }
  {
    // A failed write loses its line only; the next one is tried.
    FakeSession session;
    FakeLogPlatform platform(session, 1);
    LaunchLog log(platform, kFolder + L"\\", 1);
    platform.writeFails = true;
    log.WriteLine(L"lost");
    platform.writeFails = false;
    log.WriteLine(L"kept");
    EXPECT_EQ(session.Text(kPath), Line(1, L"kept"));
  }
  {
    // No new log can be opened after the move aside: lines are lost until one can.
    FakeSession session;
    FakeLogPlatform platform(session, 1);
    LaunchLog log(platform, kFolder, 1);
    session.Put(kPath, std::string(kLogSizeLimit, 'a'));
    platform.beforeRename = [&] { platform.openFails = true; };
    log.WriteLine(L"lost");
    EXPECT_EQ(session.owner, 0);
    platform.openFails = false;
    log.WriteLine(L"kept");
    EXPECT_EQ(session.Text(kOldPath).size(), kLogSizeLimit);
    EXPECT_EQ(session.Text(kPath), Line(1, L"kept"));
  }
}

TEST(LogLine, GoesToTheInstalledLogOnlyAndLogHexIsFixedWidth) {
  struct Sink : LogSink {
    std::vector<std::wstring> lines;
    void WriteLine(std::wstring_view text) override { lines.emplace_back(text); }
  } sink;
  LogLine(L"before");
  SetProcessLog(&sink);
  LogLine(L"during");
  SetProcessLog(nullptr);
  LogLine(L"after");
  EXPECT_EQ(sink.lines, (std::vector<std::wstring>{L"during"}));
  EXPECT_EQ(LogHex(0x800C0007u), L"0x800C0007");
  EXPECT_EQ(LogHex(0), L"0x00000000");
}

}  // namespace
}  // namespace tarnix
