#pragma once
// Test doubles of StoreFileSystem:
// - TempFolderFiles: a drive "C:" over a real temporary folder, with Windows
//   paths mapped onto it and the status query refusing a trailing separator
//   as the C run-time does;
// - FaultyFiles: wraps another StoreFileSystem, records every call, keeps
//   Windows' sharing rules (an open file blocks what its share mode does not
//   allow, and a file that is open cannot be moved or replace another) and
//   injects faults by flag (a folder that cannot be written, a file that may be
//   written but not deleted, a folder where no file may be made, a disk that
//   fills up after N bytes, a failed move or flush, a replacement that stops
//   part-way as documented, a store another process has locked, a file whose
//   open or read fails with a given error, a folder whose search does, a
//   write cut off after N calls), and runs a step of the test's own before a
//   named call (or a call with given arguments) or between the two renames of
//   a replace (another launcher at work).

#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>
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
                          std::uint32_t disposition, std::uint32_t, std::uint32_t* error) override {
    auto host = Host(path);
    *error = kErrorFileNotFound;
    if (host.empty()) return kInvalidHandleValue;
    int flags = (access & kGenericWrite) == 0  ? O_RDONLY
                : (access & kGenericRead) != 0 ? O_RDWR
                                               : O_WRONLY;
    if (disposition == kCreateAlways) flags |= O_CREAT | O_TRUNC;
    if (disposition == kCreateNew) flags |= O_CREAT | O_EXCL;
    int fd = ::open(host.c_str(), flags, 0644);
    if (fd < 0) {
      // Windows tells a missing folder along the path from a missing file.
      bool folderMissing = errno == ENOTDIR ||
                           (errno == ENOENT && !std::filesystem::is_directory(host.parent_path()));
      *error = errno == EEXIST   ? kErrorFileExists
               : folderMissing   ? kErrorPathNotFound
               : errno == ENOENT ? kErrorFileNotFound
                                 : kErrorAccessDenied;
      return kInvalidHandleValue;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || S_ISDIR(status.st_mode)) {
      ::close(fd);
      *error = kErrorAccessDenied;
      return kInvalidHandleValue;
    }
    *error = 0;
    return static_cast<StoreHandle>(fd);
  }
  bool ReadFile(StoreHandle file, void* buffer, std::uint32_t size, std::uint32_t* read,
                std::uint32_t* error) override {
    ssize_t count = ::read(static_cast<int>(file), buffer, size);
    *read = count > 0 ? static_cast<std::uint32_t>(count) : 0;
    *error = count >= 0 ? 0 : kErrorAccessDenied;
    return count >= 0;
  }
  bool SetFilePointer(StoreHandle file, std::uint32_t offset) override {
    return ::lseek(static_cast<int>(file), static_cast<off_t>(offset), SEEK_SET) >= 0;
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

  // Wildcards in the last part of the path match with the shell's rules
  // ("*" and "?"); the entries come in the folder's order. No match fails
  // with ERROR_FILE_NOT_FOUND, a missing folder with ERROR_PATH_NOT_FOUND.
  StoreHandle FindFirstFileW(const std::wstring& path, StoreFindData* found,
                             std::uint32_t* error) override {
    auto host = Host(path);
    *error = kErrorPathNotFound;
    if (host.empty() || !std::filesystem::is_directory(host.parent_path())) {
      return kInvalidHandleValue;
    }
    std::vector<StoreFindData> entries;
    std::string pattern = host.filename().string();
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(host.parent_path(), ignored)) {
      std::string name = entry.path().filename().string();
      if (::fnmatch(pattern.c_str(), name.c_str(), 0) == 0) entries.push_back(Entry(entry.path()));
    }
    *error = kErrorFileNotFound;
    if (entries.empty()) return kInvalidHandleValue;
    *error = 0;
    *found = entries.front();
    entries.erase(entries.begin());
    searches_[++lastSearch_] = std::move(entries);
    return lastSearch_;
  }
  bool FindNextFileW(StoreHandle search, StoreFindData* found) override {
    auto& entries = searches_.at(search);
    if (entries.empty()) return false;
    *found = entries.front();
    entries.erase(entries.begin());
    return true;
  }
  void FindClose(StoreHandle search) override { searches_.erase(search); }

  // Copies `from` over `to` (not a call of the interface).
  bool Copy(const std::wstring& from, const std::wstring& to) const {
    if (Host(from).empty() || Host(to).empty()) return false;
    std::error_code error;
    return std::filesystem::copy_file(Host(from), Host(to),
                                      std::filesystem::copy_options::overwrite_existing, error) &&
           !error;
  }
  bool DeleteFileW(const std::wstring& path) override {
    return !Host(path).empty() && ::unlink(Host(path).c_str()) == 0;
  }
  bool MoveFileExW(const std::wstring& from, const std::wstring& to, std::uint32_t flags) override {
    if (Host(from).empty() || Host(to).empty()) return false;
    if ((flags & kMoveFileReplaceExisting) == 0 && std::filesystem::exists(Host(to))) return false;
    return ::rename(Host(from).c_str(), Host(to).c_str()) == 0;
  }
  // Both files must exist; the replaced file goes to the backup name, if any.
  std::uint32_t ReplaceFileW(const std::wstring& replaced, const std::wstring& replacement,
                             const std::wstring& backup, std::uint32_t) override {
    if (Host(replaced).empty() || Host(replacement).empty()) return kErrorFileNotFound;
    if (!std::filesystem::exists(Host(replaced)) || !std::filesystem::exists(Host(replacement))) {
      return kErrorFileNotFound;
    }
    if (!backup.empty() && ::rename(Host(replaced).c_str(), Host(backup).c_str()) != 0) {
      return kErrorUnableToRemoveReplaced;
    }
    if (::rename(Host(replacement).c_str(), Host(replaced).c_str()) != 0) {
      return kErrorUnableToMoveReplacement2;
    }
    return 0;
  }

  std::uint64_t GetSystemTimeAsFileTime() override {
    return FileTime(std::chrono::system_clock::now().time_since_epoch());
  }
  std::uint32_t GetCurrentProcessId() override { return processId; }
  // The test's own thread is thread 0x56, any other 0x99.
  std::uint32_t GetCurrentThreadId() override {
    return std::this_thread::get_id() == testThread_ ? 0x56u : 0x99u;
  }
  std::uint32_t processId = 0x1234;
  // No real pause: a test sees the pauses in FaultyFiles' calls.
  void Sleep(std::uint32_t) override {}

  // Sets the file's last write time `age` before now.
  void Age(const std::wstring& path, std::chrono::seconds age) const {
    auto when = std::chrono::system_clock::now() - age;
    auto since = std::chrono::duration_cast<std::chrono::microseconds>(when.time_since_epoch());
    struct timeval times[2];
    for (auto& time : times) {
      time.tv_sec = static_cast<time_t>(since.count() / 1'000'000);
      time.tv_usec = static_cast<suseconds_t>(since.count() % 1'000'000);
    }
    ::utimes(Host(path).c_str(), times);
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
  // 100 ns units since 1601 of a time since 1970.
  template <typename Duration>
  static std::uint64_t FileTime(Duration sinceUnixEpoch) {
    constexpr std::uint64_t kSeconds1601To1970 = 11644473600ull;
    auto ticks =
        std::chrono::duration_cast<std::chrono::duration<std::int64_t, std::ratio<1, 10'000'000>>>(
            sinceUnixEpoch);
    return kSeconds1601To1970 * 10'000'000 + static_cast<std::uint64_t>(ticks.count());
  }
  static StoreFindData Entry(const std::filesystem::path& path) {
    StoreFindData data;
    std::string name = path.filename().string();
    data.fileName = std::wstring(name.begin(), name.end());
    struct stat status {};
    ::stat(path.c_str(), &status);
    data.attributes = S_ISDIR(status.st_mode) ? kFileAttributeDirectory : 0x80u;  // NORMAL
    data.lastWriteTime = FileTime(std::chrono::seconds(status.st_mtim.tv_sec) +
                                  std::chrono::nanoseconds(status.st_mtim.tv_nsec));
    return data;
  }

  std::filesystem::path root_;
  std::thread::id testThread_ = std::this_thread::get_id();
  std::map<StoreHandle, std::vector<StoreFindData>> searches_;
  StoreHandle lastSearch_ = 0x100;
};

