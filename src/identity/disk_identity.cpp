#include "identity/disk_identity.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/bytes.h"
#include "platform/unique_handle.h"

namespace tarnix {
namespace {

// Character classes of the C run-time's default locale; bytes 0x80 and up
// belong to none of them.
constexpr bool IsSpace(std::uint8_t c) { return (c >= 0x09 && c <= 0x0D) || c == 0x20; }
constexpr bool IsPrint(std::uint8_t c) { return c >= 0x20 && c <= 0x7E; }
constexpr bool IsAlnum(std::uint8_t c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
constexpr std::uint8_t ToLower(std::uint8_t c) {
  return c >= 'A' && c <= 'Z' ? static_cast<std::uint8_t>(c - 'A' + 'a') : c;
}

using DeviceTraits =
    ApiHandleTraits<DiskDevices, DeviceHandle, kInvalidHandleValue, &DiskDevices::CloseDevice>;
using UniqueDevice = UniqueHandle<DeviceTraits>;
using BlockTraits = ApiHandleTraits<DiskDevices, std::uint8_t*, nullptr, &DiskDevices::FreeBlock>;
using UniqueBlock = UniqueHandle<BlockTraits>;

constexpr std::uint32_t kSendCmdInputSize = kSendCmdInHeader;  // without the first data byte
constexpr std::uint32_t kMinimumIdentifyAnswer = 46;           // cBufferSize must exceed this

constexpr std::uint32_t kScsiTimeoutSeconds = 10000;
constexpr std::uint32_t kScsiPayloadSize = kSendCmdOutDeclaredSize + kIdentifySize;  // 529
constexpr std::uint32_t kScsiInputSize = kSrbHeaderSize + kSendCmdInHeader;          // 60
constexpr std::size_t kScsiIdentifyOffset = kSrbHeaderSize + kSendCmdOutHeader;      // 44
constexpr std::size_t kScsiModelCheckByte = kScsiIdentifyOffset + 54;                // 98

constexpr std::size_t kMaxDescriptorText = kDescriptorFieldSize - 1;

constexpr std::uint32_t kSmartDirectInputSize = kSendCmdInSize;

// SENDCMDOUTPARAMS.cBufferSize: the byte count of an IDENTIFY answer.
std::uint32_t AnswerSize(const std::uint8_t* response) {
  return LoadLittleEndian<std::uint32_t>(response + kSendCmdBufferSize);
}

// One of the storage descriptor's text offsets.
std::uint32_t TextOffset(std::span<const std::uint8_t> descriptor, std::size_t field) {
  return LoadLittleEndian<std::uint32_t>(descriptor.subspan(field, 4).data());
}

std::wstring DrivePath(std::size_t index) {
  return L"\\\\.\\PhysicalDrive" + std::to_wstring(index);
}

std::wstring ScsiPortPath(std::size_t port) {
  return L"\\\\.\\Scsi" + std::to_wstring(port) + L":";
}

// The three strings of an IDENTIFY answer.
DiskIdentity IdentityFromIdentify(const std::uint8_t* identify) {
  std::span<const std::uint8_t> words(identify, kIdentifySize);
  return DiskIdentity{IdentifyString(words, 10, 19), IdentifyString(words, 27, 46),
                      IdentifyString(words, 23, 26)};
}

// Opens drives 0 to 15 in turn and runs `probe` on each that opens, until
// one succeeds. Each handle is closed before the next drive is tried.
template <typename Probe>
bool ForEachDrive(DiskDevices& devices, std::uint32_t access, std::uint32_t share, Probe probe) {
  for (std::size_t i = 0; i < kDriveCount; ++i) {
    UniqueDevice device(devices.OpenDevice(DrivePath(i), access, share), DeviceTraits{&devices});
    if (!device) continue;
    bool succeeded = probe(device.Get(), i);
    device.Reset();
    if (succeeded) return true;
  }
  return false;
}

// SMART_GET_VERSION into a zeroed record; false when the call fails.
bool GetSmartVersion(DiskDevices& devices, DeviceHandle device,
                     std::array<std::uint8_t, kGetVersionSize>& version) {
  std::uint32_t returned = 0;
  return devices.DeviceControl(device, kSmartGetVersion, nullptr, 0, version.data(),
                               static_cast<std::uint32_t>(version.size()), &returned) != 0;
}

}  // namespace

bool SendSmartIdentify(DiskDevices& devices, DeviceHandle device, std::uint32_t driveIndex,
                       std::uint8_t command, std::array<std::uint8_t, kSendCmdInSize>& request,
                       std::array<std::uint8_t, kSendCmdOutSize>& response,
                       std::uint32_t* bytesReturned) {
  if (device == kInvalidHandleValue) return false;
  StoreLittleEndian(&request[kSendCmdBufferSize], std::uint32_t{kIdentifySize});
  request[kFeaturesReg] = 0;
  request[kSectorCountReg] = 1;
  request[kCylLowReg] = 0;
  request[kCylHighReg] = 0;
  request[kDriveHeadReg] = static_cast<std::uint8_t>(0xA0 | ((driveIndex & 1) << 4));
  request[kCommandReg] = command;
  request[kDriveNumber] = static_cast<std::uint8_t>(driveIndex & 0xFF);
  // Only a result of exactly 1 counts: that is what the driver returns for
  // a completed request.
  return devices.DeviceControl(device, kSmartRcvDriveData, request.data(), kSendCmdInputSize,
                               response.data(), static_cast<std::uint32_t>(response.size()),
                               bytesReturned) == 1;
}

bool ProbeSmartByDeviceMap(DiskDevices& devices, DiskIdentity& out) {
  return ForEachDrive(
      devices, kGenericReadWrite, kShareReadWrite, [&](DeviceHandle device, std::size_t i) {
        std::array<std::uint8_t, kGetVersionSize> version{};
        if (!GetSmartVersion(devices, device, version)) return false;
        std::uint8_t deviceMap = version[kDeviceMapOffset];
        if (deviceMap == 0) return false;
        // Bits 4 to 7 flag ATAPI devices at positions 0 to 3; drives from 4 on
        // have no bit and get the plain IDENTIFY.
        bool atapi = i < 4 && ((deviceMap >> (4 + i)) & 1) != 0;
        std::uint8_t command = atapi ? kAtaIdentifyPacketDevice : kAtaIdentifyDevice;

        std::array<std::uint8_t, kSendCmdInSize> request{};
        std::array<std::uint8_t, kSendCmdOutSize> response{};
        std::uint32_t returned = 0;
        if (!SendSmartIdentify(devices, device, static_cast<std::uint32_t>(i), command, request,
                               response, &returned)) {
          return false;
        }
        if (AnswerSize(response.data()) <= kMinimumIdentifyAnswer) return false;
        out = IdentityFromIdentify(&response[kSendCmdOutHeader]);
        return true;
      });
}

bool ProbeScsiMiniport(DiskDevices& devices, DiskIdentity& out) {
  for (std::size_t port = 0; port < kScsiPortCount; ++port) {
    UniqueDevice device(devices.OpenDevice(ScsiPortPath(port), kGenericReadWrite, kShareReadWrite),
                        DeviceTraits{&devices});
    if (!device) continue;
    bool found = false;
    DiskIdentity answer;
    for (std::uint8_t target = 0; target < 2; ++target) {
      std::array<std::uint8_t, kScsiBlockSize> block{};
      StoreLittleEndian(&block[kSrbHeaderLength], std::uint32_t{kSrbHeaderSize});
      std::memcpy(&block[kSrbSignature], "SCSIDISK", 8);
      StoreLittleEndian(&block[kSrbTimeout], kScsiTimeoutSeconds);
      StoreLittleEndian(&block[kSrbControlCode], kScsiMiniportIdentify);
      StoreLittleEndian(&block[kSrbReturnCode], std::uint32_t{0});
      StoreLittleEndian(&block[kSrbLength], kScsiPayloadSize);
      block[kSrbHeaderSize + kCommandReg] = kAtaIdentifyDevice;
      block[kSrbHeaderSize + kDriveNumber] = target;

      std::uint32_t returned = 0;
      int result =
          devices.DeviceControl(device.Get(), kScsiMiniport, block.data(), kScsiInputSize,
                                block.data(), static_cast<std::uint32_t>(block.size()), &returned);
      // A model's second character of zero means no disk answered.
      if (result != 0 && block[kScsiModelCheckByte] != 0) {
        answer = IdentityFromIdentify(&block[kScsiIdentifyOffset]);
        found = true;
      }
    }
    device.Reset();
    if (found) {
      out = std::move(answer);
      return true;
    }
  }
  return false;
}

std::string_view DecodeDescriptorString(std::span<const std::uint8_t> descriptor,
                                        std::uint32_t offset, DescriptorField& field,
                                        bool swapPairs) {
  auto text = [&field]() {
    auto zero = std::find(field.begin(), field.end(), std::uint8_t{0});
    return std::string_view(reinterpret_cast<const char*>(field.data()),
                            static_cast<std::size_t>(zero - field.begin()));
  };

  field[0] = 0;
  // Absent: a non-positive offset, or one that points outside the bytes the
  // query returned.
  if (static_cast<std::int32_t>(offset) <= 0 || offset >= descriptor.size()) return text();

  // The source text: up to its zero byte, the end of the returned bytes, or
  // the field's capacity, whichever comes first, so no read or write leaves
  // either buffer.
  std::span<const std::uint8_t> source = descriptor.subspan(offset);
  std::size_t length = 0;
  while (length < source.size() && length < kMaxDescriptorText && source[length] != 0) ++length;
  source = source.first(length);

  // Some drivers report the text as hexadecimal character codes; read it so
  // while every pair gives a printable character (or zero).
  std::size_t pos = 0;
  std::size_t digits = 0;
  bool hexadecimal = true;
  for (std::uint8_t raw : source) {
    std::uint8_t c = ToLower(raw);
    if (IsSpace(c)) c = '0';
    field[pos] = static_cast<std::uint8_t>(field[pos] << 4);
    if (c >= '0' && c <= '9') {
      field[pos] = static_cast<std::uint8_t>(field[pos] | (c - '0'));
    } else if (c >= 'a' && c <= 'f') {
      field[pos] = static_cast<std::uint8_t>(field[pos] | (c - 'a' + 10));
    } else {
      hexadecimal = false;
      break;
    }
    if (++digits == 2) {
      if (field[pos] != 0 && !IsPrint(field[pos])) {
        hexadecimal = false;
        break;
      }
      ++pos;
      digits = 0;
      field[pos] = 0;
    }
  }

  if (!hexadecimal) {
    pos = 0;
    for (std::uint8_t c : source) {
      if (!IsPrint(c)) {
        pos = 0;
        break;
      }
      field[pos++] = c;
    }
  }
  field[pos] = 0;

  // Serial numbers come with their characters swapped in pairs. With an odd
  // length the last exchange moves the final character behind the zero.
  if (swapPairs && pos > 0) {
    for (std::size_t k = 0; k < (pos + 1) / 2; ++k) std::swap(field[2 * k], field[2 * k + 1]);
  }

  if (field[0] == 0) return text();
  std::size_t end = text().size();
  std::size_t first = 0;
  while (first < end && IsSpace(field[first])) ++first;
  if (first == end) return text();  // all blank: left as it is
  std::size_t last = end - 1;
  while (IsSpace(field[last])) --last;
  std::size_t kept = last - first + 1;
  std::memmove(field.data(), field.data() + first, kept);
  field[kept] = 0;
  return text();
}

bool ProbeStorageDescriptor(DiskDevices& devices, DiskIdentity& out) {
  return ForEachDrive(devices, 0, kShareReadWrite, [&](DeviceHandle device, std::size_t) {
    std::array<std::uint8_t, kStorageQuerySize> query{};  // StorageDeviceProperty, standard query
    std::array<std::uint8_t, kDescriptorBufferSize> descriptor{};
    std::uint32_t returned = 0;
    if (devices.DeviceControl(device, kStorageQueryProperty, query.data(),
                              static_cast<std::uint32_t>(query.size()), descriptor.data(),
                              static_cast<std::uint32_t>(descriptor.size()), &returned) == 0) {
      return false;
    }
    std::span<const std::uint8_t> answer(descriptor.data(),
                                         std::min<std::size_t>(returned, descriptor.size()));

    DescriptorField model{};
    DescriptorField firmware{};
    DescriptorField serial{};
    std::string_view modelText =
        DecodeDescriptorString(answer, TextOffset(descriptor, kProductIdOffset), model, false);
    std::string_view firmwareText = DecodeDescriptorString(
        answer, TextOffset(descriptor, kProductRevisionOffset), firmware, false);
    std::string_view serialText =
        DecodeDescriptorString(answer, TextOffset(descriptor, kSerialNumberOffset), serial, true);
    if (!IsAlnum(serial[0]) && !IsAlnum(serial[19])) return false;
    out = DiskIdentity{std::string(serialText), std::string(modelText), std::string(firmwareText)};
    return true;
  });
}

bool ProbeSmartDirect(DiskDevices& devices, DiskIdentity& out) {
  return ForEachDrive(
      devices, kGenericReadWrite, kShareReadWriteDelete, [&](DeviceHandle device, std::size_t) {
        std::array<std::uint8_t, kGetVersionSize> version{};
        if (!GetSmartVersion(devices, device, version)) return false;

        UniqueBlock block(devices.AllocateBlock(kSmartDirectBlockSize), BlockTraits{&devices});
        if (!block) return false;
        std::uint8_t* data = block.Get();
        std::memset(data, 0, kSmartDirectBlockSize);
        data[kCommandReg] = kAtaIdentifyDevice;

        // One block serves as request and response.
        std::uint32_t returned = 0;
        if (devices.DeviceControl(device, kSmartRcvDriveData, data, kSmartDirectInputSize, data,
                                  static_cast<std::uint32_t>(kSmartDirectBlockSize),
                                  &returned) == 0) {
          return false;
        }
        if (AnswerSize(data) <= kMinimumIdentifyAnswer) return false;
        out = IdentityFromIdentify(&data[kSendCmdOutHeader]);
        return true;
      });
}

std::string IdentifyString(std::span<const std::uint8_t> identify, std::size_t firstWord,
                           std::size_t lastWord) {
  std::string text;
  for (std::size_t w = firstWord; w <= lastWord && w < identify.size() / 2; ++w) {
    text += static_cast<char>(identify[2 * w + 1]);  // high byte first
    text += static_cast<char>(identify[2 * w]);
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

bool ReadDiskIdentity(DiskDevices& devices, DiskIdentity& out) {
  if (devices.GetPlatformId() != kPlatformWin32Nt) return false;
  return ProbeSmartByDeviceMap(devices, out) || ProbeScsiMiniport(devices, out) ||
         ProbeStorageDescriptor(devices, out) || ProbeSmartDirect(devices, out);
}

}  // namespace tarnix
