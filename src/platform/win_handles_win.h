#pragma once
// The Win32 handle kinds the launcher owns, each a UniqueHandle. Only Win32
// adapter files include this header.
//
// Closing keeps the thread's last error, so that a failure code read after a
// scope ends is the one of the failed call, not of the cleanup.

#include <windows.h>

#include <type_traits>

#include "platform/unique_handle.h"

namespace tarnix::win {

template <typename H, H (*InvalidValue)(), void (*CloseFn)(H)>
struct WinTraits {
  using Handle = H;
  static Handle Invalid() noexcept { return InvalidValue(); }
  void Close(Handle handle) noexcept {
    DWORD lastError = ::GetLastError();
    CloseFn(handle);
    ::SetLastError(lastError);
  }
};

inline HANDLE NullHandle() { return nullptr; }
inline HANDLE InvalidHandleValue() { return INVALID_HANDLE_VALUE; }
inline void CloseKernelHandle(HANDLE h) { ::CloseHandle(h); }
inline HMODULE NullModule() { return nullptr; }
inline void ReleaseModule(HMODULE h) { ::FreeLibrary(h); }
inline HWND NullWindow() { return nullptr; }
inline void DestroyWindowOfThread(HWND h) { ::DestroyWindow(h); }
inline void* NullView() { return nullptr; }
inline void UnmapView(void* view) { ::UnmapViewOfFile(view); }

// Files and devices: invalid at INVALID_HANDLE_VALUE.
using UniqueFile = UniqueHandle<WinTraits<HANDLE, InvalidHandleValue, CloseKernelHandle>>;
// Processes, threads, events: invalid at NULL.
using UniqueKernelHandle = UniqueHandle<WinTraits<HANDLE, NullHandle, CloseKernelHandle>>;
using UniqueModule = UniqueHandle<WinTraits<HMODULE, NullModule, ReleaseModule>>;
// A window that the creating thread destroys: invalid at NULL.
using UniqueWindow = UniqueHandle<WinTraits<HWND, NullWindow, DestroyWindowOfThread>>;
// A view of a file mapping (MapViewOfFile): invalid at NULL.
using UniqueMappedView = UniqueHandle<WinTraits<void*, NullView, UnmapView>>;

// Loads a library from the system directory only, never from the program's
// folder or the current directory. Returns an invalid module on failure.
UniqueModule LoadSystemLibrary(const wchar_t* fileName);

// The export `name` of `module` as a pointer to a function of type `Fn`
// (which must match the export's real type). Null when `module` is null or
// has no such export.
template <typename Fn>
Fn LookUpExport(HMODULE module, const char* name) {
  static_assert(std::is_pointer_v<Fn> && std::is_function_v<std::remove_pointer_t<Fn>>);
  if (module == nullptr) return nullptr;
  // Through void*: FARPROC's own type matches no real export.
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

}  // namespace tarnix::win