class FaultyFiles : public StoreFileSystem {
 public:
  explicit FaultyFiles(TempFolderFiles& base) : base_(base) {}

  // How a ReplaceFileW that fails leaves the files, as documented for its
  // error codes.
  enum class Leaves {
    BothNames,         // replaced and replacement under their own names
    ReplacedGone,      // the replaced file deleted, the replacement under its name
    ReplacedAtBackup,  // the replaced file at the backup name
    BackupCopy,        // both under their names, and a copy of the replaced file at the backup name
  };
  struct ReplaceFailure {
    std::uint32_t error;
    Leaves leaves;
  };

  // Every call, as "Name argument...".
  std::vector<std::wstring> calls;
  // Creating, copying to, moving to, deleting in and making folders below
  // this prefix fails, as in a folder the user may not write.
  std::wstring readOnlyPrefix;
  // Bytes that may still be written; a write beyond them writes what fits
  // and fails, as on a full disk.
  std::optional<std::uint32_t> writeBudget;
  // Files this account may write but not delete, as a store made by another
  // account: deleting them, moving them, moving onto them and replacing them
  // fail.
  std::set<std::wstring> undeletable;
  // A folder where this account may write existing files but make none:
  // every CREATE_NEW fails with ERROR_ACCESS_DENIED.
  bool refuseNewFiles = false;
  bool failFlush = false;
  bool failMove = false;
  // Files that cannot be moved (renamed) anywhere.
  std::set<std::wstring> immovable;
  // The next ReplaceFileW fails this way.
  std::optional<ReplaceFailure> replaceFailure;
  // Files of which another process has locked every byte: reading or
  // writing them fails with ERROR_LOCK_VIOLATION.
  std::set<std::wstring> locked;
  // Files whose every open fails with the given error (access denied on a
  // redirected folder, a network error), and files whose every read does.
  std::map<std::wstring, std::uint32_t> openErrors;
  std::map<std::wstring, std::uint32_t> readErrors;
  // Folders whose every search fails with the given error (an offline
  // redirected folder, a share gone from the network, a folder this account
  // may not list).
  std::map<std::wstring, std::uint32_t> searchErrors;
  // A write cut off: of the calls that write through a handle open for
  // writing on `cutPath` (SetFilePointer, WriteFile, FlushFileBuffers), the
  // first `cutAfter` go through and every later one fails doing nothing, as
  // when the process ends there or the disk fails for good.
  std::wstring cutPath;
  std::optional<std::size_t> cutAfter;
  // Run once, inside the next ReplaceFileW with a backup name that goes
  // through, after the replaced file went to the backup name and before the
  // replacement takes its place (another launcher at that moment).
  std::function<void()> betweenReplaceRenames;
  // Run once, before the next call of that name ("ReplaceFileW", "ReadFile"
  // ...) or of exactly that text as logged ("FindFirstFileW C:\...\Global.db"):
  // another process at work in between.
  std::map<std::wstring, std::function<void()>> before;

