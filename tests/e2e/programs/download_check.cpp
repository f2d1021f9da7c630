// The launcher's own Win32 download pieces, run one at a time for the tests:
// the progress callback's bind information and the URL cache entry's removal.
//
//   download_check bindinfo           one line per caller's BINDINFO size:
//       "size=S result=0xR flags=0xF cbSize=C zero_end=Z fill_start=P struct=N"
//       (Z: the first offset from 4 on that is not zero; P: the offset from
//       which the caller's filler is untouched; N: sizeof(BINDINFO)), then
//       "null-flags result=0xR" and "null-info result=0xR"
//   download_check interfaces        one line per interface asked of the object
//       that urlmon holds (the stall guard before the callback), through
//       QueryInterface and through QueryService with the same id as
//       service: "NAME qi=0xR same=0|1 qs=0xR same=0|1" (same: the answer,
//       asked for IUnknown, gives the guard's IUnknown), then the answers of
//       the callback's own methods outside a dialog:
//       "window=0xR hwnd=0|1 security=0xR begin=0xR headers=0|1
//        response=0xR status=S", the answers to a redirect to https and to
//       http and to a 404: "to-https=0xR to-http=0xR not-found=0xR status=S",
//       and, once every answer is released, the
//       creator's release: "references last=N freed=0|1 early=0|1" (last:
//       Release's count; freed: the object's end was called; early: it was
//       called before the creator's release)
//   download_check uncache URL        makes a cache entry for URL and one for
//       URL?other, runs the launcher's removal of URL and prints
//       "before=... after=... other=..." (present, missing or errorN)
//   download_check identity FOLDER    writes FOLDER\\TarnixSetup.exe and
//       FOLDER\\other.exe and prints "short-differs=0|1 index=0|1" (the
//       short path is another text; the file index is not 0), then for
//       each other spelling of the file's path (its short path, a doubled
//       backslash, a \\?\ prefix, upper case), the other file, a missing
//       one and the file while another opener shares nothing with it,
//       "NAME=1|0|none" (the same identity, another, none read) and
//       "running=read|none" for this program's own file
//
// Exit code: 0 when the steps ran, 9 on wrong arguments, 1 when a step that
// sets the test up failed.

// clang-format off
#include <windows.h>
#include <shellapi.h>
#include <urlmon.h>
#include <wininet.h>
// clang-format on

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <string>

#include "download/download_worker_win.h"
#include "download/stall_guard_win.h"
#include "platform/file_identity_win.h"

