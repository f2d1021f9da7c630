#include "identity/machine_id.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "identity/md5.h"
#include "store_test_files.h"

namespace tarnix {
namespace {

using testing::FaultyFiles;
using ::testing::IsEmpty;
using testing::TempFolderFiles;

const std::wstring kCommonPath = L"C:\\ProgramData\\Korvane\\Common\\Global.db";

// Answers the hardware queries from a script and counts them.
class FakeIdentitySources : public IdentitySources {
 public:
  std::optional<AdapterAddress> listAddress;
  std::optional<AdapterAddress> netbiosAddress;
  std::optional<DiskIdentity> disk;
  int calls = 0;
  AdapterAddress handedToList{};
  AdapterAddress handedToNetbios{};

  bool ReadAdapterAddressFromList(AdapterAddress& address) override {
    ++calls;
    handedToList = address;
    if (!listAddress) return false;
    address = *listAddress;
    return true;
  }
  bool ReadAdapterAddressFromNetbios(AdapterAddress& address) override {
    ++calls;
    handedToNetbios = address;
    if (!netbiosAddress) return false;
    address = *netbiosAddress;
    return true;
  }
  bool ReadDiskIdentity(DiskIdentity& found) override {
    ++calls;
    if (!disk) return false;
    found = *disk;
    return true;
  }
};

class MachineIdTest : public ::testing::Test {
 protected:
  FakeIdentitySources sources;
  TempFolderFiles disk;
  FaultyFiles files{disk};
  IdentityEnvironment environment{sources, files};
  Base::GUID::CSeqIDGen generator;

