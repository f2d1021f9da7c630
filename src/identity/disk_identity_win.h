#pragma once
#include "identity/disk_identity.h"

namespace tarnix::win {

// The real devices, through CreateFileW, DeviceIoControl and CloseHandle.
class Win32DiskDevices final : public DiskDevices {
 public:
  std::uint32_t GetPlatformId() override;
  DeviceHandle OpenDevice(const std::wstring& path, std::uint32_t access,
                          std::uint32_t share) override;
  int DeviceControl(DeviceHandle device, std::uint32_t code, const std::uint8_t* input,
                    std::uint32_t inputSize, std::uint8_t* output, std::uint32_t outputSize,
                    std::uint32_t* bytesReturned) override;
  void CloseDevice(DeviceHandle device) override;
  std::uint8_t* AllocateBlock(std::size_t size) override;
  void FreeBlock(std::uint8_t* block) override;
};

}  // namespace tarnix::win
