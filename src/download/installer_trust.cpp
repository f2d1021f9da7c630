#include "download/installer_trust.h"

#include "download/pe_image.h"

namespace tarnix {
namespace {

using TrustStateOwner = UniqueHandle<ApiHandleTraits<InstallerTrustApi, TrustState, TrustState{0},
                                                     &InstallerTrustApi::CloseTrustState>>;

// The PE check reads through the handle that is verified and held.
class HandleFileBytes final : public FileBytes {
 public:
  HandleFileBytes(InstallerTrustApi& api, TrustFile file) : api_(api), file_(file) {}
  bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override {
    return api_.ReadAt(file_, offset, out);
  }

 private:
  InstallerTrustApi& api_;
  TrustFile file_;
};

InstallerFile OpenForCheck(InstallerTrustApi& api, const std::wstring& path) {
  for (int attempt = 1;; ++attempt) {
    std::uint32_t error = 0;
    InstallerFile file(api.OpenForCheck(path, &error), {&api});
    if (file || error != kErrorSharingViolation || attempt == kOpenAttempts) return file;
    api.Pause(kOpenRetryPauseMilliseconds);
  }
}

// Only a valid signature whose leaf certificate names exactly the expected
// signer counts: any other signer can sign a program too.
bool IsSignedBy(InstallerTrustApi& api, TrustFile file, const std::wstring& path,
                const std::wstring& expectedSigner) {
  TrustStateOwner state(TrustState{0}, {&api});
  if (api.VerifyTrust(file, path, state.Put()) != 0) return false;
  std::wstring signer;
  return api.SignerCommonName(state.Get(), &signer) && signer == expectedSigner;
}

}  // namespace

InstallerCheck CheckInstaller(InstallerTrustApi& api, const std::wstring& path,
                              const std::wstring& expectedSigner) {
  InstallerCheck check;
  InstallerFile file = OpenForCheck(api, path);
  if (!file) return check;

  HandleFileBytes bytes(api, file.Get());
  if (!IsPeImage(bytes)) {
    check.verdict = InstallerVerdict::kNotAProgram;
    return check;
  }
  if (!expectedSigner.empty() && !IsSignedBy(api, file.Get(), path, expectedSigner)) {
    check.verdict = InstallerVerdict::kNotTrusted;
    return check;
  }
  check.verdict = InstallerVerdict::kTrusted;
  check.file = std::move(file);
  return check;
}

}  // namespace tarnix