  MachineId Derive() {
    MachineId id{};
    EXPECT_TRUE(DeriveMachineId(generator, environment, id.data()));
    return id;
  }
  std::optional<StoreRecord> StoredRecord() const {
    auto bytes = disk.Contents(kCommonPath);
    return ParseStoreRecord(bytes);
  }
};

std::optional<StoreRecord> StoredRecordOf(const TempFolderFiles& files) {
  return ParseStoreRecord(files.Contents(kCommonPath));
}

TEST_F(MachineIdTest, HashInputOfANewIdentity) {
  using namespace std::string_literals;
  struct Case {
    const char* name;
    std::optional<AdapterAddress> list, netbios;
    std::optional<DiskIdentity> disk;
    std::string input;
  } cases[] = {
      {"no adapter, no disk: exactly 16 bytes", {}, {}, {}, "1a2b3c4d5e6f#QZR"},
      {"adapter from the list",
       AdapterAddress{0, 0x0a, 0xff, 0x10, 1, 2},
       {},
       {},
       "000aff100102#QZR"},
      {"adapter from NetBIOS", {}, AdapterAddress{1, 2, 3, 4, 5, 6}, {}, "010203040506#QZR"},
      {"disk strings each followed by #",
       {},
       {},
       DiskIdentity{"S1", "Model X", "FW1"},
       "S1#Model X#FW1#1a2b3c4d5e6f#QZR"},
      {"empty firmware gives ## in a row",
       {},
       {},
       DiskIdentity{"S1", "M", ""},
       "S1#M##1a2b3c4d5e6f#QZR"},
      {"a disk with only empty strings", {}, {}, DiskIdentity{}, "###1a2b3c4d5e6f#QZR"},
      {"zero bytes inside disk strings are hashed",
       {},
       {},
       DiskIdentity{"A\0B"s, "M\0"s, "\0F"s},
       "A\0B#M\0#\0F#1a2b3c4d5e6f#QZR"s},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Base::GUID::CSeqIDGen fresh;
    TempFolderFiles emptyDisk;
    FakeIdentitySources scripted;
    scripted.listAddress = c.list;
    scripted.netbiosAddress = c.netbios;
    scripted.disk = c.disk;
    IdentityEnvironment env{scripted, emptyDisk};

    EXPECT_EQ(BuildHashInput(c.disk ? &*c.disk : nullptr,
                             FormatAdapterText(c.list      ? *c.list
                                               : c.netbios ? *c.netbios
                                                           : kFallbackAdapterAddress)),
              c.input);
    MachineId id{};
    ASSERT_TRUE(DeriveMachineId(fresh, env, id.data()));
    EXPECT_EQ(id, Md5(c.input));

    // The new identity is stored, bound to the present hardware.
    auto record = ParseStoreRecord(emptyDisk.Contents(kCommonPath));
    ASSERT_TRUE(record);
    EXPECT_EQ(record->version, 2u);
    EXPECT_EQ(record->identity, id);
    EXPECT_EQ(record->adapterBinding, Md5(c.input.substr(c.input.size() - 16, 12)));
    EXPECT_EQ(record->diskBinding, Md5(c.disk ? c.disk->serial : ""));
  }
}

TEST_F(MachineIdTest, AdapterQueriesRunInOrderOnTheSameBytes) {
  sources.listAddress = AdapterAddress{1, 1, 1, 1, 1, 1};
  sources.netbiosAddress = AdapterAddress{2, 2, 2, 2, 2, 2};
  Derive();
  EXPECT_EQ(sources.handedToList, AdapterAddress{});
  EXPECT_EQ(sources.calls, 2) << "NetBIOS is not asked when the list answers";
}

// A legacy record is kept, also where a launcher terminated between the two
// renames of its replace left it only at its backup name (two days old,
// beside the new record at its temporary name): it is put back, and the store
// holds it again, bound to the present hardware. A record read from the copy
// of a cut rewrite in place, accepted on one binding, is written whole as it
// was read: rebound, it would survive a change its own bindings do not.
TEST_F(MachineIdTest, LegacyRecordIsReboundAndACutRewriteIsCompletedAsRead) {
  const std::wstring kBackup = kCommonPath + L".00000f3c-00000a10-00000000.bak";
  const std::wstring kKilledTemp = kCommonPath + L".00000f3c-00000a10-00000000.tmp";
  MachineId legacy = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2, 3, 4, 5, 6};
  std::vector<std::uint8_t> bytes = {1, 0, 0, 0};
  bytes.insert(bytes.end(), legacy.begin(), legacy.end());
  // A rewrite cut after its mark: the old record under the mark, and the
  // copy after it, bound to this adapter and to a disk since replaced.
  auto copy = BuildStoreRecord(legacy, "1a2b3c4d5e6f", "OLD SERIAL");
  auto old = BuildStoreRecord(MachineId{0x77}, "0a0b0c0d0e0f", "OLD SERIAL");
  std::vector<std::uint8_t> cut(old.begin(), old.end());
  cut[0] = 0x82;
  cut.insert(cut.end(), copy.begin(), copy.end());
  enum class Where { Store, KilledWritersBackup };
  struct Case {
    const char* name;
    std::vector<std::uint8_t> stored;
    Where where;
    std::string diskBinding;  // the disk serial the record is bound to afterwards
  } cases[] = {
      {"a version-1 record in the store", bytes, Where::Store, "SER"},
      {"a version-1 record only at a killed writer's backup", bytes, Where::KilledWritersBackup,
       "SER"},
      {"a cut rewrite's copy accepted on its adapter binding", cut, Where::Store, "OLD SERIAL"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolderFiles caseDisk;
    FaultyFiles caseFiles(caseDisk);
    IdentityEnvironment caseEnvironment{sources, caseFiles};
    Base::GUID::CSeqIDGen caseGenerator;
    GetIdentityStorePath(caseFiles, StoreLocation::Common);
    sources.disk = DiskIdentity{"SER", "MOD", "FW"};
    if (c.where == Where::KilledWritersBackup) {
      caseDisk.Put(kBackup, c.stored);
      caseDisk.Age(kBackup, std::chrono::hours(48));
      auto killed = BuildStoreRecord(legacy, "1a2b3c4d5e6f", "SER");
      caseDisk.Put(kKilledTemp, std::vector<std::uint8_t>(killed.begin(), killed.end()));
    } else {
      caseDisk.Put(kCommonPath, c.stored);
    }

    MachineId id{};
    EXPECT_TRUE(DeriveMachineId(caseGenerator, caseEnvironment, id.data()));
    EXPECT_EQ(id, legacy);
    auto stored = caseDisk.Contents(kCommonPath);
    ASSERT_EQ(stored.size(), 52u) << "a whole version-2 record, nothing after it";
    auto record = ParseStoreRecord(stored);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->version, 2u);
    EXPECT_EQ(record->identity, legacy);
    EXPECT_EQ(record->adapterBinding, Md5("1a2b3c4d5e6f"));
    EXPECT_EQ(record->diskBinding, Md5(c.diskBinding));
    EXPECT_FALSE(caseDisk.Exists(kBackup));
    EXPECT_EQ(caseFiles.OpenHandles(), 0u);
  }
}

// Another process holds the store without sharing reading (a launcher
// writing it in place) through the whole read. This run reports the digest
// of the present hardware and writes nothing, neither while the store is held
// nor once it is let go (at the moment a write would begin, or after the
// run): the legacy record stays for the next run. Let go during the read's
// pauses, the record is read and kept.
TEST_F(MachineIdTest, StoreHeldByAnotherProcessIsNeverOverwritten) {
  MachineId legacy = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2, 3, 4, 5, 6};
  std::vector<std::uint8_t> bytes = {1, 0, 0, 0};
  bytes.insert(bytes.end(), legacy.begin(), legacy.end());
  const MachineId digest = Md5("SER#MOD#FW#1a2b3c4d5e6f#QZR");
  enum class LetGo { InTheSecondPause, BeforeAWrite, AfterTheRun };
  for (LetGo letGo : {LetGo::InTheSecondPause, LetGo::BeforeAWrite, LetGo::AfterTheRun}) {
    SCOPED_TRACE(static_cast<int>(letGo));
    TempFolderFiles caseDisk;
    FaultyFiles caseFiles(caseDisk);
    IdentityEnvironment caseEnvironment{sources, caseFiles};
    Base::GUID::CSeqIDGen caseGenerator;
    GetIdentityStorePath(caseFiles, StoreLocation::Common);
    sources.disk = DiskIdentity{"SER", "MOD", "FW"};
    caseDisk.Put(kCommonPath, bytes);
    std::uint32_t error = 0;
    StoreHandle holder =
        caseFiles.CreateFileW(kCommonPath, kGenericWrite, kFileShareNone, kOpenExisting, 0, &error);
    ASSERT_NE(holder, kInvalidHandleValue);
    auto release = [&] {
      if (holder != kInvalidHandleValue) caseFiles.CloseHandle(holder);
      holder = kInvalidHandleValue;
    };
    if (letGo == LetGo::InTheSecondPause) {
      caseFiles.before[L"Sleep"] = [&] { caseFiles.before[L"Sleep"] = release; };
    } else if (letGo == LetGo::BeforeAWrite) {
      // Once a writer's temporary file is written, just before its replace.
      caseFiles.before[L"FlushFileBuffers"] = release;
    }
    caseFiles.calls.clear();

    MachineId id{};
    EXPECT_TRUE(DeriveMachineId(caseGenerator, caseEnvironment, id.data()));
    release();
    if (letGo == LetGo::InTheSecondPause) {
      EXPECT_EQ(id, legacy);
      EXPECT_EQ(StoredRecordOf(caseDisk)->version, 2u);
      EXPECT_EQ(StoredRecordOf(caseDisk)->identity, legacy);
      continue;
    }
    EXPECT_EQ(id, digest);
    EXPECT_EQ(caseDisk.Contents(kCommonPath), bytes);
    EXPECT_THAT(caseFiles.CallsStartingWith(L"WriteFile"), IsEmpty());
    EXPECT_THAT(caseFiles.CallsStartingWith(L"ReplaceFileW"), IsEmpty());

    // The next run reads the kept identity.
    Base::GUID::CSeqIDGen nextRun;
    EXPECT_TRUE(DeriveMachineId(nextRun, caseEnvironment, id.data()));
    EXPECT_EQ(id, legacy);
    EXPECT_EQ(caseFiles.OpenHandles(), 0u);
  }
}

