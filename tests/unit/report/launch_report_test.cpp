#include "report/launch_report.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

#include "fakes/fake_ansi_code_page.h"
#include "fakes/fake_log.h"

namespace tarnix {
namespace {

using testing::ChineseCodePage;
using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::FakeAnsiCodePage;
using ::testing::Le;
using testing::WesternCodePage;

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

const std::wstring kPrefix = Widen(TARNIX_REPORT_URL);

// ---------------------------------------------------------------- URL

TEST(ReportUrlTest, DefaultsAndTimeGiveTheExactUrlInOrder) {
  FakeAnsiCodePage codePage = WesternCodePage();
  EXPECT_EQ(BuildReportUrl(L"default", L"1.0.0.1", 1704067200, L"0123456789abcdef0123456789abcdef",
                           codePage),
            kPrefix +
                L"&app_name=default&client_version=1.0.0.1&times=1704067200000"
                L"&guid=0123456789abcdef0123456789abcdef");
}

TEST(ReportUrlTest, WithoutIdentityTheUrlEndsInAnEmptyGuid) {
  FakeAnsiCodePage codePage = WesternCodePage();
  EXPECT_TRUE(BuildReportUrl(L"app", L"2.0", 1, L"", codePage).ends_with(L"&times=1000&guid="));
}

TEST(ReportUrlTest, TimeIsSecondsTimesAThousand) {
  struct Case {
    std::int64_t seconds;
    const wchar_t* text;
  };
  const Case cases[] = {
      {0, L"0"},
      {1704067200, L"1704067200000"},
      {-1, L"-1000"},                       // time() failed
      {4102444800, L"4102444800000"},       // beyond 32 bits
      {INT64_MAX, L"9223372036854775000"},  // held at the largest multiple
  };
  for (const Case& c : cases) EXPECT_EQ(FormatReportTime(c.seconds), c.text) << c.seconds;
}

TEST(ReportUrlTest, PercentEncodingKeepsOnlyUnreservedBytes) {
  const std::string unreserved =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~";
  for (int value = 0; value < 256; ++value) {
    char byte = static_cast<char>(value);
    wchar_t hex[4];
    std::swprintf(hex, 4, L"%%%02X", static_cast<unsigned>(value));
    std::wstring expected = unreserved.find(byte) != std::string::npos
                                ? std::wstring(1, static_cast<wchar_t>(value))
                                : std::wstring(hex);
    EXPECT_EQ(PercentEncodeBytes(std::string(1, byte)), expected) << value;
  }
  EXPECT_EQ(PercentEncodeBytes(std::string("a\0b", 3)), L"a%00b") << "every byte counts";
}

// The server receives, after decoding, the bytes of the system's ANSI code
// page, as when the URL went unescaped; the reserved characters no longer
// reach it raw.
TEST(ReportUrlTest, NameAndVersionAreTheAnsiBytesPercentEncoded) {
  struct Case {
    const char* codePage;
    std::wstring value;
    const wchar_t* encoded;
  };
  const Case cases[] = {
      // Names of letters, digits, ".", "-", "_" and "~" go byte for byte.
      {"1252", L"my_app-2.0", L"my_app-2.0"},
      {"936", L"1.0.0.1", L"1.0.0.1"},
      {"1252", L"AZaz09~", L"AZaz09~"},
      {"1252", L"", L""},
      // A name cannot forge or cut off another field.
      {"1252", L"x&guid=0", L"x%26guid%3D0"},
      {"936", L"a#b", L"a%23b"},
      {"1252", L"a b\tc\nd", L"a%20b%09c%0Ad"},
      {"1252", L"50%", L"50%25"},
      {"936", L"a+b/c?d", L"a%2Bb%2Fc%3Fd"},
      // Chinese: the GBK bytes on a Chinese system, "?" per character on a
      // Western one, as the server has always received them.
      {"936", L"\u5e94\u7528", L"%D3%A6%D3%C3"},
      {"1252", L"\u5e94\u7528", L"%3F%3F"},
      {"936", L"\u4e2d\u6587 2", L"%D6%D0%CE%C4%202"},
      // A trail byte in the ASCII range is escaped like any other "@".
      {"936", L"\u4e02", L"%81%40"},
      // Western characters in each code page's own bytes.
      {"1252", L"caf\u00e9 \u20ac", L"caf%E9%20%80"},
      {"936", L"caf\u00e9", L"caf%A8%A6"},
      // A lone surrogate is a character the code page lacks.
      {"936", std::wstring{L'a', wchar_t(0xD800), L'b'}, L"a%3Fb"},
  };
  FakeAnsiCodePage chinese = ChineseCodePage();
  FakeAnsiCodePage western = WesternCodePage();
  for (const Case& c : cases) {
    FakeAnsiCodePage& codePage = std::string(c.codePage) == "936" ? chinese : western;
    EXPECT_EQ(EncodeQueryValue(c.value, codePage), c.encoded) << "case " << (&c - cases);
  }
}

TEST(ReportUrlTest, ForgedFieldStaysInsideTheName) {
  FakeAnsiCodePage codePage = ChineseCodePage();
  std::wstring url = BuildReportUrl(L"x&guid=0", L"1&times=1", 5, L"ff", codePage);
  EXPECT_EQ(url,
            kPrefix + L"&app_name=x%26guid%3D0&client_version=1%26times%3D1&times=5000&guid=ff");
}

TEST(ReportUrlTest, FailedConversionSendsAnEmptyValue) {
  FakeAnsiCodePage codePage = WesternCodePage();
  codePage.fail = true;
  EXPECT_EQ(EncodeQueryValue(L"app", codePage), L"");
  // An empty text is never handed to the call, which reads a count of 0 as a failure.
  codePage.calls = 0;
  EXPECT_EQ(ToAnsiBytes(codePage, L""), "");
  EXPECT_EQ(codePage.calls, 0);
}

// ---------------------------------------------------------------- request

struct FakeReportClock : ReportClock {
  std::uint32_t tick = 0xFFFFF000u;  // close to the wrap, so elapsed time must wrap too
  std::uint32_t TickMs() override { return tick; }
};

struct FakeReportOutput : ReportOutput {
  std::vector<std::wstring> urlLines;
  std::vector<std::string> chunks;
  void WriteUrlLine(const std::wstring& url) override { urlLines.push_back(url); }
  void WriteChunk(std::string_view text) override { chunks.emplace_back(text); }
};

// WinINet with a scripted server: records every call and advances the clock
// by the configured delays.
struct FakeInternet : Internet {
  explicit FakeInternet(FakeReportClock& c) : clock(c) {}
  FakeReportClock& clock;

