#pragma once
// What the download's bind status callback answers the moniker beyond
// progress: the HTTP status it was told, its window for the system's
// prompts, and its refusal of every security problem.

#include <cstdint>
#include <string>

namespace tarnix {

inline constexpr long kResultAbort = static_cast<std::int32_t>(0x80004004u);       // E_ABORT
inline constexpr long kResultInvalidArg = static_cast<std::int32_t>(0x80070057u);  // E_INVALIDARG

// The status as a download attempt's log line names it: "HTTP status 407";
// "no HTTP status" for 0, when no server or proxy answered.
std::wstring HttpStatusText(std::uint32_t status);

// IWindowForBindingUI::GetWindow (and IHttpSecurity's): the download
// dialog's window `dialog` with S_OK, or S_FALSE and no window when there is
// none (0); E_INVALIDARG for a null `window`.
long AnswerWindowRequest(std::uintptr_t dialog, std::uintptr_t* window);

// IHttpSecurity::OnSecurityProblem: logs `problem` (a WinINet error such as
// 12045, ERROR_INTERNET_INVALID_CA) and refuses it with E_ABORT, which ends
// the attempt without a prompt. S_FALSE would have the moniker show its
// warning, owned by the dialog, and S_OK or RPC_E_RETRY would go on past the
// problem: a certificate problem is never clicked through.
long RefuseSecurityProblem(std::uint32_t problem);

}  // namespace tarnix
