#pragma once
// Test doubles of StoreFileSystem:
// - TempFolderFiles: a drive "C:" over a real temporary folder, with Windows
//   paths mapped onto it and the status query refusing a trailing separator
//   as the C run-time does;
// - FaultyFiles: wraps another StoreFileSystem, records every call and injects
//   faults by flag (a folder that cannot be written, a file that may be written
//   but not deleted, a name that cannot be created, a disk that fills up after
//   N bytes, a failed copy, move or flush, a replacement that fails part-way).

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "identity/identity_store.h"

namespace tarnix::testing {

inline std::string Narrow(const std::wstring& text) {
  std::string narrow;
  for (wchar_t c : text) narrow.push_back(static_cast<char>(c));
  return narrow;
}

class TempFolderFiles : public StoreFileSystem {
 public:
  static constexpr wchar_t kCommonAppData[] = L"C:\\ProgramData";
  static constexpr wchar_t kAppData[] = L"C:\\Users\\me\\AppData\\Roaming";

  TempFolderFiles() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tarnix-store-XXXXXX").string();
    root_ = ::mkdtemp(pattern.data());
  }
  ~TempFolderFiles() override {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }

  // The host path of a "C:\..." path; empty for anything else.
  std::filesystem::path Host(const std::wstring& path) const {
    if (path.size() < 2 || (path[0] != L'C' && path[0] != L'c') || path[1] != L':') return {};
    std::string rest = Narrow(path.substr(2));
    for (char& c : rest) {
      if (c == '\\') c = '/';
    }
    return std::filesystem::path(root_.string() + "/" + rest).lexically_normal();
  }