  // Script.
  bool openFails = false;
  bool openUrlFails = false;
  std::uint32_t openUrlDelayMs = 0;
  std::string body;
  bool endless = false;  // the body never ends
  int failReadAt = -1;   // the n-th read (from 0) fails
  std::uint32_t readDelayMs = 0;

  // Record.
  std::vector<std::string> calls;
  std::vector<std::uint32_t> readSizes;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> options;
  std::wstring agent, url;
  std::uint32_t accessType = 99, openFlags = 99, urlFlags = 0;
  std::uintptr_t context = 99;
  std::vector<InternetHandle> closed;
  std::size_t offset = 0;

  static constexpr InternetHandle kSession = 0x10, kRequest = 0x20;

  InternetHandle Open(const std::wstring& a, std::uint32_t type, std::uint32_t flags) override {
    calls.push_back("Open");
    agent = a;
    accessType = type;
    openFlags = flags;
    return openFails ? 0 : kSession;
  }
  bool SetOption(InternetHandle handle, std::uint32_t option, std::uint32_t value) override {
    calls.push_back(handle == kSession ? "SetOption(session)" : "SetOption(?)");
    options.emplace_back(option, value);
    return true;
  }
  InternetHandle OpenUrl(InternetHandle session, const std::wstring& u, std::uint32_t flags,
                         std::uintptr_t ctx) override {
    calls.push_back(session == kSession ? "OpenUrl(session)" : "OpenUrl(?)");
    url = u;
    urlFlags = flags;
    context = ctx;
    clock.tick += openUrlDelayMs;
    return openUrlFails ? 0 : kRequest;
  }
  bool ReadFile(InternetHandle handle, std::uint8_t* buffer, std::uint32_t size,
                std::uint32_t* bytesRead) override {
    calls.push_back(handle == kRequest ? "ReadFile(request)" : "ReadFile(?)");
    clock.tick += readDelayMs;
    int index = static_cast<int>(readSizes.size());
    readSizes.push_back(size);
    if (index == failReadAt) {
      *bytesRead = 0;
      return false;
    }
    std::uint32_t n = 0;
    if (endless) {
      std::fill(buffer, buffer + size, std::uint8_t('z'));
      n = size;
    } else {
      n = static_cast<std::uint32_t>(std::min<std::size_t>(size, body.size() - offset));
      std::copy_n(body.data() + offset, n, buffer);
      offset += n;
    }
    *bytesRead = n;
    return true;
  }
  bool CloseHandle(InternetHandle handle) override {
    calls.push_back(handle == kRequest   ? "Close(request)"
                    : handle == kSession ? "Close(session)"
                                         : "Close(?)");
    closed.push_back(handle);
    return true;
  }
  // Only the log asks for these; they are left out of `calls`.
  std::uint32_t status = 200;
  std::uint32_t failureError = 12029;  // ERROR_INTERNET_CANNOT_CONNECT
  bool QueryStatusCode(InternetHandle, std::uint32_t* code) override {
    *code = status;
    return true;
  }
  std::uint32_t LastError() override { return openFails || openUrlFails ? failureError : 0; }
};

class ReportRequestTest : public ::testing::Test {
 protected:
  FakeReportClock clock;
  FakeInternet internet{clock};
  FakeReportOutput output;
  const std::wstring url = kPrefix + L"&app_name=a&client_version=1&times=0&guid=";

