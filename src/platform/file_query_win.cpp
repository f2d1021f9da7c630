#include "platform/file_query_win.h"

#include <windows.h>

namespace tarnix::win {

std::uint32_t Win32FileQuery::QueryAttributes(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str());
}

}  // namespace tarnix::win
