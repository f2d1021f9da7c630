#pragma once
#include "identity/identity_store_io.h"

namespace tarnix::win {

// The real shell folders, files and C run-time folder calls.
class Win32StoreFileSystem final : public StoreFileSystem {
 public:
  bool GetSpecialFolderPath(wchar_t* buffer, int csidl, bool create) override;
  StoreHandle CreateFileW(const std::wstring& path, std::uint32_t access, std::uint32_t shareMode,
                          std::uint32_t disposition, std::uint32_t flags,
                          std::uint32_t* error) override;
  bool ReadFile(StoreHandle file, void* buffer, std::uint32_t size, std::uint32_t* read,
                std::uint32_t* error) override;
  bool WriteFile(StoreHandle file, const void* data, std::uint32_t size,
                 std::uint32_t* written) override;
  bool SetFilePointer(StoreHandle file, std::uint32_t offset) override;
  bool FlushFileBuffers(StoreHandle file) override;
  std::uint32_t GetFileSize(StoreHandle file) override;
  void CloseHandle(StoreHandle file) override;
  StoreHandle FindFirstFileW(const std::wstring& path, StoreFindData* found,
                             std::uint32_t* error) override;
  bool FindNextFileW(StoreHandle search, StoreFindData* found) override;
  void FindClose(StoreHandle search) override;
  bool DeleteFileW(const std::wstring& path) override;
  bool MoveFileExW(const std::wstring& from, const std::wstring& to, std::uint32_t flags) override;
  std::uint32_t ReplaceFileW(const std::wstring& replaced, const std::wstring& replacement,
                             const std::wstring& backup, std::uint32_t flags) override;
  std::uint64_t GetSystemTimeAsFileTime() override;
  std::uint32_t GetCurrentProcessId() override;
  std::uint32_t GetCurrentThreadId() override;
  void Sleep(std::uint32_t milliseconds) override;
  bool Stat(const std::wstring& path, std::uint32_t* mode) override;
  bool MakeDirectory(const std::wstring& path) override;
};

}  // namespace tarnix::win
