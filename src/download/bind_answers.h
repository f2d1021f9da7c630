#pragma once
// What the download's bind status callback answers the moniker beyond
// progress: the HTTP status it was told and whether the transfer goes on
// with it, its window for the system's prompts, and which security problems
// it lets through (only a redirect from http to https).

#include <cstdint>
#include <string>

namespace tarnix {

inline constexpr long kResultAbort = static_cast<std::int32_t>(0x80004004u);       // E_ABORT
inline constexpr long kResultInvalidArg = static_cast<std::int32_t>(0x80070057u);  // E_INVALIDARG
inline constexpr long kResultRetry = static_cast<std::int32_t>(0x80010109u);       // RPC_E_RETRY

// The WinINet errors that the moniker hands to IHttpSecurity::OnSecurityProblem.
inline constexpr std::uint32_t kInternetSecCertDateInvalid =
    12037;  // ERROR_INTERNET_SEC_CERT_DATE_INVALID
inline constexpr std::uint32_t kInternetSecCertCnInvalid =
    12038;  // ERROR_INTERNET_SEC_CERT_CN_INVALID
inline constexpr std::uint32_t kInternetHttpToHttpsOnRedir =
    12039;  // ERROR_INTERNET_HTTP_TO_HTTPS_ON_REDIR
inline constexpr std::uint32_t kInternetHttpsToHttpOnRedir =
    12040;  // ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR
inline constexpr std::uint32_t kInternetMixedSecurity = 12041;  // ERROR_INTERNET_MIXED_SECURITY
inline constexpr std::uint32_t kInternetClientAuthCertNeeded =
    12044;  // ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED
inline constexpr std::uint32_t kInternetInvalidCa = 12045;      // ERROR_INTERNET_INVALID_CA
inline constexpr std::uint32_t kInternetSecCertErrors = 12055;  // ERROR_INTERNET_SEC_CERT_ERRORS
inline constexpr std::uint32_t kInternetSecCertNoRev = 12056;   // ERROR_INTERNET_SEC_CERT_NO_REV
inline constexpr std::uint32_t kInternetSecCertRevFailed =
    12057;  // ERROR_INTERNET_SEC_CERT_REV_FAILED
inline constexpr std::uint32_t kHttpRedirectNeedsConfirmation =
    12168;  // ERROR_HTTP_REDIRECT_NEEDS_CONFIRMATION
inline constexpr std::uint32_t kInternetSecInvalidCert = 12169;  // ERROR_INTERNET_SEC_INVALID_CERT
inline constexpr std::uint32_t kInternetSecCertRevoked = 12170;  // ERROR_INTERNET_SEC_CERT_REVOKED

// The status as a download attempt's log line names it: "HTTP status 407";
// "no HTTP status" for 0, when no server or proxy answered.
std::wstring HttpStatusText(std::uint32_t status);

// IHttpNegotiate::OnResponse, told the status of a response: S_OK goes on
// with it. For an error status S_OK means "send the request again" (with
// any added headers), which only a request for credentials wants (401, 407:
// the system's prompt asks for them). Every other status of 400 or more is
// answered with E_ABORT, which ends the transaction (logged): its body is a
// page, never the installer. Whether the download is tried again is decided
// after the call, from the status.
long AnswerResponse(std::uint32_t status);

// IWindowForBindingUI::GetWindow (and IHttpSecurity's): the download
// dialog's window `dialog` with S_OK, or S_FALSE and no window when there is
// none (0); E_INVALIDARG for a null `window`.
long AnswerWindowRequest(std::uintptr_t dialog, std::uintptr_t* window);

// IHttpSecurity::OnSecurityProblem, told `problem` (a WinINet error, above),
// logged with the answer. A redirect from http to https is no certificate
// problem, and a move to the safer scheme: RPC_E_RETRY lets the download go
// on. Every other problem (a certificate the machine does not trust, a
// redirect from https to http...) is refused with E_ABORT, which ends the
// attempt without a prompt: S_FALSE would have the moniker show its
// warning, owned by the dialog, and a certificate problem is never clicked
// through.
long AnswerSecurityProblem(std::uint32_t problem);

}  // namespace tarnix