  void Send() { SendReportRequest(url, internet, output, clock, clock.tick); }
  std::string Echoed() const {
    std::string all;
    for (const auto& chunk : output.chunks) all += chunk;
    return all;
  }
};

TEST_F(ReportRequestTest, SendsOneGetWithTheFixedSettingsAndEchoesUrlAndBody) {
  internet.body = "ok";
  Send();
  EXPECT_EQ(internet.agent, L"UrlTest");
  EXPECT_EQ(internet.accessType, 0u);
  EXPECT_EQ(internet.openFlags, 0u);
  EXPECT_EQ(internet.url, url);
  EXPECT_EQ(internet.urlFlags, 0x04000200u);  // no cache write, no UI
  EXPECT_EQ(internet.context, 0u);
  // Connect 5 s, so that a lost SYN is sent again; send and receive the whole 10 s budget.
  EXPECT_THAT(internet.options,
              ElementsAre(std::pair(2u, 5000u), std::pair(5u, 10000u), std::pair(6u, 10000u)));
  EXPECT_THAT(internet.calls,
              ElementsAre("Open", "SetOption(session)", "SetOption(session)", "SetOption(session)",
                          "OpenUrl(session)", "ReadFile(request)", "ReadFile(request)",
                          "Close(request)", "Close(session)"));
  EXPECT_THAT(output.urlLines, ElementsAre(url));
  EXPECT_THAT(output.chunks, ElementsAre("ok"));
}

TEST_F(ReportRequestTest, TheLogNamesTheOutcomeTheBytesAndTheTimeButNeverTheUrl) {
  struct Case {
    const char* name;
    void (*arrange)(FakeInternet&);
    std::wstring line;
  };
  const Case cases[] = {
      {"answered", [](FakeInternet& i) { i.body = "ok!"; i.openUrlDelayMs = 40; },
       L"report: HTTP status 200, 3 bytes echoed, 40 ms"},
      {"server error", [](FakeInternet& i) { i.status = 503; },
       L"report: HTTP status 503, 0 bytes echoed, 0 ms"},
      {"no connection", [](FakeInternet& i) { i.openUrlFails = true; i.openUrlDelayMs = 5000; },
       L"report: request failed, WinINet error 12029, 5000 ms"},
      {"no session", [](FakeInternet& i) { i.openFails = true; },
       L"report: no session, WinINet error 12029, 0 ms"},
  };
  for (const Case& c : cases) {
    testing::RecordedLog lines;
    FakeReportClock caseClock;
    FakeInternet caseInternet(caseClock);
    FakeReportOutput caseOutput;
    c.arrange(caseInternet);
    SendReportRequest(url + L"0123456789abcdef", caseInternet, caseOutput, caseClock, caseClock.tick);
    EXPECT_THAT(lines.lines, ElementsAre(c.line)) << c.name;
  }
}

TEST_F(ReportRequestTest, LongBodyIsEchoedInChunksOfAtMost1023Bytes) {
  for (int i = 0; i < 3000; ++i) internet.body += static_cast<char>('a' + i % 26);
  Send();
  EXPECT_THAT(internet.readSizes, Each(1023u));
  ASSERT_EQ(output.chunks.size(), 3u);
  EXPECT_EQ(output.chunks[0].size(), 1023u);
  EXPECT_EQ(output.chunks[1].size(), 1023u);
  EXPECT_EQ(output.chunks[2].size(), 954u);
  EXPECT_EQ(Echoed(), internet.body);
}

TEST_F(ReportRequestTest, ZeroByteCutsOnlyItsOwnChunk) {
  internet.body = std::string(1023, 'a');
  internet.body[10] = '\0';
  internet.body += "tail";
  Send();
  EXPECT_THAT(output.chunks, ElementsAre(std::string(10, 'a'), "tail"));
}

TEST_F(ReportRequestTest, FailedReadEndsTheEchoAndKeepsWhatWasWritten) {
  internet.body = std::string(3000, 'b');
  internet.failReadAt = 1;
  Send();
  EXPECT_THAT(output.chunks, ElementsAre(std::string(1023, 'b')));
  EXPECT_THAT(internet.closed, ElementsAre(FakeInternet::kRequest, FakeInternet::kSession));
}

TEST_F(ReportRequestTest, NoSessionMeansNothingElseHappens) {
  internet.openFails = true;
  Send();
  EXPECT_THAT(internet.calls, ElementsAre("Open"));
  EXPECT_TRUE(output.urlLines.empty());
}

TEST_F(ReportRequestTest, UnopenableUrlIsSilentAndClosesTheSession) {
  internet.openUrlFails = true;
  Send();
  EXPECT_THAT(internet.closed, ElementsAre(FakeInternet::kSession));
  EXPECT_TRUE(output.urlLines.empty());
  EXPECT_TRUE(output.chunks.empty());
}

TEST_F(ReportRequestTest, EmptyBodyWritesOnlyTheUrlLine) {
  Send();
  EXPECT_THAT(output.urlLines, ElementsAre(url));
  EXPECT_TRUE(output.chunks.empty());
}

// ---------------------------------------------------------------- bounds

TEST_F(ReportRequestTest, EndlessBodyStopsAtTheSizeLimit) {
  internet.endless = true;
  Send();
  std::uint32_t asked = 0;
  for (std::uint32_t size : internet.readSizes) asked += size;
  EXPECT_EQ(asked, 65536u);  // 64 KiB
  EXPECT_THAT(internet.readSizes, Each(Le(1023u)));
  EXPECT_EQ(Echoed().size(), 65536u);
  EXPECT_THAT(internet.closed, ElementsAre(FakeInternet::kRequest, FakeInternet::kSession));
}

TEST_F(ReportRequestTest, TricklingBodyStopsAtTheTimeBudgetWritingNothingLate) {
  internet.endless = true;
  internet.readDelayMs = kReportBudgetMs / 5;
  Send();
  // Four reads end within the budget and are written; the fifth ends on it and is dropped.
  EXPECT_EQ(internet.readSizes.size(), 5u);
  EXPECT_EQ(output.chunks.size(), 4u);
  EXPECT_THAT(internet.closed, ElementsAre(FakeInternet::kRequest, FakeInternet::kSession));
}

TEST_F(ReportRequestTest, AnswerAfterTheBudgetIsNotEchoed) {
  internet.body = "late";
  internet.openUrlDelayMs = kReportBudgetMs;
  Send();
  EXPECT_TRUE(output.urlLines.empty());
  EXPECT_TRUE(output.chunks.empty());
  EXPECT_THAT(internet.closed, ElementsAre(FakeInternet::kRequest, FakeInternet::kSession));
}

TEST_F(ReportRequestTest, AnswerJustWithinTheBudgetIsEchoed) {
  internet.body = "in time";
  internet.openUrlDelayMs = kReportBudgetMs - 1;
  Send();
  EXPECT_THAT(output.urlLines, ElementsAre(url));
  EXPECT_THAT(output.chunks, ElementsAre("in time"));
}

// ---------------------------------------------------------------- the host's start

// The host's process as the waits see it: it waits for input, or ends, after
// a time on the report's clock; a wait that fails does so at once. Every
// call goes to `calls`, in the order shared with the report's sources.
struct FakeHostStart : HostStart {
  FakeHostStart(FakeReportClock& c, std::vector<std::string>& log) : clock(c), calls(log) {}
  FakeReportClock& clock;
  std::vector<std::string>& calls;
  std::uint32_t idleAfterMs = 0xFFFFFFFFu;  // never
  std::uint32_t endAfterMs = 0xFFFFFFFFu;   // never
  bool idleFails = false;
  bool endFails = false;
  std::uint32_t elapsed = 0;  // since the start

