#include "identity/identity_store.h"

#include <algorithm>

#include "identity/md5.h"
#include "platform/bytes.h"
#include "platform/unique_handle.h"

namespace tarnix {
namespace {

constexpr std::uint32_t kRecordVersion1 = 1;
constexpr std::uint32_t kRecordVersion2 = 2;
constexpr std::size_t kVersionOffset = 0;
constexpr std::size_t kIdentityOffset = 4;
constexpr std::size_t kAdapterBindingOffset = 20;
constexpr std::size_t kDiskBindingOffset = 36;
constexpr std::size_t kBlockSize = 16;

using StoreFileTraits = ApiHandleTraits<StoreFileSystem, StoreHandle, kInvalidHandleValue,
                                        &StoreFileSystem::CloseHandle>;
using StoreFile = UniqueHandle<StoreFileTraits>;
using StoreSearchTraits =
    ApiHandleTraits<StoreFileSystem, StoreHandle, kInvalidHandleValue, &StoreFileSystem::FindClose>;
using StoreSearch = UniqueHandle<StoreSearchTraits>;

StoreFile OpenFile(StoreFileSystem& files, const std::wstring& path, std::uint32_t access,
                   std::uint32_t shareMode, std::uint32_t disposition) {
  return StoreFile(files.CreateFileW(path, access, shareMode, disposition, 0),
                   StoreFileTraits{&files});
}

StoreFile OpenForReading(StoreFileSystem& files, const std::wstring& path) {
  return OpenFile(files, path, kGenericRead, kFileShareRead, kOpenExisting);
}

// A read counts only when every byte asked for arrives.
bool ReadExact(StoreFileSystem& files, const StoreFile& file, std::uint8_t* buffer,
               std::size_t size) {
  std::uint32_t read = 0;
  return files.ReadFile(file.Get(), buffer, static_cast<std::uint32_t>(size), &read) &&
         read == size;
}

bool WriteExact(StoreFileSystem& files, const StoreFile& file, const std::uint8_t* data,
                std::size_t size) {
  std::uint32_t written = 0;
  return files.WriteFile(file.Get(), data, static_cast<std::uint32_t>(size), &written) &&
         written == size;
}

// FindFirstFileW as an existence test.
bool FileExists(StoreFileSystem& files, const std::wstring& path) {
  StoreSearch search(files.FindFirstFileW(path), StoreSearchTraits{&files});
  return search.IsValid();
}

std::uint32_t ReadLittleEndian32(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return LoadLittleEndian<std::uint32_t>(bytes.subspan(offset, 4).data());
}

template <std::size_t N>
void CopyBlock(std::span<const std::uint8_t> bytes, std::size_t offset,
               std::array<std::uint8_t, N>& block) {
  std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(offset), N, block.begin());
}

template <std::size_t N, std::size_t M>
void PutBlock(std::array<std::uint8_t, M>& record, std::size_t offset,
              const std::array<std::uint8_t, N>& block) {
  std::copy(block.begin(), block.end(), record.begin() + static_cast<std::ptrdiff_t>(offset));
}

// Reads the record of an open store file with exact reads in file order: the
// version, then the identity and, for version 2, the two bindings.
std::optional<StoreRecord> ReadRecord(StoreFileSystem& files, const StoreFile& file) {
  if (files.GetFileSize(file.Get()) < kStoreRecordV1Size) return std::nullopt;
  std::array<std::uint8_t, kStoreRecordV2Size> bytes{};
  if (!ReadExact(files, file, bytes.data() + kVersionOffset, 4)) return std::nullopt;
  std::uint32_t version = ReadLittleEndian32(bytes, kVersionOffset);
  std::size_t size = 0;
  if (version == kRecordVersion1) {
    if (!ReadExact(files, file, bytes.data() + kIdentityOffset, kBlockSize)) return std::nullopt;
    size = kStoreRecordV1Size;
  } else if (version == kRecordVersion2) {
    for (std::size_t offset : {kIdentityOffset, kAdapterBindingOffset, kDiskBindingOffset}) {
      if (!ReadExact(files, file, bytes.data() + offset, kBlockSize)) return std::nullopt;
    }
    size = kStoreRecordV2Size;
  } else {
    return std::nullopt;
  }
  return ParseStoreRecord(std::span<const std::uint8_t>(bytes.data(), size));
}

// Opens the store for reading: the common file, else the per-user one. A
// per-user file with no common file beside it is first copied to the common
// place and, once the copy is there, deleted.
StoreFile OpenStoreForReading(StoreFileSystem& files) {
  std::wstring commonPath = GetIdentityStorePath(files, StoreLocation::Common);
  StoreFile file = OpenForReading(files, commonPath);
  if (file) return file;

  std::wstring perUserPath = GetIdentityStorePath(files, StoreLocation::PerUser);
  bool moved = false;
  if (!FileExists(files, commonPath) && FileExists(files, perUserPath)) {
    moved = files.CopyFileW(perUserPath, commonPath, false);
    // A per-user file that cannot be deleted is harmless: the common one wins.
    if (moved) files.DeleteFileW(perUserPath);
  }
  return OpenForReading(files, moved ? commonPath : perUserPath);
}

enum class PlaceResult {
  Written,
  Refused,  // this place does not take the record this way: try the next way or place
  Failed,   // a write failed part-way: stop
};

// The version, the identity and each binding in one call each, as the record
// has always been written.
bool WriteRecord(StoreFileSystem& files, const StoreFile& file,
                 const std::array<std::uint8_t, kStoreRecordV2Size>& record) {
  return WriteExact(files, file, record.data() + kVersionOffset, 4) &&
         WriteExact(files, file, record.data() + kIdentityOffset, kBlockSize) &&
         WriteExact(files, file, record.data() + kAdapterBindingOffset, kBlockSize) &&
         WriteExact(files, file, record.data() + kDiskBindingOffset, kBlockSize);
}

// Writes the record to "<path>.tmp" and puts that in the place of `path` in
// one step: over an existing store with ReplaceFileW, which keeps the store's
// owner, access rights and attributes (a moved file would take the folder's
// inherited rights and the writer as owner); where there is no store yet,
// with a move. A write that fails part-way leaves `path` as it was. Whatever
// does not succeed removes the temporary file.
PlaceResult ReplaceRecordAt(StoreFileSystem& files, const std::wstring& path,
                            const std::array<std::uint8_t, kStoreRecordV2Size>& record) {
  std::wstring tempPath = path + kStoreTempSuffix;
  bool complete = false;
  {
    StoreFile file = OpenFile(files, tempPath, kGenericWrite, kFileShareNone, kCreateAlways);
    if (!file) return PlaceResult::Refused;
    complete = WriteRecord(files, file, record) && files.FlushFileBuffers(file.Get());
  }
  if (!complete) {
    files.DeleteFileW(tempPath);
    return PlaceResult::Failed;
  }
  // No flag that ignores merge errors: a replacement that cannot carry the
  // store's rights over is refused, and the write in place then keeps them.
  bool replaced =
      FileExists(files, path)
          ? files.ReplaceFileW(path, tempPath, 0)
          : files.MoveFileExW(tempPath, path, kMoveFileReplaceExisting | kMoveFileWriteThrough);
  if (replaced) return PlaceResult::Written;
  files.DeleteFileW(tempPath);
  return PlaceResult::Refused;
}

// Truncates `path` and writes the record into it. The file keeps its owner
// and rights and needs only the right to write, but a write that fails
// part-way leaves a partial record, which reads as absent.
PlaceResult WriteRecordInPlace(StoreFileSystem& files, const std::wstring& path,
                               const std::array<std::uint8_t, kStoreRecordV2Size>& record) {
  StoreFile file = OpenFile(files, path, kGenericWrite, kFileShareNone, kCreateAlways);
  if (!file) return PlaceResult::Refused;
  return WriteRecord(files, file, record) ? PlaceResult::Written : PlaceResult::Failed;
}

// Replaces the store at `path` in one step, or writes it in place where
// replacing is refused (no right to delete the store, a stale temporary file
// of another account), so that a store that could be written before can
// still be written.
PlaceResult WriteRecordAt(StoreFileSystem& files, const std::wstring& path,
                          const std::array<std::uint8_t, kStoreRecordV2Size>& record) {
  // Without a folder there is no place: a bare ".tmp" would land in the
  // current directory.
  if (path.empty()) return PlaceResult::Refused;
  PlaceResult result = ReplaceRecordAt(files, path, record);
  if (result != PlaceResult::Refused) return result;
  return WriteRecordInPlace(files, path, record);
}

}  // namespace

