#include "download/shipped_installer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <vector>

namespace tarnix {
namespace {

// Answers GetModuleFileNameW for `path` as Windows does: the whole path and
// its length when it fits with its terminating zero; otherwise as much as
// fits and the buffer's size, unterminated as Windows XP leaves it.
class FakeModulePath : public ModulePathSource {
 public:
  std::wstring path;
  bool fails = false;
  std::vector<std::uint32_t> sizes;  // of every call

  std::uint32_t ModuleFileName(wchar_t* buffer, std::uint32_t size) override {
    sizes.push_back(size);
    if (fails) return 0;
    if (path.size() < size) {
      std::copy(path.begin(), path.end(), buffer);
      buffer[path.size()] = L'\0';
      return static_cast<std::uint32_t>(path.size());
    }
    std::copy_n(path.begin(), size, buffer);
    return size;
  }
};

TEST(LauncherFilePath, ReadsThePathWholeGrowingTheBufferWhileItIsCut) {
  struct Case {
    const char* name;
    std::size_t length;
    std::vector<std::uint32_t> sizes;
  };
  const Case cases[] = {
      {"short", 40, {260}},
      {"one short of the first buffer", 259, {260}},
      {"exactly the first buffer: cut, as there is no room for the zero", 260, {260, 520}},
      {"a long path", 1000, {260, 520, 1040}},
      {"the longest path Windows has", 32767, {260, 520, 1040, 2080, 4160, 8320, 16640, 33280}},
  };
  for (const Case& c : cases) {
    FakeModulePath source;
    source.path = L"C:\\" + std::wstring(c.length - 22, L'a') + L"\\TarnixLauncher.exe";
    ASSERT_EQ(source.path.size(), c.length);
    EXPECT_EQ(LauncherFilePath(source), source.path) << c.name;
    EXPECT_EQ(source.sizes, c.sizes) << c.name;
  }
}

TEST(LauncherFilePath, AFailureOrAPathThatNeverFitsGivesNothing) {
  FakeModulePath failing;
  failing.fails = true;
  failing.path = L"C:\\Apps\\TarnixLauncher.exe";
  EXPECT_EQ(LauncherFilePath(failing), L"");
  FakeModulePath endless;
  endless.path = std::wstring(70000, L'a');
  EXPECT_EQ(LauncherFilePath(endless), L"");
  EXPECT_EQ(endless.sizes.back(), 33280u);  // the first size past the longest path
}

TEST(ShippedInstallerPath, IsTheInstallersNameInTheLaunchersFolder) {
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      {L"C:\\Apps\\Hello\\TarnixLauncher.exe", L"C:\\Apps\\Hello\\TarnixSetup.exe"},
      {L"\\\\server\\share\\offline\\Launcher.exe", L"\\\\server\\share\\offline\\TarnixSetup.exe"},
      {L"\\\\?\\C:\\long\\TarnixLauncher.exe", L"\\\\?\\C:\\long\\TarnixSetup.exe"},
      {L"C:\\TarnixLauncher.exe", L"C:\\TarnixSetup.exe"},
      {L"TarnixLauncher.exe", L""},
      {L"", L""},
  };
  for (const auto& [launcher, installer] : cases)
    EXPECT_EQ(ShippedInstallerPath(launcher), installer) << launcher;
}

TEST(SamePathText, IgnoresTheCaseOfAsciiLettersOnly) {
  EXPECT_TRUE(SamePathText(L"C:\\Temp\\TarnixSetup.exe", L"c:\\TEMP\\tarnixsetup.EXE"));
  EXPECT_FALSE(SamePathText(L"C:\\Temp\\TarnixSetup.exe", L"C:\\Temp2\\TarnixSetup.exe"));
  EXPECT_FALSE(SamePathText(L"C:\\Temp\\TarnixSetup.exe", L"C:\\Temp\\TarnixSetup.ex"));
  // '[' is 'Z' + 1 and '@' is 'A' - 1: no letters.
  EXPECT_FALSE(SamePathText(L"[", L"{"));
  EXPECT_FALSE(SamePathText(L"@", L"`"));
}

// Answers identities from a table of paths; every other path cannot be read.
class FakeFileIdentities : public FileIdentitySource {
 public:
  std::map<std::wstring, FileIdentity> files;
  bool QueryFileIdentity(const std::wstring& path, FileIdentity* identity) override {
    auto found = files.find(path);
    if (found == files.end()) return false;
    *identity = found->second;
    return true;
  }
};

TEST(NotAShippedInstaller, ComparesFileIdentitiesAndTheTextWhereAnIdentityCannotBeRead) {
  const std::wstring shipped = L"D:\\Offline\\TarnixSetup.exe";
  const std::wstring launcher = L"D:\\Offline\\TarnixLauncher.exe";
  const std::wstring temp = L"C:\\Users\\Ann\\AppData\\Local\\Temp\\TarnixSetup.exe";
  const std::wstring launcherItself = L" is the launcher itself";
  const std::wstring downloadsOwn =
      L" is the download's own file (the launcher runs from the temporary folder)";
  const FileIdentity a{0x1234, 42};
  const FileIdentity b{0x1234, 43};
  struct Case {
    const char* name;
    std::wstring shipped, launcher, download;
    std::map<std::wstring, FileIdentity> files;
    std::wstring reason;
  } cases[] = {
      {"an installer of its own",
       shipped,
       launcher,
       temp,
       {{shipped, a}, {launcher, b}, {temp, FileIdentity{0x5678, 42}}},
       L""},
      {"the launcher saved as the installer",
       shipped,
       shipped,
       temp,
       {{shipped, a}},
       launcherItself},
      // Saved as TarnixSetup.exe in "D:\\Offline kit" and started by its short path.
      {"the launcher by its short 8.3 path",
       L"D:\\OFFLIN~1\\TarnixSetup.exe",
       L"D:\\OFFLIN~1\\TARNIX~1.EXE",
       temp,
       {{L"D:\\OFFLIN~1\\TarnixSetup.exe", a}, {L"D:\\OFFLIN~1\\TARNIX~1.EXE", a}},
       launcherItself},
      {"a launcher so saved in the temporary folder is the launcher first",
       temp,
       temp,
       temp,
       {{temp, a}},
       launcherItself},
      {"the download's file by the short form of TEMP",
       L"C:\\Users\\Ann Lee\\AppData\\Local\\Temp\\TarnixSetup.exe",
       L"C:\\Users\\Ann Lee\\AppData\\Local\\Temp\\TarnixLauncher.exe",
       L"C:\\Users\\ANNLEE~1\\AppData\\Local\\Temp\\TarnixSetup.exe",
       {{L"C:\\Users\\Ann Lee\\AppData\\Local\\Temp\\TarnixSetup.exe", b},
        {L"C:\\Users\\Ann Lee\\AppData\\Local\\Temp\\TarnixLauncher.exe", a},
        {L"C:\\Users\\ANNLEE~1\\AppData\\Local\\Temp\\TarnixSetup.exe", b}},
       downloadsOwn},
      {"the download's file by a TEMP with a trailing backslash",
       L"C:\\Temp\\TarnixSetup.exe",
       L"C:\\Temp\\TarnixLauncher.exe",
       L"C:\\Temp\\\\TarnixSetup.exe",
       {{L"C:\\Temp\\TarnixSetup.exe", b}, {L"C:\\Temp\\\\TarnixSetup.exe", b}},
       downloadsOwn},
      {"the download's file by a \\\\?\\ prefix",
       L"C:\\Temp\\TarnixSetup.exe",
       L"C:\\Temp\\TarnixLauncher.exe",
       L"\\\\?\\C:\\Temp\\TarnixSetup.exe",
       {{L"C:\\Temp\\TarnixSetup.exe", b}, {L"\\\\?\\C:\\Temp\\TarnixSetup.exe", b}},
       downloadsOwn},
      // Without identities, the text decides, as it did before identities.
      {"no identities: the download's file by another case",
       L"c:\\t\\tarnixsetup.EXE",
       L"c:\\t\\TarnixLauncher.exe",
       L"C:\\T\\TarnixSetup.exe",
       {},
       downloadsOwn},
      {"no identities: the launcher saved as the installer",
       shipped,
       shipped,
       temp,
       {},
       launcherItself},
      {"no identities: an installer of its own", shipped, launcher, temp, {}, L""},
      {"only the installer's identity: by text", shipped, launcher, temp, {{shipped, a}}, L""},
      {"only the launcher's identity: by text",
       shipped,
       L"D:\\OFFLIN~1\\TARNIX~1.EXE",
       temp,
       {{L"D:\\OFFLIN~1\\TARNIX~1.EXE", a}},
       L""},
      // A network file system may answer file index 0 for every file: no identity.
      {"file index 0 everywhere: by text",
       shipped,
       launcher,
       temp,
       {{shipped, FileIdentity{7, 0}}, {launcher, FileIdentity{7, 0}}, {temp, FileIdentity{7, 0}}},
       L""},
  };
  for (const Case& c : cases) {
    FakeFileIdentities files;
    files.files = c.files;
    EXPECT_EQ(NotAShippedInstaller(files, c.shipped, c.launcher, c.download), c.reason) << c.name;
  }
}

}  // namespace
}  // namespace tarnix
