#include "identity/identity_store.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "identity/md5.h"
#include "store_test_files.h"

namespace tarnix {
namespace {

using ::testing::ElementsAre;
using testing::FaultyFiles;
using ::testing::IsEmpty;
using testing::TempFolderFiles;

const std::wstring kCommonFolder = L"C:\\ProgramData\\Korvane\\Common";
const std::wstring kCommonPath = kCommonFolder + L"\\Global.db";
const std::wstring kPerUserFolder = L"C:\\Users\\me\\AppData\\Roaming\\Korvane\\Common";
const std::wstring kPerUserPath = kPerUserFolder + L"\\Global.db";
// This writer's files: process 0x1234, thread 0x56, first attempt.
const std::wstring kTempPath = kCommonPath + L".00001234-00000056-00000000.tmp";
const std::wstring kBackupPath = kCommonPath + L".00001234-00000056-00000000.bak";
// The store opened to be written in place (reading and writing, sharing
// nothing, OPEN_EXISTING: never truncated), and made where none stands
// (CREATE_NEW).
const std::wstring kStoreInPlace = L"CreateFileW " + kCommonPath + L" 3221225472 0 3 0";
const std::wstring kStoreMadeInPlace = L"CreateFileW " + kCommonPath + L" 3221225472 0 1 0";

const std::string kAdapterText = "1a2b3c4d5e6f";
const std::string kSerial = "WD-WCAV12345678";
const MachineId kStoredId = {0xa0, 0xa1, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7,
                             0xa8, 0xa9, 0xaa, 0xab, 0xac, 0xad, 0xae, 0xaf};
const MachineId kOtherId = {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17,
                            0x18, 0x19, 0x1a, 0x1b, 0x1c, 0x1d, 0x1e, 0x1f};
const MachineId kThirdId = {0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37,
                            0x38, 0x39, 0x3a, 0x3b, 0x3c, 0x3d, 0x3e, 0x3f};

std::vector<std::uint8_t> Bytes(std::initializer_list<int> values) {
  std::vector<std::uint8_t> bytes;
  for (int v : values) bytes.push_back(static_cast<std::uint8_t>(v));
  return bytes;
}

void Append(std::vector<std::uint8_t>& bytes, const std::array<std::uint8_t, 16>& block) {
  bytes.insert(bytes.end(), block.begin(), block.end());
}

std::vector<std::uint8_t> Version1Record(const MachineId& id) {
  auto bytes = Bytes({1, 0, 0, 0});
  Append(bytes, id);
  return bytes;
}

std::vector<std::uint8_t> Version2Record(const MachineId& id, std::string_view adapterText,
                                         std::string_view serial) {
  auto record = BuildStoreRecord(id, adapterText, serial);
  return std::vector<std::uint8_t>(record.begin(), record.end());
}

// What a write in place leaves: the record, and the copy of it after it.
std::vector<std::uint8_t> WrittenInPlace(const std::vector<std::uint8_t>& record) {
  std::vector<std::uint8_t> bytes = record;
  bytes.insert(bytes.end(), record.begin(), record.end());
  return bytes;
}

// What a rewrite in place cut after its mark leaves: `record` (filled up to
// 52 bytes) under the rewrite mark, and `copy` after it.
std::vector<std::uint8_t> CutRewrite(std::vector<std::uint8_t> record,
                                     const std::vector<std::uint8_t>& copy) {
  record.resize(std::max(record.size(), kStoreRewriteCopyOffset + copy.size()));
  const auto mark = Bytes({0x82, 0, 0, 0});
  std::copy(mark.begin(), mark.end(), record.begin());
  std::copy(copy.begin(), copy.end(), record.begin() + kStoreRewriteCopyOffset);
  return record;
}

TEST(FormatAdapterText, TwoLowercaseDigitsPerByteWithoutSeparator) {
  EXPECT_EQ(FormatAdapterText({0x1a, 0x2b, 0x3c, 0x4d, 0x5e, 0x6f}), "1a2b3c4d5e6f");
  EXPECT_EQ(FormatAdapterText({0x00, 0x0a, 0xff, 0x10, 0x01, 0x02}), "000aff100102");
  EXPECT_EQ(FormatAdapterText({}), "000000000000");
}

TEST(StoreRecord, Version2LayoutIsLittleEndianAtFixedOffsets) {
  auto record = BuildStoreRecord(kStoredId, kAdapterText, kSerial);
  auto expected = Bytes({2, 0, 0, 0});
  Append(expected, kStoredId);
  Append(expected, Md5(kAdapterText));
  Append(expected, Md5(kSerial));
  EXPECT_EQ(std::vector<std::uint8_t>(record.begin(), record.end()), expected);

  auto parsed = ParseStoreRecord(record);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->version, 2u);
  EXPECT_EQ(parsed->identity, kStoredId);
  EXPECT_EQ(parsed->adapterBinding, Md5(kAdapterText));
  EXPECT_EQ(parsed->diskBinding, Md5(kSerial));
}

TEST(StoreRecord, BindingHashCountsEveryByte) {
  EXPECT_EQ(BindingHash(""), Md5(nullptr, 0));
  EXPECT_NE(BindingHash(std::string("A\0B", 3)), BindingHash("A"));
}

TEST(StoreRecord, ParseAcceptsOnlyWholeRecordsOfVersionOneOrTwo) {
  auto v2 = Version2Record(kStoredId, kAdapterText, kSerial);
  auto v1 = Version1Record(kStoredId);
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
    std::optional<std::uint32_t> version;
  } cases[] = {
      {"empty", {}, std::nullopt},
      {"three bytes", Bytes({1, 0, 0}), std::nullopt},
      {"v1 of 19 bytes", std::vector<std::uint8_t>(v1.begin(), v1.end() - 1), std::nullopt},
      {"v1 of 20 bytes", v1, 1},
      {"v2 of 20 bytes", std::vector<std::uint8_t>(v2.begin(), v2.begin() + 20), std::nullopt},
      {"v2 of 51 bytes", std::vector<std::uint8_t>(v2.begin(), v2.end() - 1), std::nullopt},
      {"v2 of 52 bytes", v2, 2},
      {"version 0",
       [&] {
         auto b = v2;
         b[0] = 0;
         return b;
       }(),
       std::nullopt},
      {"version 3",
       [&] {
         auto b = v2;
         b[0] = 3;
         return b;
       }(),
       std::nullopt},
      {"version 2 big-endian",
       [&] {
         auto b = v2;
         b[0] = 0;
         b[3] = 2;
         return b;
       }(),
       std::nullopt},
      {"version 2 in a high byte",
       [&] {
         auto b = v2;
         b[1] = 1;
         return b;
       }(),
       std::nullopt},
      // A cut rewrite in place: the copy after the marked record counts.
      {"the rewrite mark and a version-2 copy", CutRewrite(Version2Record(kOtherId, "x", "y"), v2),
       2},
      {"the rewrite mark over a version-1 record", CutRewrite(Version1Record(kOtherId), v2), 2},
      {"the rewrite mark and a copy of 51 bytes",
       CutRewrite(v2, std::vector<std::uint8_t>(v2.begin(), v2.end() - 1)), std::nullopt},
      {"the rewrite mark and a version-1 copy", CutRewrite(v2, v1), std::nullopt},
      {"the rewrite mark alone", CutRewrite(v2, {}), std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto parsed = ParseStoreRecord(c.bytes);
    ASSERT_EQ(parsed.has_value(), c.version.has_value());
    if (parsed) {
      EXPECT_EQ(parsed->version, *c.version);
      EXPECT_EQ(parsed->identity, kStoredId);
      EXPECT_EQ(parsed->rewriteCut, c.bytes[0] == 0x82);
    }
  }
}

TEST(SplitPath, BehavesLikeTheRuntimeSplitter) {
  struct Case {
    std::wstring path;
    bool ok;
    std::wstring drive, directory, fileName, extension;
  } cases[] = {
      {L"C:\\ProgramData\\Korvane\\Common\\", true, L"C:", L"\\ProgramData\\Korvane\\Common\\", L"",
       L""},
      {L"C:\\dir\\file.txt", true, L"C:", L"\\dir\\", L"file", L".txt"},
      {L"archive.tar.gz", true, L"", L"", L"archive.tar", L".gz"},
      {L"a.b\\c", true, L"", L"a.b\\", L"c", L""},
      {L"\\\\server\\share\\x\\", true, L"", L"\\\\server\\share\\x\\", L"", L""},
      {L"D:", true, L"D:", L"", L"", L""},
      // A directory part of 255 characters fits; one more does not.
      {L"C:\\" + std::wstring(253, L'a') + L"\\", true, L"C:",
       L"\\" + std::wstring(253, L'a') + L"\\", L"", L""},
      {L"C:\\" + std::wstring(254, L'a') + L"\\", false, L"", L"", L"", L""},
      {L"C:\\" + std::wstring(256, L'n'), false, L"", L"", L"", L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Narrow(c.path));
    SplitPathParts parts{L"stale", L"stale", L"stale", L"stale"};
    EXPECT_EQ(SplitPath(c.path, parts), c.ok);
    EXPECT_EQ(parts.drive, c.drive);
    EXPECT_EQ(parts.directory, c.directory);
    EXPECT_EQ(parts.fileName, c.fileName);
    EXPECT_EQ(parts.extension, c.extension);
  }
}

// One case of a table on a disk of its own, the common store's folder made.
struct CommonStoreCase {
  TempFolderFiles disk;
  FaultyFiles files{disk};
  CommonStoreCase() { GetIdentityStorePath(files, StoreLocation::Common); }
};

class StoreTest : public ::testing::Test {
 protected:
  TempFolderFiles disk;
  FaultyFiles files{disk};

