// The launcher's own Win32 download pieces, run one at a time for the tests:
// the progress callback's bind information and the URL cache entry's removal.
//
//   download_check bindinfo           one line per caller's BINDINFO size:
//       "size=S result=0xR flags=0xF cbSize=C zero_end=Z fill_start=P struct=N"
//       (Z: the first offset from 4 on that is not zero; P: the offset from
//       which the caller's filler is untouched; N: sizeof(BINDINFO)), then
//       "null-flags result=0xR" and "null-info result=0xR"
//   download_check uncache URL        makes a cache entry for URL and one for
//       URL?other, runs the launcher's removal of URL and prints
//       "before=... after=... other=..." (present, missing or errorN)
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
#include <string>

#include "download/download_worker_win.h"

namespace {

constexpr unsigned char kFiller = 0xA5;

void PrintBindInfo(ULONG size) {
  unsigned char buffer[sizeof(BINDINFO) + 32];
  std::memset(buffer, kFiller, sizeof(buffer));
  std::memcpy(buffer, &size, sizeof(size));
  tarnix::win::CBindCBHttpCallback callback;
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
  tarnix::win::CBindCBHttpCallback callback;
  BINDINFO info = {};
  info.cbSize = sizeof(info);
  std::printf("null-flags result=0x%08lx\n",
              static_cast<unsigned long>(callback.GetBindInfo(nullptr, &info)));
  DWORD flags = 0;
  std::printf("null-info result=0x%08lx\n",
              static_cast<unsigned long>(callback.GetBindInfo(&flags, nullptr)));
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

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr || argc < 2) return 9;
  const std::wstring mode = argv[1];
  int code = 9;
  if (mode == L"bindinfo" && argc == 2) {
    code = BindInfo();
  } else if (mode == L"uncache" && argc == 3) {
    code = Uncache(argv[2]);
  }
  std::fflush(stdout);
  LocalFree(argv);
  return code;
}