  HostWaitResult Wait(std::uint32_t at, bool fails, std::uint32_t timeoutMs) {
    if (fails) return HostWaitResult::Failed;
    if (at <= elapsed) return HostWaitResult::Done;
    if (at - elapsed <= timeoutMs) {
      Pass(at - elapsed);
      return HostWaitResult::Done;
    }
    Pass(timeoutMs);
    return HostWaitResult::TimedOut;
  }
  void Pass(std::uint32_t ms) {
    elapsed += ms;
    clock.tick += ms;
  }
  HostWaitResult WaitForInputIdle(std::uint32_t timeoutMs) override {
    calls.push_back("idle " + std::to_string(timeoutMs));
    // WaitForInputIdle on a process that has ended fails.
    return Wait(idleAfterMs, idleFails || endAfterMs <= elapsed, timeoutMs);
  }
  HostWaitResult WaitForEnd(std::uint32_t timeoutMs) override {
    calls.push_back("end " + std::to_string(timeoutMs));
    return Wait(endAfterMs, endFails, timeoutMs);
  }
  void Sleep(std::uint32_t ms) override {
    calls.push_back("sleep " + std::to_string(ms));
    Pass(ms);
  }
};

TEST(WaitForHostStartTest, EndsAtInputIdleTheEndOrOneSecondAndFallsBackWhenAWaitFails) {
  struct Case {
    const char* name;
    void (*arrange)(FakeHostStart&);
    std::uint32_t elapsedMs;  // from the report's start to the end of the wait
    std::wstring line;
  };
  const Case cases[] = {
      {"input-idle at once (a console process too)", [](FakeHostStart& h) { h.idleAfterMs = 0; },
       0, L"report: the host waits for input, 0 ms"},
      {"input-idle later", [](FakeHostStart& h) { h.idleAfterMs = 250; }, 250,
       L"report: the host waits for input, 250 ms"},
      {"ended without waiting for input", [](FakeHostStart& h) { h.endAfterMs = 350; }, 400,
       L"report: the host has ended, 400 ms"},
      {"still starting", [](FakeHostStart&) {}, 1000,
       L"report: the host still starting at the time limit, 1000 ms"},
      // A handle the input-idle wait refuses: the process's end, within the limit.
      {"input-idle wait refused, ends", [](FakeHostStart& h) { h.idleFails = true; h.endAfterMs = 600; },
       600, L"report: the host has ended, 600 ms"},
      {"input-idle wait refused, runs on", [](FakeHostStart& h) { h.idleFails = true; }, 1000,
       L"report: the host not known to wait for input at the time limit, 1000 ms"},
      // A handle no wait accepts: the time limit alone.
      {"no wait possible", [](FakeHostStart& h) { h.idleFails = true; h.endFails = true; }, 1000,
       L"report: the host not observable: waited for the time limit, 1000 ms"},
  };
  for (const Case& c : cases) {
    testing::RecordedLog lines;
    FakeReportClock clock;
    std::vector<std::string> calls;
    FakeHostStart host(clock, calls);
    c.arrange(host);
    const std::uint32_t startTick = clock.tick;
    WaitForHostStart(&host, clock, startTick);
    EXPECT_EQ(clock.tick - startTick, c.elapsedMs) << c.name;
    EXPECT_THAT(lines.lines, ElementsAre(c.line)) << c.name;
  }
}

TEST(WaitForHostStartTest, WaitsInSlicesOfATenthOfASecondWithinTheSecondLeft) {
  FakeReportClock clock;
  std::vector<std::string> calls;
  FakeHostStart host(clock, calls);
  // The report's thread began 850 ms after the host's start: 150 ms are left.
  WaitForHostStart(&host, clock, clock.tick - 850);
  EXPECT_THAT(calls, ElementsAre("idle 100", "end 0", "idle 50", "end 0"));

  calls.clear();
  host.idleFails = true;
  host.endFails = true;
  WaitForHostStart(&host, clock, clock.tick - 990);
  EXPECT_THAT(calls, ElementsAre("idle 10", "end 0", "end 10", "sleep 10"));

  calls.clear();
  WaitForHostStart(&host, clock, clock.tick - 5000);  // the limit has passed: no wait at all
  EXPECT_THAT(calls, IsEmpty());
}

// ---------------------------------------------------------------- the report's job

struct FakeReportSources : ReportSources {
  explicit FakeReportSources(FakeInternet& i) : internet(i) {}
  FakeInternet& internet;
  bool libraryLoads = true;
  std::vector<std::string> calls;
  std::wstring MachineIdString() override {
    calls.push_back("identity");
    return L"00112233445566778899aabbccddeeff";
  }
  Internet* LoadInternet() override {
    calls.push_back("load");
    return libraryLoads ? &internet : nullptr;
  }
};

class LaunchReportTest : public ::testing::Test {
 protected:
  static constexpr std::int64_t kLaunchSeconds = 1704067200;
  FakeReportClock clock;
  FakeInternet internet{clock};
  FakeReportOutput output;
  FakeReportSources sources{internet};
  FakeHostStart host{clock, sources.calls};
  FakeAnsiCodePage codePage = WesternCodePage();

