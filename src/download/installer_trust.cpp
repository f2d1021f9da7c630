#include "download/installer_trust.h"

#include "download/pe_image.h"

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
    if (file || error != kErrorSharingViolation || attempt == kOpenAttempts) return file;
    trust.Pause(kOpenRetryPauseMilliseconds);
  }
}

// Only a valid signature whose leaf certificate names exactly the expected
// signer counts: any other signer can sign a program too.
bool IsSignedBy(InstallerTrust& trust, TrustFile file, const std::wstring& path,
                const std::wstring& expectedSigner) {
  TrustStateOwner state(TrustState{0}, {&trust});
  if (trust.VerifyTrust(file, path, state.Put()) != 0) return false;
  std::wstring signer;
  return trust.SignerCommonName(state.Get(), &signer) && signer == expectedSigner;
}

}  // namespace

InstallerCheck CheckInstaller(InstallerTrust& trust, const std::wstring& path,
                              const std::wstring& expectedSigner) {
  InstallerCheck check;
  InstallerFile file = OpenForCheck(trust, path);
  if (!file) return check;

  HandleFileBytes bytes(trust, file.Get());
  if (!IsPeImage(bytes)) {
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
