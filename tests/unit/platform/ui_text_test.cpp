#include "platform/ui_text.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace tarnix {
namespace {

TEST(UiTextTest, EveryChineseUiLanguageIsChineseAndEveryOtherEnglish) {
  struct Case {
    std::uint16_t languageId;
    UiLanguage expected;
  };
  const Case cases[] = {
      {0x0804, UiLanguage::kChinese},  // zh-CN
      {0x0404, UiLanguage::kChinese},  // zh-TW
      {0x0C04, UiLanguage::kChinese},  // zh-HK
      {0x1004, UiLanguage::kChinese},  // zh-SG
      {0x1404, UiLanguage::kChinese},  // zh-MO
      {0x7C04, UiLanguage::kChinese},  // zh-Hant, a neutral sublanguage
      {0x0004, UiLanguage::kChinese},  // zh-Hans, the neutral one
      {0x0409, UiLanguage::kEnglish},  // en-US
      {0x0809, UiLanguage::kEnglish},  // en-GB
      {0x0411, UiLanguage::kEnglish},  // ja-JP
      {0x0412, UiLanguage::kEnglish},  // ko-KR
      {0x0407, UiLanguage::kEnglish},  // de-DE
      {0x0000, UiLanguage::kEnglish},  // LANG_NEUTRAL
      {0x0400, UiLanguage::kEnglish},  // user default, never a real answer
      // Only the low 10 bits name the language: a primary id whose low byte is 4 is not Chinese.
      {0x0104, UiLanguage::kEnglish},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(UiLanguageFor(c.languageId), c.expected) << std::hex << c.languageId;
  }
}

TEST(UiTextTest, TheChineseTextsAreTodaysAndEveryTextHasEveryLanguage) {
  EXPECT_EQ(std::wstring(UiTextIn(UiLanguage::kChinese, UiText::kRunAppFailed)), L"运行App失败！");
  EXPECT_EQ(std::wstring(UiTextIn(UiLanguage::kChinese, UiText::kInstallFailed)),
            L"安装Tarnix失败！");
  EXPECT_EQ(std::wstring(UiTextIn(UiLanguage::kChinese, UiText::kDownloadFailed)), L"下载失败！");
  EXPECT_EQ(std::wstring(UiTextIn(UiLanguage::kChinese, UiText::kDownloadThreadFailed)),
            L"下载线程创建失败！");
  EXPECT_EQ(std::wstring(UiTextIn(UiLanguage::kChinese, UiText::kProgressLabel)), L"下载的进度：");
  EXPECT_EQ(std::wstring(UiTextIn(UiLanguage::kChinese, UiText::kDoneButton)), L"完成");
  EXPECT_EQ(std::wstring(UiTextIn(UiLanguage::kEnglish, UiText::kRunAppFailed)),
            L"The application could not be started.");
  EXPECT_EQ(std::wstring(UiTextIn(UiLanguage::kEnglish, UiText::kProgressLabel)),
            L"Download progress:");
  for (std::size_t language = 0; language < static_cast<std::size_t>(UiLanguage::kCount);
       ++language) {
    for (std::size_t text = 0; text < static_cast<std::size_t>(UiText::kCount); ++text) {
      const wchar_t* value = UiTextIn(static_cast<UiLanguage>(language), static_cast<UiText>(text));
      ASSERT_NE(value, nullptr);
      EXPECT_NE(value[0], L'\0') << language << " " << text;
    }
  }
}

TEST(UiTextTest, FillReplacesNumberedPlaceholdersInAnyOrderAndLeavesOtherPercentSigns) {
  struct Case {
    const wchar_t* pattern;
    const wchar_t* filled;
  };
  const Case cases[] = {
      {L"%1 MB of %2 MB", L"a MB of bb MB"},
      {L"%2 / %1", L"bb / a"},  // a language may need another order
      {L"%1%2%1", L"abba"},
      {L"100% done", L"100% done"},  // not a placeholder
      {L"%3 and %0", L"%3 and %0"},  // no third value; %0 is none
      {L"ends in %", L"ends in %"},
      {L"", L""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FillUiText(c.pattern, {L"a", L"bb"}), c.filled) << c.pattern;
  }
  // A value is put in as it is, never read as a pattern itself.
  EXPECT_EQ(FillUiText(L"%1 %2", {L"%2", L"x"}), L"%2 x");
}

}  // namespace
}  // namespace tarnix