std::string FormatAdapterText(const AdapterAddress& address) {
  std::string text;
  text.reserve(address.size() * 2);
  for (std::uint8_t byte : address) AppendHex(text, byte, HexLetters::Lower);
  return text;
}

std::array<std::uint8_t, 16> BindingHash(std::string_view text) { return Md5(text); }

std::optional<StoreRecord> ParseStoreRecord(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < 4) return std::nullopt;
  StoreRecord record;
  record.version = ReadLittleEndian32(bytes, kVersionOffset);
  if (record.version == kRecordVersion1) {
    if (bytes.size() < kStoreRecordV1Size) return std::nullopt;
    CopyBlock(bytes, kIdentityOffset, record.identity);
  } else if (record.version == kRecordVersion2) {
    if (bytes.size() < kStoreRecordV2Size) return std::nullopt;
    CopyBlock(bytes, kIdentityOffset, record.identity);
    CopyBlock(bytes, kAdapterBindingOffset, record.adapterBinding);
    CopyBlock(bytes, kDiskBindingOffset, record.diskBinding);
  } else {
    return std::nullopt;
  }
  return record;
}

std::array<std::uint8_t, kStoreRecordV2Size> BuildStoreRecord(const MachineId& identity,
                                                              std::string_view adapterText,
                                                              std::string_view diskSerial) {
  std::array<std::uint8_t, kStoreRecordV2Size> record{};
  record[kVersionOffset] = static_cast<std::uint8_t>(kRecordVersion2);
  PutBlock(record, kIdentityOffset, identity);
  PutBlock(record, kAdapterBindingOffset, BindingHash(adapterText));
  PutBlock(record, kDiskBindingOffset, BindingHash(diskSerial));
  return record;
}

