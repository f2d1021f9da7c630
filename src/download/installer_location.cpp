#include "download/installer_location.h"

namespace tarnix {

std::wstring InstallerPath(const wchar_t* tempValue) {
  std::wstring path = tempValue != nullptr ? tempValue : L"";
  path += L'\\';
  path += kInstallerFileName;
  return path;
}

}  // namespace tarnix
