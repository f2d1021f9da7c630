#pragma once
// An in-memory folder behind TransferFiles: files with their bytes and last
// write times, a clock, and faults to inject (a move refused a number of
// times, a write that fails once a file would pass a size).

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "download/resumable_transfer.h"

namespace tarnix::testing {

class FakeTransferFiles : public TransferFiles {
 public:
  static constexpr std::uint64_t kDay = 24ull * 60 * 60 * 10'000'000;

  struct File {
    std::string bytes;
    std::uint64_t written = 0;
  };
  std::map<std::wstring, File> files;
  std::uint64_t now = 400 * kDay;
  // MoveReplacing fails with moveError this many times before it works.
  int movesRefused = 0;
  std::uint32_t moveError = kErrorSharingViolation;
  // OpenForWriting fails with openError this many times before it works.
  int opensRefused = 0;
  std::uint32_t openError = kErrorSharingViolation;
  // A write that would take a file past this many bytes fails.
  std::uint64_t diskFullAt = ~std::uint64_t{0};
  std::vector<std::uint32_t> pauses;

  void Put(const std::wstring& path, std::string bytes, std::uint64_t written = 0) {
    files[path] = File{std::move(bytes), written == 0 ? now : written};
  }
  bool Has(const std::wstring& path) const { return files.count(path) != 0; }
  std::string Bytes(const std::wstring& path) const {
    auto found = files.find(path);
    return found == files.end() ? std::string() : found->second.bytes;
  }

  bool QueryFile(const std::wstring& path, std::uint64_t* size,
                 std::uint64_t* lastWriteTime) override {
    auto found = files.find(path);
    if (found == files.end()) return false;
    *size = found->second.bytes.size();
    *lastWriteTime = found->second.written;
    return true;
  }
  std::uint64_t CurrentFileTime() override { return now; }
  bool ReadSmallFile(const std::wstring& path, std::size_t limit, std::string* bytes) override {
    auto found = files.find(path);
    if (found == files.end() || found->second.bytes.size() > limit) return false;
    *bytes = found->second.bytes;
    return true;
  }
  bool WriteSmallFile(const std::wstring& path, std::string_view bytes) override {
    Put(path, std::string(bytes));
    return true;
  }
  bool DeleteFile(const std::wstring& path) override {
    files.erase(path);
    return true;
  }
  std::uint32_t MoveReplacing(const std::wstring& from, const std::wstring& to) override {
    if (movesRefused > 0) {
      --movesRefused;
      return moveError;
    }
    auto found = files.find(from);
    if (found == files.end()) return 2;  // ERROR_FILE_NOT_FOUND
    File moved = found->second;
    files.erase(found);
    files[to] = moved;
    return 0;
  }
  void Pause(std::uint32_t milliseconds) override { pauses.push_back(milliseconds); }

  class Writer final : public DataWriter {
   public:
    Writer(FakeTransferFiles& owner, std::wstring path) : owner_(owner), path_(std::move(path)) {}
    bool Size(std::uint64_t* size) override {
      *size = owner_.files[path_].bytes.size();
      return true;
    }
    bool Truncate() override {
      owner_.files[path_].bytes.clear();
      return true;
    }
    bool Write(const std::uint8_t* bytes, std::size_t size) override {
      File& file = owner_.files[path_];
      if (file.bytes.size() + size > owner_.diskFullAt) return false;
      file.bytes.append(reinterpret_cast<const char*>(bytes), size);
      file.written = owner_.now;
      return true;
    }
    bool Flush() override { return true; }

   private:
    FakeTransferFiles& owner_;
    std::wstring path_;
  };
  std::unique_ptr<DataWriter> OpenForWriting(const std::wstring& path,
                                             std::uint32_t* error) override {
    if (opensRefused > 0) {
      --opensRefused;
      *error = openError;
      return nullptr;
    }
    if (!Has(path)) Put(path, "");
    return std::make_unique<Writer>(*this, path);
  }
};

// A platform (a DownloadPlatform) whose file side is an in-memory folder.
template <typename Platform>
class WithFakeFiles : public Platform {
 public:
  FakeTransferFiles files;

  bool QueryFile(const std::wstring& path, std::uint64_t* size, std::uint64_t* written) override {
    return files.QueryFile(path, size, written);
  }
  std::uint64_t CurrentFileTime() override { return files.CurrentFileTime(); }
  bool ReadSmallFile(const std::wstring& path, std::size_t limit, std::string* bytes) override {
    return files.ReadSmallFile(path, limit, bytes);
  }
  bool WriteSmallFile(const std::wstring& path, std::string_view bytes) override {
    return files.WriteSmallFile(path, bytes);
  }
  bool DeleteFile(const std::wstring& path) override { return files.DeleteFile(path); }
  std::uint32_t MoveReplacing(const std::wstring& from, const std::wstring& to) override {
    return files.MoveReplacing(from, to);
  }
  std::unique_ptr<DataWriter> OpenForWriting(const std::wstring& path,
                                             std::uint32_t* error) override {
    return files.OpenForWriting(path, error);
  }
};

}  // namespace tarnix::testing
