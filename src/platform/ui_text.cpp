#include "platform/ui_text.h"

#include <cstddef>

namespace tarnix {
namespace {

constexpr std::uint16_t kPrimaryLanguageMask = 0x3FF;  // PRIMARYLANGID: the low 10 bits
constexpr std::uint16_t kLangChinese = 0x04;           // LANG_CHINESE

constexpr std::size_t kTextCount = static_cast<std::size_t>(UiText::kCount);
constexpr std::size_t kLanguageCount = static_cast<std::size_t>(UiLanguage::kCount);

// A row per text, in the order of UiText; a column per language, in the order of UiLanguage.
constexpr const wchar_t* kTexts[kTextCount][kLanguageCount] = {
    {L"运行App失败！", L"The application could not be started."},
    {L"安装Tarnix失败！", L"Tarnix could not be installed."},
    {L"下载失败！", L"The download failed."},
    {L"下载线程创建失败！", L"The download could not be started."},
    {L"下载的进度：", L"Download progress:"},
    {L"完成", L"Done"},
    {L"已下载 %1 MB", L"%1 MB"},
    {L"已下载 %1 MB / %2 MB", L"%1 MB of %2 MB"},
    {L"已下载 %1 MB / %2 MB，剩余约 %3", L"%1 MB of %2 MB, about %3 left"},
    {L"%1 秒", L"%1 s"},
    {L"%1 分钟", L"%1 min"},
    {L"%1 小时", L"%1 h"},
};

}  // namespace

UiLanguage UiLanguageFor(std::uint16_t languageId) {
  return (languageId & kPrimaryLanguageMask) == kLangChinese ? UiLanguage::kChinese
                                                             : UiLanguage::kEnglish;
}

const wchar_t* UiTextIn(UiLanguage language, UiText text) {
  return kTexts[static_cast<std::size_t>(text)][static_cast<std::size_t>(language)];
}

std::wstring FillUiText(const wchar_t* pattern, std::initializer_list<std::wstring_view> values) {
  std::wstring filled;
  for (const wchar_t* p = pattern; *p != L'\0'; ++p) {
    if (p[0] == L'%' && p[1] >= L'1' && p[1] <= L'9') {
      const auto index = static_cast<std::size_t>(p[1] - L'1');
      if (index < values.size()) {
        filled += values.begin()[index];
        ++p;
        continue;
      }
    }
    filled += *p;
  }
  return filled;
}

}  // namespace tarnix