bool SplitPath(std::wstring_view path, SplitPathParts& parts, std::size_t driveSize,
               std::size_t directorySize, std::size_t fileNameSize, std::size_t extensionSize) {
  parts = SplitPathParts{};
  auto fail = [&parts] {
    parts = SplitPathParts{};
    return false;
  };

  // A drive is the first two characters when the second is ':'.
  if (path.size() >= 2 && path[1] == L':') {
    if (driveSize < 3) return fail();
    parts.drive = path.substr(0, 2);
    path.remove_prefix(2);
  }

  // The directory runs through the last separator; the extension starts at
  // the last '.' of what follows.
  std::size_t lastSlashEnd = std::wstring_view::npos;
  std::size_t dot = std::wstring_view::npos;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (path[i] == L'/' || path[i] == L'\\') {
      lastSlashEnd = i + 1;
    } else if (path[i] == L'.') {
      dot = i;
    }
  }
  std::size_t nameStart = 0;
  if (lastSlashEnd != std::wstring_view::npos) {
    if (directorySize <= lastSlashEnd) return fail();
    parts.directory = path.substr(0, lastSlashEnd);
    nameStart = lastSlashEnd;
  }
  if (dot != std::wstring_view::npos && dot >= nameStart) {
    if (fileNameSize <= dot - nameStart) return fail();
    if (extensionSize <= path.size() - dot) return fail();
    parts.fileName = path.substr(nameStart, dot - nameStart);
    parts.extension = path.substr(dot);
  } else {
    if (fileNameSize <= path.size() - nameStart) return fail();
    parts.fileName = path.substr(nameStart);
  }
  return true;
}