  bool ReadOnly(const std::wstring& path) const {
    return !readOnlyPrefix.empty() && path.starts_with(readOnlyPrefix);
  }
  bool Undeletable(const std::wstring& path) const {
    return ReadOnly(path) || undeletable.count(path) != 0;
  }
  std::size_t OpenHandles() const { return opens_.size() + searches_; }

  bool GetSpecialFolderPath(wchar_t* buffer, int csidl, bool create) override {
    Log(L"GetSpecialFolderPath " + std::to_wstring(csidl) + (create ? L" 1" : L" 0"));
    return base_.GetSpecialFolderPath(buffer, csidl, create);
  }
  StoreHandle CreateFileW(const std::wstring& path, std::uint32_t access, std::uint32_t shareMode,
                          std::uint32_t disposition, std::uint32_t flags,
                          std::uint32_t* error) override {
    Log(L"CreateFileW " + path + L" " + std::to_wstring(access) + L" " +
        std::to_wstring(shareMode) + L" " + std::to_wstring(disposition) + L" " +
        std::to_wstring(flags));
    if (((access & kGenericWrite) != 0 && ReadOnly(path)) ||
        (disposition == kCreateNew && refuseNewFiles)) {
      *error = kErrorAccessDenied;
      return kInvalidHandleValue;
    }
    if (auto refused = openErrors.find(path); refused != openErrors.end()) {
      *error = refused->second;
      return kInvalidHandleValue;
    }
    if (Conflicts(path, access, shareMode)) {
      *error = kErrorSharingViolation;
      return kInvalidHandleValue;
    }
    StoreHandle file = base_.CreateFileW(path, access, shareMode, disposition, flags, error);
    if (file != kInvalidHandleValue) opens_[file] = {path, access, shareMode};
    return file;
  }
  bool ReadFile(StoreHandle file, void* buffer, std::uint32_t size, std::uint32_t* read,
                std::uint32_t* error) override {
    Log(L"ReadFile " + std::to_wstring(size));
    if (Locked(file)) {
      *read = 0;
      *error = kErrorLockViolation;
      return false;
    }
    if (auto open = opens_.find(file); open != opens_.end()) {
      if (auto failed = readErrors.find(open->second.path); failed != readErrors.end()) {
        *read = 0;
        *error = failed->second;
        return false;
      }
    }
    return base_.ReadFile(file, buffer, size, read, error);
  }
  bool SetFilePointer(StoreHandle file, std::uint32_t offset) override {
    Log(L"SetFilePointer " + std::to_wstring(offset));
    return !CutOff(file) && base_.SetFilePointer(file, offset);
  }
  bool WriteFile(StoreHandle file, const void* data, std::uint32_t size,
                 std::uint32_t* written) override {
    Log(L"WriteFile " + std::to_wstring(size));
    if (Locked(file) || CutOff(file)) {
      *written = 0;
      return false;
    }
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
    Log(L"FlushFileBuffers");
    return !failFlush && !CutOff(file) && base_.FlushFileBuffers(file);
  }
  std::uint32_t GetFileSize(StoreHandle file) override {
    Log(L"GetFileSize");
    return base_.GetFileSize(file);
  }
  void CloseHandle(StoreHandle file) override {
    Log(L"CloseHandle");
    opens_.erase(file);
    base_.CloseHandle(file);
  }
  StoreHandle FindFirstFileW(const std::wstring& path, StoreFindData* found,
                             std::uint32_t* error) override {
    Log(L"FindFirstFileW " + path);
    if (auto refused = searchErrors.find(path.substr(0, path.rfind(L'\\')));
        refused != searchErrors.end()) {
      *error = refused->second;
      return kInvalidHandleValue;
    }
    StoreHandle search = base_.FindFirstFileW(path, found, error);
    if (search != kInvalidHandleValue) ++searches_;
    return search;
  }
  bool FindNextFileW(StoreHandle search, StoreFindData* found) override {
    Log(L"FindNextFileW");
    return base_.FindNextFileW(search, found);
  }
  void FindClose(StoreHandle search) override {
    Log(L"FindClose");
    --searches_;
    base_.FindClose(search);
  }
  // A file is deleted through a handle with DELETE access: every handle open
  // on it must share deletion. (Windows keeps the name until the last handle
  // closes; here it goes at once.)
  bool DeleteFileW(const std::wstring& path) override {
    Log(L"DeleteFileW " + path);
    if (Undeletable(path) || Conflicts(path, kDelete, kShareAll)) return false;
    if (!base_.DeleteFileW(path)) return false;
    Rename(path, L"");
    return true;
  }
  // The source is renamed through a handle with DELETE access, so it must be
  // open only with delete sharing, and this account must be allowed to delete
  // it. A target that is replaced must be open nowhere: Windows refuses a
  // rename onto an open file whatever its sharing.
  bool MoveFileExW(const std::wstring& from, const std::wstring& to, std::uint32_t flags) override {
    Log(L"MoveFileExW " + from + L" " + to + L" " + std::to_wstring(flags));
    if (failMove || immovable.count(from) != 0 || Undeletable(from) || Undeletable(to) ||
        Conflicts(from, kDelete, kShareAll) || IsOpen(to)) {
      return false;
    }
    if (!base_.MoveFileExW(from, to, flags)) return false;
    Rename(to, L"");
    Rename(from, to);
    return true;
  }
  // As documented: the replaced file is opened with GENERIC_READ and DELETE,
  // sharing everything; the replacement with DELETE and more, sharing nothing,
  // so any open handle on it makes the call fail.
  std::uint32_t ReplaceFileW(const std::wstring& replaced, const std::wstring& replacement,
                             const std::wstring& backup, std::uint32_t flags) override {
    Log(L"ReplaceFileW " + replaced + L" " + replacement + L" " + backup + L" " +
        std::to_wstring(flags));
    if (Undeletable(replaced)) return kErrorAccessDenied;
    if (Conflicts(replaced, kGenericRead | kDelete, kShareAll) ||
        Conflicts(replacement, kGenericRead | kGenericWrite | kDelete, kFileShareNone) ||
        (!backup.empty() && Conflicts(backup, kDelete, kShareAll))) {
      return kErrorSharingViolation;
    }
    if (replaceFailure) {
      ReplaceFailure failure = *replaceFailure;
      replaceFailure.reset();
      switch (failure.leaves) {
        case Leaves::BothNames:
          break;
        case Leaves::ReplacedGone:
          base_.DeleteFileW(replaced);
          Rename(replaced, L"");
          break;
        case Leaves::ReplacedAtBackup:
          base_.MoveFileExW(replaced, backup, kMoveFileReplaceExisting);
          Rename(backup, L"");
          Rename(replaced, backup);
          break;
        case Leaves::BackupCopy:
          base_.Copy(replaced, backup);
          break;
      }
      return failure.error;
    }
    if (!backup.empty() && betweenReplaceRenames) {
      return ReplaceInTwoSteps(replaced, replacement, backup);
    }
    std::uint32_t error = base_.ReplaceFileW(replaced, replacement, backup, flags);
    if (error == 0) {
      Rename(backup, L"");
      Rename(replaced, backup);
      Rename(replacement, replaced);
    }
    return error;
  }
  // Logs the pause; the test does not wait.
  void Sleep(std::uint32_t milliseconds) override {
    Log(L"Sleep " + std::to_wstring(milliseconds));
    base_.Sleep(milliseconds);
  }
  std::uint64_t GetSystemTimeAsFileTime() override {
    Log(L"GetSystemTimeAsFileTime");
    return base_.GetSystemTimeAsFileTime();
  }
  std::uint32_t GetCurrentProcessId() override { return base_.GetCurrentProcessId(); }
  std::uint32_t GetCurrentThreadId() override { return base_.GetCurrentThreadId(); }
  bool Stat(const std::wstring& path, std::uint32_t* mode) override {
    Log(L"Stat " + path);
    return base_.Stat(path, mode);
  }
  bool MakeDirectory(const std::wstring& path) override {
    Log(L"MakeDirectory " + path);
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
  static constexpr std::uint32_t kShareAll = kFileShareRead | kFileShareWrite | kFileShareDelete;
  struct OpenFile {
    std::wstring path;  // empty once deleted
    std::uint32_t access;
    std::uint32_t shareMode;
  };

  void Log(const std::wstring& call) {
    calls.push_back(call);
    auto step = before.find(call);
    if (step == before.end()) step = before.find(call.substr(0, call.find(L' ')));
    if (step == before.end()) return;
    std::function<void()> run = std::move(step->second);
    before.erase(step);
    run();
  }

  // Whether opening `path` with `access` and `shareMode` breaks the sharing
  // of a handle already open on it, or that handle's access breaks the new
  // share mode.
  bool Conflicts(const std::wstring& path, std::uint32_t access, std::uint32_t shareMode) const {
    auto needs = [](std::uint32_t rights) {
      std::uint32_t share = 0;
      if ((rights & kGenericRead) != 0) share |= kFileShareRead;
      if ((rights & kGenericWrite) != 0) share |= kFileShareWrite;
      if ((rights & kDelete) != 0) share |= kFileShareDelete;
      return share;
    };
    for (const auto& [handle, open] : opens_) {
      if (open.path != path) continue;
      if ((needs(access) & ~open.shareMode) != 0 || (needs(open.access) & ~shareMode) != 0) {
        return true;
      }
    }
    return false;
  }

  bool Locked(StoreHandle file) const {
    auto open = opens_.find(file);
    return open != opens_.end() && locked.count(open->second.path) != 0;
  }

  // Counts a writing call on `file` against `cutAfter`; true once it is cut.
  bool CutOff(StoreHandle file) {
    auto open = opens_.find(file);
    if (!cutAfter || open == opens_.end() || open->second.path != cutPath ||
        (open->second.access & kGenericWrite) == 0) {
      return false;
    }
    if (*cutAfter == 0) return true;
    --*cutAfter;
    return false;
  }

  bool IsOpen(const std::wstring& path) const {
    for (const auto& [handle, open] : opens_) {
      if (open.path == path) return true;
    }
    return false;
  }

  // The replace's two renames with the test's step between them. A file
  // that stands at the replaced name by then stays: the replacement keeps
  // its name, as ERROR_UNABLE_TO_MOVE_REPLACEMENT_2 documents.
  std::uint32_t ReplaceInTwoSteps(const std::wstring& replaced, const std::wstring& replacement,
                                  const std::wstring& backup) {
    if (!base_.Exists(replaced) || !base_.Exists(replacement)) return kErrorFileNotFound;
    if (!base_.MoveFileExW(replaced, backup, kMoveFileReplaceExisting)) {
      return kErrorUnableToRemoveReplaced;
    }
    Rename(backup, L"");
    Rename(replaced, backup);
    std::function<void()> step = std::move(betweenReplaceRenames);
    betweenReplaceRenames = nullptr;
    step();
    if (!base_.MoveFileExW(replacement, replaced, 0)) return kErrorUnableToMoveReplacement2;
    Rename(replacement, replaced);
    return 0;
  }

  // Open handles follow their file to its new name ("" once it is gone).
  void Rename(const std::wstring& from, const std::wstring& to) {
    if (from.empty()) return;
    for (auto& [handle, open] : opens_) {
      if (open.path == from) open.path = to;
    }
  }

  TempFolderFiles& base_;
  std::map<StoreHandle, OpenFile> opens_;
  std::size_t searches_ = 0;
};

}  // namespace tarnix::testing
