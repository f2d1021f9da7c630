#include "platform/win_handles_win.h"

#include <string>

namespace tarnix::win {

UniqueModule LoadSystemLibrary(const wchar_t* fileName) {
  wchar_t directory[MAX_PATH] = {};
  UINT length = ::GetSystemDirectoryW(directory, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return UniqueModule();
  std::wstring path(directory, length);
  if (path.back() != L'\\') path += L'\\';
  path += fileName;
  return UniqueModule(::LoadLibraryW(path.c_str()));
}

}  // namespace tarnix::win