namespace {

constexpr unsigned char kFiller = 0xA5;

// The callback's last Release: here the object lives on this stack, so its
// end is only noted (in the bool at `flag`, when given).
void NoteFreed(void* flag) {
  if (flag != nullptr) *static_cast<bool*>(flag) = true;
}

void PrintBindInfo(ULONG size) {
  unsigned char buffer[sizeof(BINDINFO) + 32];
  std::memset(buffer, kFiller, sizeof(buffer));
  std::memcpy(buffer, &size, sizeof(size));
  tarnix::win::CBindCBHttpCallback callback(&NoteFreed, nullptr);
  DWORD flags = 0xFFFFFFFF;
  HRESULT result = callback.GetBindInfo(&flags, reinterpret_cast<BINDINFO*>(buffer));
  ULONG cbSize = 0;
  std::memcpy(&cbSize, buffer, sizeof(cbSize));
  std::size_t zeroEnd = sizeof(ULONG);
  while (zeroEnd < sizeof(buffer) && buffer[zeroEnd] == 0) ++zeroEnd;
  std::size_t fillStart = sizeof(buffer);
  while (fillStart > 0 && buffer[fillStart - 1] == kFiller) --fillStart;
  std::printf(
      "size=%lu result=0x%08lx flags=0x%08lx cbSize=%lu zero_end=%u fill_start=%u struct=%u\n",
      static_cast<unsigned long>(size), static_cast<unsigned long>(result),
      static_cast<unsigned long>(flags), static_cast<unsigned long>(cbSize),
      static_cast<unsigned>(zeroEnd), static_cast<unsigned>(fillStart),
      static_cast<unsigned>(sizeof(BINDINFO)));
}

int BindInfo() {
  // From nothing, through an older caller's shorter record, to a newer
  // caller's longer one.
  const ULONG sizes[] = {0,
                         sizeof(ULONG),
                         static_cast<ULONG>(offsetof(BINDINFO, dwBindVerb)),
                         static_cast<ULONG>(offsetof(BINDINFO, dwOptions)),
                         sizeof(BINDINFO),
                         sizeof(BINDINFO) + 16};
  for (ULONG size : sizes) PrintBindInfo(size);
  tarnix::win::CBindCBHttpCallback callback(&NoteFreed, nullptr);
  BINDINFO info = {};
  info.cbSize = sizeof(info);
  std::printf("null-flags result=0x%08lx\n",
              static_cast<unsigned long>(callback.GetBindInfo(nullptr, &info)));
  DWORD flags = 0;
  std::printf("null-info result=0x%08lx\n",
              static_cast<unsigned long>(callback.GetBindInfo(&flags, nullptr)));
  return 0;
}

bool SameIdentity(void* answer, IUnknown* identity) {
  if (answer == nullptr) return false;
  IUnknown* unknown = nullptr;
  if (static_cast<IUnknown*>(answer)->QueryInterface(IID_IUnknown,
                                                     reinterpret_cast<void**>(&unknown)) != S_OK)
    return false;
  unknown->Release();
  return unknown == identity;
}

// Releases an interface that a successful call handed out, as its holder must.
void ReleaseAnswer(HRESULT result, void* answer) {
  if (result == S_OK && answer != nullptr) static_cast<IUnknown*>(answer)->Release();
}

int Interfaces() {
  bool freed = false;
  tarnix::win::CBindCBHttpCallback callback(&NoteFreed, &freed);
  tarnix::win::StallGuard guard(callback);
  IUnknown* identity = static_cast<IBindStatusCallback*>(&guard);
  IServiceProvider* provider = nullptr;
  guard.QueryInterface(IID_IServiceProvider, reinterpret_cast<void**>(&provider));
  const struct {
    const char* name;
    const IID& id;
  } asked[] = {{"IUnknown", IID_IUnknown},
               {"IBindStatusCallback", IID_IBindStatusCallback},
               {"IHttpNegotiate", IID_IHttpNegotiate},
               {"IServiceProvider", IID_IServiceProvider},
               {"IWindowForBindingUI", IID_IWindowForBindingUI},
               {"IHttpSecurity", IID_IHttpSecurity},
               {"IAuthenticate", IID_IAuthenticate},
               {"IHttpNegotiate2", IID_IHttpNegotiate2},
               {"IBindStatusCallbackEx", IID_IBindStatusCallbackEx}};
  for (const auto& a : asked) {
    void* byQuery = reinterpret_cast<void*>(1);
    HRESULT qi = guard.QueryInterface(a.id, &byQuery);
    void* byService = reinterpret_cast<void*>(1);
    HRESULT qs = provider != nullptr ? provider->QueryService(a.id, a.id, &byService) : E_FAIL;
    std::printf("%s qi=0x%08lx same=%d qs=0x%08lx same=%d\n", a.name,
                static_cast<unsigned long>(qi), SameIdentity(byQuery, identity) ? 1 : 0,
                static_cast<unsigned long>(qs), SameIdentity(byService, identity) ? 1 : 0);
    ReleaseAnswer(qi, byQuery);
    ReleaseAnswer(qs, byService);
  }
  IWindowForBindingUI* windows = nullptr;
  IHttpSecurity* security = nullptr;
  IHttpNegotiate* negotiate = nullptr;
  guard.QueryInterface(IID_IWindowForBindingUI, reinterpret_cast<void**>(&windows));
  guard.QueryInterface(IID_IHttpSecurity, reinterpret_cast<void**>(&security));
  guard.QueryInterface(IID_IHttpNegotiate, reinterpret_cast<void**>(&negotiate));
  if (windows == nullptr || security == nullptr || negotiate == nullptr) return 1;
  HWND window = reinterpret_cast<HWND>(1);
  HRESULT windowResult = windows->GetWindow(IID_IAuthenticate, &window);
  HRESULT securityResult = security->OnSecurityProblem(12045);  // ERROR_INTERNET_INVALID_CA
  LPWSTR headers = reinterpret_cast<LPWSTR>(1);
  HRESULT begin = negotiate->BeginningTransaction(L"http://x/", L"", 0, &headers);
  LPWSTR more = reinterpret_cast<LPWSTR>(1);
  HRESULT response =
      negotiate->OnResponse(407, L"HTTP/1.1 407 Proxy Authentication Required\r\n", nullptr, &more);
  std::printf(
      "window=0x%08lx hwnd=%d security=0x%08lx begin=0x%08lx headers=%d response=0x%08lx "
      "status=%lu\n",
      static_cast<unsigned long>(windowResult), window != nullptr ? 1 : 0,
      static_cast<unsigned long>(securityResult), static_cast<unsigned long>(begin),
      headers != nullptr ? 1 : 0, static_cast<unsigned long>(response),
      static_cast<unsigned long>(callback.Counts().httpStatus));
  HRESULT toHttps = security->OnSecurityProblem(ERROR_INTERNET_HTTP_TO_HTTPS_ON_REDIR);
  HRESULT toHttp = security->OnSecurityProblem(ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR);
  more = reinterpret_cast<LPWSTR>(1);
  HRESULT notFound = negotiate->OnResponse(404, L"HTTP/1.1 404 Not Found\r\n", nullptr, &more);
  std::printf("to-https=0x%08lx to-http=0x%08lx not-found=0x%08lx status=%lu\n",
              static_cast<unsigned long>(toHttps), static_cast<unsigned long>(toHttp),
              static_cast<unsigned long>(notFound),
              static_cast<unsigned long>(callback.Counts().httpStatus));
  // Every answer carried a reference and has given it back: only the
  // creator's is left, and its release ends the object.
  windows->Release();
  security->Release();
  negotiate->Release();
  if (provider != nullptr) provider->Release();
  const bool early = freed;
  const ULONG last = guard.Release();
  std::printf("references last=%lu freed=%d early=%d\n", static_cast<unsigned long>(last),
              freed ? 1 : 0, early ? 1 : 0);
  return 0;
}

std::string CacheState(const std::wstring& url) {
  DWORD size = 0;
  if (GetUrlCacheEntryInfoW(url.c_str(), nullptr, &size)) return "present";
  DWORD error = GetLastError();
  if (error == ERROR_INSUFFICIENT_BUFFER) return "present";
  if (error == ERROR_FILE_NOT_FOUND) return "missing";
  return "error" + std::to_string(error);
}

bool MakeCacheEntry(const std::wstring& url) {
  wchar_t fileName[MAX_PATH] = {};
  if (!CreateUrlCacheEntryW(url.c_str(), 0, L"exe", fileName, 0)) return false;
  HANDLE file = CreateFileW(fileName, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL wrote = WriteFile(file, "MZ cached", 9, &written, nullptr);
  CloseHandle(file);
  if (!wrote) return false;
  FILETIME never = {};
  return CommitUrlCacheEntryW(url.c_str(), fileName, never, never, NORMAL_CACHE_ENTRY, nullptr, 0,
                              nullptr, nullptr) != FALSE;
}

int Uncache(const std::wstring& url) {
  const std::wstring other = url + L"?other";
  if (!MakeCacheEntry(url) || !MakeCacheEntry(other)) return 1;
  std::string before = CacheState(url);
  tarnix::win::DeleteUrlCacheEntryOnSystem(url);
  std::printf("before=%s after=%s other=%s\n", before.c_str(), CacheState(url).c_str(),
              CacheState(other).c_str());
  return 0;
}

// "name=1" when `path` has the identity `base`, "name=0" when another,
// "name=none" when none could be read.
std::string IdentityField(const char* name, const std::wstring& path,
                          const tarnix::FileIdentity& base) {
  tarnix::FileIdentity identity;
  if (!tarnix::win::QueryFileIdentityOnSystem(path, &identity)) return std::string(name) + "=none";
  return std::string(name) + (identity == base ? "=1" : "=0");
}

bool WriteNewFile(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL wrote = WriteFile(file, "MZ", 2, &written, nullptr);
  CloseHandle(file);
  return wrote != FALSE;
}

int Identity(const std::wstring& folder) {
  const std::wstring base = folder + L"\\TarnixSetup.exe";
  if (!WriteNewFile(base) || !WriteNewFile(folder + L"\\other.exe")) return 1;
  tarnix::FileIdentity identity;
  if (!tarnix::win::QueryFileIdentityOnSystem(base, &identity)) return 1;
  wchar_t shortPath[MAX_PATH] = {};
  DWORD shortLength = GetShortPathNameW(base.c_str(), shortPath, MAX_PATH);
  if (shortLength == 0 || shortLength >= MAX_PATH) return 1;
  std::wstring upper = base;
  for (wchar_t& c : upper) c = static_cast<wchar_t>(towupper(c));
  wchar_t own[MAX_PATH] = {};
  if (GetModuleFileNameW(nullptr, own, MAX_PATH) == 0) return 1;
  tarnix::FileIdentity ownIdentity;
  std::string fields[] = {
      IdentityField("short", shortPath, identity),
      IdentityField("doubled", folder + L"\\\\TarnixSetup.exe", identity),
      IdentityField("prefixed", L"\\\\?\\" + base, identity),
      IdentityField("case", upper, identity),
      IdentityField("other", folder + L"\\other.exe", identity),
      IdentityField("missing", folder + L"\\missing.exe", identity),
      std::string("running=") +
          (tarnix::win::QueryFileIdentityOnSystem(own, &ownIdentity) ? "read" : "none"),
      "held=none",
  };
  // Held by another opener that shares nothing.
  HANDLE held = CreateFileW(base.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (held == INVALID_HANDLE_VALUE) return 1;
  fields[7] = IdentityField("held", base, identity);
  CloseHandle(held);
  std::printf("short-differs=%d index=%d", std::wstring(shortPath) != base ? 1 : 0,
              identity.fileIndex != 0 ? 1 : 0);
  for (const std::string& field : fields) std::printf(" %s", field.c_str());
  std::printf("\n");
  return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr || argc < 2) return 9;
  const std::wstring mode = argv[1];
  int code = 9;
  if (mode == L"bindinfo" && argc == 2) {
    code = BindInfo();
  } else if (mode == L"interfaces" && argc == 2) {
    code = Interfaces();
  } else if (mode == L"uncache" && argc == 3) {
    code = Uncache(argv[2]);
  } else if (mode == L"identity" && argc == 3) {
    code = Identity(argv[2]);
  }
  std::fflush(stdout);
  LocalFree(argv);
  return code;
}
