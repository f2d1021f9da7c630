// The launch report on Windows: the machine identity, WinINet loaded from the
// system folder, the C run-time's clock and standard output.

#include "report/launch_report_win.h"

#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <ctime>
#include <iterator>

#include "identity/machine_id.h"
#include "identity/machine_id_win.h"
#include "platform/win_handles_win.h"
#include "report/ansi_code_page_win.h"
#include "report/launch_report.h"

namespace tarnix {
namespace win {
namespace {

// WinINet's calls, typed by the system's own declarations.
using InternetOpenWFn = decltype(&::InternetOpenW);
using InternetOpenUrlWFn = decltype(&::InternetOpenUrlW);
using InternetReadFileFn = decltype(&::InternetReadFile);
using InternetCloseHandleFn = decltype(&::InternetCloseHandle);
using InternetSetOptionWFn = decltype(&::InternetSetOptionW);
using HttpQueryInfoWFn = decltype(&::HttpQueryInfoW);

// The values the portable logic passes, as WinINet defines them.
static_assert(sizeof(InternetHandle) == sizeof(HINTERNET));
static_assert(kInternetOpenTypePreconfig == INTERNET_OPEN_TYPE_PRECONFIG);
static_assert(kInternetFlagNoCacheWrite == INTERNET_FLAG_NO_CACHE_WRITE);
static_assert(kInternetFlagNoUi == INTERNET_FLAG_NO_UI);
static_assert(kInternetOptionConnectTimeout == INTERNET_OPTION_CONNECT_TIMEOUT);
static_assert(kInternetOptionSendTimeout == INTERNET_OPTION_SEND_TIMEOUT);
static_assert(kInternetOptionReceiveTimeout == INTERNET_OPTION_RECEIVE_TIMEOUT);
static_assert(kHttpQueryStatusCodeNumber == (HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER));

HINTERNET ToHandle(InternetHandle handle) { return reinterpret_cast<HINTERNET>(handle); }
InternetHandle FromHandle(HINTERNET handle) { return reinterpret_cast<InternetHandle>(handle); }

// WinINet's calls, passed through.
class Win32Internet final : public Internet {
 public:
  // False when the library or one of its calls is missing. The library is
  // never freed: WinINet's own threads may outlive a request, and unloading
  // the code under them would crash the process.
  bool Load() {
    HMODULE module = LoadSystemLibrary(L"wininet.dll").Release();
    if (module == nullptr) return false;
    open_ = LookUpExport<InternetOpenWFn>(module, "InternetOpenW");
    openUrl_ = LookUpExport<InternetOpenUrlWFn>(module, "InternetOpenUrlW");
    read_ = LookUpExport<InternetReadFileFn>(module, "InternetReadFile");
    close_ = LookUpExport<InternetCloseHandleFn>(module, "InternetCloseHandle");
    setOption_ = LookUpExport<InternetSetOptionWFn>(module, "InternetSetOptionW");
    queryInfo_ = LookUpExport<HttpQueryInfoWFn>(module, "HttpQueryInfoW");
    return open_ && openUrl_ && read_ && close_ && setOption_;
  }

  InternetHandle Open(const std::wstring& agent, std::uint32_t accessType,
                      std::uint32_t flags) override {
    HINTERNET session = open_(agent.c_str(), accessType, nullptr, nullptr, flags);
    if (session == nullptr) lastError_ = ::GetLastError();
    return FromHandle(session);
  }
  bool SetOption(InternetHandle handle, std::uint32_t option, std::uint32_t value) override {
    DWORD data = value;
    return setOption_(ToHandle(handle), option, &data, sizeof(data)) != FALSE;
  }
  InternetHandle OpenUrl(InternetHandle session, const std::wstring& url, std::uint32_t flags,
                         std::uintptr_t context) override {
    HINTERNET request = openUrl_(ToHandle(session), url.c_str(), nullptr, 0, flags, context);
    if (request == nullptr) lastError_ = ::GetLastError();
    return FromHandle(request);
  }
  bool ReadFile(InternetHandle handle, std::uint8_t* buffer, std::uint32_t bytesToRead,
                std::uint32_t* bytesRead) override {
    DWORD read = 0;
    BOOL ok = read_(ToHandle(handle), buffer, bytesToRead, &read);
    if (!ok) lastError_ = ::GetLastError();
    *bytesRead = read;
    return ok != FALSE;
  }
  bool CloseHandle(InternetHandle handle) override { return close_(ToHandle(handle)) != FALSE; }
  bool QueryStatusCode(InternetHandle request, std::uint32_t* status) override {
    if (queryInfo_ == nullptr) return false;  // only for the log: not required
    DWORD code = 0;
    DWORD size = sizeof(code);
    if (!queryInfo_(ToHandle(request), kHttpQueryStatusCodeNumber, &code, &size, nullptr))
      return false;
    *status = code;
    return true;
  }
  std::uint32_t LastError() override { return lastError_; }

