#pragma once
#include "identity/adapter_address.h"
#include "platform/win_handles_win.h"
// After windows.h, which it builds on.
#include <nb30.h>

namespace tarnix::win {

// LoadLibraryW, GetProcAddress, GetAdaptersInfo through its export, FreeLibrary.
class Win32AdapterList final : public AdapterList {
 public:
  std::uint32_t SystemDirectory(wchar_t* buffer, std::uint32_t size) override;
  ModuleHandle LoadModule(const std::wstring& path) override;
  ProcAddress FindExport(ModuleHandle module, const char* name) override;
  std::uint32_t GetAdaptersInfo(ProcAddress proc, std::uint8_t* buffer,
                                std::uint32_t* size) override;
  void ReleaseModule(ModuleHandle module) override;
};

// Netbios of netapi32.dll, loaded from the system directory for the
// lifetime of this object (never imported).
class Win32NetbiosDriver final : public NetbiosDriver {
 public:
  Win32NetbiosDriver();
  std::uint8_t Netbios(NetbiosRequest& request) override;

 private:
  UniqueModule library_;
  decltype(&::Netbios) netbios_ = nullptr;
};

}  // namespace tarnix::win
