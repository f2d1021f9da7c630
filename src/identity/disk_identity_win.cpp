#include "identity/disk_identity_win.h"

#include <windows.h>
// After windows.h, which they build on.
#include <ntddscsi.h>
#include <winioctl.h>

#include <cstddef>

namespace tarnix::win {
namespace {

// The portable probes build and read these records by size and offset; hold
// them to the system's declarations.
static_assert(sizeof(DeviceHandle) == sizeof(HANDLE));
static_assert(kPlatformWin32Nt == VER_PLATFORM_WIN32_NT);
static_assert(kSmartGetVersion == SMART_GET_VERSION);
static_assert(kSmartRcvDriveData == SMART_RCV_DRIVE_DATA);
static_assert(kScsiMiniport == IOCTL_SCSI_MINIPORT);
// IOCTL_SCSI_MINIPORT_IDENTIFY comes only with the driver kit's headers:
// (FILE_DEVICE_SCSI << 16) + 0x0501, with FILE_DEVICE_SCSI 0x1B.
static_assert(kScsiMiniportIdentify == (0x1Bu << 16) + 0x0501u);
static_assert(kStorageQueryProperty == IOCTL_STORAGE_QUERY_PROPERTY);
static_assert(kAtaIdentifyDevice == ID_CMD);
static_assert(kAtaIdentifyPacketDevice == ATAPI_ID_CMD);
static_assert(kIdentifySize == IDENTIFY_BUFFER_SIZE);

static_assert(sizeof(GETVERSIONINPARAMS) == kGetVersionSize);
static_assert(offsetof(GETVERSIONINPARAMS, bIDEDeviceMap) == kDeviceMapOffset);

static_assert(sizeof(SENDCMDINPARAMS) == kSendCmdInSize);
static_assert(offsetof(SENDCMDINPARAMS, bBuffer) == kSendCmdInHeader);
static_assert(offsetof(SENDCMDINPARAMS, cBufferSize) == kSendCmdBufferSize);
static_assert(offsetof(SENDCMDINPARAMS, irDriveRegs) + offsetof(IDEREGS, bFeaturesReg) ==
              kFeaturesReg);
static_assert(offsetof(SENDCMDINPARAMS, irDriveRegs) + offsetof(IDEREGS, bSectorCountReg) ==
              kSectorCountReg);
static_assert(offsetof(SENDCMDINPARAMS, irDriveRegs) + offsetof(IDEREGS, bCylLowReg) == kCylLowReg);
static_assert(offsetof(SENDCMDINPARAMS, irDriveRegs) + offsetof(IDEREGS, bCylHighReg) ==
              kCylHighReg);
static_assert(offsetof(SENDCMDINPARAMS, irDriveRegs) + offsetof(IDEREGS, bDriveHeadReg) ==
              kDriveHeadReg);
static_assert(offsetof(SENDCMDINPARAMS, irDriveRegs) + offsetof(IDEREGS, bCommandReg) ==
              kCommandReg);
static_assert(offsetof(SENDCMDINPARAMS, bDriveNumber) == kDriveNumber);

static_assert(sizeof(SENDCMDOUTPARAMS) == kSendCmdOutDeclaredSize);
static_assert(offsetof(SENDCMDOUTPARAMS, cBufferSize) == kSendCmdBufferSize);
static_assert(offsetof(SENDCMDOUTPARAMS, bBuffer) == kSendCmdOutHeader);

static_assert(sizeof(SRB_IO_CONTROL) == kSrbHeaderSize);
static_assert(offsetof(SRB_IO_CONTROL, HeaderLength) == kSrbHeaderLength);
static_assert(offsetof(SRB_IO_CONTROL, Signature) == kSrbSignature);
static_assert(offsetof(SRB_IO_CONTROL, Timeout) == kSrbTimeout);
static_assert(offsetof(SRB_IO_CONTROL, ControlCode) == kSrbControlCode);
static_assert(offsetof(SRB_IO_CONTROL, ReturnCode) == kSrbReturnCode);
static_assert(offsetof(SRB_IO_CONTROL, Length) == kSrbLength);

// The storage query goes out all zero: the device property, the standard query.
static_assert(sizeof(STORAGE_PROPERTY_QUERY) == kStorageQuerySize);
static_assert(StorageDeviceProperty == 0 && PropertyStandardQuery == 0);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, ProductIdOffset) == kProductIdOffset);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, ProductRevisionOffset) == kProductRevisionOffset);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, SerialNumberOffset) == kSerialNumberOffset);

}  // namespace

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
