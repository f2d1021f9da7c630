#include "app/host_lookup.h"

#include <gtest/gtest.h>

#include "fakes/fake_launch_platform.h"
#include "fakes/fake_log.h"
#include "fakes/fake_registry.h"

namespace tarnix {
namespace {

using testing::FakeFiles;
using testing::FakeRegistry;

TEST(ParseHostVersion, ReadsLikeScanfAndStopsAtTheFirstMismatch) {
  struct Case {
    const wchar_t* text;
    HostVersion expected;
  };
  const Case cases[] = {
      {L"1.0.0.78", {{1, 0, 0, 78}}},
      {L"1.0", {{1, 0, 0, 0}}},
      {L"", {{0, 0, 0, 0}}},
      {L"1.2.3.4.5", {{1, 2, 3, 4}}},
      {L"1.2.3.4 and more", {{1, 2, 3, 4}}},
      {L"beta 1.0.0.78", {{0, 0, 0, 0}}},
      {L"  7. 8.\t9", {{7, 8, 9, 0}}},    // white space before a number is skipped
      {L"1 .2", {{1, 0, 0, 0}}},          // ... but not before a "."
      {L"1..2", {{1, 0, 0, 0}}},
      {L"4294967295.0.0.0", {{4294967295u, 0, 0, 0}}},
      {L"4294967296.1", {{0, 1, 0, 0}}},  // wraps modulo 2^32
      {L"-1.+2", {{4294967295u, 2, 0, 0}}},
      {L"2", {{2, 0, 0, 0}}},
      {L"1,2.0.0", {{1, 0, 0, 0}}},       // only "." separates numbers
      {L"1-0-0-78", {{1, 0, 0, 0}}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseHostVersion(c.text).parts, c.expected.parts) << c.text;
  }
}

TEST(IsOlderHostVersion, ComparesComponentsWithWrappingDifferences) {
  struct Case {
    const wchar_t* installed;
    bool older;
  };
  const Case cases[] = {
      {L"1.0.0.78", false}, {L"1.0.0.77", true}, {L"1.0.0.100", false}, {L"1.0.1", false},
      {L"1.0.0", true},     {L"2", false},       {L"beta 1.0.0.78", true},
      // 1 - 4294967295 wraps to +2: counted as older.
      {L"4294967295.0.0.0", true},
      {L"0.4294967295", true},
  };
  HostVersion required = ParseHostVersion(RequiredHostVersion);
  for (const Case& c : cases) {
    EXPECT_EQ(IsOlderHostVersion(ParseHostVersion(c.installed), required), c.older) << c.installed;
  }
}

class RegistryReadTest : public ::testing::Test {
 protected:
  FakeRegistry registry;
};

TEST_F(RegistryReadTest, ReadsTheValueWithQueryAccessOnlyAndClosesTheKey) {
  registry.SetString(RegistryHive::CurrentUser, HostKeyPath, HostPathValueName, L"C:\\T\\host.exe");
  EXPECT_EQ(ReadRegistryString(registry, L"HKEY_CURRENT_USER", HostKeyPath, HostPathValueName),
            L"C:\\T\\host.exe");
  ASSERT_EQ(registry.opens.size(), 1u);
  EXPECT_EQ(registry.opens[0].parent, RegistryParent(RegistryHive::CurrentUser));
  EXPECT_EQ(registry.opens[0].access, 1u);
  EXPECT_FALSE(registry.opens[0].narrow);
  ASSERT_EQ(registry.queries.size(), 1u);
  EXPECT_EQ(registry.queries[0].offered, 520u);
  EXPECT_FALSE(registry.queries[0].narrow);
  EXPECT_TRUE(registry.AllClosed());
}

TEST_F(RegistryReadTest, AnythingMissingOrUnusableReadsAsEmpty) {
  registry.SetString(RegistryHive::LocalMachine, HostKeyPath, HostPathValueName, L"C:\\lm.exe");
  registry.SetString(RegistryHive::CurrentUser, L"K", L"short", L"x");
  // 260 units of text plus the terminator: 522 bytes, more than the 520 offered.
  registry.SetString(RegistryHive::CurrentUser, L"K", L"long", std::wstring(260, L'a'));
  registry.SetString(RegistryHive::CurrentUser, L"K", L"fits", std::wstring(259, L'b'));
  // 520 bytes of text without a terminator still end in a zero unit.
  registry.SetBytes(RegistryHive::CurrentUser, L"K", L"unterminated",
                    std::vector<std::uint8_t>(520, 'c'));

  EXPECT_EQ(ReadRegistryString(registry, L"HKEY_CURRENT_USER", HostKeyPath, HostPathValueName), L"");
  EXPECT_EQ(ReadRegistryString(registry, L"hkey_current_user", L"K", L"short"), L"");
  EXPECT_EQ(ReadRegistryString(registry, L"HKEY_USERS", L"K", L"short"), L"");
  EXPECT_EQ(ReadRegistryString(registry, L"HKEY_CURRENT_USER", L"K", L"missing"), L"");
  EXPECT_EQ(ReadRegistryString(registry, L"HKEY_CURRENT_USER", L"K", L"long"), L"");
  EXPECT_EQ(ReadRegistryString(registry, L"HKEY_CURRENT_USER", L"K", L"fits"), std::wstring(259, L'b'));
  EXPECT_EQ(ReadRegistryString(registry, L"HKEY_CURRENT_USER", L"K", L"unterminated"),
            std::wstring(260, static_cast<wchar_t>(0x6363)));
  EXPECT_EQ(ReadRegistryString(registry, L"HKEY_LOCAL_MACHINE", HostKeyPath, HostPathValueName),
            L"C:\\lm.exe");
  EXPECT_TRUE(registry.AllClosed());
}

TEST(IsHostInstallNeeded, OnlyACurrentUsersRecordOfACurrentHostFileNeedsNone) {
  struct Case {
    const char* name;
    RegistryHive hive;         // where the record is written
    std::uint32_t attributes;  // of the recorded path; 0: no such file
    const wchar_t* version;    // nullptr: no version recorded
    bool needed;
    const wchar_t* logLine;
  };
  const Case cases[] = {
      {"current host", RegistryHive::CurrentUser, 0x20, L"1.0.0.78", false,
       L"host lookup: \"C:\\T\\host.exe\" version \"1.0.0.78\": present"},
      {"path is a folder", RegistryHive::CurrentUser, 0x10, L"1.0.0.78", true,
       L"host lookup: \"C:\\T\\host.exe\": missing"},
      {"no such file", RegistryHive::CurrentUser, 0, L"1.0.0.78", true,
       L"host lookup: \"C:\\T\\host.exe\": missing"},
      {"no version", RegistryHive::CurrentUser, 0x80, nullptr, true,
       L"host lookup: \"C:\\T\\host.exe\" version \"\": too old, needs 1.0.0.78"},
      {"old version", RegistryHive::CurrentUser, 0x80, L"1.0.0.77", true,
       L"host lookup: \"C:\\T\\host.exe\" version \"1.0.0.77\": too old, needs 1.0.0.78"},
      {"record only under the local machine", RegistryHive::LocalMachine, 0x20, L"1.0.0.78", true,
       L"host lookup: \"\": missing"},
  };
  for (const Case& c : cases) {
    testing::RecordedLog lines;
    FakeRegistry registry;
    FakeFiles files;
    registry.SetString(c.hive, HostKeyPath, HostPathValueName, L"C:\\T\\host.exe");
    if (c.attributes != 0) files.attributes[L"C:\\T\\host.exe"] = c.attributes;
    if (c.version != nullptr) registry.SetString(c.hive, UninstallKeyPath, VersionValueName, c.version);
    EXPECT_EQ(IsHostInstallNeeded(registry, files), c.needed) << c.name;
    EXPECT_TRUE(registry.AllClosed()) << c.name;
    EXPECT_EQ(lines.lines, std::vector<std::wstring>{c.logLine}) << c.name;
  }
}

TEST(IsHostInstallNeeded, MissingHostNeedsInstallWithoutReadingTheVersion) {
  FakeRegistry registry;
  FakeFiles files;
  registry.SetString(RegistryHive::CurrentUser, UninstallKeyPath, VersionValueName, L"9.0");
  EXPECT_TRUE(IsHostInstallNeeded(registry, files));
  ASSERT_EQ(registry.opens.size(), 1u);  // the uninstall key is never opened
  EXPECT_EQ(registry.opens[0].path, HostKeyPath);
  EXPECT_EQ(files.asked, std::vector<std::wstring>{L""});
}

}  // namespace
}  // namespace tarnix
