#pragma once
// COM through ole32.dll, loaded from the system directory at run time.

// clang-format off
#include <windows.h>
#include <objbase.h>
// clang-format on

#include <cstddef>

#include "platform/com.h"

namespace tarnix::win {

// CoInitializeEx and CoUninitialize, looked up in ole32.dll on first use.
// ole32 then stays loaded for the rest of the process: COM's own threads
// and whatever the shell or urlmon made through it live in it.
class Win32ComLibrary final : public ComLibrary {
 public:
  long InitializeCom() override;
  void UninitializeCom() override;

 private:
  using InitializeFn = decltype(&::CoInitializeEx);
  using UninitializeFn = decltype(&::CoUninitialize);
  InitializeFn initialize_ = nullptr;
  UninitializeFn uninitialize_ = nullptr;
};

// CoTaskMemAlloc, looked up in ole32.dll (from the system directory, kept
// loaded) on first use: memory that a COM caller frees. Null when ole32 or
// the call is missing, or the memory is not there.
void* ComTaskMemAlloc(std::size_t bytes);

// The portable form of an interface id.
InterfaceId InterfaceIdOf(REFIID iid);

}  // namespace tarnix::win