bool IsDirectoryPath(StoreFileSystem& files, const std::wstring& path) {
  if (path.empty()) return false;
  // The status query refuses a trailing separator, except on a drive root,
  // and reads a bare "X:" as the drive's current directory.
  std::wstring normalised = path;
  bool isDriveRoot = normalised.size() >= 2 && normalised.ends_with(L":\\");
  if (normalised.size() != 1 && !isDriveRoot) {
    if (normalised.back() == L':') {
      normalised.push_back(L'\\');
    } else if (normalised.back() == L'\\') {
      normalised.pop_back();
    }
  }
  std::uint32_t mode = 0;
  return files.Stat(normalised, &mode) && (mode & kStatModeDirectory) != 0;
}

bool CreateDirectoryChain(StoreFileSystem& files, const std::wstring& path) {
  if (path.empty()) return false;
  std::wstring folder = path;
  if (folder.back() != L'\\') folder.push_back(L'\\');

  // A directory part over 255 characters empties every part, and the chain
  // then fails for want of a directory.
  SplitPathParts parts;
  SplitPath(folder, parts);

  std::wstring current = parts.drive + L"\\";
  if (!IsDirectoryPath(files, current)) return false;

  std::wstring_view remaining = parts.directory;
  if (remaining.empty()) return false;
  if (remaining.front() == L'\\') remaining.remove_prefix(1);

  // One level at a time from the root down; existing levels are left alone.
  for (std::size_t separator = remaining.find(L'\\'); separator != std::wstring_view::npos;
       separator = remaining.find(L'\\')) {
    current.append(remaining.substr(0, separator));
    current.push_back(L'\\');
    remaining.remove_prefix(separator + 1);
    if (!IsDirectoryPath(files, current) && !files.MakeDirectory(current)) return false;
  }
  return true;
}

std::wstring GetIdentityStorePath(StoreFileSystem& files, StoreLocation location) {
  int csidl = location == StoreLocation::Common ? kCsidlCommonAppData : kCsidlAppData;
  wchar_t buffer[kMaxPath] = {};
  if (!files.GetSpecialFolderPath(buffer, csidl, true)) return std::wstring();

  // The text ends at the first zero unit, and never past the buffer.
  std::wstring path(buffer, std::find(buffer, buffer + kMaxPath, L'\0'));
  path.append(kStoreFolderPart);
  if (!IsDirectoryPath(files, path)) CreateDirectoryChain(files, path);
  path.append(kStoreFileName);
  return path;
}

bool ReadIdentityStore(StoreFileSystem& files, std::string_view adapterText,
                       std::string_view diskSerial, MachineId& identity, bool& mustRewrite) {
  mustRewrite = false;
  std::optional<StoreRecord> record;
  {
    StoreFile file = OpenStoreForReading(files);
    if (!file) return false;
    record = ReadRecord(files, file);
  }
  if (!record) return false;

  if (record->version == kRecordVersion1) {
    identity = record->identity;
    mustRewrite = true;
    return true;
  }
  // One matching binding is enough: the identity survives a change of
  // either the adapter or the disk, not of both.
  if (BindingHash(adapterText) != record->adapterBinding &&
      BindingHash(diskSerial) != record->diskBinding) {
    return false;
  }
  identity = record->identity;
  return true;
}

bool WriteIdentityStore(StoreFileSystem& files, std::string_view diskSerial,
                        std::string_view adapterText, const MachineId& identity) {
  auto record = BuildStoreRecord(identity, adapterText, diskSerial);
  for (StoreLocation location : {StoreLocation::Common, StoreLocation::PerUser}) {
    switch (WriteRecordAt(files, GetIdentityStorePath(files, location), record)) {
      case PlaceResult::Written:
        return true;
      case PlaceResult::Failed:
        return false;
      case PlaceResult::Refused:
        break;
    }
  }
  return false;
}

}  // namespace tarnix