 private:
  InternetOpenWFn open_ = nullptr;
  InternetOpenUrlWFn openUrl_ = nullptr;
  InternetReadFileFn read_ = nullptr;
  InternetCloseHandleFn close_ = nullptr;
  InternetSetOptionWFn setOption_ = nullptr;
  HttpQueryInfoWFn queryInfo_ = nullptr;
  DWORD lastError_ = 0;
};

// Standard output, flushed after every write: the process may end while the
// report still runs, without flushing its buffers.
class Win32ReportOutput final : public ReportOutput {
 public:
  void WriteUrlLine(const std::wstring& url) override {
    std::wprintf(L"%ls\n", url.c_str());
    std::fflush(stdout);
  }
  void WriteChunk(std::string_view text) override {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
  }
};

// The system's tick counter.
class Win32ReportClock final : public ReportClock {
 public:
  std::uint32_t TickMs() override { return ::GetTickCount(); }
};

// The waits on the host's process. Each only waits: none changes the host.
class Win32HostStart final : public HostStart {
 public:
  explicit Win32HostStart(HANDLE process) : process_(process) {}
  // The handle of a process started elevated comes from the elevation
  // service and may lack rights these calls need: they fail (WAIT_FAILED)
  // then, and the caller falls back to the process's end or the time limit.
  HostWaitResult WaitForInputIdle(std::uint32_t timeoutMs) override {
    return FromWait(::WaitForInputIdle(process_, timeoutMs));
  }
  HostWaitResult WaitForEnd(std::uint32_t timeoutMs) override {
    return FromWait(::WaitForSingleObject(process_, timeoutMs));
  }
  void Sleep(std::uint32_t ms) override { ::Sleep(ms); }

 private:
  static HostWaitResult FromWait(DWORD result) {
    if (result == WAIT_OBJECT_0) return HostWaitResult::Done;
    return result == WAIT_TIMEOUT ? HostWaitResult::TimedOut : HostWaitResult::Failed;
  }
  HANDLE process_;
};

class Win32ReportSources final : public ReportSources {
 public:
  std::wstring MachineIdString() override {
    FormatMachineIdTextOnSystem();
    // The text is hexadecimal digits (or empty), which every ANSI code page
    // maps to the same characters; widening byte by byte is that conversion.
    std::wstring text;
    for (std::size_t i = 0; i < std::size(MachineIdText) && MachineIdText[i] != 0; ++i) {
      text += static_cast<wchar_t>(static_cast<unsigned char>(MachineIdText[i]));
    }
    return text;
  }
  Internet* LoadInternet() override { return internet_.Load() ? &internet_ : nullptr; }

 private:
  Win32Internet internet_;
};

}  // namespace

void SendLaunchReportOnSystem(const std::wstring& appName, const std::wstring& appVersion,
                              std::int64_t seconds, std::uintptr_t hostProcess,
                              std::uint32_t startTick) {
  // On this thread's stack: the process may end while the report runs, and
  // its exit-time destructors must find nothing of the report to destroy.
  Win32ReportSources sources;
  Win32ReportOutput output;
  Win32ReportClock clock;
  Win32AnsiCodePage codePage;
  Win32HostStart host(reinterpret_cast<HANDLE>(hostProcess));
  SendLaunchReport(appName, appVersion, seconds, startTick, hostProcess != 0 ? &host : nullptr,
                   sources, output, clock, codePage);
}

std::int64_t ReportTimeOnSystem() { return static_cast<std::int64_t>(::_time64(nullptr)); }

}  // namespace win
}  // namespace tarnix