  bool Exists(const std::wstring& path) const { return std::filesystem::exists(Host(path)); }
  std::vector<std::uint8_t> Contents(const std::wstring& path) const {
    std::ifstream in(Host(path), std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
  }
  void Put(const std::wstring& path, const std::vector<std::uint8_t>& bytes) const {
    std::filesystem::create_directories(Host(path).parent_path());
    std::ofstream out(Host(path), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }
  // Every file name below `folder`, sorted.
  std::set<std::string> FilesIn(const std::wstring& folder) const {
    std::set<std::string> names;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(Host(folder), ignored)) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

  std::set<int> missingSpecialFolders;

  bool GetSpecialFolderPath(wchar_t* buffer, int csidl, bool create) override {
    std::wstring path;
    if (csidl == kCsidlCommonAppData) path = kCommonAppData;
    if (csidl == kCsidlAppData) path = kAppData;
    if (path.empty() || missingSpecialFolders.count(csidl) != 0) return false;
    if (create) std::filesystem::create_directories(Host(path));
    path.copy(buffer, path.size());
    buffer[path.size()] = L'\0';
    return true;
  }

  StoreHandle CreateFileW(const std::wstring& path, std::uint32_t access, std::uint32_t,
                          std::uint32_t disposition, std::uint32_t) override {
    auto host = Host(path);
    if (host.empty()) return kInvalidHandleValue;
    int flags = (access & kGenericWrite) != 0 ? O_WRONLY : O_RDONLY;
    if (disposition == kCreateAlways) flags |= O_CREAT | O_TRUNC;
    int fd = ::open(host.c_str(), flags, 0644);
    if (fd < 0) return kInvalidHandleValue;
    struct stat status {};
    if (::fstat(fd, &status) != 0 || S_ISDIR(status.st_mode)) {
      ::close(fd);
      return kInvalidHandleValue;
    }
    return static_cast<StoreHandle>(fd);
  }
  bool ReadFile(StoreHandle file, void* buffer, std::uint32_t size, std::uint32_t* read) override {
    ssize_t count = ::read(static_cast<int>(file), buffer, size);
    *read = count > 0 ? static_cast<std::uint32_t>(count) : 0;
    return count >= 0;
  }
  bool WriteFile(StoreHandle file, const void* data, std::uint32_t size,
                 std::uint32_t* written) override {
    ssize_t count = ::write(static_cast<int>(file), data, size);
    *written = count > 0 ? static_cast<std::uint32_t>(count) : 0;
    return count >= 0;
  }
  bool FlushFileBuffers(StoreHandle file) override { return ::fsync(static_cast<int>(file)) == 0; }
  std::uint32_t GetFileSize(StoreHandle file) override {
    struct stat status {};
    if (::fstat(static_cast<int>(file), &status) != 0) return 0xFFFFFFFFu;
    return static_cast<std::uint32_t>(status.st_size);
  }
  void CloseHandle(StoreHandle file) override { ::close(static_cast<int>(file)); }

  StoreHandle FindFirstFileW(const std::wstring& path) override {
    if (Host(path).empty() || !std::filesystem::exists(Host(path))) return kInvalidHandleValue;
    return ++searches_;
  }
  void FindClose(StoreHandle) override {}

  bool CopyFileW(const std::wstring& from, const std::wstring& to, bool failIfExists) override {
    if (Host(from).empty() || Host(to).empty()) return false;
    auto options = failIfExists ? std::filesystem::copy_options::none
                                : std::filesystem::copy_options::overwrite_existing;
    std::error_code error;
    return std::filesystem::copy_file(Host(from), Host(to), options, error) && !error;
  }
  bool DeleteFileW(const std::wstring& path) override {
    return !Host(path).empty() && ::unlink(Host(path).c_str()) == 0;
  }
  bool MoveFileExW(const std::wstring& from, const std::wstring& to, std::uint32_t flags) override {
    if (Host(from).empty() || Host(to).empty()) return false;
    if ((flags & kMoveFileReplaceExisting) == 0 && std::filesystem::exists(Host(to))) return false;
    return ::rename(Host(from).c_str(), Host(to).c_str()) == 0;
  }
  // Both files must exist; there is no backup.
  bool ReplaceFileW(const std::wstring& replaced, const std::wstring& replacement,
                    std::uint32_t) override {
    if (Host(replaced).empty() || Host(replacement).empty()) return false;
    if (!std::filesystem::exists(Host(replaced))) return false;
    return ::rename(Host(replacement).c_str(), Host(replaced).c_str()) == 0;
  }

  bool Stat(const std::wstring& path, std::uint32_t* mode) override {
    // The C run-time refuses a trailing separator except on a drive root.
    bool driveRoot = path.size() == 3 && path[1] == L':';
    if (!driveRoot && !path.empty() && (path.back() == L'\\' || path.back() == L'/')) {
      return false;
    }
    auto host = Host(path);
    struct stat status {};
    if (host.empty() || ::stat(host.c_str(), &status) != 0) return false;
    *mode = S_ISDIR(status.st_mode) ? kStatModeDirectory : 0x8000u;
    return true;
  }
  bool MakeDirectory(const std::wstring& path) override {
    auto host = Host(path);
    return !host.empty() && ::mkdir(host.c_str(), 0755) == 0;
  }

 private:
  std::filesystem::path root_;
  StoreHandle searches_ = 0x100;
};

class FaultyFiles : public StoreFileSystem {
 public:
  explicit FaultyFiles(StoreFileSystem& base) : base_(base) {}

  // Every call, as "Name argument...".
  std::vector<std::wstring> calls;
  // Creating, copying to, moving to, deleting in and making folders below
  // this prefix fails, as in a folder the user may not write.
  std::wstring readOnlyPrefix;
  // Bytes that may still be written; a write beyond them writes what fits
  // and fails, as on a full disk.
  std::optional<std::uint32_t> writeBudget;
  // Files this account may write but not delete, as a store made by another
  // account: deleting them, moving onto them and replacing them fail.
  std::set<std::wstring> undeletable;
  // Names that cannot be created or opened for writing, as a stale file of
  // another account.
  std::set<std::wstring> refusedNames;
  bool failCopy = false;
  bool failFlush = false;
  bool failMove = false;
  // ReplaceFileW removes the replaced file and then fails, leaving the
  // replacement under its own name (ERROR_UNABLE_TO_MOVE_REPLACEMENT).
  bool replaceLosesReplaced = false;
  std::size_t openHandles = 0;

  bool ReadOnly(const std::wstring& path) const {
    return !readOnlyPrefix.empty() && path.starts_with(readOnlyPrefix);
  }
  bool Undeletable(const std::wstring& path) const {
    return ReadOnly(path) || undeletable.count(path) != 0;
  }

  bool GetSpecialFolderPath(wchar_t* buffer, int csidl, bool create) override {
    calls.push_back(L"GetSpecialFolderPath " + std::to_wstring(csidl) + (create ? L" 1" : L" 0"));
    return base_.GetSpecialFolderPath(buffer, csidl, create);
  }
  StoreHandle CreateFileW(const std::wstring& path, std::uint32_t access, std::uint32_t shareMode,
                          std::uint32_t disposition, std::uint32_t flags) override {
    calls.push_back(L"CreateFileW " + path + L" " + std::to_wstring(access) + L" " +
                    std::to_wstring(shareMode) + L" " + std::to_wstring(disposition) + L" " +
                    std::to_wstring(flags));
    if ((access & kGenericWrite) != 0 && (ReadOnly(path) || refusedNames.count(path) != 0)) {
      return kInvalidHandleValue;
    }
    StoreHandle file = base_.CreateFileW(path, access, shareMode, disposition, flags);
    if (file != kInvalidHandleValue) ++openHandles;
    return file;
  }
  bool ReadFile(StoreHandle file, void* buffer, std::uint32_t size, std::uint32_t* read) override {
    calls.push_back(L"ReadFile " + std::to_wstring(size));
    return base_.ReadFile(file, buffer, size, read);
  }
  bool WriteFile(StoreHandle file, const void* data, std::uint32_t size,
                 std::uint32_t* written) override {
    calls.push_back(L"WriteFile " + std::to_wstring(size));
    if (writeBudget && *writeBudget < size) {
      std::uint32_t fits = *writeBudget;
      writeBudget = 0;
      base_.WriteFile(file, data, fits, written);
      return false;
    }
    if (writeBudget) *writeBudget -= size;
    return base_.WriteFile(file, data, size, written);
  }
  bool FlushFileBuffers(StoreHandle file) override {
    calls.push_back(L"FlushFileBuffers");
    return !failFlush && base_.FlushFileBuffers(file);
  }
  std::uint32_t GetFileSize(StoreHandle file) override {
    calls.push_back(L"GetFileSize");
    return base_.GetFileSize(file);
  }
  void CloseHandle(StoreHandle file) override {
    calls.push_back(L"CloseHandle");
    --openHandles;
    base_.CloseHandle(file);
  }
  StoreHandle FindFirstFileW(const std::wstring& path) override {
    calls.push_back(L"FindFirstFileW " + path);
    StoreHandle search = base_.FindFirstFileW(path);
    if (search != kInvalidHandleValue) ++openHandles;
    return search;
  }
  void FindClose(StoreHandle search) override {
    calls.push_back(L"FindClose");
    --openHandles;
    base_.FindClose(search);
  }
  bool CopyFileW(const std::wstring& from, const std::wstring& to, bool failIfExists) override {
    calls.push_back(L"CopyFileW " + from + L" " + to + (failIfExists ? L" 1" : L" 0"));
    if (failCopy || ReadOnly(to)) return false;
    return base_.CopyFileW(from, to, failIfExists);
  }
  bool DeleteFileW(const std::wstring& path) override {
    calls.push_back(L"DeleteFileW " + path);
    if (Undeletable(path)) return false;
    return base_.DeleteFileW(path);
  }
  bool MoveFileExW(const std::wstring& from, const std::wstring& to, std::uint32_t flags) override {
    calls.push_back(L"MoveFileExW " + from + L" " + to + L" " + std::to_wstring(flags));
    if (failMove || Undeletable(to)) return false;
    return base_.MoveFileExW(from, to, flags);
  }
  bool ReplaceFileW(const std::wstring& replaced, const std::wstring& replacement,
                    std::uint32_t flags) override {
    calls.push_back(L"ReplaceFileW " + replaced + L" " + replacement + L" " +
                    std::to_wstring(flags));
    if (Undeletable(replaced)) return false;
    if (replaceLosesReplaced) {
      base_.DeleteFileW(replaced);
      return false;
    }
    return base_.ReplaceFileW(replaced, replacement, flags);
  }
  bool Stat(const std::wstring& path, std::uint32_t* mode) override {
    calls.push_back(L"Stat " + path);
    return base_.Stat(path, mode);
  }
  bool MakeDirectory(const std::wstring& path) override {
    calls.push_back(L"MakeDirectory " + path);
    if (ReadOnly(path)) return false;
    return base_.MakeDirectory(path);
  }

  // The calls whose text starts with `prefix`.
  std::vector<std::wstring> CallsStartingWith(const std::wstring& prefix) const {
    std::vector<std::wstring> matching;
    for (const auto& call : calls) {
      if (call.starts_with(prefix)) matching.push_back(call);
    }
    return matching;
  }

 private:
  StoreFileSystem& base_;
};

}  // namespace tarnix::testing
