// Adds a certificate to the machine's Root store, or removes it, so that a
// test authority is trusted inside the test prefix alone.
//
//   cert_root add|remove FILE
//
// FILE holds the certificate in DER form. Exit code: 0 done, 1 the file
// could not be read, 2 the store could not be opened, 3 the certificate
// could not be added or removed, 9 wrong arguments.

// clang-format off
#include <windows.h>
#include <shellapi.h>
#include <wincrypt.h>
// clang-format on

#include <cwchar>
#include <vector>

namespace {

bool ReadAll(const wchar_t* path, std::vector<BYTE>& bytes) {
  HANDLE file =
      ::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD size = ::GetFileSize(file, nullptr);
  bytes.resize(size);
  DWORD read = 0;
  bool ok = size != INVALID_FILE_SIZE && ::ReadFile(file, bytes.data(), size, &read, nullptr) &&
            read == size;
  ::CloseHandle(file);
  return ok;
}

int Run(bool add, const wchar_t* path) {
  std::vector<BYTE> der;
  if (!ReadAll(path, der)) return 1;
  HCERTSTORE store =
      ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  if (store == nullptr) return 2;
  bool ok = false;
  if (add) {
    ok = ::CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                            static_cast<DWORD>(der.size()),
                                            CERT_STORE_ADD_REPLACE_EXISTING, nullptr) != FALSE;
  } else {
    PCCERT_CONTEXT wanted = ::CertCreateCertificateContext(X509_ASN_ENCODING, der.data(),
                                                           static_cast<DWORD>(der.size()));
    if (wanted != nullptr) {
      PCCERT_CONTEXT found = ::CertFindCertificateInStore(store, X509_ASN_ENCODING, 0,
                                                          CERT_FIND_EXISTING, wanted, nullptr);
      ok = found == nullptr ||
           ::CertDeleteCertificateFromStore(found) != FALSE;  // deleting frees it
      ::CertFreeCertificateContext(wanted);
    }
  }
  ::CertCloseStore(store, 0);
  return ok ? 0 : 3;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int count = 0;
  LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (argv == nullptr || count != 3) return 9;
  bool add = std::wcscmp(argv[1], L"add") == 0;
  if (!add && std::wcscmp(argv[1], L"remove") != 0) return 9;
  int code = Run(add, argv[2]);
  ::LocalFree(argv);
  return code;
}
