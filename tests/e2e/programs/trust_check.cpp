// The launcher's installer check on one file, for the tests and the
// benchmark: the same code the download thread runs (open without write or
// delete sharing, PE check, WinVerifyTrust, the signer's name).
//
//   trust_check FILE SIGNER [RUNS]
//
// Prints one line per run: the verdict and the check's time in milliseconds.
// Exit code: 0 trusted, 1 could not open, 2 not a program, 3 not trusted,
// 9 wrong arguments.

// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

#include <cstdio>
#include <cwchar>

#include "download/installer_trust.h"
#include "download/installer_trust_win.h"

namespace {

const char* Name(tarnix::InstallerVerdict verdict) {
  switch (verdict) {
    case tarnix::InstallerVerdict::kTrusted:
      return "trusted";
    case tarnix::InstallerVerdict::kCouldNotOpen:
      return "could-not-open";
    case tarnix::InstallerVerdict::kNotAProgram:
      return "not-a-program";
    case tarnix::InstallerVerdict::kNotTrusted:
      return "not-trusted";
  }
  return "?";
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr || argc < 3 || argc > 4) return 9;
  int runs = argc == 4 ? _wtoi(argv[3]) : 1;
  if (runs < 1) return 9;

  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  tarnix::InstallerVerdict verdict = tarnix::InstallerVerdict::kCouldNotOpen;
  for (int run = 0; run < runs; ++run) {
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    tarnix::win::Win32InstallerTrust trust;
    verdict = tarnix::CheckInstaller(trust, argv[1], argv[2]).verdict;
    QueryPerformanceCounter(&end);
    std::printf("%s %.3f\n", Name(verdict),
                static_cast<double>(end.QuadPart - start.QuadPart) * 1000.0 /
                    static_cast<double>(frequency.QuadPart));
    std::fflush(stdout);
  }
  LocalFree(argv);
  return static_cast<int>(verdict);
}