// A store that cannot be read for a reason other than its absence (access
// denied on a redirected folder) counts as held, not as missing: this run
// reports the digest of the present hardware and writes nothing, and the next
// run that can read the store gets the kept identity.
TEST_F(MachineIdTest, UnreadableStoreIsNeverOverwritten) {
  MachineId legacy = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2, 3, 4, 5, 6};
  std::vector<std::uint8_t> bytes = {1, 0, 0, 0};
  bytes.insert(bytes.end(), legacy.begin(), legacy.end());
  GetIdentityStorePath(files, StoreLocation::Common);
  disk.Put(kCommonPath, bytes);
  sources.disk = DiskIdentity{"SER", "MOD", "FW"};
  files.openErrors[kCommonPath] = kErrorAccessDenied;

  EXPECT_EQ(Derive(), Md5("SER#MOD#FW#1a2b3c4d5e6f#QZR"));
  EXPECT_EQ(disk.Contents(kCommonPath), bytes);
  EXPECT_THAT(files.CallsStartingWith(L"WriteFile"), IsEmpty());
  EXPECT_THAT(files.CallsStartingWith(L"MoveFileExW"), IsEmpty());
  EXPECT_THAT(files.CallsStartingWith(L"ReplaceFileW"), IsEmpty());

  files.openErrors.clear();
  Base::GUID::CSeqIDGen nextRun;
  MachineId id{};
  EXPECT_TRUE(DeriveMachineId(nextRun, environment, id.data()));
  EXPECT_EQ(id, legacy);
}

