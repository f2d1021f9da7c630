#pragma once
// Whether a downloaded installer may run: it must be a Windows program
// signed by the expected publisher, and the bytes that were checked must be
// the bytes that run. The file is opened once, without write or delete
// sharing, every check reads through that handle, and the handle stays open
// until the installer has ended.

#include <cstdint>
#include <span>
#include <string>

#include "platform/unique_handle.h"
#include "platform/win32_values.h"

namespace tarnix {

// A file handle as the OS hands it out; kInvalidHandleValue is none.
using TrustFile = std::uintptr_t;
// WinVerifyTrust's state data (hWVTStateData); 0 is none.
using TrustState = std::uintptr_t;

// An open that meets a sharing violation (the download still holding the
// file, or an antivirus scanner, which may hold a fresh file for seconds) is
// tried again every 100 ms for up to 30 seconds.
inline constexpr int kOpenAttempts = 301;
inline constexpr std::uint32_t kOpenRetryPauseMilliseconds = 100;

// The OS calls of the check, one method per call.
class InstallerTrust {
 public:
  virtual ~InstallerTrust() = default;
  // CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING). Returns
  // the handle; on failure kInvalidHandleValue, with GetLastError() in *error.
  virtual TrustFile OpenForCheck(const std::wstring& path, std::uint32_t* error) = 0;
  // Reads exactly out.size() bytes at `offset` through `file`. False when the
  // file is shorter or the read fails; `out` is then unspecified.
  virtual bool ReadAt(TrustFile file, std::uint64_t offset, std::span<std::uint8_t> out) = 0;
  // WinVerifyTrust with WINTRUST_ACTION_GENERIC_VERIFY_V2 on the open `file`
  // (`path` is its name): no UI, no revocation check, URLs from the local
  // cache only, WTD_STATEACTION_VERIFY. Returns its result (0: trusted).
  // *state receives the state data, which CloseTrustState releases whatever
  // the result; a failure to reach WinVerifyTrust at all is a non-zero result.
  virtual long VerifyTrust(TrustFile file, const std::wstring& path, TrustState* state) = 0;
  // The subject common name of the first signer's leaf certificate, whole
  // (including any embedded zero). False when there is no signer or certificate.
  virtual bool SignerCommonName(TrustState state, std::wstring* name) = 0;
  // WinVerifyTrust with WTD_STATEACTION_CLOSE; nothing for 0.
  virtual void CloseTrustState(TrustState state) = 0;
  // CloseHandle.
  virtual void CloseFile(TrustFile file) = 0;
  // Sleep.
  virtual void Pause(std::uint32_t milliseconds) = 0;
};

// The installer file, open without write or delete sharing.
using InstallerFile = UniqueHandle<
    ApiHandleTraits<InstallerTrust, TrustFile, kInvalidHandleValue, &InstallerTrust::CloseFile>>;

enum class InstallerVerdict {
  kTrusted,
  kCouldNotOpen,  // not there, no access, or still held by another process
  kNotAProgram,   // not a PE image (an error page, a truncated file)
  kNotTrusted,    // no valid signature, an untrusted chain, or another signer
};

struct InstallerCheck {
  InstallerVerdict verdict = InstallerVerdict::kCouldNotOpen;
  InstallerFile file;  // open only when trusted; closed otherwise
};

// Checks the file at `path`. With an empty `expectedSigner` the signature is
// not checked (a deployment whose installers are unsigned); the file must
// still be a program and is still held open.
InstallerCheck CheckInstaller(InstallerTrust& trust, const std::wstring& path,
                              const std::wstring& expectedSigner);

}  // namespace tarnix
