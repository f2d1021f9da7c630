#include "identity/disk_identity_win.h"

#include <windows.h>

namespace tarnix::win {

std::uint32_t Win32DiskDevices::GetPlatformId() {
  OSVERSIONINFOW info = {};
  info.dwOSVersionInfoSize = sizeof(info);
  ::GetVersionExW(&info);  // a failed call leaves the record zero
  return info.dwPlatformId;
}

DeviceHandle Win32DiskDevices::OpenDevice(const std::wstring& path, std::uint32_t access,
                                          std::uint32_t share) {
  HANDLE handle = ::CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr);
  return reinterpret_cast<DeviceHandle>(handle);
}

int Win32DiskDevices::DeviceControl(DeviceHandle device, std::uint32_t code,
                                    const std::uint8_t* input, std::uint32_t inputSize,
                                    std::uint8_t* output, std::uint32_t outputSize,
                                    std::uint32_t* bytesReturned) {
  DWORD returned = 0;
  BOOL result =
      ::DeviceIoControl(reinterpret_cast<HANDLE>(device), code, const_cast<std::uint8_t*>(input),
                        inputSize, output, outputSize, &returned, nullptr);
  *bytesReturned = returned;
  return result;
}

void Win32DiskDevices::CloseDevice(DeviceHandle device) {
  ::CloseHandle(reinterpret_cast<HANDLE>(device));
}

std::uint8_t* Win32DiskDevices::AllocateBlock(std::size_t size) {
  return static_cast<std::uint8_t*>(::HeapAlloc(::GetProcessHeap(), 0, size));
}

void Win32DiskDevices::FreeBlock(std::uint8_t* block) { ::HeapFree(::GetProcessHeap(), 0, block); }

}  // namespace tarnix::win
