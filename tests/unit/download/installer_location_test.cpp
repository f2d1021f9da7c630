#include "download/installer_location.h"

#include <gtest/gtest.h>

namespace tarnix {
namespace {

TEST(InstallerPath, JoinsTempAndTheFileNameWithOneBackslash) {
  EXPECT_EQ(InstallerPath(L"C:\\T"), L"C:\\T\\TarnixSetup.exe");
  // No separator is dropped or added beyond the one: a trailing backslash stays doubled.
  EXPECT_EQ(InstallerPath(L"C:\\T\\"), L"C:\\T\\\\TarnixSetup.exe");
  EXPECT_EQ(InstallerPath(L"C:\\临时 文件"), L"C:\\临时 文件\\TarnixSetup.exe");
}

TEST(InstallerPath, UnsetOrEmptyTempGivesThePathAtTheDriveRoot) {
  EXPECT_EQ(InstallerPath(nullptr), L"\\TarnixSetup.exe");
  EXPECT_EQ(InstallerPath(L""), L"\\TarnixSetup.exe");
}

}  // namespace
}  // namespace tarnix
