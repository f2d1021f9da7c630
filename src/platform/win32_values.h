#pragma once
// Win32 values that portable code of several units passes through its
// interfaces, in one place. win32_values_win.cpp holds each to the system
// headers at compile time.

#include <cstddef>
#include <cstdint>

namespace tarnix {

// INVALID_HANDLE_VALUE, as the interfaces carry handles: an unsigned integer
// of pointer width.
inline constexpr std::uintptr_t kInvalidHandleValue = ~std::uintptr_t{0};

// MAX_PATH: the path buffers of the calls that take one, in characters.
inline constexpr std::size_t kMaxPath = 260;

// CreateFileW access rights and share modes.
inline constexpr std::uint32_t kGenericRead = 0x80000000u;   // GENERIC_READ
inline constexpr std::uint32_t kGenericWrite = 0x40000000u;  // GENERIC_WRITE
inline constexpr std::uint32_t kFileShareRead = 0x1u;        // FILE_SHARE_READ
inline constexpr std::uint32_t kFileShareWrite = 0x2u;       // FILE_SHARE_WRITE
inline constexpr std::uint32_t kFileShareDelete = 0x4u;      // FILE_SHARE_DELETE

// GetLastError's answers for a file that another program holds.
inline constexpr std::uint32_t kErrorAccessDenied = 5u;       // ERROR_ACCESS_DENIED
inline constexpr std::uint32_t kErrorSharingViolation = 32u;  // ERROR_SHARING_VIOLATION

// WaitForSingleObject's answers and time-out.
inline constexpr std::uint32_t kWaitObject0 = 0x0u;         // WAIT_OBJECT_0
inline constexpr std::uint32_t kWaitAbandoned = 0x80u;      // WAIT_ABANDONED
inline constexpr std::uint32_t kWaitTimeout = 0x102u;       // WAIT_TIMEOUT
inline constexpr std::uint32_t kWaitFailed = 0xFFFFFFFFu;   // WAIT_FAILED
inline constexpr std::uint32_t kWaitForever = 0xFFFFFFFFu;  // INFINITE

// A wait on a mutex that gave it to the caller: released, or abandoned by a
// holder that ended (which counts as released).
constexpr bool MutexAcquired(std::uint32_t wait) {
  return wait == kWaitObject0 || wait == kWaitAbandoned;
}

}  // namespace tarnix
