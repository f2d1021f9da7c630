#include "identity/disk_identity.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace tarnix {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::ElementsAre;

// Answers one control request of a device: writes the output, sets the byte
// count and returns the call's BOOL.
using Responder = std::function<int(std::uint32_t code, const Bytes& input,
                                    std::span<std::uint8_t> output, std::uint32_t* returned)>;

struct OpenCall {
  std::wstring path;
  std::uint32_t access;
  std::uint32_t share;
  bool operator==(const OpenCall&) const = default;
};

struct ControlCall {
  std::wstring path;
  std::uint32_t code;
  Bytes input;
  std::uint32_t outputSize;
  bool inputIsOutput;
};

// Devices by path, each answering from its responder; records every call and
// checks that every handle and block is released.
class FakeDiskDevices final : public DiskDevices {
 public:
  std::uint32_t platformId = kPlatformWin32Nt;
  std::map<std::wstring, Responder> devices;
  bool failAllocation = false;

  std::vector<OpenCall> opens;
  std::vector<ControlCall> controls;
  std::vector<std::string> events;  // opens, closes, allocations and frees in order
  int openHandles = 0;
  int liveBlocks = 0;

  std::uint32_t GetPlatformId() override { return platformId; }

  DeviceHandle OpenDevice(const std::wstring& path, std::uint32_t access,
                          std::uint32_t share) override {
    opens.push_back({path, access, share});
    if (devices.find(path) == devices.end()) return kInvalidHandleValue;
    paths_.push_back(path);
    ++openHandles;
    events.push_back("open " + Narrow(path));
    return 1000 + paths_.size() - 1;
  }

  int DeviceControl(DeviceHandle device, std::uint32_t code, const std::uint8_t* input,
                    std::uint32_t inputSize, std::uint8_t* output, std::uint32_t outputSize,
                    std::uint32_t* bytesReturned) override {
    const std::wstring& path = paths_.at(device - 1000);
    Bytes in(input, input + (input ? inputSize : 0));
    controls.push_back({path, code, in, outputSize, input == output});
    return devices[path](code, in, std::span<std::uint8_t>(output, outputSize), bytesReturned);
  }

  void CloseDevice(DeviceHandle device) override {
    --openHandles;
    events.push_back("close " + Narrow(paths_.at(device - 1000)));
  }

  std::uint8_t* AllocateBlock(std::size_t size) override {
    events.push_back("allocate");
    if (failAllocation) return nullptr;
    ++liveBlocks;
    auto* block = new std::uint8_t[size];
    std::memset(block, 0xCD, size);  // the probe must zero it
    return block;
  }

  void FreeBlock(std::uint8_t* block) override {
    events.push_back("free");
    --liveBlocks;
    delete[] block;
  }

  std::vector<ControlCall> ControlsWithCode(std::uint32_t code) const {
    std::vector<ControlCall> found;
    for (const ControlCall& call : controls)
      if (call.code == code) found.push_back(call);
    return found;
  }

 private:
  static std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
  }
  std::vector<std::wstring> paths_;
};

class DiskProbeTest : public testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ(disks.openHandles, 0) << "a device handle was not closed";
    EXPECT_EQ(disks.liveBlocks, 0) << "a heap block was not freed";
  }
  FakeDiskDevices disks;
};

std::wstring Drive(int i) { return L"\\\\.\\PhysicalDrive" + std::to_wstring(i); }
std::wstring Port(int p) { return L"\\\\.\\Scsi" + std::to_wstring(p) + L":"; }

// 512 bytes of IDENTIFY data with the three texts in their words, two
// characters per word, the first in the high byte, padded with blanks.
Bytes Identify(const std::string& serial, const std::string& model, const std::string& firmware) {
  Bytes data(kIdentifySize, 0);
  auto put = [&data](std::size_t firstWord, std::size_t words, const std::string& text) {
    std::string padded = text;
    padded.resize(2 * words, ' ');
    for (std::size_t k = 0; k < words; ++k) {
      data[2 * (firstWord + k) + 1] = static_cast<std::uint8_t>(padded[2 * k]);
      data[2 * (firstWord + k)] = static_cast<std::uint8_t>(padded[2 * k + 1]);
    }
  };
  put(10, 10, serial);
  put(23, 4, firmware);
  put(27, 20, model);
  return data;
}

