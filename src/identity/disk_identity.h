#pragma once
// Identity strings (serial, model, firmware) of one physical disk, read with
// device control requests. Four request methods are tried in a fixed order;
// the first valid answer supplies all three strings.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "identity/identity_types.h"
#include "platform/win32_values.h"

namespace tarnix {

// A device handle as the OS hands it out; kInvalidHandleValue when none.
using DeviceHandle = std::uintptr_t;

// Access and share flags of the device opens.
inline constexpr std::uint32_t kGenericReadWrite = kGenericRead | kGenericWrite;
inline constexpr std::uint32_t kShareReadWrite = kFileShareRead | kFileShareWrite;
inline constexpr std::uint32_t kShareReadWriteDelete = kShareReadWrite | kFileShareDelete;

inline constexpr std::uint32_t kPlatformWin32Nt = 2;  // VER_PLATFORM_WIN32_NT

// Control codes.
inline constexpr std::uint32_t kSmartGetVersion = 0x74080u;        // SMART_GET_VERSION
inline constexpr std::uint32_t kSmartRcvDriveData = 0x7C088u;      // SMART_RCV_DRIVE_DATA
inline constexpr std::uint32_t kScsiMiniport = 0x4D008u;           // IOCTL_SCSI_MINIPORT
inline constexpr std::uint32_t kScsiMiniportIdentify = 0x1B0501u;  // IOCTL_SCSI_MINIPORT_IDENTIFY
inline constexpr std::uint32_t kStorageQueryProperty = 0x2D1400u;  // IOCTL_STORAGE_QUERY_PROPERTY

// ATA commands.
inline constexpr std::uint8_t kAtaIdentifyDevice = 0xEC;        // ID_CMD
inline constexpr std::uint8_t kAtaIdentifyPacketDevice = 0xA1;  // ATAPI_ID_CMD

inline constexpr std::size_t kDriveCount = 16;     // PhysicalDrive0..15
inline constexpr std::size_t kScsiPortCount = 16;  // Scsi0:..Scsi15:

// The Win32 records the probes build and read, as sizes and byte offsets;
// disk_identity_win.cpp holds each to the system's declaration.
inline constexpr std::size_t kIdentifySize = 512;  // IDENTIFY data
// GETVERSIONINPARAMS
inline constexpr std::size_t kGetVersionSize = 24;
inline constexpr std::size_t kDeviceMapOffset = 3;  // bIDEDeviceMap
// SENDCMDINPARAMS, and SENDCMDOUTPARAMS, which starts with the same count
inline constexpr std::size_t kSendCmdInSize = 33;
inline constexpr std::size_t kSendCmdInHeader = 32;   // up to bBuffer
inline constexpr std::size_t kSendCmdBufferSize = 0;  // cBufferSize
inline constexpr std::size_t kFeaturesReg = 4;        // irDriveRegs.bFeaturesReg
inline constexpr std::size_t kSectorCountReg = 5;
inline constexpr std::size_t kCylLowReg = 7;
inline constexpr std::size_t kCylHighReg = 8;
inline constexpr std::size_t kDriveHeadReg = 9;
inline constexpr std::size_t kCommandReg = 10;
inline constexpr std::size_t kDriveNumber = 12;  // bDriveNumber
// SENDCMDOUTPARAMS: 17 bytes as declared; the answer runs on from bBuffer.
inline constexpr std::size_t kSendCmdOutDeclaredSize = 17;
inline constexpr std::size_t kSendCmdOutHeader = 16;                               // up to bBuffer
inline constexpr std::size_t kSendCmdOutSize = kSendCmdOutHeader + kIdentifySize;  // 528
// SRB_IO_CONTROL, the head of a miniport request
inline constexpr std::size_t kSrbHeaderSize = 28;
inline constexpr std::size_t kSrbHeaderLength = 0;
inline constexpr std::size_t kSrbSignature = 4;
inline constexpr std::size_t kSrbTimeout = 12;
inline constexpr std::size_t kSrbControlCode = 16;
inline constexpr std::size_t kSrbReturnCode = 20;
inline constexpr std::size_t kSrbLength = 24;
// STORAGE_PROPERTY_QUERY and STORAGE_DEVICE_DESCRIPTOR
inline constexpr std::size_t kStorageQuerySize = 12;
inline constexpr std::size_t kProductIdOffset = 16;
inline constexpr std::size_t kProductRevisionOffset = 20;
inline constexpr std::size_t kSerialNumberOffset = 24;

// The buffers of the probes.
inline constexpr std::size_t kScsiBlockSize =
    kSrbHeaderSize + kSendCmdOutDeclaredSize + kIdentifySize;  // 557
inline constexpr std::size_t kDescriptorBufferSize = 2048;
inline constexpr std::size_t kSmartDirectBlockSize = kSendCmdInSize + kIdentifySize;  // 545
inline constexpr std::size_t kDescriptorFieldSize = 256;

using DescriptorField = std::array<std::uint8_t, kDescriptorFieldSize>;

// The OS calls the probes need, one method per Win32 call.
class DiskDevices {
 public:
  virtual ~DiskDevices() = default;
  // GetVersionExW on a zeroed OSVERSIONINFOW: its dwPlatformId, which stays
  // 0 when the call fails.
  virtual std::uint32_t GetPlatformId() = 0;
  // CreateFileW(path, access, share, no security, OPEN_EXISTING, 0, no
  // template). Returns kInvalidHandleValue on failure.
  virtual DeviceHandle OpenDevice(const std::wstring& path, std::uint32_t access,
                                  std::uint32_t share) = 0;
  // DeviceIoControl without an overlapped record. Returns the call's BOOL:
  // 0 on failure, non-zero (normally 1) on success. input may equal output.
  virtual int DeviceControl(DeviceHandle device, std::uint32_t code, const std::uint8_t* input,
                            std::uint32_t inputSize, std::uint8_t* output, std::uint32_t outputSize,
                            std::uint32_t* bytesReturned) = 0;
  // CloseHandle.
  virtual void CloseDevice(DeviceHandle device) = 0;
  // HeapAlloc from the process heap: null on failure; contents undefined.
  virtual std::uint8_t* AllocateBlock(std::size_t size) = 0;
  // HeapFree of a block from AllocateBlock.
  virtual void FreeBlock(std::uint8_t* block) = 0;
};

// The only entry point. True when a method succeeded and `out` holds its
// strings; false (out unchanged) when the platform is not of the NT family
// or every method failed.
bool ReadDiskIdentity(DiskDevices& devices, DiskIdentity& out);

// The four methods. Each returns true and replaces all three strings on a
// valid answer; otherwise returns false and leaves `out` alone.
bool ProbeSmartByDeviceMap(DiskDevices& devices, DiskIdentity& out);   // method 1
bool ProbeScsiMiniport(DiskDevices& devices, DiskIdentity& out);       // method 2
bool ProbeStorageDescriptor(DiskDevices& devices, DiskIdentity& out);  // method 3
bool ProbeSmartDirect(DiskDevices& devices, DiskIdentity& out);        // method 4

// Fills `request` (which arrives zeroed) for an IDENTIFY of drive
// `driveIndex` with `command` and sends SMART_RCV_DRIVE_DATA into
// `response`. Returns true only when the call's result is exactly 1; false
// without a request when `device` is invalid.
bool SendSmartIdentify(DiskDevices& devices, DeviceHandle device, std::uint32_t driveIndex,
                       std::uint8_t command, std::array<std::uint8_t, kSendCmdInSize>& request,
                       std::array<std::uint8_t, kSendCmdOutSize>& response,
                       std::uint32_t* bytesReturned);

// The text of IDENTIFY words firstWord..lastWord (little-endian words in
// `identify`): per word its high byte then its low byte, zero bytes kept,
// trailing blanks (0x20) removed. Words beyond `identify` are not read.
std::string IdentifyString(std::span<const std::uint8_t> identify, std::size_t firstWord,
                           std::size_t lastWord);

// Decodes the descriptor text at `offset` into `field` (which arrives
// zero-filled): hexadecimal when the whole text reads as printable hex
// pairs, else a plain copy; optional pair swapping; blanks trimmed unless
// the text is all blank. An offset of 0 or less (as signed 32 bits) or at or
// past the end of `descriptor` (the bytes the query returned) is an absent
// text; a text is read no further than the descriptor's end and at most 255
// bytes. Returns the text, up to the field's first zero byte.
std::string_view DecodeDescriptorString(std::span<const std::uint8_t> descriptor,
                                        std::uint32_t offset, DescriptorField& field,
                                        bool swapPairs);

}  // namespace tarnix
