#include "download/installer_trust.h"

#include "download/pe_image.h"
#include "platform/launch_log.h"

namespace tarnix {
namespace {

using TrustStateOwner = UniqueHandle<
    ApiHandleTraits<InstallerTrust, TrustState, TrustState{0}, &InstallerTrust::CloseTrustState>>;

// The PE check reads through the handle that is verified and held.
class HandleFileBytes final : public FileBytes {
 public:
  HandleFileBytes(InstallerTrust& trust, TrustFile file) : trust_(trust), file_(file) {}
  bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override {
    return trust_.ReadAt(file_, offset, out);
  }

 private:
  InstallerTrust& trust_;
  TrustFile file_;
};

InstallerFile OpenForCheck(InstallerTrust& trust, const std::wstring& path) {
  for (int attempt = 1;; ++attempt) {
    std::uint32_t error = 0;
    InstallerFile file(trust.OpenForCheck(path, &error), {&trust});
    if (file || error != kErrorSharingViolation || attempt == kOpenAttempts) {
      std::wstring retries = std::to_wstring(attempt - 1) + L" sharing retries";
      LogLine(file ? L"installer check: opened after " + retries
                   : L"installer check: not opened, error " + std::to_wstring(error) + L", after " +
                         retries);
      return file;
    }
    trust.Pause(kOpenRetryPauseMilliseconds);
  }
}

// Only a valid signature whose leaf certificate names exactly the expected
// signer counts: any other signer can sign a program too.
bool IsSignedBy(InstallerTrust& trust, TrustFile file, const std::wstring& path,
                const std::wstring& expectedSigner) {
  TrustStateOwner state(TrustState{0}, {&trust});
  long result = trust.VerifyTrust(file, path, state.Put());
  LogLine(L"installer check: WinVerifyTrust " + LogHex(static_cast<std::uint32_t>(result)));
  if (result != 0) return false;
  std::wstring signer;
  if (!trust.SignerCommonName(state.Get(), &signer)) {
    LogLine(L"installer check: no signer name");
    return false;
  }
  LogLine(L"installer check: signer " + LogQuoted(signer) + L", expected " +
          LogQuoted(expectedSigner));
  return signer == expectedSigner;
}

}  // namespace

InstallerCheck CheckInstaller(InstallerTrust& trust, const std::wstring& path,
                              const std::wstring& expectedSigner) {
  InstallerCheck check;
  InstallerFile file = OpenForCheck(trust, path);
  if (!file) return check;

  HandleFileBytes bytes(trust, file.Get());
  bool program = IsPeImage(bytes);
  LogLine(program ? L"installer check: a Windows program"
                  : L"installer check: not a Windows program");
  if (!program) {
    check.verdict = InstallerVerdict::kNotAProgram;
    return check;
  }
  if (!expectedSigner.empty() && !IsSignedBy(trust, file.Get(), path, expectedSigner)) {
    check.verdict = InstallerVerdict::kNotTrusted;
    return check;
  }
  check.verdict = InstallerVerdict::kTrusted;
  check.file = std::move(file);
  return check;
}

}  // namespace tarnix
