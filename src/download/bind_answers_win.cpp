// The values that the portable bind answers mirror, held to the system
// headers at compile time (E_ABORT and E_INVALIDARG beside the callback,
// in download_worker_win.cpp).

#include <windows.h>
// After windows.h, which they build on.
#include <urlmon.h>
#include <wininet.h>

#include "download/bind_answers.h"

namespace tarnix::win {

static_assert(kResultRetry == RPC_E_RETRY);

static_assert(kInternetSecCertDateInvalid == ERROR_INTERNET_SEC_CERT_DATE_INVALID);
static_assert(kInternetSecCertCnInvalid == ERROR_INTERNET_SEC_CERT_CN_INVALID);
static_assert(kInternetHttpToHttpsOnRedir == ERROR_INTERNET_HTTP_TO_HTTPS_ON_REDIR);
static_assert(kInternetHttpsToHttpOnRedir == ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR);
static_assert(kInternetMixedSecurity == ERROR_INTERNET_MIXED_SECURITY);
static_assert(kInternetClientAuthCertNeeded == ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED);
static_assert(kInternetInvalidCa == ERROR_INTERNET_INVALID_CA);
static_assert(kInternetSecCertErrors == ERROR_INTERNET_SEC_CERT_ERRORS);
static_assert(kInternetSecCertNoRev == ERROR_INTERNET_SEC_CERT_NO_REV);
static_assert(kInternetSecCertRevFailed == ERROR_INTERNET_SEC_CERT_REV_FAILED);
static_assert(kHttpRedirectNeedsConfirmation == ERROR_HTTP_REDIRECT_NEEDS_CONFIRMATION);
static_assert(kInternetSecInvalidCert == ERROR_INTERNET_SEC_INVALID_CERT);
static_assert(kInternetSecCertRevoked == ERROR_INTERNET_SEC_CERT_REVOKED);

}  // namespace tarnix::win