  void Send(const std::wstring& name, const std::wstring& version, std::uint32_t startTick,
            HostStart* hostStart) {
    SendLaunchReport(name, version, kLaunchSeconds, startTick, hostStart, sources, output, clock,
                     codePage);
  }
};

TEST_F(LaunchReportTest, WaitsForTheHostThenDerivesTheIdentityLoadsWinInetAndSendsTheUrl) {
  internet.body = "ok";
  host.idleAfterMs = 700;  // the launch's time, not the end of this wait, goes into the URL
  Send(L"default", L"1.0.0.1", clock.tick, &host);
  EXPECT_THAT(sources.calls, ElementsAre("idle 100", "end 0", "idle 100", "end 0", "idle 100",
                                         "end 0", "idle 100", "end 0", "idle 100", "end 0",
                                         "idle 100", "end 0", "idle 100", "identity", "load"));
  EXPECT_EQ(internet.url, kPrefix +
                              L"&app_name=default&client_version=1.0.0.1"
                              L"&times=1704067200000&guid=00112233445566778899aabbccddeeff");
  EXPECT_THAT(output.urlLines, ElementsAre(internet.url));
  EXPECT_THAT(output.chunks, ElementsAre("ok"));
}

TEST_F(LaunchReportTest, WithoutAHostProcessTheWorkBeginsAtOnce) {
  Send(L"a", L"1", clock.tick, nullptr);
  EXPECT_THAT(sources.calls, ElementsAre("identity", "load"));
  EXPECT_FALSE(internet.url.empty());
}

TEST_F(LaunchReportTest, WithoutWinInetNothingIsSentOrWritten) {
  sources.libraryLoads = false;
  Send(L"a", L"1", clock.tick, nullptr);
  EXPECT_TRUE(internet.calls.empty());
  EXPECT_TRUE(output.urlLines.empty());
  EXPECT_TRUE(output.chunks.empty());
}

TEST_F(LaunchReportTest, TheBudgetCountsFromTheReportsStartNotTheRequests) {
  // The identity derivation before the request took most of the budget.
  internet.body = "late";
  internet.openUrlDelayMs = 100;
  Send(L"a", L"1", clock.tick - (10000 - 100), nullptr);
  EXPECT_FALSE(internet.url.empty());
  EXPECT_TRUE(output.urlLines.empty());
  EXPECT_TRUE(output.chunks.empty());
}

TEST_F(LaunchReportTest, TheWaitForTheHostIsPartOfTheBudget) {
  // A host that never settles takes its full second of the ten.
  internet.body = "ok";
  internet.openUrlDelayMs = 9000;
  Send(L"a", L"1", clock.tick, &host);
  EXPECT_TRUE(output.urlLines.empty()) << "answered 10000 ms after the start: too late";

  FakeReportClock earlier;
  FakeInternet inTime(earlier);
  FakeReportSources inTimeSources(inTime);
  FakeHostStart inTimeHost(earlier, inTimeSources.calls);
  FakeReportOutput inTimeOutput;
  inTime.body = "ok";
  inTime.openUrlDelayMs = 9000 - 1;
  SendLaunchReport(L"a", L"1", kLaunchSeconds, earlier.tick, &inTimeHost, inTimeSources,
                   inTimeOutput, earlier, codePage);
  EXPECT_THAT(inTimeOutput.chunks, ElementsAre("ok")) << "answered 9999 ms after the start";
}

}  // namespace
}  // namespace tarnix
