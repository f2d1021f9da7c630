#include "report/launch_report.h"

#include <array>
#include <cstring>
#include <limits>

#include "platform/bytes.h"
#include "platform/launch_log.h"
#include "platform/tick_count.h"
#include "platform/unique_handle.h"

namespace tarnix {

namespace {

// A connection attempt that runs out still leaves time for the request.
static_assert(kReportConnectTimeoutMs < kReportBudgetMs);
// The wait for the host's start leaves most of the budget to the request.
static_assert(kHostSettleLimitMs < kReportBudgetMs - kReportConnectTimeoutMs);
static_assert(kHostSettleSliceMs > 0 && kHostSettleSliceMs <= kHostSettleLimitMs);

bool IsUnreserved(std::uint8_t byte) {
  return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
         (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' || byte == '~';
}

// An internet handle, closed through the Internet that opened it.
using InternetHandleTraits =
    ApiHandleTraits<Internet, InternetHandle, InternetHandle{0}, &Internet::CloseHandle>;
using UniqueInternetHandle = UniqueHandle<InternetHandleTraits>;

}  // namespace

std::wstring PercentEncodeBytes(std::string_view bytes) {
  std::wstring out;
  out.reserve(bytes.size() * 3);
  for (char c : bytes) {
    auto byte = static_cast<std::uint8_t>(c);
    if (IsUnreserved(byte)) {
      out += static_cast<wchar_t>(byte);
    } else {
      out += L'%';
      AppendHex(out, byte, HexLetters::Upper);
    }
  }
  return out;
}

std::wstring EncodeQueryValue(std::wstring_view value, AnsiCodePage& codePage) {
  return PercentEncodeBytes(ToAnsiBytes(codePage, value));
}

std::wstring FormatReportTime(std::int64_t seconds) {
  // The clock never comes near the limits; keep the product defined anyway.
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max() / 1000;
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min() / 1000;
  if (seconds > kMax) seconds = kMax;
  if (seconds < kMin) seconds = kMin;
  return std::to_wstring(static_cast<long long>(seconds * 1000));
}

std::wstring BuildReportUrl(std::wstring_view appName, std::wstring_view appVersion,
                            std::int64_t seconds, std::wstring_view machineId,
                            AnsiCodePage& codePage) {
  std::wstring url = kReportUrlPrefix;
  url += L"&app_name=";
  url += EncodeQueryValue(appName, codePage);
  url += L"&client_version=";
  url += EncodeQueryValue(appVersion, codePage);
  url += L"&times=";
  url += FormatReportTime(seconds);
  url += L"&guid=";
  url += machineId;
  return url;
}

namespace {

void LogReportFailure(const wchar_t* what, Internet& internet, ReportClock& clock,
                      std::uint32_t startTick) {
  LogLine(std::wstring(L"report: ") + what + L", WinINet error " +
          std::to_wstring(internet.LastError()) + L", " +
          std::to_wstring(TicksBetween(startTick, clock.TickMs())) + L" ms");
}

}  // namespace

void SendReportRequest(const std::wstring& url, Internet& internet, ReportOutput& output,
                       ReportClock& clock, std::uint32_t startTick) {
  auto withinBudget = [&] { return TicksBetween(startTick, clock.TickMs()) < kReportBudgetMs; };

  UniqueInternetHandle session(internet.Open(kReportAgent, kInternetOpenTypePreconfig, 0),
                               InternetHandleTraits{&internet});
  if (!session) {
    LogReportFailure(L"no session", internet, clock, startTick);
    return;
  }

  // Set on the session, the time-outs hold for the request opened from it. A
  // failure to set one leaves the platform's default; the launcher's bounded
  // wait for this thread still holds.
  internet.SetOption(session.Get(), kInternetOptionConnectTimeout, kReportConnectTimeoutMs);
  internet.SetOption(session.Get(), kInternetOptionSendTimeout, kReportTransferTimeoutMs);
  internet.SetOption(session.Get(), kInternetOptionReceiveTimeout, kReportTransferTimeoutMs);

  // Declared after the session, so the request is closed first. The launcher
  // has nothing on screen while the report runs: no cookie, certificate or
  // authentication dialog may appear for it. No INTERNET_FLAG_IGNORE_* flag:
  // over https:// a certificate problem, or a redirect to http://, fails it.
  UniqueInternetHandle request(
      internet.OpenUrl(session.Get(), url, kInternetFlagNoCacheWrite | kInternetFlagNoUi, 0),
      InternetHandleTraits{&internet});
  if (!request) {
    LogReportFailure(L"request failed", internet, clock, startTick);
    return;
  }
  // Past the budget the launcher may be ending: write nothing more.
  if (!withinBudget()) return;

  output.WriteUrlLine(url);

  std::array<std::uint8_t, kReportReadChunk + 1> buffer{};
  std::uint32_t total = 0;
  while (total < kReportBodyLimit && withinBudget()) {
    std::uint32_t toRead = kReportBodyLimit - total;
    if (toRead > kReportReadChunk) toRead = kReportReadChunk;
    std::uint32_t bytesRead = 0;
    if (!internet.ReadFile(request.Get(), buffer.data(), toRead, &bytesRead)) bytesRead = 0;
    if (bytesRead == 0 || !withinBudget()) break;
    if (bytesRead > toRead) bytesRead = toRead;
    total += bytesRead;
    buffer[bytesRead] = 0;
    // Written as "%s" writes it: up to the chunk's first zero byte.
    const char* text = reinterpret_cast<const char*>(buffer.data());
    output.WriteChunk(std::string_view(text, std::strlen(text)));
  }
  std::uint32_t status = 0;
  std::wstring statusText = internet.QueryStatusCode(request.Get(), &status)
                                ? L"HTTP status " + std::to_wstring(status)
                                : std::wstring(L"no HTTP status");
  LogLine(L"report: " + statusText + L", " + std::to_wstring(total) + L" bytes echoed, " +
          std::to_wstring(TicksBetween(startTick, clock.TickMs())) + L" ms");
}

namespace {

// How the host's start settled, for the log.
const wchar_t* HostSettled(HostStart& host, ReportClock& clock, std::uint32_t startTick) {
  auto left = [&] { return TicksLeft(startTick, clock.TickMs(), kHostSettleLimitMs); };
  // In slices, with a look for the process's end after each.
  bool idleFailed = false;
  for (std::uint32_t remaining = left(); remaining > 0 && !idleFailed; remaining = left()) {
    const std::uint32_t slice = remaining < kHostSettleSliceMs ? remaining : kHostSettleSliceMs;
    const HostWaitResult idle = host.WaitForInputIdle(slice);
    if (idle == HostWaitResult::Done) return L"waits for input";
    idleFailed = idle == HostWaitResult::Failed;
    if (host.WaitForEnd(0) == HostWaitResult::Done) return L"has ended";
  }
  if (!idleFailed) return L"still starting at the time limit";
  // The input-idle wait failed: the process's end or the time limit, then.
  switch (host.WaitForEnd(left())) {
    case HostWaitResult::Done:
      return L"has ended";
    case HostWaitResult::TimedOut:
      return L"not known to wait for input at the time limit";
    case HostWaitResult::Failed:
      break;
  }
  host.Sleep(left());
  return L"not observable: waited for the time limit";
}

}  // namespace

void WaitForHostStart(HostStart* host, ReportClock& clock, std::uint32_t startTick) {
  if (host == nullptr) {
    LogLine(L"report: no host process to wait for");
    return;
  }
  const wchar_t* settled = HostSettled(*host, clock, startTick);
  LogLine(std::wstring(L"report: the host ") + settled + L", " +
          std::to_wstring(TicksBetween(startTick, clock.TickMs())) + L" ms");
}

void SendLaunchReport(const std::wstring& appName, const std::wstring& appVersion,
                      std::int64_t seconds, std::uint32_t startTick, HostStart* host,
                      ReportSources& sources, ReportOutput& output, ReportClock& clock,
                      AnsiCodePage& codePage) {
  WaitForHostStart(host, clock, startTick);
  std::wstring url =
      BuildReportUrl(appName, appVersion, seconds, sources.MachineIdString(), codePage);
  Internet* internet = sources.LoadInternet();
  if (internet == nullptr) {
    LogLine(L"report: WinINet not available");
    return;
  }
  SendReportRequest(url, *internet, output, clock, startTick);
}

}  // namespace tarnix
