#pragma once
#include "download/installer_trust.h"
#include "platform/win_handles_win.h"

// After windows.h, which the crypto headers build on.
// clang-format off
#include <wincrypt.h>
#include <wintrust.h>
// clang-format on

namespace tarnix::win {

// CreateFileW, ReadFile, CloseHandle and Sleep; WinVerifyTrust and its
// helpers from wintrust.dll and CertGetNameStringW from crypt32.dll, both
// loaded from the system directory for the lifetime of this object (never
// imported). Where a call is missing, the check fails: VerifyTrust returns an
// error and SignerCommonName finds no name.
class Win32InstallerTrust final : public InstallerTrust {
 public:
  Win32InstallerTrust();
  Win32InstallerTrust(const Win32InstallerTrust&) = delete;
  Win32InstallerTrust& operator=(const Win32InstallerTrust&) = delete;

  TrustFile OpenForCheck(const std::wstring& path, std::uint32_t* error) override;
  bool ReadAt(TrustFile file, std::uint64_t offset, std::span<std::uint8_t> out) override;
  long VerifyTrust(TrustFile file, const std::wstring& path, TrustState* state) override;
  bool SignerCommonName(TrustState state, std::wstring* name) override;
  void CloseTrustState(TrustState state) override;
  void CloseFile(TrustFile file) override;
  void Pause(std::uint32_t milliseconds) override;

 private:
  // One WinVerifyTrust request on the file of the last VerifyTrust; the close
  // repeats the verify's request with the state and the close action.
  long CallVerifyTrust(unsigned long action, TrustState* state);

  using WinVerifyTrustFn = decltype(&::WinVerifyTrust);
  using ProviderDataFn = decltype(&::WTHelperProvDataFromStateData);
  using SignerFn = decltype(&::WTHelperGetProvSignerFromChain);
  using CertificateFn = decltype(&::WTHelperGetProvCertFromChain);
  using NameStringFn = decltype(&::CertGetNameStringW);

  std::wstring path_;
  TrustFile file_ = kInvalidHandleValue;
  UniqueModule wintrust_;
  UniqueModule crypt32_;
  WinVerifyTrustFn verifyTrust_ = nullptr;
  ProviderDataFn providerData_ = nullptr;
  SignerFn signer_ = nullptr;
  CertificateFn certificate_ = nullptr;
  NameStringFn nameString_ = nullptr;
};

}  // namespace tarnix::win