TEST_F(MachineIdTest, AcceptedVersion2RecordWinsOverAFreshDigestAndIsNotRewritten) {
  MachineId stored = {0xde, 0xad, 0xbe, 0xef};
  auto record = BuildStoreRecord(stored, "1a2b3c4d5e6f", "SER");
  disk.Put(kCommonPath, std::vector<std::uint8_t>(record.begin(), record.end()));
  sources.disk = DiskIdentity{"SER", "a newer model", "new firmware"};

  EXPECT_EQ(Derive(), stored);
  EXPECT_THAT(files.CallsStartingWith(L"WriteFile"), IsEmpty());
}

TEST_F(MachineIdTest, SecondCallIsServedFromTheCacheAlone) {
  sources.disk = DiskIdentity{"SER", "MOD", "FW"};
  MachineId first = Derive();
  ASSERT_TRUE(disk.Exists(kCommonPath));
  ASSERT_TRUE(files.DeleteFileW(kCommonPath));
  sources.calls = 0;
  files.calls.clear();

  EXPECT_EQ(Derive(), first);
  EXPECT_EQ(sources.calls, 0);
  EXPECT_THAT(files.calls, IsEmpty());
  EXPECT_FALSE(disk.Exists(kCommonPath));
}

TEST_F(MachineIdTest, IdentityIsReturnedWhenTheStoreCannotBeWritten) {
  disk.missingSpecialFolders = {kCsidlCommonAppData, kCsidlAppData};
  EXPECT_EQ(Derive(), Md5("1a2b3c4d5e6f#QZR"));
  // It is still cached.
  sources.calls = 0;
  Derive();
  EXPECT_EQ(sources.calls, 0);
}

TEST_F(MachineIdTest, CacheReplacesItsBlock) {
  MachineId a{1}, b{2}, out{};
  EXPECT_FALSE(generator.CopyCachedId(out.data()));
  EXPECT_TRUE(CacheMachineId(generator, a.data()));
  EXPECT_TRUE(CacheMachineId(generator, b.data()));
  EXPECT_TRUE(generator.CopyCachedId(out.data()));
  EXPECT_EQ(out, b);
}

TEST_F(MachineIdTest, GetMachineIdRefusesANullPointerWithoutAnyQuery) {
  EXPECT_FALSE(GetMachineId(environment, nullptr));
  EXPECT_EQ(sources.calls, 0);
  EXPECT_THAT(files.calls, IsEmpty());
}

// The process-wide cache: another test may have filled it first, so this
// checks only what holds either way.
TEST_F(MachineIdTest, ProcessWideIdentityAndItsTextForm) {
  MachineId first{}, second{};
  ASSERT_TRUE(GetMachineId(environment, first.data()));
  sources.calls = 0;
  files.calls.clear();
  ASSERT_TRUE(GetMachineId(environment, second.data()));
  EXPECT_EQ(second, first);
  EXPECT_EQ(sources.calls, 0);
  EXPECT_THAT(files.calls, IsEmpty());

  std::memset(MachineIdText, 'x', sizeof(MachineIdText));
  ASSERT_TRUE(FormatMachineIdText(environment));
  std::string expected;
  for (std::uint8_t byte : first) {
    static constexpr char kDigits[] = "0123456789abcdef";
    expected += kDigits[byte >> 4];
    expected += kDigits[byte & 0x0F];
  }
  EXPECT_EQ(std::string(MachineIdText, 32), expected);
  EXPECT_EQ(MachineIdText[32], '\0');
  EXPECT_EQ(sources.calls, 0);
}

}  // namespace
}  // namespace tarnix
