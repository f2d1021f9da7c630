#include "platform/file_query_win.h"

#include <windows.h>

namespace tarnix::win {

static_assert(kInvalidFileAttributes == INVALID_FILE_ATTRIBUTES);
static_assert(kFileAttributeDirectory == FILE_ATTRIBUTE_DIRECTORY);

std::uint32_t Win32FileQuery::QueryAttributes(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str());
}

}  // namespace tarnix::win
