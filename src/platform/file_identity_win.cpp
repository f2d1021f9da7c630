#include "platform/file_identity_win.h"

#include <windows.h>

#include "platform/win_handles_win.h"

namespace tarnix::win {

// FILE_READ_ATTRIBUTES is what GetFileInformationByHandle needs; an access
// that reads no data meets no other opener's share mode.
bool QueryFileIdentityOnSystem(const std::wstring& path, FileIdentity* identity) {
  UniqueFile file(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr));
  if (!file.IsValid()) return false;
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(file.Get(), &info)) return false;
  identity->volumeSerial = info.dwVolumeSerialNumber;
  identity->fileIndex =
      (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}

}  // namespace tarnix::win