  void TearDown() override { EXPECT_EQ(files.OpenHandles(), 0u) << "a handle was left open"; }
};

TEST_F(StoreTest, DirectoryTestNormalisesTheQueriedPath) {
  disk.Put(L"C:\\data\\file.txt", Bytes({1}));
  struct Case {
    std::wstring path;
    std::wstring queried;  // empty: no query at all
    bool directory;
  } cases[] = {
      {L"", L"", false},
      {L"C:\\data\\", L"C:\\data", true},
      {L"C:\\data", L"C:\\data", true},
      {L"C:", L"C:\\", true},
      {L"C:\\", L"C:\\", true},
      {L"\\", L"\\", false},
      {L"C:\\data\\file.txt", L"C:\\data\\file.txt", false},
      {L"C:\\missing\\", L"C:\\missing", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Narrow(c.path));
    files.calls.clear();
    EXPECT_EQ(IsDirectoryPath(files, c.path), c.directory);
    if (c.queried.empty()) {
      EXPECT_THAT(files.calls, IsEmpty());
    } else {
      EXPECT_THAT(files.calls, ElementsAre(L"Stat " + c.queried));
    }
  }
}

TEST_F(StoreTest, FolderChainCreatesOnlyTheMissingLevelsFromTheRootDown) {
  disk.Put(L"C:\\a\\placeholder", {});
  EXPECT_TRUE(CreateDirectoryChain(files, L"C:\\a\\b\\c"));
  EXPECT_THAT(files.CallsStartingWith(L"MakeDirectory"),
              ElementsAre(L"MakeDirectory C:\\a\\b\\", L"MakeDirectory C:\\a\\b\\c\\"));
  EXPECT_TRUE(IsDirectoryPath(files, L"C:\\a\\b\\c"));

  files.calls.clear();
  EXPECT_TRUE(CreateDirectoryChain(files, L"C:\\a\\b\\c\\"));
  EXPECT_THAT(files.CallsStartingWith(L"MakeDirectory"), IsEmpty());
}

TEST_F(StoreTest, FolderChainFailures) {
  disk.Put(L"C:\\blocker", Bytes({1}));
  std::wstring longest = L"C:\\" + std::wstring(120, L'x') + L"\\" + std::wstring(132, L'y');
  std::wstring tooLong = longest + L"z";
  struct Case {
    const char* name;
    std::wstring path;
    bool ok;
  } cases[] = {
      {"empty", L"", false},
      {"no such drive", L"Q:\\x\\y", false},
      {"a file in the way", L"C:\\blocker\\sub", false},
      {"directory part of 255 characters", longest, true},
      {"directory part of 256 characters", tooLong, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    files.calls.clear();
    EXPECT_EQ(CreateDirectoryChain(files, c.path), c.ok);
  }
  EXPECT_TRUE(disk.Exists(longest));
  // The over-long chain is refused before any folder is made.
  EXPECT_THAT(files.CallsStartingWith(L"MakeDirectory"), IsEmpty());
}

TEST_F(StoreTest, StorePathAsksTheShellAndCreatesTheFolderChain) {
  EXPECT_EQ(GetIdentityStorePath(files, StoreLocation::Common), kCommonPath);
  EXPECT_EQ(files.calls.front(), L"GetSpecialFolderPath 35 1");
  EXPECT_TRUE(IsDirectoryPath(files, kCommonFolder));
  EXPECT_FALSE(disk.Exists(kCommonPath));

  EXPECT_EQ(GetIdentityStorePath(files, StoreLocation::PerUser), kPerUserPath);
  EXPECT_TRUE(IsDirectoryPath(files, kPerUserFolder));

  disk.missingSpecialFolders.insert(kCsidlAppData);
  EXPECT_EQ(GetIdentityStorePath(files, StoreLocation::PerUser), L"");
}

struct ReadCase {
  const char* name;
  std::vector<std::uint8_t> contents;
  std::string serial;  // the caller's serial text
  bool found;
  bool mustRewrite;
};

TEST_F(StoreTest, ReadOutcomes) {
  auto v2 = Version2Record(kStoredId, kAdapterText, kSerial);
  auto withTail = v2;
  withTail.insert(withTail.end(), {9, 9, 9, 9, 9, 9, 9, 9});
  auto adapterOnly = Version2Record(kStoredId, kAdapterText, "old serial");
  auto diskOnly = Version2Record(kStoredId, "0a0b0c0d0e0f", kSerial);
  auto neither = Version2Record(kStoredId, "0a0b0c0d0e0f", "old serial");
  auto emptySerial = Version2Record(kStoredId, "0a0b0c0d0e0f", "");
  auto v1 = Version1Record(kStoredId);
  auto version0 = v2;
  version0[0] = 0;
  auto version3 = v2;
  version3[0] = 3;

  ReadCase cases[] = {
      {"both bindings match", v2, kSerial, true, false},
      {"adapter binding matches only", adapterOnly, kSerial, true, false},
      {"disk binding matches only", diskOnly, kSerial, true, false},
      {"neither binding matches", neither, kSerial, false, false},
      {"empty serial binds to the empty serial", emptySerial, "", true, false},
      {"version 1", v1, kSerial, true, true},
      {"version 1 with trailing bytes",
       [&] {
         auto b = v1;
         b.push_back(7);
         return b;
       }(),
       kSerial, true, true},
      {"version 2 followed by more bytes", withTail, kSerial, true, false},
      {"version 2 of 20 bytes", std::vector<std::uint8_t>(v2.begin(), v2.begin() + 20), kSerial,
       false, false},
      {"version 2 of 51 bytes", std::vector<std::uint8_t>(v2.begin(), v2.end() - 1), kSerial, false,
       false},
      {"19 bytes", std::vector<std::uint8_t>(v1.begin(), v1.end() - 1), kSerial, false, false},
      {"empty file", {}, kSerial, false, false},
      {"version 0", version0, kSerial, false, false},
      {"version 3", version3, kSerial, false, false},
      {"a rewrite cut after its mark is written again", CutRewrite(neither, v2), kSerial, true,
       true},
      {"a cut rewrite's copy of other hardware", CutRewrite(v2, neither), kSerial, false, false},
      {"the rewrite mark without a whole copy", CutRewrite(v2, Bytes({2, 0, 0, 0})), kSerial, false,
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    disk.Put(kCommonPath, c.contents);
    MachineId identity = kOtherId;
    bool mustRewrite = true;
    EXPECT_EQ(ReadIdentityStore(files, kAdapterText, c.serial, identity, mustRewrite) ==
                  StoreLookup::Found,
              c.found);
    EXPECT_EQ(mustRewrite, c.mustRewrite);
    EXPECT_EQ(identity, c.found ? kStoredId : kOtherId);
    EXPECT_EQ(disk.Contents(kCommonPath), c.contents) << "a read never changes the file";
  }
}

TEST_F(StoreTest, ReadOpensSharingReadingAndDeletionAndReadsInExactBlocks) {
  disk.Put(kCommonPath, Version2Record(kStoredId, kAdapterText, kSerial));
  MachineId identity{};
  bool mustRewrite = false;
  ASSERT_EQ(ReadIdentityStore(files, kAdapterText, kSerial, identity, mustRewrite),
            StoreLookup::Found);
  EXPECT_THAT(files.CallsStartingWith(L"CreateFileW"),
              ElementsAre(L"CreateFileW " + kCommonPath + L" 2147483648 5 3 0"));
  EXPECT_THAT(files.CallsStartingWith(L"ReadFile"),
              ElementsAre(L"ReadFile 4", L"ReadFile 16", L"ReadFile 16", L"ReadFile 16"));
  EXPECT_THAT(files.CallsStartingWith(L"GetSpecialFolderPath"),
              ElementsAre(L"GetSpecialFolderPath 35 1"));
}

TEST_F(StoreTest, NoFileAnywhereIsNotFoundAndCreatesOnlyTheFolderChains) {
  MachineId identity = kOtherId;
  bool mustRewrite = true;
  EXPECT_EQ(ReadIdentityStore(files, kAdapterText, kSerial, identity, mustRewrite),
            StoreLookup::NotFound);
  EXPECT_FALSE(mustRewrite);
  EXPECT_EQ(identity, kOtherId);
  EXPECT_THAT(disk.FilesIn(kCommonFolder), IsEmpty());
  EXPECT_THAT(disk.FilesIn(kPerUserFolder), IsEmpty());
  EXPECT_TRUE(IsDirectoryPath(files, kCommonFolder));
  EXPECT_TRUE(IsDirectoryPath(files, kPerUserFolder));
  EXPECT_THAT(files.CallsStartingWith(L"MoveFileExW"), IsEmpty());
}

// A per-user store with no common one beside it moves to the common place:
// its record is copied there through a temporary file of the reader's own and
// a move that replaces nothing, and the common place is read again. A store
// that another launcher put there meanwhile (its own copy of the same record,
// or a record of its own) is never overwritten, so two launchers moving at
// once read the same identity, also where the second moves the whole store
// after the first found no common store and before it looked for the
// per-user one. Where the common place takes no copy, the per-user record
// counts where it is.
TEST_F(StoreTest, PerUserStoreMovesToTheCommonPlaceWithoutOverwritingOne) {
  const auto perUser = Version2Record(kStoredId, kAdapterText, kSerial);
  const auto theirs = Version2Record(kThirdId, kAdapterText, kSerial);
  enum class Meanwhile {
    Nothing,
    AnotherStore,
    SecondLauncherMoves,
    SecondLauncherMovesFirst,
    CommonNotWritable
  };
  struct Case {
    const char* name;
    std::vector<std::uint8_t> perUser;
    Meanwhile meanwhile;
    StoreLookup lookup;
    MachineId identity;
    bool mustRewrite;
    std::vector<std::uint8_t> common;  // the common store afterwards; empty: none
    bool perUserStays;
  } cases[] = {
      {"moved", perUser, Meanwhile::Nothing, StoreLookup::Found, kStoredId, false, perUser, false},
      {"a version-1 record moved", Version1Record(kOtherId), Meanwhile::Nothing, StoreLookup::Found,
       kOtherId, true, Version1Record(kOtherId), false},
      {"another launcher's store first", perUser, Meanwhile::AnotherStore, StoreLookup::Found,
       kThirdId, false, theirs, true},
      {"a second launcher moving it at the same moment", perUser, Meanwhile::SecondLauncherMoves,
       StoreLookup::Found, kStoredId, false, perUser, false},
      {"a second launcher moving it before the per-user store is looked for", perUser,
       Meanwhile::SecondLauncherMovesFirst, StoreLookup::Found, kStoredId, false, perUser, false},
      {"no copy in the common place",
       perUser,
       Meanwhile::CommonNotWritable,
       StoreLookup::Found,
       kStoredId,
       false,
       {},
       true},
      {"no whole record to move",
       Bytes({2, 0, 0, 0, 1}),
       Meanwhile::Nothing,
       StoreLookup::NotFound,
       kOtherId,
       false,
       {},
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CommonStoreCase fresh;
    fresh.disk.Put(kPerUserPath, c.perUser);
    std::optional<StoreLookup> second;
    MachineId secondIdentity{};
    switch (c.meanwhile) {
      case Meanwhile::Nothing:
        break;
      case Meanwhile::AnotherStore:
        fresh.files.before[L"MoveFileExW"] = [&] { fresh.disk.Put(kCommonPath, theirs); };
        break;
      case Meanwhile::SecondLauncherMoves:
      case Meanwhile::SecondLauncherMovesFirst:
        fresh.files.before[c.meanwhile == Meanwhile::SecondLauncherMoves
                               ? L"MoveFileExW"
                               : L"FindFirstFileW " + kPerUserPath] = [&] {
          bool rewrite = false;
          second = ReadIdentityStore(fresh.files, kAdapterText, kSerial, secondIdentity, rewrite);
        };
        break;
      case Meanwhile::CommonNotWritable:
        fresh.files.readOnlyPrefix = kCommonFolder;
        break;
    }
    MachineId identity = kOtherId;
    bool mustRewrite = !c.mustRewrite;
    EXPECT_EQ(ReadIdentityStore(fresh.files, kAdapterText, kSerial, identity, mustRewrite),
              c.lookup);
    EXPECT_EQ(identity, c.identity);
    EXPECT_EQ(mustRewrite, c.mustRewrite);
    if (second) {
      EXPECT_EQ(*second, StoreLookup::Found);
      EXPECT_EQ(secondIdentity, c.identity) << "both launchers read the same identity";
    }
    EXPECT_EQ(fresh.disk.Exists(kCommonPath), !c.common.empty());
    if (!c.common.empty()) {
      EXPECT_EQ(fresh.disk.Contents(kCommonPath), c.common);
    }
    EXPECT_THAT(fresh.disk.FilesIn(kCommonFolder),
                c.common.empty() ? std::set<std::string>{} : std::set<std::string>{"Global.db"});
    EXPECT_EQ(fresh.disk.Exists(kPerUserPath), c.perUserStays);
    if (c.perUserStays) {
      EXPECT_EQ(fresh.disk.Contents(kPerUserPath), c.perUser);
    }
    // Every move into the common place replaces nothing.
    for (const auto& call : fresh.files.CallsStartingWith(L"MoveFileExW")) {
      EXPECT_TRUE(call.ends_with(L" " + kCommonPath + L" 8")) << testing::Narrow(call);
    }
    EXPECT_EQ(fresh.files.OpenHandles(), 0u);
  }
}

// The calls that create, close, move and delete files, in order.
std::vector<std::wstring> FileSteps(const FaultyFiles& files) {
  std::vector<std::wstring> steps;
  for (const auto& call : files.calls) {
    for (const wchar_t* name : {L"CreateFileW", L"FlushFileBuffers", L"CloseHandle",
                                L"ReplaceFileW", L"MoveFileExW", L"DeleteFileW"}) {
      if (call.starts_with(name)) steps.push_back(call);
    }
  }
  return steps;
}

std::ptrdiff_t IndexOf(const std::vector<std::wstring>& calls, const std::wstring& call) {
  auto found = std::find(calls.begin(), calls.end(), call);
  return found == calls.end() ? -1 : found - calls.begin();
}

// Where the store was opened or made to be written in place; -1 if nowhere.
std::ptrdiff_t InPlaceIndex(const std::vector<std::wstring>& calls) {
  auto made = IndexOf(calls, kStoreMadeInPlace);
  return made >= 0 ? made : IndexOf(calls, kStoreInPlace);
}

TEST_F(StoreTest, WriteReplacesTheCommonFileWithAWholeVersion2Record) {
  disk.Put(kCommonPath, Version1Record(kOtherId));
  disk.Put(kPerUserPath, Version1Record(kOtherId));
  ASSERT_TRUE(WriteIdentityStore(files, kSerial, kAdapterText, kStoredId));

  EXPECT_EQ(disk.Contents(kCommonPath), Version2Record(kStoredId, kAdapterText, kSerial));
  EXPECT_THAT(disk.FilesIn(kCommonFolder), ElementsAre("Global.db"));
  EXPECT_EQ(disk.Contents(kPerUserPath), Version1Record(kOtherId)) << "per-user file untouched";
  EXPECT_THAT(files.CallsStartingWith(L"WriteFile"),
              ElementsAre(L"WriteFile 4", L"WriteFile 16", L"WriteFile 16", L"WriteFile 16"));
  // A name of this writer's own, made only if it does not exist, closed
  // before the replace (Windows replaces with no file that is open), and a
  // backup name of its own, deleted once the record stands. ReplaceFileW
  // keeps the store's owner, access rights and attributes.
  EXPECT_THAT(FileSteps(files), ElementsAre(L"CreateFileW " + kTempPath + L" 1073741824 0 1 0",
                                            L"FlushFileBuffers", L"CloseHandle",
                                            L"ReplaceFileW " + kCommonPath + L" " + kTempPath +
                                                L" " + kBackupPath + L" 0",
                                            L"DeleteFileW " + kBackupPath));

  MachineId identity{};
  bool mustRewrite = true;
  EXPECT_EQ(ReadIdentityStore(files, kAdapterText, kSerial, identity, mustRewrite),
            StoreLookup::Found);
  EXPECT_EQ(identity, kStoredId);
  EXPECT_FALSE(mustRewrite);
}

TEST_F(StoreTest, FirstWriteMovesTheTemporaryFileIntoPlace) {
  ASSERT_TRUE(WriteIdentityStore(files, kSerial, kAdapterText, kStoredId));
  EXPECT_EQ(disk.Contents(kCommonPath), Version2Record(kStoredId, kAdapterText, kSerial));
  EXPECT_THAT(disk.FilesIn(kCommonFolder), ElementsAre("Global.db"));
  EXPECT_THAT(
      FileSteps(files),
      ElementsAre(L"CreateFileW " + kTempPath + L" 1073741824 0 1 0", L"FlushFileBuffers",
                  L"CloseHandle", L"MoveFileExW " + kTempPath + L" " + kCommonPath + L" 9"));
}

// This writer's temporary name for an attempt.
std::wstring TempName(std::uint32_t attempt) {
  return kCommonPath + L".00001234-00000056-0000000" + std::to_wstring(attempt) + L".tmp";
}

// Names that exist already (a killed writer's of the same process and thread
// ids) are skipped and left alone, up to the last of the eight names.
TEST_F(StoreTest, ATakenTemporaryNameIsRetriedWithTheNextAndLeftAlone) {
  for (std::uint32_t taken : {2u, kStoreTempNameAttempts - 1}) {
    SCOPED_TRACE(std::to_string(taken) + " names taken");
    CommonStoreCase fresh;
    fresh.disk.Put(kCommonPath, Version1Record(kOtherId));
    std::vector<std::wstring> expectedCreates;
    for (std::uint32_t attempt = 0; attempt < taken; ++attempt) {
      fresh.disk.Put(TempName(attempt), Bytes({7, static_cast<int>(attempt)}));
      expectedCreates.push_back(L"CreateFileW " + TempName(attempt) + L" 1073741824 0 1 0");
    }
    expectedCreates.push_back(L"CreateFileW " + TempName(taken) + L" 1073741824 0 1 0");
    fresh.files.calls.clear();

    ASSERT_TRUE(WriteIdentityStore(fresh.files, kSerial, kAdapterText, kStoredId));
    EXPECT_EQ(fresh.disk.Contents(kCommonPath), Version2Record(kStoredId, kAdapterText, kSerial));
    EXPECT_EQ(fresh.files.CallsStartingWith(L"CreateFileW"), expectedCreates) << "not in place";
    EXPECT_THAT(
        fresh.files.CallsStartingWith(L"ReplaceFileW " + kCommonPath + L" " + TempName(taken)),
        ::testing::SizeIs(1));
    for (std::uint32_t attempt = 0; attempt < taken; ++attempt) {
      EXPECT_EQ(fresh.disk.Contents(TempName(attempt)), Bytes({7, static_cast<int>(attempt)}));
    }
    EXPECT_EQ(fresh.disk.FilesIn(kCommonFolder).size(), taken + 1);
  }
}

TEST_F(StoreTest, CommonPlaceNotWritableFallsBackToThePerUserPlace) {
  GetIdentityStorePath(files, StoreLocation::Common);
  files.readOnlyPrefix = kCommonFolder;
  ASSERT_TRUE(WriteIdentityStore(files, kSerial, kAdapterText, kStoredId));
  EXPECT_EQ(disk.Contents(kPerUserPath), Version2Record(kStoredId, kAdapterText, kSerial));
  EXPECT_THAT(disk.FilesIn(kCommonFolder), IsEmpty());

  // Later reads find it there, as long as it cannot move.
  MachineId identity{};
  bool mustRewrite = false;
  EXPECT_EQ(ReadIdentityStore(files, kAdapterText, kSerial, identity, mustRewrite),
            StoreLookup::Found);
  EXPECT_EQ(identity, kStoredId);
  EXPECT_TRUE(disk.Exists(kPerUserPath));
}

// Where the one-step replacement is refused, the record is written over the
// store in place, as the store was always written: a store that could be
// written before can still be written, in the same place.
TEST_F(StoreTest, ReplacementRefusedWritesTheStoreInPlace) {
  std::vector<std::wstring> takenNames;
  std::set<std::string> allNamesTaken = {"Global.db"};
  for (std::uint32_t attempt = 0; attempt < kStoreTempNameAttempts; ++attempt) {
    std::wstring name = L"Global.db.00001234-00000056-0000000" + std::to_wstring(attempt) + L".tmp";
    takenNames.push_back(kCommonFolder + L"\\" + name);
    allNamesTaken.insert(testing::Narrow(name));
  }
  struct Case {
    const char* name;
    bool storeExists;
    std::function<void(FaultyFiles&, TempFolderFiles&)> fault;
    std::set<std::string> filesAfter;
  } cases[] = {
      {"the store may be written but not deleted",
       true,
       [&](FaultyFiles& f, TempFolderFiles&) { f.undeletable = {kCommonPath}; },
       {"Global.db"}},
      {"no file may be made beside the store",
       true,
       [](FaultyFiles& f, TempFolderFiles&) { f.refuseNewFiles = true; },
       {"Global.db"}},
      {"every temporary name is taken", true,
       [&](FaultyFiles&, TempFolderFiles& d) {
         for (const auto& name : takenNames) d.Put(name, Bytes({7}));
       },
       allNamesTaken},
      {"no store yet and the move is refused",
       false,
       [](FaultyFiles& f, TempFolderFiles&) { f.failMove = true; },
       {"Global.db"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CommonStoreCase fresh;
    if (c.storeExists) fresh.disk.Put(kCommonPath, Version1Record(kOtherId));
    c.fault(fresh.files, fresh.disk);
    fresh.files.calls.clear();

    EXPECT_TRUE(WriteIdentityStore(fresh.files, kSerial, kAdapterText, kStoredId));
    EXPECT_EQ(fresh.disk.Contents(kCommonPath),
              WrittenInPlace(Version2Record(kStoredId, kAdapterText, kSerial)));
    EXPECT_EQ(fresh.disk.FilesIn(kCommonFolder), c.filesAfter);
    EXPECT_FALSE(fresh.disk.Exists(kPerUserPath)) << "the identity stays in the common place";
    // The last file opened is the store itself, to be written in place.
    EXPECT_EQ(fresh.files.CallsStartingWith(L"CreateFileW").back(),
              c.storeExists ? kStoreInPlace : kStoreMadeInPlace);
    EXPECT_EQ(fresh.files.OpenHandles(), 0u);
  }
}

// Every documented partial result of ReplaceFileW ends with the new record at
// the store's path and nothing else in the folder: a store that is gone or
// at the backup name is completed with a move, one that kept its name is
// written in place. The temporary file is deleted only once the record
// stands.
TEST_F(StoreTest, ReplacementStoppedPartWayIsCompleted) {
  using Leaves = FaultyFiles::Leaves;
  struct Case {
    const char* name;
    FaultyFiles::ReplaceFailure failure;
    bool tempImmovable;            // the move of the temporary file fails as well
    bool inPlace;                  // the record is written in place, not moved
    bool backupImmovable = false;  // the old store cannot go back either
  } cases[] = {
      {"ERROR_UNABLE_TO_MOVE_REPLACEMENT, the store gone",
       {kErrorUnableToMoveReplacement, Leaves::ReplacedGone},
       false,
       false},
      {"ERROR_UNABLE_TO_MOVE_REPLACEMENT, the store gone, no move either",
       {kErrorUnableToMoveReplacement, Leaves::ReplacedGone},
       true,
       true},
      {"ERROR_UNABLE_TO_MOVE_REPLACEMENT, both files under their names",
       {kErrorUnableToMoveReplacement, Leaves::BothNames},
       false,
       true},
      {"ERROR_UNABLE_TO_MOVE_REPLACEMENT_2, the store at the backup name",
       {kErrorUnableToMoveReplacement2, Leaves::ReplacedAtBackup},
       false,
       false},
      {"ERROR_UNABLE_TO_MOVE_REPLACEMENT_2, the store put back, then written",
       {kErrorUnableToMoveReplacement2, Leaves::ReplacedAtBackup},
       true,
       true},
      {"ERROR_UNABLE_TO_MOVE_REPLACEMENT_2, neither file can move",
       {kErrorUnableToMoveReplacement2, Leaves::ReplacedAtBackup},
       true,
       true,
       true},
      {"ERROR_UNABLE_TO_REMOVE_REPLACED",
       {kErrorUnableToRemoveReplaced, Leaves::BothNames},
       false,
       true},
      {"another refusal", {kErrorAccessDenied, Leaves::BothNames}, false, true},
      {"another refusal that leaves a copy at the backup name",
       {kErrorAccessDenied, Leaves::BackupCopy},
       false,
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CommonStoreCase fresh;
    fresh.disk.Put(kCommonPath, Version1Record(kOtherId));
    fresh.files.replaceFailure = c.failure;
    if (c.tempImmovable) fresh.files.immovable = {kTempPath};
    if (c.backupImmovable) fresh.files.immovable.insert(kBackupPath);
    fresh.files.calls.clear();

    EXPECT_TRUE(WriteIdentityStore(fresh.files, kSerial, kAdapterText, kStoredId));
    const auto record = Version2Record(kStoredId, kAdapterText, kSerial);
    EXPECT_EQ(fresh.disk.Contents(kCommonPath), c.inPlace ? WrittenInPlace(record) : record);
    EXPECT_THAT(fresh.disk.FilesIn(kCommonFolder), ElementsAre("Global.db"));
    EXPECT_FALSE(fresh.disk.Exists(kPerUserPath));
    EXPECT_EQ(fresh.files.OpenHandles(), 0u);

    auto steps = FileSteps(fresh.files);
    auto tempDeleted = IndexOf(steps, L"DeleteFileW " + kTempPath);
    if (c.inPlace) {
      auto inPlace = InPlaceIndex(steps);
      ASSERT_GE(inPlace, 0);
      EXPECT_GT(tempDeleted, inPlace) << "the temporary file goes after the record stands";
    } else {
      EXPECT_EQ(steps.back(), L"DeleteFileW " + kBackupPath);
      EXPECT_EQ(tempDeleted, -1);
      EXPECT_EQ(InPlaceIndex(steps), -1);
    }
    if (c.backupImmovable) {
      // The backup holds the only record until the new one stands.
      EXPECT_GT(IndexOf(steps, L"DeleteFileW " + kBackupPath), InPlaceIndex(steps));
    } else if (c.failure.leaves == Leaves::ReplacedAtBackup && c.inPlace) {
      EXPECT_GE(IndexOf(steps, L"MoveFileExW " + kBackupPath + L" " + kCommonPath + L" 8"), 0)
          << "the old store goes back before it is written in place";
    }
  }
}

// Two launchers started together: between the first writer's close and its
// replace (or move, on the first run) the second, on a thread of its own,
// makes its temporary file, and stops there until the first has finished.
// The first writer's record stands whole; the second then replaces it.
TEST_F(StoreTest, SecondWriterBetweenCloseAndReplaceLeavesTheFirstWritersFileAlone) {
  for (bool storeExists : {true, false}) {
    SCOPED_TRACE(storeExists ? "over a store" : "no store yet");
    CommonStoreCase fresh;
    if (storeExists) fresh.disk.Put(kCommonPath, Version1Record(kOtherId));

    // Hands the file layer from one writer to the other; only one runs.
    std::mutex mutex;
    std::condition_variable changed;
    int stage = 0;
    auto advance = [&](int next) {
      std::lock_guard<std::mutex> lock(mutex);
      stage = std::max(stage, next);
      changed.notify_all();
    };
    auto waitFor = [&](int wanted) {
      std::unique_lock<std::mutex> lock(mutex);
      changed.wait(lock, [&] { return stage >= wanted; });
    };
    std::thread second;
    bool secondWritten = false;
    fresh.files.before[storeExists ? L"ReplaceFileW" : L"MoveFileExW"] = [&] {
      // The second writer's first write comes right after its create.
      fresh.files.before[L"WriteFile"] = [&] {
        advance(1);
        waitFor(2);
      };
      second = std::thread([&] {
        secondWritten = WriteIdentityStore(fresh.files, kSerial, kAdapterText, kThirdId);
        advance(1);
      });
      waitFor(1);
    };

    EXPECT_TRUE(WriteIdentityStore(fresh.files, kSerial, kAdapterText, kStoredId));
    EXPECT_EQ(fresh.disk.Contents(kCommonPath), Version2Record(kStoredId, kAdapterText, kSerial));
    advance(2);
    second.join();
    EXPECT_TRUE(secondWritten);
    EXPECT_EQ(fresh.disk.Contents(kCommonPath), Version2Record(kThirdId, kAdapterText, kSerial));
    EXPECT_THAT(fresh.disk.FilesIn(kCommonFolder), ElementsAre("Global.db"));
    EXPECT_THAT(
        fresh.files.CallsStartingWith(L"CreateFileW " + kCommonPath + L".00001234-00000099"),
        ::testing::SizeIs(1))
        << "the second writer's own name";
    EXPECT_EQ(fresh.files.OpenHandles(), 0u);
  }
}

// A reader shares deletion, so a replace by another launcher goes through
// while the reader holds the store; the reader reads the record it opened.
TEST_F(StoreTest, ReaderHoldingTheStoreDoesNotStopAReplace) {
  disk.Put(kCommonPath, Version2Record(kOtherId, kAdapterText, kSerial));
  bool written = false;
  files.before[L"ReadFile"] = [&] {
    written = WriteIdentityStore(files, kSerial, kAdapterText, kStoredId);
  };
  MachineId identity{};
  bool mustRewrite = false;
  EXPECT_EQ(ReadIdentityStore(files, kAdapterText, kSerial, identity, mustRewrite),
            StoreLookup::Found);
  EXPECT_EQ(identity, kOtherId);
  EXPECT_TRUE(written);
  EXPECT_THAT(files.CallsStartingWith(L"ReplaceFileW"), ::testing::SizeIs(1));
  EXPECT_THAT(files.CallsStartingWith(L"CreateFileW " + kCommonPath + L" 3221225472"), IsEmpty())
      << "not written in place";
  EXPECT_EQ(disk.Contents(kCommonPath), Version2Record(kStoredId, kAdapterText, kSerial));
  EXPECT_THAT(disk.FilesIn(kCommonFolder), ElementsAre("Global.db"));
}

// A process that holds the store without sharing deletion (an earlier
// version's reader) blocks the replace and the write in place alike, and one
// that locked a range of it blocks the write in place: the store keeps its
// record, and the new one is not taken to the per-user place.
TEST_F(StoreTest, StoreHeldOrLockedByAnotherProcessKeepsItsRecord) {
  auto old = Version2Record(kOtherId, kAdapterText, kSerial);
  for (bool locked : {false, true}) {
    SCOPED_TRACE(locked ? "a range locked" : "held without delete sharing");
    CommonStoreCase fresh;
    fresh.disk.Put(kCommonPath, old);
    StoreHandle held = kInvalidHandleValue;
    if (locked) {
      // The locking process's handle is outside this file layer; no file
      // may be made beside the store, so the record goes in place.
      fresh.files.locked = {kCommonPath};
      fresh.files.refuseNewFiles = true;
    } else {
      std::uint32_t error = 0;
      held = fresh.files.CreateFileW(kCommonPath, kGenericRead, kFileShareRead, kOpenExisting, 0,
                                     &error);
      ASSERT_NE(held, kInvalidHandleValue);
    }
    EXPECT_FALSE(WriteIdentityStore(fresh.files, kSerial, kAdapterText, kStoredId));
    if (held != kInvalidHandleValue) fresh.files.CloseHandle(held);
    EXPECT_EQ(fresh.disk.Contents(kCommonPath), old);
    EXPECT_THAT(fresh.disk.FilesIn(kCommonFolder), ElementsAre("Global.db"));
    EXPECT_FALSE(fresh.disk.Exists(kPerUserPath));
    EXPECT_EQ(fresh.files.CallsStartingWith(L"CreateFileW").back(), kStoreInPlace);
  }
}

// Another process holds the store (a launcher writing it in place, sharing
// nothing; a scanner) or has locked its bytes: the read is tried again 4
// times 250 ms apart (5 opens in all). Let go by then, the record is read;
// held throughout, the read is Held and looks nowhere else, so that the
// caller writes nothing over a record it could not see. The same holds for
// the newest backup of a missing store: no older one goes back instead.
TEST_F(StoreTest, StoreHeldDuringTheReadIsReadAgainAndNeverTakenForMissing) {
  const std::wstring kOlderBackup = kCommonPath + L".00000f00-00000001-00000000.bak";
  const std::wstring kNewerBackup = kCommonPath + L".00000e00-00000002-00000000.bak";
  struct Case {
    const char* name;
    bool byLock;            // a lock on its bytes, else an open sharing nothing
    bool backups;           // no store: the newer of two backups is held
    std::uint32_t letGoAt;  // the pause in which the holder lets go; 0: never
    std::size_t opens;      // opens of the held file
  } cases[] = {
      {"held, let go in the first pause", false, false, 1, 2},
      {"held, let go in the fourth pause", false, false, 4, 5},
      {"held throughout", false, false, 0, 5},
      {"locked, let go in the second pause", true, false, 2, 3},
      {"locked throughout", true, false, 0, 5},
      {"the newer backup held, let go in the third pause", false, true, 3, 4},
      {"the newer backup held throughout", false, true, 0, 5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CommonStoreCase fresh;
    const std::wstring heldPath = c.backups ? kNewerBackup : kCommonPath;
    if (c.backups) {
      fresh.disk.Put(kOlderBackup, Version1Record(kThirdId));
      fresh.disk.Age(kOlderBackup, std::chrono::hours(72));
      fresh.disk.Put(kNewerBackup, Version1Record(kOtherId));
      fresh.disk.Age(kNewerBackup, std::chrono::hours(48));
    } else {
      fresh.disk.Put(kCommonPath, Version1Record(kOtherId));
    }
    fresh.disk.Put(kPerUserPath, Version2Record(kThirdId, kAdapterText, kSerial));
    StoreHandle holder = kInvalidHandleValue;
    if (c.byLock) {
      fresh.files.locked = {heldPath};
    } else {
      std::uint32_t error = 0;
      holder = fresh.files.CreateFileW(heldPath, kGenericWrite, kFileShareNone, kOpenExisting, 0,
                                       &error);
      ASSERT_NE(holder, kInvalidHandleValue);
    }
    auto letGo = [&] {
      fresh.files.locked.clear();
      if (holder != kInvalidHandleValue) fresh.files.CloseHandle(holder);
      holder = kInvalidHandleValue;
    };
    std::uint32_t pauses = 0;
    std::function<void()> pause = [&] {
      if (++pauses == c.letGoAt) {
        letGo();
      } else {
        fresh.files.before[L"Sleep"] = pause;
      }
    };
    fresh.files.before[L"Sleep"] = pause;
    fresh.files.calls.clear();

    MachineId identity = kStoredId;
    bool mustRewrite = false;
    StoreLookup found =
        ReadIdentityStore(fresh.files, kAdapterText, kSerial, identity, mustRewrite);
    bool heldThroughout = c.letGoAt == 0;
    letGo();
    EXPECT_EQ(found, heldThroughout ? StoreLookup::Held : StoreLookup::Found);
    EXPECT_EQ(identity, heldThroughout ? kStoredId : kOtherId);
    EXPECT_EQ(mustRewrite, !heldThroughout);
    EXPECT_EQ(
        fresh.files.CallsStartingWith(L"CreateFileW " + heldPath + L" 2147483648 5 3 0").size(),
        c.opens);
    EXPECT_EQ(fresh.files.CallsStartingWith(L"Sleep"),
              std::vector<std::wstring>(c.opens - 1, L"Sleep 250"));
    EXPECT_EQ(fresh.files.OpenHandles(), 0u);
    if (heldThroughout) {
      // Nothing moved, copied or read elsewhere.
      EXPECT_EQ(fresh.disk.Contents(heldPath), Version1Record(kOtherId));
      EXPECT_EQ(fresh.disk.Exists(kCommonPath), !c.backups);
      EXPECT_TRUE(fresh.disk.Exists(kPerUserPath));
      EXPECT_THAT(fresh.files.CallsStartingWith(L"MoveFileExW"), IsEmpty());
      EXPECT_THAT(fresh.files.CallsStartingWith(L"CopyFileW"), IsEmpty());
      EXPECT_THAT(fresh.files.CallsStartingWith(L"CreateFileW " + kPerUserPath), IsEmpty());
    }
  }
}

// A store that cannot be read for a reason other than its absence (access
// denied on a redirected folder, a network error, a read that fails) is as
// good as held: its record is unknown, so the look-up is Held at once (no
// pause: this is no passing hold), looks nowhere else and changes nothing.
// Only a file or folder that is not there counts as missing: a folder whose
// search fails otherwise (an offline redirected folder, a share gone from the
// network, a folder this account may not list) is as unknown as a store that
// cannot be opened.
TEST_F(StoreTest, StoreThatCannotBeReadIsTakenAsHeldNotAsMissing) {
  const std::wstring kBackup = kCommonPath + L".00000e00-00000002-00000000.bak";
  constexpr std::uint32_t kErrorBadNetworkPath = 53;          // ERROR_BAD_NETPATH
  constexpr std::uint32_t kErrorUnexpectedNetworkError = 59;  // ERROR_UNEXP_NET_ERR
  constexpr std::uint32_t kErrorNetworkNameDeleted = 64;      // ERROR_NETNAME_DELETED
  enum class Fails { Open, Read, Search };
  struct Case {
    const char* name;
    // The common store, the backup of a missing one or the per-user store
    // (opened or read); the common or the per-user folder (searched).
    std::wstring unreadable;
    std::uint32_t error;
    Fails fails;
    StoreLookup lookup;
  } cases[] = {
      {"access denied on the common store", kCommonPath, kErrorAccessDenied, Fails::Open,
       StoreLookup::Held},
      {"a network error opening the common store", kCommonPath, kErrorUnexpectedNetworkError,
       Fails::Open, StoreLookup::Held},
      {"a network error reading the common store", kCommonPath, kErrorNetworkNameDeleted,
       Fails::Read, StoreLookup::Held},
      {"access denied on the backup of a missing store", kBackup, kErrorAccessDenied, Fails::Open,
       StoreLookup::Held},
      {"access denied searching the common folder for backups", kCommonFolder, kErrorAccessDenied,
       Fails::Search, StoreLookup::Held},
      {"a network path not found searching the common folder for backups", kCommonFolder,
       kErrorBadNetworkPath, Fails::Search, StoreLookup::Held},
      {"access denied on the per-user store", kPerUserPath, kErrorAccessDenied, Fails::Open,
       StoreLookup::Held},
      {"a read of the per-user store failing", kPerUserPath, kErrorNetworkNameDeleted, Fails::Read,
       StoreLookup::Held},
      {"access denied searching the per-user folder", kPerUserFolder, kErrorAccessDenied,
       Fails::Search, StoreLookup::Held},
      {"a network path not found searching the per-user folder", kPerUserFolder,
       kErrorBadNetworkPath, Fails::Search, StoreLookup::Held},
      {"the network name gone searching the per-user folder", kPerUserFolder,
       kErrorNetworkNameDeleted, Fails::Search, StoreLookup::Held},
      // The contrast: a folder that is not there, or a search that finds no
      // entry, is a missing store, and the per-user record counts.
      {"no folder along the common store's path", kCommonPath, kErrorPathNotFound, Fails::Open,
       StoreLookup::Found},
      {"no entry left searching the common folder", kCommonFolder, kErrorNoMoreFiles, Fails::Search,
       StoreLookup::Found},
      {"a file where the common folder should be (Wine)", kCommonFolder, kErrorInvalidName,
       Fails::Search, StoreLookup::Found},
      {"a file where the common folder should be (Windows)", kCommonFolder, kErrorDirectory,
       Fails::Search, StoreLookup::Found},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CommonStoreCase fresh;
    GetIdentityStorePath(fresh.files, StoreLocation::PerUser);
    if (c.unreadable == kCommonPath && c.error != kErrorPathNotFound) {
      fresh.disk.Put(kCommonPath, Version1Record(kOtherId));
    }
    if (c.unreadable == kBackup) {
      fresh.disk.Put(kBackup, Version1Record(kOtherId));
      fresh.disk.Age(kBackup, std::chrono::hours(48));
    }
    fresh.disk.Put(kPerUserPath, Version2Record(kThirdId, kAdapterText, kSerial));
    const auto before =
        std::make_pair(fresh.disk.FilesIn(kCommonFolder), fresh.disk.FilesIn(kPerUserFolder));
    (c.fails == Fails::Read     ? fresh.files.readErrors
     : c.fails == Fails::Search ? fresh.files.searchErrors
                                : fresh.files.openErrors)[c.unreadable] = c.error;
    fresh.files.calls.clear();

    MachineId identity = kStoredId;
    bool mustRewrite = true;
    EXPECT_EQ(ReadIdentityStore(fresh.files, kAdapterText, kSerial, identity, mustRewrite),
              c.lookup);
    EXPECT_FALSE(mustRewrite);
    EXPECT_EQ(fresh.files.OpenHandles(), 0u);
    if (c.lookup == StoreLookup::Found) {
      EXPECT_EQ(identity, kThirdId);
      continue;
    }
    EXPECT_EQ(identity, kStoredId);
    EXPECT_THAT(fresh.files.CallsStartingWith(L"Sleep"), IsEmpty());
    EXPECT_THAT(fresh.files.CallsStartingWith(L"MoveFileExW"), IsEmpty());
    EXPECT_THAT(fresh.files.CallsStartingWith(L"DeleteFileW"), IsEmpty());
    EXPECT_EQ(std::make_pair(fresh.disk.FilesIn(kCommonFolder), fresh.disk.FilesIn(kPerUserFolder)),
              before);
    if (c.unreadable == kCommonPath || c.unreadable == kCommonFolder) {
      EXPECT_THAT(fresh.files.CallsStartingWith(L"CreateFileW " + kPerUserPath), IsEmpty())
          << "looks nowhere else";
    }
  }
}

// A scanner opens the fresh temporary file for a moment: the replace is
// refused with a sharing violation and tried again after a pause, 5 times
// 500 ms apart (6 calls in all), before the record is written in place.
TEST_F(StoreTest, ReplaceRefusedWhileAScannerHoldsTheTemporaryFileIsRetried) {
  struct Case {
    const char* name;
    std::uint32_t violations;  // replaces refused before the scanner lets go
    std::size_t replaces;
    bool inPlace;
  } cases[] = {
      {"the scanner lets go after the first replace", 1, 2, false},
      {"the scanner lets go before the last retry", 5, 6, false},
      {"the scanner never lets go", 100, 6, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CommonStoreCase fresh;
    fresh.disk.Put(kCommonPath, Version1Record(kOtherId));
    StoreHandle scanner = kInvalidHandleValue;
    std::uint32_t pauses = 0;
    // The scanner lets go during the pause after the last refused replace.
    std::function<void()> pause = [&] {
      if (++pauses == c.violations) {
        fresh.files.CloseHandle(scanner);
        scanner = kInvalidHandleValue;
      } else {
        fresh.files.before[L"Sleep"] = pause;
      }
    };
    fresh.files.before[L"ReplaceFileW"] = [&] {
      std::uint32_t error = 0;
      scanner = fresh.files.CreateFileW(kTempPath, kGenericRead,
                                        kFileShareRead | kFileShareWrite | kFileShareDelete,
                                        kOpenExisting, 0, &error);
      fresh.files.before[L"Sleep"] = pause;
    };
    fresh.files.calls.clear();

    EXPECT_TRUE(WriteIdentityStore(fresh.files, kSerial, kAdapterText, kStoredId));
    ASSERT_EQ(fresh.files.CallsStartingWith(L"CreateFileW " + kTempPath + L" 2147483648"),
              std::vector<std::wstring>{L"CreateFileW " + kTempPath + L" 2147483648 7 3 0"})
        << "the scanner's open";
    EXPECT_EQ(scanner == kInvalidHandleValue, !c.inPlace) << "the scanner let go";
    if (scanner != kInvalidHandleValue) fresh.files.CloseHandle(scanner);
    const auto record = Version2Record(kStoredId, kAdapterText, kSerial);
    EXPECT_EQ(fresh.disk.Contents(kCommonPath), c.inPlace ? WrittenInPlace(record) : record);
    EXPECT_THAT(fresh.disk.FilesIn(kCommonFolder), ElementsAre("Global.db"));
    EXPECT_THAT(fresh.files.CallsStartingWith(L"ReplaceFileW"), ::testing::SizeIs(c.replaces));
    EXPECT_EQ(fresh.files.CallsStartingWith(L"Sleep"),
              std::vector<std::wstring>(c.replaces - 1, L"Sleep 500"));
    EXPECT_EQ(IndexOf(fresh.files.calls, kStoreInPlace) >= 0, c.inPlace);
  }
}

// A writer cut between the two renames of its replace leaves no store, the
// old record at its backup name and its own record at its temporary name.
// The reader puts the newest backup holding a whole record back in place.
TEST_F(StoreTest, MissingStoreIsPutBackFromTheNewestWholeBackup) {
  const std::wstring kOlderBackup = kCommonPath + L".00000f00-00000001-00000000.bak";
  const std::wstring kNewerBackup = kCommonPath + L".00000e00-00000002-00000001.bak";
  const std::wstring kKilledTemp = kCommonPath + L".00000e00-00000002-00000001.tmp";
  const std::wstring kPerUserBackup = kPerUserPath + L".00000e00-00000002-00000000.bak";
  auto v1 = Version1Record(kStoredId);
  auto older = Version2Record(kOtherId, kAdapterText, kSerial);
  auto partial = std::vector<std::uint8_t>(older.begin(), older.begin() + 30);
  struct File {
    std::wstring path;
    std::vector<std::uint8_t> contents;
    std::chrono::hours age;
  };
  struct Case {
    const char* name;
    std::vector<File> files;
    std::wstring restored;  // the backup expected at the store's path; empty: none
    std::wstring storePath;
  } cases[] = {
      {"one backup, two days old",
       {{kNewerBackup, v1, std::chrono::hours(48)}, {kKilledTemp, older, std::chrono::hours(0)}},
       kNewerBackup,
       kCommonPath},
      {"the newer of two backups",
       {{kOlderBackup, older, std::chrono::hours(72)}, {kNewerBackup, v1, std::chrono::hours(48)}},
       kNewerBackup,
       kCommonPath},
      {"a newer backup without a whole record is passed over",
       {{kOlderBackup, v1, std::chrono::hours(72)}, {kNewerBackup, partial, std::chrono::hours(1)}},
       kOlderBackup,
       kCommonPath},
      {"names and folders that are not a writer's backup",
       {{kCommonPath + L".old.bak", v1, std::chrono::hours(1)},
        {kCommonPath + L".bak", v1, std::chrono::hours(1)},
        {kCommonPath + L".00000e00-00000002-00000009.bak\\inside", v1, std::chrono::hours(1)}},
       L"",
       kCommonPath},
      {"a per-user backup, then moved to the common place",
       {{kPerUserBackup, v1, std::chrono::hours(48)}},
       kPerUserBackup,
       kCommonPath},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CommonStoreCase fresh;
    GetIdentityStorePath(fresh.files, StoreLocation::PerUser);
    std::vector<std::uint8_t> expected;
    for (const auto& file : c.files) {
      fresh.disk.Put(file.path, file.contents);
      fresh.disk.Age(file.path, file.age);
      if (file.path == c.restored) expected = file.contents;
    }
    MachineId identity = kThirdId;
    bool mustRewrite = false;
    EXPECT_EQ(ReadIdentityStore(fresh.files, kAdapterText, kSerial, identity, mustRewrite) ==
                  StoreLookup::Found,
              !c.restored.empty());
    EXPECT_EQ(fresh.files.OpenHandles(), 0u);
    if (c.restored.empty()) {
      EXPECT_EQ(identity, kThirdId);
      EXPECT_FALSE(fresh.disk.Exists(c.storePath));
      for (const auto& file : c.files) EXPECT_TRUE(fresh.disk.Exists(file.path));
      continue;
    }
    EXPECT_EQ(identity, ParseStoreRecord(expected)->identity);
    EXPECT_EQ(fresh.disk.Contents(c.storePath), expected);
    EXPECT_FALSE(fresh.disk.Exists(c.restored));
    EXPECT_FALSE(fresh.disk.Exists(kPerUserPath));
    // Put back with a rename that replaces nothing.
    EXPECT_THAT(
        fresh.files.CallsStartingWith(L"MoveFileExW"),
        ::testing::Contains(L"MoveFileExW " + c.restored + L" " +
                            (c.restored == kPerUserBackup ? kPerUserPath : kCommonPath) + L" 8"));
    for (const auto& file : c.files) {
      if (file.path != c.restored) {
        EXPECT_TRUE(fresh.disk.Exists(file.path));
      }
    }
  }
}

// Another launcher at the moment of the put-back: a second reader that puts
// the same backup back first, or a writer whose record stands there by then.
// Neither is overwritten; the reader reads what stands.
TEST_F(StoreTest, PutBackNeverReplacesAStoreThatAnotherLauncherPutInPlace) {
  const std::wstring kBackup = kCommonPath + L".00000e00-00000002-00000000.bak";
  auto backupRecord = Version1Record(kOtherId);
  auto written = Version2Record(kThirdId, kAdapterText, kSerial);
  for (bool secondReader : {true, false}) {
    SCOPED_TRACE(secondReader ? "a second reader" : "a writer");
    CommonStoreCase fresh;
    fresh.disk.Put(kBackup, backupRecord);
    fresh.disk.Age(kBackup, std::chrono::hours(48));
    MachineId otherIdentity{};
    bool otherRead = false;
    fresh.files.before[L"MoveFileExW"] = [&] {
      if (secondReader) {
        bool rewrite = false;
        otherRead = ReadIdentityStore(fresh.files, kAdapterText, kSerial, otherIdentity, rewrite) ==
                    StoreLookup::Found;
      } else {
        fresh.disk.Put(kCommonPath, written);
      }
    };
    MachineId identity{};
    bool mustRewrite = false;
    EXPECT_EQ(ReadIdentityStore(fresh.files, kAdapterText, kSerial, identity, mustRewrite),
              StoreLookup::Found);
    if (secondReader) {
      EXPECT_TRUE(otherRead);
      EXPECT_EQ(otherIdentity, kOtherId);
      EXPECT_EQ(identity, kOtherId);
      EXPECT_EQ(fresh.disk.Contents(kCommonPath), backupRecord);
      EXPECT_THAT(fresh.disk.FilesIn(kCommonFolder), ElementsAre("Global.db"));
    } else {
      EXPECT_EQ(identity, kThirdId);
      EXPECT_EQ(fresh.disk.Contents(kCommonPath), written);
      EXPECT_EQ(fresh.disk.Contents(kBackup), backupRecord);
    }
    EXPECT_EQ(fresh.files.OpenHandles(), 0u);
  }
}

// In the common folder a file may be deleted or renamed only by its owner:
// a backup that another user's writer left there can be read but not put
// back. Its record is copied into place instead, through a temporary file of
// the reader's own, never over a store that another launcher put there
// meanwhile; the backup stays.
TEST_F(StoreTest, BackupOfAnotherAccountIsCopiedIntoPlace) {
  const std::wstring kBackup = kCommonPath + L".00000e00-00000002-00000000.bak";
  auto written = Version2Record(kThirdId, kAdapterText, kSerial);
  struct Case {
    const char* name;
    std::vector<std::uint8_t> backup;
    bool storeMeanwhile;  // another launcher's store stands before the copy moves
  } cases[] = {
      {"a version-1 record", Version1Record(kOtherId), false},
      {"a version-2 record", Version2Record(kOtherId, kAdapterText, kSerial), false},
      {"another launcher's store first", Version1Record(kOtherId), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CommonStoreCase fresh;
    fresh.disk.Put(kBackup, c.backup);
    fresh.disk.Age(kBackup, std::chrono::hours(48));
    fresh.files.undeletable = {kBackup};
    if (c.storeMeanwhile) {
      fresh.files.before[L"FlushFileBuffers"] = [&] { fresh.disk.Put(kCommonPath, written); };
    }
    MachineId identity{};
    bool mustRewrite = false;
    EXPECT_EQ(ReadIdentityStore(fresh.files, kAdapterText, kSerial, identity, mustRewrite),
              StoreLookup::Found);
    EXPECT_EQ(identity, c.storeMeanwhile ? kThirdId : kOtherId);
    EXPECT_EQ(fresh.disk.Contents(kCommonPath), c.storeMeanwhile ? written : c.backup);
    EXPECT_EQ(fresh.disk.Contents(kBackup), c.backup);
    EXPECT_THAT(fresh.disk.FilesIn(kCommonFolder),
                ElementsAre("Global.db", "Global.db.00000e00-00000002-00000000.bak"));
    EXPECT_THAT(fresh.files.CallsStartingWith(L"MoveFileExW"),
                ElementsAre(L"MoveFileExW " + kBackup + L" " + kCommonPath + L" 8",
                            L"MoveFileExW " + kTempPath + L" " + kCommonPath + L" 8"));
    EXPECT_EQ(fresh.files.OpenHandles(), 0u);
  }
}

// A reader between the two renames of a live writer's replace finds no
// store and the writer's backup: it reads the old identity. Once the reader
// has closed the store, the writer's record still ends in place; while the
// reader still holds it (Windows renames nothing onto an open file, and the
// write in place shares nothing), the old record stays and the write fails.
// Either way nothing is left beside the store.
TEST_F(StoreTest, ReaderBetweenTheReplacesTwoRenamesGetsTheOldIdentity) {
  const auto oldRecord = Version2Record(kOtherId, kAdapterText, kSerial);
  for (bool readerStillHolds : {false, true}) {
    SCOPED_TRACE(readerStillHolds ? "the reader still holds the store" : "the reader is done");
    CommonStoreCase fresh;
    fresh.disk.Put(kCommonPath, oldRecord);
    MachineId identity{};
    bool read = false;
    StoreHandle held = kInvalidHandleValue;
    fresh.files.betweenReplaceRenames = [&] {
      EXPECT_FALSE(fresh.disk.Exists(kCommonPath));
      bool mustRewrite = false;
      read = ReadIdentityStore(fresh.files, kAdapterText, kSerial, identity, mustRewrite) ==
             StoreLookup::Found;
      std::uint32_t error = 0;
      if (readerStillHolds) {
        held = fresh.files.CreateFileW(kCommonPath, kGenericRead, kFileShareRead | kFileShareDelete,
                                       kOpenExisting, 0, &error);
      }
    };
    EXPECT_EQ(WriteIdentityStore(fresh.files, kSerial, kAdapterText, kStoredId), !readerStillHolds);
    if (held != kInvalidHandleValue) fresh.files.CloseHandle(held);
    EXPECT_TRUE(read);
    EXPECT_EQ(identity, kOtherId);
    EXPECT_EQ(fresh.disk.Contents(kCommonPath),
              readerStillHolds ? oldRecord : Version2Record(kStoredId, kAdapterText, kSerial));
    EXPECT_THAT(fresh.disk.FilesIn(kCommonFolder), ElementsAre("Global.db"));
    EXPECT_EQ(fresh.files.OpenHandles(), 0u);
  }
}

// The file layer refuses what Windows refuses, so the tests above would
// catch a replace with an open temporary file or a reader without delete
// sharing.
TEST_F(StoreTest, FileLayerKeepsWindowsSharingRules) {
  const std::wstring kStore = kCommonFolder + L"\\store";
  const std::wstring kNew = kCommonFolder + L"\\new";
  struct Case {
    const char* name;
    std::wstring held;
    std::uint32_t access, shareMode;
    bool replaces, moves, deletes;
  } cases[] = {
      {"the replacement open, sharing everything", kNew, kGenericRead, 7, false, true, true},
      {"the replacement open for writing", kNew, kGenericWrite, 0, false, false, false},
      {"the store open without delete sharing", kStore, kGenericRead, kFileShareRead, false, false,
       false},
      {"the store open with read and delete sharing", kStore, kGenericRead, 5, true, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto reset = [&] {
      disk.Put(kStore, Bytes({1}));
      disk.Put(kNew, Bytes({2}));
    };
    reset();
    std::uint32_t error = 0;
    StoreHandle held = files.CreateFileW(c.held, c.access, c.shareMode, kOpenExisting, 0, &error);
    ASSERT_NE(held, kInvalidHandleValue);
    EXPECT_EQ(files.ReplaceFileW(kStore, kNew, L"", 0) == 0, c.replaces);
    reset();
    EXPECT_EQ(files.MoveFileExW(kNew, kStore, kMoveFileReplaceExisting), c.moves);
    reset();
    EXPECT_EQ(files.DeleteFileW(c.held), c.deletes);
    files.CloseHandle(held);
  }
  // A rename onto a file that is open fails, whatever the holder shares.
  disk.Put(kStore, Bytes({1}));
  disk.Put(kNew, Bytes({2}));
  std::uint32_t error = 0;
  StoreHandle reader = files.CreateFileW(kStore, kGenericRead, kFileShareRead | kFileShareDelete,
                                         kOpenExisting, 0, &error);
  ASSERT_NE(reader, kInvalidHandleValue);
  EXPECT_FALSE(files.MoveFileExW(kNew, kStore, kMoveFileReplaceExisting));
  files.CloseHandle(reader);
  EXPECT_TRUE(files.MoveFileExW(kNew, kStore, kMoveFileReplaceExisting));
}

// A writer's files older than a day are a killed writer's leftovers. A
// backup holds the replaced store's record and keeps its time, so while no
// store stands it may be the only record: it stays for the reader.
TEST_F(StoreTest, LeftoversOfAKilledWriterAreRemovedAfterADay) {
  const auto kTwoDays = std::chrono::hours(48);
  const auto k25Hours = std::chrono::hours(25);
  const auto kAlmostADay = std::chrono::hours(23);
  const auto kAnHourAhead = -std::chrono::hours(1);
  struct Leftover {
    std::string name;
    std::chrono::seconds age;
    bool removed;
  } leftovers[] = {
      {"Global.db.00000001-00000002-00000000.tmp", kTwoDays, true},
      {"Global.db.00000001-00000002-00000000.bak", kTwoDays, true},
      {"Global.db.00000001-00000002-00000001.tmp", k25Hours, true},
      {"Global.db.00000001-00000002-00000001.bak", k25Hours, true},
      {"Global.db.0000abcd-0000ef0f-00000000.tmp", kTwoDays, true},
      {"Global.db.00000001-00000002-00000003.tmp", kAlmostADay, false},
      {"Global.db.00000001-00000002-00000004.tmp", kAnHourAhead, false},
      {"Global.db.00000001-00000002-00000004.bak", kAnHourAhead, false},
      {"Global.db.tmp", kTwoDays, true},  // the name earlier versions shared
      {"Global.db.old", kTwoDays, false},
      {"Global.db.notes.tmp", kTwoDays, false},
      {"Global.db.0000000g-00000002-00000000.tmp", kTwoDays, false},
      {"Global.db..tmp", kTwoDays, false},
      {"Other.db.00000001-00000002-00000000.tmp", kTwoDays, false},
  };
  for (bool storeStands : {true, false}) {
    SCOPED_TRACE(storeStands ? "a store stands" : "no store");
    CommonStoreCase fresh;
    if (storeStands) fresh.disk.Put(kCommonPath, Version1Record(kOtherId));
    std::set<std::string> expected = {"Global.db"};
    for (const auto& leftover : leftovers) {
      std::wstring path =
          kCommonFolder + L"\\" + std::wstring(leftover.name.begin(), leftover.name.end());
      fresh.disk.Put(path, Bytes({9}));
      fresh.disk.Age(path, leftover.age);
      bool backup = leftover.name.ends_with(".bak");
      if (!leftover.removed || (backup && !storeStands)) expected.insert(leftover.name);
    }
    // A folder of such a name is not a writer's file.
    std::wstring folder = kCommonFolder + L"\\Global.db.00000007-00000008-00000000.tmp";
    fresh.disk.Put(folder + L"\\inside", {});
    fresh.disk.Age(folder, kTwoDays);
    expected.insert("Global.db.00000007-00000008-00000000.tmp");

    ASSERT_TRUE(WriteIdentityStore(fresh.files, kSerial, kAdapterText, kStoredId));
    EXPECT_EQ(fresh.disk.FilesIn(kCommonFolder), expected);
    EXPECT_EQ(fresh.disk.Contents(kCommonPath), Version2Record(kStoredId, kAdapterText, kSerial));
    EXPECT_THAT(fresh.files.CallsStartingWith(L"FindFirstFileW"),
                ::testing::Contains(L"FindFirstFileW " + kCommonPath + L".*"));
  }
}

TEST_F(StoreTest, StoreThatCanBeNeitherReplacedNorWrittenFallsBackToThePerUserPlace) {
  auto old = Version2Record(kOtherId, kAdapterText, kSerial);
  disk.Put(kCommonPath, old);
  files.readOnlyPrefix = kCommonFolder;
  ASSERT_TRUE(WriteIdentityStore(files, kSerial, kAdapterText, kStoredId));
  EXPECT_EQ(disk.Contents(kCommonPath), old);
  EXPECT_THAT(disk.FilesIn(kCommonFolder), ElementsAre("Global.db"));
  EXPECT_EQ(disk.Contents(kPerUserPath), Version2Record(kStoredId, kAdapterText, kSerial));
  EXPECT_THAT(disk.FilesIn(kPerUserFolder), ElementsAre("Global.db"));
}

TEST_F(StoreTest, NoSpecialFolderCreatesNothingInTheCurrentDirectory) {
  disk.missingSpecialFolders = {kCsidlCommonAppData, kCsidlAppData};
  EXPECT_FALSE(WriteIdentityStore(files, kSerial, kAdapterText, kStoredId));
  EXPECT_THAT(files.CallsStartingWith(L"CreateFileW"), IsEmpty());
}

TEST_F(StoreTest, WriteFailingPartWayKeepsTheOldRecordAndLeavesNoTemporaryFile) {
  auto old = Version2Record(kOtherId, kAdapterText, kSerial);
  struct Case {
    const char* name;
    std::optional<std::uint32_t> budget;
    bool failFlush;
  } cases[] = {
      {"disk full at once", 0, false},
      {"disk full inside the version", 3, false},
      {"disk full after the version", 4, false},
      {"disk full inside the identity", 10, false},
      {"disk full after the identity", 20, false},
      {"disk full in the last block", 51, false},
      {"flush fails", std::nullopt, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    disk.Put(kCommonPath, old);
    files.writeBudget = c.budget;
    files.failFlush = c.failFlush;
    files.calls.clear();

    EXPECT_FALSE(WriteIdentityStore(files, kSerial, kAdapterText, kStoredId));
    EXPECT_EQ(disk.Contents(kCommonPath), old);
    EXPECT_THAT(disk.FilesIn(kCommonFolder), ElementsAre("Global.db"));
    EXPECT_FALSE(disk.Exists(kPerUserPath)) << "a failed write is not retried elsewhere";
    EXPECT_THAT(files.CallsStartingWith(L"MoveFileExW"), IsEmpty());
    EXPECT_THAT(files.CallsStartingWith(L"ReplaceFileW"), IsEmpty());

    MachineId identity{};
    bool mustRewrite = false;
    EXPECT_EQ(ReadIdentityStore(files, kAdapterText, kSerial, identity, mustRewrite),
              StoreLookup::Found);
    EXPECT_EQ(identity, kOtherId);
  }
}

// The write in place never truncates, and never writes a record where the
// version it sits under counts: cut after any of its writing calls (the
// process ended at the end of the report's budget, a write or flush that
// fails), the store reads as the old record did or as the new one, on every
// hardware alike (the present, the old record's, and each half of either),
// so no new identity ever stands beside old bindings; and the cut write is
// not taken elsewhere. A store whose earlier rewrite was cut after its mark
// is first completed from its copy, so that the copy is never overwritten
// while it holds the only whole record.
TEST_F(StoreTest, WriteInPlaceCutAfterAnyCallLeavesTheOldRecordOrTheNewOne) {
  const std::string kOldAdapter = "0a0b0c0d0e0f";
  const std::string kOldSerial = "old serial";
  const auto newRecord = Version2Record(kStoredId, kAdapterText, kSerial);
  auto withTail = Version2Record(kOtherId, kAdapterText, kSerial);
  withTail.insert(withTail.end(), {9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9});
  // Copy, flush, mark, flush, record, flush, version, flush: each write
  // after its SetFilePointer. Completing a cut rewrite first: SetFilePointer
  // to the copy (read), then the record, flush, version, flush.
  constexpr std::size_t kRewriteCalls = 12;
  constexpr std::size_t kCompletionCalls = 7;
  struct Old {
    const char* name;
    std::vector<std::uint8_t> record;  // empty: no store (made in place)
    std::size_t writingCalls;
  } olds[] = {
      {"no store", {}, kRewriteCalls},
      {"a version-1 record", Version1Record(kStoredId), kRewriteCalls},
      {"a version-1 record of another identity", Version1Record(kOtherId), kRewriteCalls},
      {"a version-2 record of other hardware", Version2Record(kOtherId, kOldAdapter, kOldSerial),
       kRewriteCalls},
      {"a version-2 record of this adapter", Version2Record(kOtherId, kAdapterText, kOldSerial),
       kRewriteCalls},
      {"a version-2 record with 20 bytes after it", withTail, kRewriteCalls},
      {"a rewrite cut after its mark",
       CutRewrite(Version2Record(kThirdId, kAdapterText, kSerial),
                  Version2Record(kOtherId, kOldAdapter, kOldSerial)),
       kCompletionCalls + kRewriteCalls},
  };
  const std::pair<std::string, std::string> hardware[] = {{kAdapterText, kSerial},
                                                          {kOldAdapter, kOldSerial},
                                                          {kAdapterText, kOldSerial},
                                                          {kOldAdapter, kSerial}};
  // What a store of these bytes (none: no store) gives each hardware.
  auto readsOf = [&](const std::vector<std::uint8_t>& bytes) {
    std::vector<std::pair<StoreLookup, MachineId>> reads;
    for (const auto& [adapter, serial] : hardware) {
      CommonStoreCase reader;
      if (!bytes.empty()) reader.disk.Put(kCommonPath, bytes);
      MachineId identity{};
      bool mustRewrite = false;
      reads.emplace_back(ReadIdentityStore(reader.files, adapter, serial, identity, mustRewrite),
                         identity);
    }
    return reads;
  };
  const auto readsOfNew = readsOf(newRecord);
  for (const auto& old : olds) {
    const auto readsOfOld = readsOf(old.record);
    for (std::size_t cut = 0;; ++cut) {
      SCOPED_TRACE(std::string(old.name) + ", cut after " + std::to_string(cut) + " calls");
      ASSERT_LE(cut, old.writingCalls);
      CommonStoreCase fresh;
      if (old.record.empty()) {
        fresh.files.failMove = true;  // the temporary file cannot go in place: the store is made
      } else {
        fresh.disk.Put(kCommonPath, old.record);
        fresh.files.refuseNewFiles = true;  // no temporary file: the record goes in place
      }
      fresh.files.cutPath = kCommonPath;
      fresh.files.cutAfter = cut;

      const bool written = WriteIdentityStore(fresh.files, kSerial, kAdapterText, kStoredId);
      EXPECT_EQ(fresh.files.OpenHandles(), 0u);
      EXPECT_FALSE(fresh.disk.Exists(kPerUserPath)) << "a cut write is not retried elsewhere";
      const bool stands = fresh.disk.Exists(kCommonPath);
      EXPECT_EQ(stands, written || !old.record.empty());
      EXPECT_EQ(fresh.disk.FilesIn(kCommonFolder),
                stands ? std::set<std::string>{"Global.db"} : std::set<std::string>{});
      const auto contents = stands ? fresh.disk.Contents(kCommonPath) : std::vector<std::uint8_t>{};
      ASSERT_GE(contents.size(), old.record.size()) << "never truncated";
      if (cut == 0) {
        EXPECT_EQ(contents, old.record);
      }

      const auto reads = readsOf(contents);
      EXPECT_TRUE(reads == readsOfOld || reads == readsOfNew)
          << "neither the old nor the new record";
      if (cut + 1 >= old.writingCalls && !old.record.empty()) {
        // The version is written: the new record stands, whatever the flush
        // did (a store made for the write goes again when the write fails).
        EXPECT_EQ(std::vector<std::uint8_t>(contents.begin(), contents.begin() + 52), newRecord);
      }
      if (!written) continue;
      EXPECT_EQ(cut, old.writingCalls);
      if (old.record.size() == 52) {
        // The copy after the old record first; the version last.
        std::vector<std::wstring> steps;
        for (const auto& call : fresh.files.calls) {
          for (const wchar_t* name : {L"SetFilePointer", L"WriteFile", L"FlushFileBuffers"}) {
            if (call.starts_with(name)) steps.push_back(call);
          }
        }
        EXPECT_THAT(steps, ElementsAre(L"SetFilePointer 52", L"WriteFile 52", L"FlushFileBuffers",
                                       L"SetFilePointer 0", L"WriteFile 4", L"FlushFileBuffers",
                                       L"SetFilePointer 4", L"WriteFile 48", L"FlushFileBuffers",
                                       L"SetFilePointer 0", L"WriteFile 4", L"FlushFileBuffers"));
      }
      break;
    }
  }
}

// The old store left at this writer's backup name by a replace that stopped
// part-way, and neither the record nor the old store movable: where the write
// in place then fails too, the backup (the only record) is kept and no file
// made for the write stays at the store's path, so the next read puts the old
// record back.
TEST_F(StoreTest, OwnBackupIsKeptWhenTheWriteInPlaceFailsAfterTheReplaceLeftTheStoreThere) {
  auto old = Version1Record(kOtherId);
  disk.Put(kCommonPath, old);
  GetIdentityStorePath(files, StoreLocation::Common);
  files.replaceFailure = {kErrorUnableToMoveReplacement2, FaultyFiles::Leaves::ReplacedAtBackup};
  files.immovable = {kTempPath, kBackupPath};
  files.cutPath = kCommonPath;
  files.cutAfter = 0;

  EXPECT_FALSE(WriteIdentityStore(files, kSerial, kAdapterText, kStoredId));
  EXPECT_GE(IndexOf(files.calls, kStoreMadeInPlace), 0) << "the write in place was tried";
  EXPECT_EQ(disk.Contents(kBackupPath), old);
  EXPECT_THAT(disk.FilesIn(kCommonFolder), ElementsAre("Global.db.00001234-00000056-00000000.bak"));

  files.immovable.clear();
  files.cutAfter.reset();
  MachineId identity{};
  bool mustRewrite = false;
  EXPECT_EQ(ReadIdentityStore(files, kAdapterText, kSerial, identity, mustRewrite),
            StoreLookup::Found);
  EXPECT_EQ(identity, kOtherId);
  EXPECT_TRUE(mustRewrite);
  EXPECT_EQ(disk.Contents(kCommonPath), old);
}

// Without either special folder the store has no path: the read searches no
// backups under a bare relative pattern (the current directory) and finds
// nothing.
TEST_F(StoreTest, ReadWithoutSpecialFoldersSearchesNothingRelative) {
  disk.missingSpecialFolders = {kCsidlCommonAppData, kCsidlAppData};
  MachineId identity = kOtherId;
  bool mustRewrite = true;
  EXPECT_EQ(ReadIdentityStore(files, kAdapterText, kSerial, identity, mustRewrite),
            StoreLookup::NotFound);
  EXPECT_EQ(identity, kOtherId);
  EXPECT_FALSE(mustRewrite);
  for (const auto& call : files.CallsStartingWith(L"FindFirstFileW")) {
    EXPECT_EQ(call.find(L'*'), std::wstring::npos) << testing::Narrow(call);
  }
}

// Two readers that find the same whole backups of the same time put back the
// same one: the lower name.
TEST_F(StoreTest, OfTwoBackupsOfTheSameTimeTheLowerNameGoesBack) {
  const std::wstring kLower = kCommonPath + L".00000e00-00000002-00000000.bak";
  const std::wstring kHigher = kCommonPath + L".00000f00-00000001-00000000.bak";
  GetIdentityStorePath(files, StoreLocation::Common);
  for (bool lowerFirst : {true, false}) {
    SCOPED_TRACE(lowerFirst ? "the lower name made first" : "the higher name made first");
    disk.Put(lowerFirst ? kLower : kHigher, Version1Record(lowerFirst ? kOtherId : kThirdId));
    disk.Put(lowerFirst ? kHigher : kLower, Version1Record(lowerFirst ? kThirdId : kOtherId));
    disk.Age(kLower, std::chrono::hours(48));
    std::filesystem::last_write_time(disk.Host(kHigher),
                                     std::filesystem::last_write_time(disk.Host(kLower)));

    MachineId identity{};
    bool mustRewrite = false;
    EXPECT_EQ(ReadIdentityStore(files, kAdapterText, kSerial, identity, mustRewrite),
              StoreLookup::Found);
    EXPECT_EQ(identity, kOtherId);
    EXPECT_FALSE(disk.Exists(kLower));
    EXPECT_EQ(disk.Contents(kHigher), Version1Record(kThirdId));
    files.DeleteFileW(kCommonPath);
    files.DeleteFileW(kHigher);
  }
}

}  // namespace
}  // namespace tarnix
