// The shared Win32 values of win32_values.h, held to the system headers.

#include <windows.h>

#include "platform/win32_values.h"

namespace tarnix {

// INVALID_HANDLE_VALUE is a pointer, (HANDLE)(LONG_PTR)-1, which no constant
// expression can read; a handle of the same width with every bit set is it.
static_assert(sizeof(HANDLE) == sizeof(std::uintptr_t));
static_assert(kInvalidHandleValue == static_cast<std::uintptr_t>(LONG_PTR{-1}));
static_assert(kMaxPath == MAX_PATH);
static_assert(kErrorAccessDenied == ERROR_ACCESS_DENIED);
static_assert(kErrorSharingViolation == ERROR_SHARING_VIOLATION);
static_assert(kGenericRead == GENERIC_READ);
static_assert(kGenericWrite == GENERIC_WRITE);
static_assert(kFileShareRead == FILE_SHARE_READ);
static_assert(kFileShareWrite == FILE_SHARE_WRITE);
static_assert(kFileShareDelete == FILE_SHARE_DELETE);
static_assert(kWaitObject0 == WAIT_OBJECT_0);
static_assert(kWaitAbandoned == WAIT_ABANDONED);
static_assert(kWaitTimeout == WAIT_TIMEOUT);
static_assert(kWaitFailed == WAIT_FAILED);
static_assert(kWaitForever == INFINITE);

}  // namespace tarnix
