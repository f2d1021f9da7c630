#pragma once
// The launch report: one HTTP GET to the statistics server that names the
// application, its version, the time and the machine, sent before the host
// starts. Its answer is only echoed to standard output; every failure is silent.
//
// The request is bounded in time and size, so that a slow, stalled or hostile
// statistics server cannot hold back the start of the host.

#include <cstdint>
#include <string>
#include <string_view>

#include "report/ansi_code_page.h"

namespace tarnix {

// The statistics server's address with the path and the fixed query.
inline constexpr wchar_t kReportUrlPrefix[] =
    L"http://" TARNIX_REPORT_HOST L"/report?softid=136&serviceid=10400&cmdid=1630&1=1";
inline constexpr wchar_t kReportAgent[] = L"UrlTest";

// WinINet's values, named here so that the logic needs no Windows header.
inline constexpr std::uint32_t kInternetOpenTypePreconfig = 0;  // INTERNET_OPEN_TYPE_PRECONFIG
inline constexpr std::uint32_t kInternetFlagNoCacheWrite =
    0x04000000;  // INTERNET_FLAG_NO_CACHE_WRITE
inline constexpr std::uint32_t kInternetOptionConnectTimeout =
    2;                                                          // INTERNET_OPTION_CONNECT_TIMEOUT
inline constexpr std::uint32_t kInternetOptionSendTimeout = 5;  // INTERNET_OPTION_SEND_TIMEOUT
inline constexpr std::uint32_t kInternetOptionReceiveTimeout =
    6;  // INTERNET_OPTION_RECEIVE_TIMEOUT

// Each read asks for at most this many bytes, so that a zero byte always fits
// after them in the 1024-byte buffer.
inline constexpr std::uint32_t kReportReadChunk = 1023;

// Bounds of one report. The request may take kReportBudgetMs from its start:
// every network time-out is set to that, nothing is read or written once it
// has passed, and the body is read up to kReportBodyLimit bytes. The caller
// waits kReportHardWaitMs at most for the request (it runs on its own thread
// on Windows), which also covers a server that trickles its answer one byte
// at a time within every single time-out. Together with the start-up before
// the report, the host starts well within 5 seconds of the launcher.
inline constexpr std::uint32_t kReportBudgetMs = 1500;
inline constexpr std::uint32_t kReportHardWaitMs = 2000;
inline constexpr std::uint32_t kReportBodyLimit = 64 * 1024;

// WinINet's calls, one method each; a handle of 0 is none.
using InternetHandle = std::uintptr_t;

class Internet {
 public:
  virtual ~Internet() = default;
  // InternetOpenW(agent, accessType, no proxy, no bypass, flags): 0 on failure.
  virtual InternetHandle Open(const std::wstring& agent, std::uint32_t accessType,
                              std::uint32_t flags) = 0;
  // InternetSetOptionW with a DWORD value: false on failure.
  virtual bool SetOption(InternetHandle handle, std::uint32_t option, std::uint32_t value) = 0;
  // InternetOpenUrlW(session, url, no headers, flags, context): sends the GET
  // and waits for the response headers; 0 on failure.
  virtual InternetHandle OpenUrl(InternetHandle session, const std::wstring& url,
                                 std::uint32_t flags, std::uintptr_t context) = 0;
  // InternetReadFile: false on failure; *bytesRead is what arrived (0 at the end).
  virtual bool ReadFile(InternetHandle handle, std::uint8_t* buffer, std::uint32_t bytesToRead,
                        std::uint32_t* bytesRead) = 0;
  // InternetCloseHandle.
  virtual bool CloseHandle(InternetHandle handle) = 0;
};

// Standard output of the report.
class ReportOutput {
 public:
  virtual ~ReportOutput() = default;
  // The URL and a line break.
  virtual void WriteUrlLine(const std::wstring& url) = 0;
  // One chunk of the body as narrow text (never holds a zero byte).
  virtual void WriteChunk(std::string_view text) = 0;
};

// Time sources of the report.
class ReportClock {
 public:
  virtual ~ReportClock() = default;
  // Seconds since 1970-01-01 00:00:00 UTC, as time() gives them.
  virtual std::int64_t NowSeconds() = 0;
  // A millisecond counter that only moves forward (it may wrap around).
  virtual std::uint32_t TickMs() = 0;
};

// The bytes, percent-encoded: unreserved characters (letters, digits, "-",
// ".", "_", "~") stay, every other byte becomes "%XX".
std::wstring PercentEncodeBytes(std::string_view bytes);

// A query value as the statistics server has always received it: the text
// in the ANSI code page, as WinINet sends a wide URL, now percent-encoded, so
// that after decoding the server gets the same bytes while no character can
// forge or cut off a field.
std::wstring EncodeQueryValue(std::wstring_view value, AnsiCodePage& codePage);

// Seconds times 1000 as "%lld" writes it.
std::wstring FormatReportTime(std::int64_t seconds);

// The report URL: prefix, &app_name=, &client_version=, &times=, &guid=, in
// this order. Name and version go through EncodeQueryValue; machineId goes as
// it is.
std::wstring BuildReportUrl(std::wstring_view appName, std::wstring_view appVersion,
                            std::int64_t seconds, std::wstring_view machineId,
                            AnsiCodePage& codePage);

// The machine identity's text form as a wide string: 32 lowercase hexadecimal
// digits, or empty when no identity was obtained.
std::wstring GetMachineIdString();

// Sends the GET and echoes the URL and the body, within kReportBudgetMs from
// the call and kReportBodyLimit bytes. Every handle it opens is closed.
void SendReportRequest(const std::wstring& url, Internet& internet, ReportOutput& output,
                       ReportClock& clock);

// Builds the URL with the clock's time and `machineId` and sends it.
void SendLaunchReport(std::wstring appName, std::wstring appVersion, std::wstring_view machineId,
                      Internet& internet, ReportOutput& output, ReportClock& clock,
                      AnsiCodePage& codePage);

// Windows only: SendReportRequest through WinINet (loaded from the system
// folder), the C run-time's clock and standard output, on a thread of its own
// that the caller waits for kReportHardWaitMs at most.
void SendReportRequest(const std::wstring& url);

// Windows only: the launch report with the machine identity, as LaunchApp sends it.
void SendLaunchReport(std::wstring appName, std::wstring appVersion);

}  // namespace tarnix
