#include "download/installer_trust_win.h"

#include <softpub.h>

#include <cstddef>

#include "download/pe_image.h"

namespace tarnix::win {
namespace {

// The portable check mirrors these values.
static_assert(kErrorSharingViolation == ERROR_SHARING_VIOLATION);
static_assert(sizeof(TrustFile) == sizeof(HANDLE) && sizeof(TrustState) == sizeof(HANDLE));
static_assert(kDosSignature == IMAGE_DOS_SIGNATURE);
static_assert(kNewHeaderOffsetField == offsetof(IMAGE_DOS_HEADER, e_lfanew));
static_assert(kNtSignature == IMAGE_NT_SIGNATURE);

HANDLE AsHandle(std::uintptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

Win32InstallerTrust::Win32InstallerTrust()
    : wintrust_(LoadSystemLibrary(L"wintrust.dll")), crypt32_(LoadSystemLibrary(L"crypt32.dll")) {
  verifyTrust_ = LookUpExport<WinVerifyTrustFn>(wintrust_.Get(), "WinVerifyTrust");
  providerData_ = LookUpExport<ProviderDataFn>(wintrust_.Get(), "WTHelperProvDataFromStateData");
  signer_ = LookUpExport<SignerFn>(wintrust_.Get(), "WTHelperGetProvSignerFromChain");
  certificate_ = LookUpExport<CertificateFn>(wintrust_.Get(), "WTHelperGetProvCertFromChain");
  nameString_ = LookUpExport<NameStringFn>(crypt32_.Get(), "CertGetNameStringW");
}

TrustFile Win32InstallerTrust::OpenForCheck(const std::wstring& path, std::uint32_t* error) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) *error = ::GetLastError();
  return reinterpret_cast<TrustFile>(file);
}

bool Win32InstallerTrust::ReadAt(TrustFile file, std::uint64_t offset,
                                 std::span<std::uint8_t> out) {
  if (offset > 0x7FFFFFFFFFFFFFFFull || out.size() > 0xFFFFFFFFu) return false;
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  if (!::SetFilePointerEx(AsHandle(file), position, nullptr, FILE_BEGIN)) return false;
  DWORD read = 0;
  return ::ReadFile(AsHandle(file), out.data(), static_cast<DWORD>(out.size()), &read, nullptr) &&
         read == out.size();
}

long Win32InstallerTrust::VerifyTrust(TrustFile file, const std::wstring& path, TrustState* state) {
  path_ = path;
  file_ = file;
  return CallVerifyTrust(WTD_STATEACTION_VERIFY, state);
}

bool Win32InstallerTrust::SignerCommonName(TrustState state, std::wstring* name) {
  if (state == 0 || providerData_ == nullptr || signer_ == nullptr || certificate_ == nullptr ||
      nameString_ == nullptr)
    return false;
  CRYPT_PROVIDER_DATA* data = providerData_(AsHandle(state));
  CRYPT_PROVIDER_SGNR* signer = data ? signer_(data, 0, FALSE, 0) : nullptr;
  CRYPT_PROVIDER_CERT* leaf = signer ? certificate_(signer, 0) : nullptr;
  if (leaf == nullptr || leaf->pCert == nullptr) return false;

  char commonName[] = szOID_COMMON_NAME;
  // The count includes the terminating zero; 1 means the certificate has no common name.
  DWORD count = nameString_(leaf->pCert, CERT_NAME_ATTR_TYPE, 0, commonName, nullptr, 0);
  if (count == 0) return false;
  std::wstring text(count, L'\0');
  count = nameString_(leaf->pCert, CERT_NAME_ATTR_TYPE, 0, commonName, text.data(), count);
  if (count == 0) return false;
  text.resize(count - 1);
  *name = std::move(text);
  return true;
}

void Win32InstallerTrust::CloseTrustState(TrustState state) {
  if (state != 0) CallVerifyTrust(WTD_STATEACTION_CLOSE, &state);
}

long Win32InstallerTrust::CallVerifyTrust(unsigned long action, TrustState* state) {
  if (verifyTrust_ == nullptr) return static_cast<long>(HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND));
  WINTRUST_FILE_INFO fileInfo = {};
  fileInfo.cbStruct = sizeof(fileInfo);
  fileInfo.pcwszFilePath = path_.c_str();
  fileInfo.hFile = AsHandle(file_);  // the checked handle, not the name, is read

  WINTRUST_DATA data = {};
  data.cbStruct = sizeof(data);
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &fileInfo;
  data.dwStateAction = action;
  data.hWVTStateData = AsHandle(*state);
  // Nothing is fetched from the network: the launcher must work where only
  // the download server is reachable, so the chain must come with the file.
  data.dwProvFlags = WTD_REVOCATION_CHECK_NONE | WTD_CACHE_ONLY_URL_RETRIEVAL;

  GUID actionId = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  LONG result = verifyTrust_(static_cast<HWND>(INVALID_HANDLE_VALUE), &actionId, &data);
  *state = reinterpret_cast<TrustState>(data.hWVTStateData);
  return result;
}

void Win32InstallerTrust::CloseFile(TrustFile file) { ::CloseHandle(AsHandle(file)); }

void Win32InstallerTrust::Pause(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

}  // namespace tarnix::win
