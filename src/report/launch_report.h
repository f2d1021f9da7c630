#pragma once
// The launch report: one HTTP GET to the statistics server that names the
// application, its version, the launch's time and the machine. It begins once
// the shell has started the host, on a thread of its own (report_flight.h),
// and does its work only once the host's start has settled.
// Its answer is only echoed to standard output; every failure is silent.
//
// The request is bounded in time and size, so that a slow, stalled or hostile
// statistics server cannot keep the launcher for long.

#include <cstdint>
#include <string>
#include <string_view>

#include "report/ansi_code_page.h"
#include "report/report_flight.h"

namespace tarnix {

// The statistics server's address with the path and the fixed query, chosen
// at build time (TARNIX_REPORT_URL).
inline constexpr wchar_t kReportUrlPrefix[] = L"" TARNIX_REPORT_URL;
inline constexpr wchar_t kReportAgent[] = L"UrlTest";

// WinINet's values, named here so that the logic needs no Windows header;
// launch_report_win.cpp holds each to wininet.h.
inline constexpr std::uint32_t kInternetOpenTypePreconfig = 0;  // INTERNET_OPEN_TYPE_PRECONFIG
inline constexpr std::uint32_t kInternetFlagNoCacheWrite =
    0x04000000;                                            // INTERNET_FLAG_NO_CACHE_WRITE
inline constexpr std::uint32_t kInternetFlagNoUi = 0x200;  // INTERNET_FLAG_NO_UI
inline constexpr std::uint32_t kInternetOptionConnectTimeout =
    2;                                                          // INTERNET_OPTION_CONNECT_TIMEOUT
inline constexpr std::uint32_t kInternetOptionSendTimeout = 5;  // INTERNET_OPTION_SEND_TIMEOUT
inline constexpr std::uint32_t kInternetOptionReceiveTimeout =
    6;  // INTERNET_OPTION_RECEIVE_TIMEOUT
// HttpQueryInfoW's HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER.
inline constexpr std::uint32_t kHttpQueryStatusCodeNumber = 19u | 0x20000000u;

// Each read asks for at most this many bytes, so that a zero byte always fits
// after them in the 1024-byte buffer.
inline constexpr std::uint32_t kReportReadChunk = 1023;

// Bounds of one report, within kReportBudgetMs from the report's start: a
// connection attempt may take kReportConnectTimeoutMs, so that a lost SYN is
// sent again and a second address still gets its turn; sending and receiving
// may each take the whole budget; nothing is read or written once the budget
// has passed; and the body is read up to kReportBodyLimit bytes. The
// launcher's wait for the report's thread (ReportFlight) holds the budget
// even where WinINet ignores a time-out or a server trickles its answer.
inline constexpr std::uint32_t kReportConnectTimeoutMs = 5000;
inline constexpr std::uint32_t kReportTransferTimeoutMs = kReportBudgetMs;
inline constexpr std::uint32_t kReportBodyLimit = 64 * 1024;

// The report's own work (the identity, WinINet's load, the request) competes
// with the host's start for the disk, the loader and, under Wine, its one
// server process. So it begins only once the host's start has settled: the
// host's process waits for input or has ended, or kHostSettleLimitMs have
// passed since the report's start, whichever comes first. The wait is part
// of kReportBudgetMs, never added to it.
inline constexpr std::uint32_t kHostSettleLimitMs = 1000;
// WaitForInputIdle does not say whether it returns when the process ends
// before it waits for input, so the wait looks for the end this often.
inline constexpr std::uint32_t kHostSettleSliceMs = 100;

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
  // HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER):
  // false on failure (*status untouched).
  virtual bool QueryStatusCode(InternetHandle request, std::uint32_t* status) = 0;
  // GetLastError() as read right after the last Open, OpenUrl or ReadFile
  // that failed; 0 when none failed.
  virtual std::uint32_t LastError() = 0;
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

// The report's tick counter.
class ReportClock {
 public:
  virtual ~ReportClock() = default;
  // A millisecond counter that only moves forward (it may wrap around).
  virtual std::uint32_t TickMs() = 0;
};

// How a wait on the host's process ended.
enum class HostWaitResult { Done, TimedOut, Failed };

// The waits on the started host's process, shaped like WaitForInputIdle,
// WaitForSingleObject and Sleep.
class HostStart {
 public:
  virtual ~HostStart() = default;
  // WaitForInputIdle: Done when the process waits for input, or has done so
  // before. For a console process or one without a message queue it returns
  // at once, with a value the documentation leaves open (Wine gives 0): Done
  // ends the wait at once, Failed falls back as WaitForHostStart says.
  // Failed for WAIT_FAILED (a handle without the access the call needs, or a
  // process that has ended, among others).
  virtual HostWaitResult WaitForInputIdle(std::uint32_t timeoutMs) = 0;
  // WaitForSingleObject on the process: Done when it has ended; Failed when
  // the handle cannot be waited on.
  virtual HostWaitResult WaitForEnd(std::uint32_t timeoutMs) = 0;
  // Sleep.
  virtual void Sleep(std::uint32_t ms) = 0;
};

// Waits until the host's start has settled, as kHostSettleLimitMs describes,
// counting from `startTick` on the clock. Without a process (`host` null: the
// start failed, or the shell gave no process) it returns at once. A failed
// input-idle wait falls back to the process's end, and a failed wait on the
// end to the time limit alone. The outcome goes to the launch log.
void WaitForHostStart(HostStart* host, ReportClock& clock, std::uint32_t startTick);

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

// What the report's thread derives and loads for itself, so that none of it
// delays the host's start.
class ReportSources {
 public:
  virtual ~ReportSources() = default;
  // The machine identity's text form, derived on the first call in the
  // process: 32 lowercase hexadecimal digits, or empty when none was obtained.
  virtual std::wstring MachineIdString() = 0;
  // WinINet, loaded for the rest of the process (its own threads may outlive
  // a request, so it is never unloaded). Null when the library or one of its
  // calls is missing.
  virtual Internet* LoadInternet() = 0;
};

// Sends the GET and echoes the URL and the body, within kReportBudgetMs from
// `startTick` (the report's start on the clock's tick counter) and
// kReportBodyLimit bytes. Every handle it opens is closed. The outcome (the
// WinINet error or the HTTP status, the bytes echoed, the time since
// `startTick`) goes to the launch log; neither the URL nor the identity does.
void SendReportRequest(const std::wstring& url, Internet& internet, ReportOutput& output,
                       ReportClock& clock, std::uint32_t startTick);

// The launch report as its thread runs it: the wait for the host's start
// (WaitForHostStart), then the machine identity, the URL (name and version in
// `codePage`, and `seconds`, the launch's time taken before the host's start),
// WinINet and the request. Without WinINet nothing is sent or written.
void SendLaunchReport(const std::wstring& appName, const std::wstring& appVersion,
                      std::int64_t seconds, std::uint32_t startTick, HostStart* host,
                      ReportSources& sources, ReportOutput& output, ReportClock& clock,
                      AnsiCodePage& codePage);

}  // namespace tarnix
