// The launch report on Windows: WinINet loaded from the system folder, the C
// run-time's clock and standard output, and a thread of its own per request.

#include <process.h>
#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <ctime>
#include <iterator>
#include <memory>

#include "identity/machine_id.h"
#include "platform/win_handles_win.h"
#include "report/launch_report.h"

namespace tarnix {
namespace win {
namespace {

using InternetOpenWFn = HINTERNET(WINAPI*)(LPCWSTR, DWORD, LPCWSTR, LPCWSTR, DWORD);
using InternetOpenUrlWFn = HINTERNET(WINAPI*)(HINTERNET, LPCWSTR, LPCWSTR, DWORD, DWORD, DWORD_PTR);
using InternetReadFileFn = BOOL(WINAPI*)(HINTERNET, LPVOID, DWORD, LPDWORD);
using InternetCloseHandleFn = BOOL(WINAPI*)(HINTERNET);
using InternetSetOptionWFn = BOOL(WINAPI*)(HINTERNET, DWORD, LPVOID, DWORD);

template <typename Fn>
Fn LookUp(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

HINTERNET ToHandle(InternetHandle handle) { return reinterpret_cast<HINTERNET>(handle); }
InternetHandle FromHandle(HINTERNET handle) { return reinterpret_cast<InternetHandle>(handle); }

// WinINet's calls, passed through. Owns the library, so it stays loaded for
// as long as a request may still run.
class Win32Internet final : public Internet {
 public:
  // False when the library or one of its calls is missing.
  bool Load() {
    module_ = LoadSystemLibrary(L"wininet.dll");
    if (!module_) return false;
    open_ = LookUp<InternetOpenWFn>(module_.Get(), "InternetOpenW");
    openUrl_ = LookUp<InternetOpenUrlWFn>(module_.Get(), "InternetOpenUrlW");
    read_ = LookUp<InternetReadFileFn>(module_.Get(), "InternetReadFile");
    close_ = LookUp<InternetCloseHandleFn>(module_.Get(), "InternetCloseHandle");
    setOption_ = LookUp<InternetSetOptionWFn>(module_.Get(), "InternetSetOptionW");
    return open_ && openUrl_ && read_ && close_ && setOption_;
  }

  InternetHandle Open(const std::wstring& agent, std::uint32_t accessType,
                      std::uint32_t flags) override {
    return FromHandle(open_(agent.c_str(), accessType, nullptr, nullptr, flags));
  }
  bool SetOption(InternetHandle handle, std::uint32_t option, std::uint32_t value) override {
    DWORD data = value;
    return setOption_(ToHandle(handle), option, &data, sizeof(data)) != FALSE;
  }
  InternetHandle OpenUrl(InternetHandle session, const std::wstring& url, std::uint32_t flags,
                         std::uintptr_t context) override {
    return FromHandle(openUrl_(ToHandle(session), url.c_str(), nullptr, 0, flags, context));
  }
  bool ReadFile(InternetHandle handle, std::uint8_t* buffer, std::uint32_t bytesToRead,
                std::uint32_t* bytesRead) override {
    DWORD read = 0;
    BOOL ok = read_(ToHandle(handle), buffer, bytesToRead, &read);
    *bytesRead = read;
    return ok != FALSE;
  }
  bool CloseHandle(InternetHandle handle) override { return close_(ToHandle(handle)) != FALSE; }

 private:
  UniqueModule module_;
  InternetOpenWFn open_ = nullptr;
  InternetOpenUrlWFn openUrl_ = nullptr;
  InternetReadFileFn read_ = nullptr;
  InternetCloseHandleFn close_ = nullptr;
  InternetSetOptionWFn setOption_ = nullptr;
};

// Standard output, flushed after every write: the process may end right
// after the host starts, without flushing its buffers.
class StandardOutput final : public ReportOutput {
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

class RuntimeClock final : public ReportClock {
 public:
  std::int64_t NowSeconds() override { return static_cast<std::int64_t>(::_time64(nullptr)); }
  std::uint32_t TickMs() override { return ::GetTickCount(); }
};

// Everything a request uses, shared by the caller and the request's thread:
// the caller may stop waiting and return while the request still runs.
struct ReportJob {
  std::wstring url;
  Win32Internet internet;
  StandardOutput output;
  RuntimeClock clock;

  void Run() { SendReportRequest(url, internet, output, clock); }
};

unsigned __stdcall RunReportJob(void* parameter) {
  std::unique_ptr<std::shared_ptr<ReportJob>> job(
      static_cast<std::shared_ptr<ReportJob>*>(parameter));
  (*job)->Run();
  return 0;
}

}  // namespace
}  // namespace win

std::wstring GetMachineIdString() {
  FormatMachineIdText();
  // The text is hexadecimal digits (or empty), which every ANSI code page maps
  // to the same characters; widening byte by byte is that conversion.
  std::wstring text;
  for (std::size_t i = 0; i < std::size(MachineIdText) && MachineIdText[i] != 0; ++i) {
    text += static_cast<wchar_t>(static_cast<unsigned char>(MachineIdText[i]));
  }
  return text;
}

void SendReportRequest(const std::wstring& url) {
  auto job = std::make_shared<win::ReportJob>();
  job->url = url;
  if (!job->internet.Load()) return;

  // The request runs on its own thread so that no server, however slow,
  // holds this thread for longer than the hard wait: WinINet's time-outs
  // bound each network wait, not a server that trickles its answer.
  auto* shared = new std::shared_ptr<win::ReportJob>(job);
  uintptr_t thread = ::_beginthreadex(nullptr, 0, win::RunReportJob, shared, 0, nullptr);
  if (thread == 0) {
    delete shared;
    job->Run();  // still bounded by the time-outs and the budget
    return;
  }
  win::UniqueKernelHandle owner(reinterpret_cast<HANDLE>(thread));
  ::WaitForSingleObject(owner.Get(), kReportHardWaitMs);
}

void SendLaunchReport(std::wstring appName, std::wstring appVersion) {
  win::RuntimeClock clock;
  std::int64_t seconds = clock.NowSeconds();
  SendReportRequest(
      BuildReportUrl(appName, appVersion, seconds, GetMachineIdString(), SystemAnsiCodePage()));
}

}  // namespace tarnix
