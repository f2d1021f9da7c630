#include "download/shipped_installer.h"

#include <gtest/gtest.h>

#include <algorithm>
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

}  // namespace
}  // namespace tarnix
