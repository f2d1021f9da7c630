#include "platform/launch_log.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace tarnix {
namespace {

// A folder of files in memory, shared by every process that opens them, as
// appending handles are: each handle names a file by its path at open time,
// and a rename moves the file under the handles that are open on it.
class FakeLogPlatform : public LogPlatform {
 public:
  struct File {
    std::string bytes;
  };
  std::map<std::wstring, std::shared_ptr<File>> files;
  std::map<LogFileHandle, std::shared_ptr<File>> handles;
  std::vector<std::wstring> calls;
  bool openFails = false;
  bool writeFails = false;
  bool renameFails = false;
  LogFileHandle next = 0x100;
  int lockDepth = 0;

  LogFileHandle OpenForAppend(const std::wstring& path) override {
    calls.push_back(L"open " + path);
    if (openFails) return kInvalidHandleValue;
    auto& file = files[path];
    if (!file) file = std::make_shared<File>();
    handles[next] = file;
    return next++;
  }
  bool FileSize(LogFileHandle file, std::uint64_t* size) override {
    *size = handles.at(file)->bytes.size();
    return true;
  }
  bool Write(LogFileHandle file, std::string_view bytes) override {
    EXPECT_EQ(lockDepth, 1) << "every line is written under the lock";
    if (writeFails) return false;
    handles.at(file)->bytes += bytes;
    return true;
  }
  void Close(LogFileHandle file) override {
    calls.push_back(L"close");
    handles.erase(file);
  }
  bool Rename(const std::wstring& from, const std::wstring& to) override {
    calls.push_back(L"rename " + from + L" -> " + to);
    if (renameFails || !files.count(from)) return false;
    files[to] = files[from];
    files.erase(from);
    return true;
  }
  LogTime Now() override { return LogTime{2026, 3, 7, 9, 5, 2, 42}; }
  void Lock() override { ++lockDepth; }
  void Unlock() override { --lockDepth; }

  std::string Text(const std::wstring& path) { return files.count(path) ? files[path]->bytes : ""; }
};

const std::wstring kFolder = L"C:\\Temp";
const std::wstring kPath = L"C:\\Temp\\TarnixLauncher.log";
const std::wstring kOldPath = L"C:\\Temp\\TarnixLauncher.log.1";

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
  // A hostile command line is cut.
  std::string longLine = FormatLogLine(time, 1, std::wstring(100000, L'x'));
  EXPECT_EQ(longLine.size(), FormatLogLine(time, 1, L"").size() + kLogTextLimit + 3);
  EXPECT_EQ(longLine.substr(longLine.size() - 5), "...\r\n");
}

TEST(LaunchLog, AppendsEachLineInOneWriteToTheLogInTheFolder) {
  FakeLogPlatform platform;
  platform.files[kPath] = std::make_shared<FakeLogPlatform::File>();
  platform.files[kPath]->bytes = "earlier\r\n";
  LaunchLog log(platform, kFolder, 77);
  log.WriteLine(L"one");
  log.WriteLine(L"two");
  EXPECT_EQ(platform.Text(kPath),
            "earlier\r\n2026-03-07 09:05:02.042 [77] one\r\n2026-03-07 09:05:02.042 [77] two\r\n");
  EXPECT_EQ(platform.calls, (std::vector<std::wstring>{L"open " + kPath}));  // opened once
  EXPECT_EQ(platform.lockDepth, 0);
}

TEST(LaunchLog, AFullLogIsMovedAsideReplacingTheOlderOneAndANewOneStarted) {
  FakeLogPlatform platform;
  platform.files[kOldPath] = std::make_shared<FakeLogPlatform::File>();
  platform.files[kOldPath]->bytes = "oldest";
  LaunchLog log(platform, kFolder, 1);
  platform.files[kPath]->bytes = std::string(kLogSizeLimit - 1, 'a');
  log.WriteLine(L"last line of the full log");  // below the limit: appended
  EXPECT_EQ(platform.Text(kOldPath), "oldest");
  log.WriteLine(L"first of the new");
  EXPECT_EQ(platform.Text(kOldPath).size(),
            kLogSizeLimit - 1 + FormatLogLine(platform.Now(), 1, L"last line of the full log").size());
  EXPECT_EQ(platform.Text(kPath), "2026-03-07 09:05:02.042 [1] first of the new\r\n");
  EXPECT_EQ(platform.handles.size(), 1u) << "the handles on the old log are closed";
}

TEST(LaunchLog, ALogAnotherLauncherMovedAsideAlreadyIsNotMovedAgain) {
  FakeLogPlatform platform;
  LaunchLog log(platform, kFolder, 1);
  platform.files[kPath]->bytes = std::string(kLogSizeLimit, 'a');
  // The other launcher: moves the full log aside and starts a new one.
  ASSERT_TRUE(platform.Rename(kPath, kOldPath));
  platform.files[kPath] = std::make_shared<FakeLogPlatform::File>();
  platform.files[kPath]->bytes = "other\r\n";
  platform.calls.clear();
  log.WriteLine(L"mine");
  EXPECT_EQ(platform.Text(kOldPath).size(), kLogSizeLimit);
  EXPECT_EQ(platform.Text(kPath), "other\r\n2026-03-07 09:05:02.042 [1] mine\r\n");
  EXPECT_EQ(platform.calls, (std::vector<std::wstring>{L"open " + kPath, L"close"}));
}

TEST(LaunchLog, FailuresAreSilentAndNeverStopTheLaunch) {
  {
    FakeLogPlatform platform;
    platform.openFails = true;
    LaunchLog log(platform, kFolder, 1);
    EXPECT_FALSE(log.IsOpen());
    log.WriteLine(L"nowhere");
    EXPECT_EQ(platform.calls.size(), 1u);
  }
  {
    // No folder ("TEMP" unset): nothing is opened at all.
    FakeLogPlatform platform;
    LaunchLog log(platform, L"", 1);
    log.WriteLine(L"nowhere");
    EXPECT_TRUE(platform.calls.empty());
  }
  {
    // A failed write loses its line only; the next one is tried.
    FakeLogPlatform platform;
    LaunchLog log(platform, kFolder + L"\\", 1);
    platform.writeFails = true;
    log.WriteLine(L"lost");
    platform.writeFails = false;
    log.WriteLine(L"kept");
    EXPECT_EQ(platform.Text(kPath), "2026-03-07 09:05:02.042 [1] kept\r\n");
  }
  {
    // A full log that cannot be moved aside is written on.
    FakeLogPlatform platform;
    LaunchLog log(platform, kFolder, 1);
    platform.files[kPath]->bytes = std::string(kLogSizeLimit, 'a');
    platform.renameFails = true;
    log.WriteLine(L"still here");
    EXPECT_EQ(platform.Text(kPath).size(),
              kLogSizeLimit + FormatLogLine(platform.Now(), 1, L"still here").size());
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