void Put32(std::span<std::uint8_t> out, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i)
    out[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

const Bytes kDisk = Identify("WD-WCAV12345678", "ST3500418AS", "CC38");
const DiskIdentity kDiskStrings{"WD-WCAV12345678", "ST3500418AS", "CC38"};

// A drive for methods 1 and 4: SMART_GET_VERSION reports `deviceMap`;
// SMART_RCV_DRIVE_DATA writes `cBufferSize` and `identify` and returns `result`.
Responder SmartDrive(std::uint8_t deviceMap, Bytes identify, std::uint32_t cBufferSize = 512,
                     int result = 1) {
  return
      [=](std::uint32_t code, const Bytes&, std::span<std::uint8_t> out, std::uint32_t* returned) {
        if (code == kSmartGetVersion) {
          out[3] = deviceMap;
          *returned = kGetVersionSize;
          return 1;
        }
        if (code != kSmartRcvDriveData) return 0;
        Put32(out, 0, cBufferSize);
        std::copy(identify.begin(), identify.end(), out.begin() + kSendCmdOutHeader);
        *returned = kSendCmdOutSize;
        return result;
      };
}

// A SCSI port whose targets answer with the given IDENTIFY data (empty: no answer).
Responder ScsiPort(Bytes target0, Bytes target1) {
  return [=](std::uint32_t code, const Bytes& in, std::span<std::uint8_t> out,
             std::uint32_t* returned) {
    if (code != kScsiMiniport) return 0;
    const Bytes& identify = in.at(40) == 0 ? target0 : target1;
    if (identify.empty()) return 0;
    std::copy(identify.begin(), identify.end(), out.begin() + 44);
    *returned = static_cast<std::uint32_t>(out.size());
    return 1;
  };
}

// A drive whose storage query returns `descriptor` (the byte count is its size).
Responder DescriptorDrive(Bytes descriptor) {
  return
      [=](std::uint32_t code, const Bytes&, std::span<std::uint8_t> out, std::uint32_t* returned) {
        if (code != kStorageQueryProperty) return 0;
        std::copy(descriptor.begin(), descriptor.end(), out.begin());
        *returned = static_cast<std::uint32_t>(descriptor.size());
        return 1;
      };
}

Responder Silent() {
  return [](std::uint32_t, const Bytes&, std::span<std::uint8_t>, std::uint32_t*) { return 0; };
}

bool SameStrings(const DiskIdentity& a, const DiskIdentity& b) {
  return a.serial == b.serial && a.model == b.model && a.firmware == b.firmware;
}

// ---------------------------------------------------------------------------
// Dispatch

TEST_F(DiskProbeTest, OtherPlatformOpensNothingAndKeepsTheStrings) {
  disks.platformId = 1;
  disks.devices[Drive(0)] = SmartDrive(0x01, kDisk);
  DiskIdentity out{"s", "m", "f"};
  EXPECT_FALSE(ReadDiskIdentity(disks, out));
  EXPECT_TRUE(disks.opens.empty());
  EXPECT_TRUE(SameStrings(out, {"s", "m", "f"}));
}

TEST_F(DiskProbeTest, NoDeviceRunsEveryMethodOverItsWholeRange) {
  std::vector<OpenCall> expected;
  for (int i = 0; i < 16; ++i) expected.push_back({Drive(i), kGenericReadWrite, kShareReadWrite});
  for (int p = 0; p < 16; ++p) expected.push_back({Port(p), kGenericReadWrite, kShareReadWrite});
  for (int i = 0; i < 16; ++i) expected.push_back({Drive(i), 0, kShareReadWrite});
  for (int i = 0; i < 16; ++i)
    expected.push_back({Drive(i), kGenericReadWrite, kShareReadWriteDelete});

  DiskIdentity out{"s", "m", "f"};
  EXPECT_FALSE(ReadDiskIdentity(disks, out));
  EXPECT_EQ(disks.opens, expected);
  EXPECT_TRUE(disks.controls.empty());
  EXPECT_TRUE(SameStrings(out, {"s", "m", "f"}));
}

TEST_F(DiskProbeTest, DevicesThatRefuseEveryRequestAreEachClosed) {
  for (int i = 0; i < 16; ++i) disks.devices[Drive(i)] = Silent();
  for (int p = 0; p < 16; ++p) disks.devices[Port(p)] = Silent();
  DiskIdentity out{"s", "m", "f"};
  EXPECT_FALSE(ReadDiskIdentity(disks, out));
  EXPECT_EQ(disks.opens.size(), 64u);
  // A refused SMART_GET_VERSION ends the drive: no IDENTIFY and no block.
  EXPECT_EQ(disks.ControlsWithCode(kSmartGetVersion).size(), 32u);
  EXPECT_TRUE(disks.ControlsWithCode(kSmartRcvDriveData).empty());
  EXPECT_EQ(disks.ControlsWithCode(kScsiMiniport).size(), 32u);  // both targets of every port
  EXPECT_EQ(disks.ControlsWithCode(kStorageQueryProperty).size(), 16u);
  EXPECT_EQ(std::count(disks.events.begin(), disks.events.end(), "allocate"), 0);
  EXPECT_TRUE(SameStrings(out, {"s", "m", "f"}));
}

TEST_F(DiskProbeTest, FirstMethodThatAnswersEndsTheDispatch) {
  disks.devices[Port(2)] = ScsiPort(kDisk, {});
  disks.devices[Drive(0)] = DescriptorDrive({});  // would be reached by method 3 only
  DiskIdentity out;
  EXPECT_TRUE(ReadDiskIdentity(disks, out));
  EXPECT_TRUE(SameStrings(out, kDiskStrings));
  for (const OpenCall& open : disks.opens) EXPECT_NE(open.access, 0u) << "method 3 ran";
}

// ---------------------------------------------------------------------------
// Method 1

TEST_F(DiskProbeTest, SmartByDeviceMapAsksTheFirstDriveThatOpens) {
  disks.devices[Drive(1)] = SmartDrive(0x02, kDisk);
  DiskIdentity out;
  ASSERT_TRUE(ReadDiskIdentity(disks, out));
  EXPECT_TRUE(SameStrings(out, kDiskStrings));

  auto requests = disks.ControlsWithCode(kSmartRcvDriveData);
  ASSERT_EQ(requests.size(), 1u);
  Bytes expected(32, 0);
  expected[1] = 0x02;  // cBufferSize 512
  expected[5] = 1;     // bSectorCountReg
  expected[9] = 0xB0;  // bDriveHeadReg of an odd drive
  expected[10] = 0xEC;
  expected[12] = 1;  // bDriveNumber
  EXPECT_EQ(requests[0].path, Drive(1));
  EXPECT_EQ(requests[0].input, expected);
  EXPECT_EQ(requests[0].outputSize, 528u);
  auto versions = disks.ControlsWithCode(kSmartGetVersion);
  ASSERT_EQ(versions.size(), 1u);
  EXPECT_TRUE(versions[0].input.empty());
  EXPECT_EQ(versions[0].outputSize, 24u);
  EXPECT_TRUE(disks.ControlsWithCode(kScsiMiniport).empty());
}

// The command per drive follows the ATAPI bits 4 to 7 of the device map; a
// map of 0 skips the drive. 0 in `commands` means no IDENTIFY was sent.
struct DeviceMapCase {
  std::uint8_t deviceMap;
  std::array<std::uint8_t, 6> commands;
};

// Readable names for the parameterised cases in test listings.
void PrintTo(const DeviceMapCase& c, std::ostream* os) { *os << "map 0x" << std::hex << int{c.deviceMap}; }

class DeviceMapTest : public DiskProbeTest, public testing::WithParamInterface<DeviceMapCase> {};

TEST_P(DeviceMapTest, ChoosesTheCommandPerDrive) {
  for (int i = 0; i < 6; ++i) disks.devices[Drive(i)] = SmartDrive(GetParam().deviceMap, kDisk, 0);
  DiskIdentity out;
  EXPECT_FALSE(ProbeSmartByDeviceMap(disks, out));
  std::array<std::uint8_t, 6> sent{};
  for (const ControlCall& call : disks.ControlsWithCode(kSmartRcvDriveData)) {
    int drive = call.path.back() - L'0';
    sent[static_cast<std::size_t>(drive)] = call.input[10];
    EXPECT_EQ(call.input[9], drive % 2 ? 0xB0 : 0xA0);
    EXPECT_EQ(call.input[12], drive);
  }
  EXPECT_EQ(sent, GetParam().commands);
}

INSTANTIATE_TEST_SUITE_P(Maps, DeviceMapTest,
                         testing::Values(DeviceMapCase{0x10, {0xA1, 0xEC, 0xEC, 0xEC, 0xEC, 0xEC}},
                                         DeviceMapCase{0x00, {0, 0, 0, 0, 0, 0}},
                                         DeviceMapCase{0x20, {0xEC, 0xA1, 0xEC, 0xEC, 0xEC, 0xEC}},
                                         DeviceMapCase{0xF0,
                                                       {0xA1, 0xA1, 0xA1, 0xA1, 0xEC, 0xEC}}));

// ---------------------------------------------------------------------------
// Validity of an IDENTIFY answer (methods 1 and 4)

struct ThresholdCase {
  const char* name;
  bool (*probe)(DiskDevices&, DiskIdentity&);
  std::uint32_t cBufferSize;
  int result;
  bool valid;
};

void PrintTo(const ThresholdCase& c, std::ostream* os) { *os << c.name; }

class ThresholdTest : public DiskProbeTest, public testing::WithParamInterface<ThresholdCase> {};

TEST_P(ThresholdTest, AcceptsOnlyAnAnswerLongerThan46Bytes) {
  const ThresholdCase& c = GetParam();
  disks.devices[Drive(0)] = SmartDrive(0x01, kDisk, c.cBufferSize, c.result);
  disks.devices[Drive(1)] = SmartDrive(0x02, Identify("OTHER", "OTHER", "OTHER"));
  DiskIdentity out;
  ASSERT_TRUE(c.probe(disks, out));
  // An invalid answer of drive 0 moves on to drive 1.
  EXPECT_EQ(out.model, c.valid ? "ST3500418AS" : "OTHER");
}

INSTANTIATE_TEST_SUITE_P(
    Answers, ThresholdTest,
    testing::Values(ThresholdCase{"map46", ProbeSmartByDeviceMap, 46, 1, false},
                    ThresholdCase{"map47", ProbeSmartByDeviceMap, 47, 1, true},
                    // Method 1 takes only a result of exactly 1.
                    ThresholdCase{"mapResult2", ProbeSmartByDeviceMap, 512, 2, false},
                    ThresholdCase{"direct46", ProbeSmartDirect, 46, 1, false},
                    ThresholdCase{"direct47", ProbeSmartDirect, 47, 1, true},
                    ThresholdCase{"directResult2", ProbeSmartDirect, 512, 2, true},
                    ThresholdCase{"directFailed", ProbeSmartDirect, 512, 0, false}),
    [](const testing::TestParamInfo<ThresholdCase>& param) { return param.param.name; });

TEST(SendSmartIdentify, SendsNothingOnAnInvalidHandle) {
  FakeDiskDevices disks;
  std::array<std::uint8_t, kSendCmdInSize> request{};
  std::array<std::uint8_t, kSendCmdOutSize> response{};
  std::uint32_t returned = 0;
  EXPECT_FALSE(SendSmartIdentify(disks, kInvalidHandleValue, 0, kAtaIdentifyDevice, request,
                                 response, &returned));
  EXPECT_TRUE(disks.controls.empty());
}

// ---------------------------------------------------------------------------
// Method 2

Bytes ExpectedScsiRequest(std::uint8_t target) {
  Bytes block(60, 0);
  block[0] = 28;
  std::memcpy(&block[4], "SCSIDISK", 8);
  Put32(block, 12, 10000);
  Put32(block, 16, 0x1B0501);
  Put32(block, 24, 529);
  block[38] = 0xEC;
  block[40] = target;
  return block;
}

TEST_F(DiskProbeTest, ScsiMiniportAsksBothTargetsAndKeepsTheLaterAnswer) {
  disks.devices[Port(0)] = ScsiPort(Identify("S0", "MODEL0", "F0"), Identify("S1", "MODEL1", "F1"));
  DiskIdentity out;
  ASSERT_TRUE(ProbeScsiMiniport(disks, out));
  EXPECT_TRUE(SameStrings(out, {"S1", "MODEL1", "F1"}));

  ASSERT_EQ(disks.controls.size(), 2u);
  for (std::uint8_t t = 0; t < 2; ++t) {
    EXPECT_EQ(disks.controls[t].code, kScsiMiniport);
    EXPECT_EQ(disks.controls[t].input, ExpectedScsiRequest(t));
    EXPECT_EQ(disks.controls[t].outputSize, 557u);
    EXPECT_TRUE(disks.controls[t].inputIsOutput);
  }
  EXPECT_EQ(disks.opens[0], (OpenCall{Port(0), kGenericReadWrite, kShareReadWrite}));
}

TEST_F(DiskProbeTest, ScsiMiniportNeedsTheModelsSecondCharacter) {
  // Port 0: target 0 answers with a zero second model character (no disk),
  // target 1 not at all. Port 1: target 0 answers; target 1 does not.
  disks.devices[Port(0)] = ScsiPort(Identify("S", std::string("A\0BC", 4), "F"), {});
  disks.devices[Port(1)] = ScsiPort(kDisk, {});
  DiskIdentity out;
  ASSERT_TRUE(ProbeScsiMiniport(disks, out));
  EXPECT_TRUE(SameStrings(out, kDiskStrings));
  EXPECT_THAT(disks.events, ElementsAre("open \\\\.\\Scsi0:", "close \\\\.\\Scsi0:",
                                        "open \\\\.\\Scsi1:", "close \\\\.\\Scsi1:"));
}

// ---------------------------------------------------------------------------
// IDENTIFY strings

// The model field (words 27 to 46) holding exactly `field` (40 bytes).
struct IdentifyCase {
  std::string field;
  std::string expected;
};

TEST(IdentifyString, KeepsBytesAndDropsOnlyTrailingBlanks) {
  using namespace std::string_literals;
  const std::string blanks(29, ' ');
  const IdentifyCase kCases[] = {
      {"ST3500418AS" + blanks, "ST3500418AS"},
      {"   ST3500418AS" + std::string(26, ' '), "   ST3500418AS"},
      {"AB\0\0"s + std::string(36, ' '), "AB\0\0"s},                   // zero bytes stay
      {"AB"s + std::string(38, '\0'), "AB"s + std::string(38, '\0')},  // even at the end
      {std::string(40, ' '), ""},
      {std::string(40, 'M'), std::string(40, 'M')},
  };
  for (const IdentifyCase& c : kCases) {
    ASSERT_EQ(c.field.size(), 40u);
    Bytes data(kIdentifySize, 0);
    for (std::size_t k = 0; k < 40; ++k) {
      data[2 * 27 + (k ^ 1)] = static_cast<std::uint8_t>(c.field[k]);  // high byte first
    }
    EXPECT_EQ(IdentifyString(data, 27, 46), c.expected) << testing::PrintToString(c.field);
  }
}

TEST(IdentifyString, ReadsNoWordBeyondTheData) {
  const Bytes data = {'B', 'A', 'D', 'C', 'F', 'E'};  // three words
  EXPECT_EQ(IdentifyString(data, 1, 100), "CDEF");
  EXPECT_EQ(IdentifyString(data, 5, 9), "");
}

// ---------------------------------------------------------------------------
// Descriptor texts

// A descriptor with `text` at offset 40, zero-terminated.
Bytes DescriptorWith(const std::string& text) {
  Bytes descriptor(40, 0);
  descriptor.insert(descriptor.end(), text.begin(), text.end());
  descriptor.push_back(0);
  return descriptor;
}

struct DecodeCase {
  std::string text;
  bool swap;
  std::string expected;
};

TEST(DecodeDescriptorString, DecodesHexadecimalOrPlainText) {
  const DecodeCase kCases[] = {
      {"4142", true, "BA"},       // hexadecimal 'AB', swapped
      {"WD-12", true, "DW1-"},    // plain; odd length loses its last character
      {"ABC", true, "BA"},        // 0xAB is not printable: plain copy
      {"    ", false, ""},        // blanks read as hexadecimal zeros
      {"2020", false, "  "},      // two blanks; an all-blank text is not trimmed
      {"  X12  ", false, "X12"},  // plain copy, trimmed
      {"414", false, "A"},        // a last odd digit is dropped
      {"41 42", false, "41 42"},  // the blank reads as '0': 0x04 is not printable
      {"W\x01"
       "D",
       false, ""},  // plain copy stops at an unprintable byte
      {"WD\x80", false, ""},
      {"wd-12", false, "wd-12"},  // plain copy keeps the case
      {"4 41", false, "@A"},      // a blank inside hexadecimal counts as '0'
      {"ST500  ", false, "ST500"},
  };
  for (const DecodeCase& c : kCases) {
    DescriptorField field{};
    Bytes descriptor = DescriptorWith(c.text);
    EXPECT_EQ(DecodeDescriptorString(descriptor, 40, field, c.swap), c.expected)
        << testing::PrintToString(c.text);
  }
}

TEST(DecodeDescriptorString, AbsentOffsetsGiveEmptyText) {
  Bytes descriptor = DescriptorWith("ST500");  // 46 bytes
  for (std::uint32_t offset : {0u, 0x80000000u, 0xFFFFFFF0u, 46u, 47u, 4096u}) {
    DescriptorField field{};
    field[0] = 'x';
    EXPECT_EQ(DecodeDescriptorString(descriptor, offset, field, false), "") << offset;
    EXPECT_EQ(field[0], 0);
  }
}

TEST(DecodeDescriptorString, ReadsNoFurtherThanTheReturnedBytesOrTheField) {
  Bytes descriptor = DescriptorWith("ST500LM012");
  DescriptorField field{};
  // Only 45 of the bytes were returned: the text ends after "ST500".
  EXPECT_EQ(DecodeDescriptorString(std::span(descriptor).first(45), 40, field, false), "ST500");

  DescriptorField longField{};
  Bytes longText = DescriptorWith(std::string(300, 'Z'));
  EXPECT_EQ(DecodeDescriptorString(longText, 40, longField, false), std::string(255, 'Z'));
  DescriptorField swapped{};
  EXPECT_EQ(DecodeDescriptorString(longText, 40, swapped, true), std::string(254, 'Z'));

  DescriptorField hexField{};
  std::string hex;
  for (int i = 0; i < 200; ++i) hex += "41";
  EXPECT_EQ(DecodeDescriptorString(DescriptorWith(hex), 40, hexField, false),
            std::string(127, 'A'));
}

// ---------------------------------------------------------------------------
// Method 3

// A descriptor with model, revision and serial texts at offsets 64, 96, 128.
Bytes StorageDescriptor(const std::string& model, const std::string& revision,
                        const std::string& serial) {
  Bytes d(192, 0);
  auto put = [&d](std::size_t offsetField, std::size_t at, const std::string& text) {
    Put32(d, offsetField, static_cast<std::uint32_t>(at));
    std::copy(text.begin(), text.end(), d.begin() + static_cast<std::ptrdiff_t>(at));
  };
  put(16, 64, model);
  put(20, 96, revision);
  put(24, 128, serial);
  return d;
}

TEST_F(DiskProbeTest, StorageDescriptorDecodesTheThreeTexts) {
  disks.devices[Drive(0)] = DescriptorDrive(StorageDescriptor("  ST500  ", "  X12  ", "4142"));
  DiskIdentity out;
  ASSERT_TRUE(ProbeStorageDescriptor(disks, out));
  EXPECT_TRUE(SameStrings(out, {"BA", "ST500", "X12"}));
  ASSERT_EQ(disks.controls.size(), 1u);
  EXPECT_EQ(disks.controls[0].code, kStorageQueryProperty);
  EXPECT_EQ(disks.controls[0].input, Bytes(12, 0));
  EXPECT_EQ(disks.controls[0].outputSize, 2048u);
  EXPECT_EQ(disks.opens[0], (OpenCall{Drive(0), 0, kShareReadWrite}));
}

struct SerialValidityCase {
  std::string serial;
  bool valid;
  std::string decoded;
};

TEST_F(DiskProbeTest, StorageDescriptorJudgesTheSerialFieldAsDecoded) {
  const SerialValidityCase kCases[] = {
      {"!!!!", false, ""},
      {"------------------A-", true, "-------------------A"},  // alphanumeric byte 19
      // Copied plainly up to the unprintable byte, then cut to empty: byte
      // 19 still holds 'A' from the copy and makes the answer valid.
      {"-------------------A\x01", true, ""},
      {"", false, ""},
  };
  for (const SerialValidityCase& c : kCases) {
    FakeDiskDevices fake;
    fake.devices[Drive(0)] = DescriptorDrive(StorageDescriptor("M", "R", c.serial));
    DiskIdentity out{"s", "m", "f"};
    EXPECT_EQ(ProbeStorageDescriptor(fake, out), c.valid) << c.serial;
    if (c.valid) {
      EXPECT_EQ(out.serial, c.decoded) << c.serial;
    }
    EXPECT_EQ(fake.openHandles, 0);
  }
}

TEST_F(DiskProbeTest, StorageDescriptorIgnoresOffsetsPastTheReturnedBytes) {
  Bytes descriptor = StorageDescriptor("MODEL", "REV", "");
  Put32(descriptor, 24, 4000);  // serial beyond the 2048-byte buffer
  descriptor[128] = 'W';
  descriptor[129] = 'D';
  disks.devices[Drive(0)] = DescriptorDrive(descriptor);
  Bytes truncated = StorageDescriptor("MODEL", "REV", "3457");  // serial "4W" swapped to "W4"
  truncated.resize(120);  // the serial at 128 was not returned
  disks.devices[Drive(1)] = DescriptorDrive(truncated);
  Bytes good = StorageDescriptor("MODEL", "REV", "3457");
  disks.devices[Drive(2)] = DescriptorDrive(good);
  DiskIdentity out;
  ASSERT_TRUE(ProbeStorageDescriptor(disks, out));
  EXPECT_TRUE(SameStrings(out, {"W4", "MODEL", "REV"}));
  EXPECT_EQ(disks.ControlsWithCode(kStorageQueryProperty).size(), 3u);
}

// ---------------------------------------------------------------------------
// Method 4

TEST_F(DiskProbeTest, SmartDirectSendsOneZeroedBlockAndFreesIt) {
  disks.devices[Drive(0)] = SmartDrive(0, kDisk);
  DiskIdentity out;
  ASSERT_TRUE(ProbeSmartDirect(disks, out));
  EXPECT_TRUE(SameStrings(out, kDiskStrings));

  EXPECT_EQ(disks.opens[0], (OpenCall{Drive(0), kGenericReadWrite, kShareReadWriteDelete}));
  auto requests = disks.ControlsWithCode(kSmartRcvDriveData);
  ASSERT_EQ(requests.size(), 1u);
  Bytes expected(33, 0);
  expected[10] = 0xEC;
  EXPECT_EQ(requests[0].input, expected);
  EXPECT_EQ(requests[0].outputSize, 545u);
  EXPECT_TRUE(requests[0].inputIsOutput);
  // The device map is not examined, and the block is freed before the close.
  EXPECT_THAT(disks.events, ElementsAre("open \\\\.\\PhysicalDrive0", "allocate", "free",
                                        "close \\\\.\\PhysicalDrive0"));
}

TEST_F(DiskProbeTest, SmartDirectFailedAllocationMovesToTheNextDrive) {
  disks.failAllocation = true;
  disks.devices[Drive(0)] = SmartDrive(1, kDisk);
  disks.devices[Drive(1)] = SmartDrive(1, kDisk);
  DiskIdentity out{"s", "m", "f"};
  EXPECT_FALSE(ProbeSmartDirect(disks, out));
  EXPECT_TRUE(disks.ControlsWithCode(kSmartRcvDriveData).empty());
  EXPECT_EQ(std::count(disks.events.begin(), disks.events.end(), "allocate"), 2);
  EXPECT_TRUE(SameStrings(out, {"s", "m", "f"}));
}

TEST_F(DiskProbeTest, SmartDirectFreesTheBlockAfterARefusedRequest) {
  disks.devices[Drive(0)] = [](std::uint32_t code, const Bytes&, std::span<std::uint8_t>,
                               std::uint32_t*) { return code == kSmartGetVersion ? 1 : 0; };
  DiskIdentity out;
  EXPECT_FALSE(ProbeSmartDirect(disks, out));
  EXPECT_THAT(disks.events, ElementsAre("open \\\\.\\PhysicalDrive0", "allocate", "free",
                                        "close \\\\.\\PhysicalDrive0"));
}

}  // namespace
}  // namespace tarnix
