#pragma once
// One download attempt's handling of the partial file: what it asks the
// server for, where the body's bytes go, and what the attempt left behind.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "download/partial_download.h"
#include "platform/win32_values.h"

namespace tarnix {

// The partial file, held by another program (a scanner looking at a fresh
// file) when it is opened, or the whole file when it is moved to the
// installer's path, is tried this often, this far apart: 30 s in all, as
// long as the installer check waits for its open.
inline constexpr int kPartialFileAttempts = 120;
inline constexpr std::uint32_t kPartialFileRetryPauseMs = 250;
// A refused access is waited for only this often: it clears within moments
// when it is a delete still pending, and never when the folder or the file
// is read-only.
inline constexpr int kPartialAccessDeniedAttempts = 8;

// The partial file, open for writing; closed with the object.
class DataWriter {
 public:
  virtual ~DataWriter() = default;
  // GetFileSizeEx. False on failure.
  virtual bool Size(std::uint64_t* size) = 0;
  // Empties the file in place (SetFilePointerEx to 0, SetEndOfFile): no
  // delete, so no other program's handle on it can refuse a new file.
  virtual bool Truncate() = 0;
  // WriteFile at the end until all of `bytes` is written. False on any failure.
  virtual bool Write(const std::uint8_t* bytes, std::size_t size) = 0;
  // FlushFileBuffers, so that a power cut keeps what was written.
  virtual bool Flush() = 0;
};

// The file calls of the partial download, one method per call.
class TransferFiles {
 public:
  virtual ~TransferFiles() = default;
  // GetFileAttributesExW: the size and the last write time (a FILETIME:
  // 100 ns units since 1601). False when there is no file to read.
  virtual bool QueryFile(const std::wstring& path, std::uint64_t* size,
                         std::uint64_t* lastWriteTime) = 0;
  // GetSystemTimeAsFileTime.
  virtual std::uint64_t CurrentFileTime() = 0;
  // The whole file, when it holds at most `limit` bytes. False otherwise.
  virtual bool ReadSmallFile(const std::wstring& path, std::size_t limit, std::string* bytes) = 0;
  // Creates or empties the file, writes all of `bytes` and flushes. False on any failure.
  virtual bool WriteSmallFile(const std::wstring& path, std::string_view bytes) = 0;
  // DeleteFileW. True when the file is gone (or was never there).
  virtual bool DeleteFile(const std::wstring& path) = 0;
  // MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH):
  // 0, or the error (GetLastError).
  virtual std::uint32_t MoveReplacing(const std::wstring& from, const std::wstring& to) = 0;
  // CreateFileW(GENERIC_WRITE, FILE_SHARE_READ, OPEN_ALWAYS): the file,
  // positioned at its end; nothing and *error (GetLastError) on failure.
  virtual std::unique_ptr<DataWriter> OpenForWriting(const std::wstring& path,
                                                     std::uint32_t* error) = 0;
  // Sleep. The dialog stays responsive: its own thread handles a close,
  // which ends the process, this thread included.
  virtual void Pause(std::uint32_t milliseconds) = 0;
};

// What the download's callback hands to the attempt.
class TransferSink {
 public:
  virtual ~TransferSink() = default;
  // The headers to add to the request (none: empty).
  virtual std::wstring RequestHeaders() = 0;
  // A response's status and raw headers. Returns the callback's answer:
  // kResultOk to take the body, kResultAbort when it is of no use.
  virtual long Response(std::uint32_t status, std::wstring_view headers) = 0;
  // The body's next bytes. False when they cannot be kept: the transfer is
  // then aborted.
  virtual bool Body(const std::uint8_t* bytes, std::size_t size) = 0;
  // The whole file's bytes so far and its total (0: unknown), for a report
  // of `progress` bytes of this transfer's `progressMax` (0: unknown).
  struct FileProgress {
    std::uint64_t received = 0;
    std::uint64_t total = 0;
  };
  virtual FileProgress Progress(std::uint32_t progress, std::uint32_t progressMax) = 0;
};

// How an attempt ended.
struct AttemptEnd {
  bool whole = false;         // the installer's path holds the whole file now
  std::uint64_t written = 0;  // body bytes kept by this attempt
  std::uint64_t kept = 0;     // bytes of the partial file left for the next attempt
  std::wstring flaw;          // why it is not whole, for the log; empty when whole
  bool appended = false;      // whole, and put together from more than one transfer
};

class ResumableTransfer final : public TransferSink {
 public:
  // The download of `url` to `installerPath`, through the partial file and
  // its record beside it.
  ResumableTransfer(std::wstring url, const std::wstring& installerPath, TransferFiles& files);
  ~ResumableTransfer() override;

  // Before the request: opens the partial file (waiting while another
  // program holds it), keeps what can be resumed and empties any other
  // (logged: another URL, no record, older than kPartialMaxAgeDays, longer
  // than its total). Returns the byte the request starts from; false in
  // *opened when the partial file cannot be opened (the attempt then makes
  // no request and fails, keeping what is there).
  std::uint64_t Prepare(bool* opened = nullptr);
  // True when the partial file already holds the whole file (a launcher
  // stopped between the last byte and the move): Finish needs no request.
  bool AlreadyWhole() const;
  // The file's total when known before the request (a resumed one's); 0 otherwise.
  std::uint64_t KnownTotal() const { return resume_ ? resume_->total : 0; }

  std::wstring RequestHeaders() override;
  long Response(std::uint32_t status, std::wstring_view headers) override;
  bool Body(const std::uint8_t* bytes, std::size_t size) override;
  FileProgress Progress(std::uint32_t progress, std::uint32_t progressMax) override;

  // After the transfer call returned `result`: closes the partial file, and
  // moves it to the installer's path when it is whole.
  AttemptEnd Finish(long result);
  // The last response's status; 0: none came.
  std::uint32_t HttpStatus() const { return response_.status; }

  const std::wstring& PartialPath() const { return partialPath_; }
  const std::wstring& RecordPath() const { return recordPath_; }

 private:
  void Drop();
  void ForgetRecord();
  void UseBody(BodyUse use);
  bool OpenPartial();
  bool MoveIntoPlace(std::uint32_t* error);

  const std::wstring url_;
  const std::wstring installerPath_;
  const std::wstring partialPath_;
  const std::wstring recordPath_;
  TransferFiles& files_;

  std::uint64_t offset_ = 0;             // the byte the request starts from
  std::optional<PartialRecord> resume_;  // the record the request resumes
  std::optional<BodyUse> use_;           // what the last response's body is for
  ResponseFacts response_;
  std::optional<std::uint64_t> total_;  // the file's total, once known
  std::unique_ptr<DataWriter> writer_;
  std::uint64_t base_ = 0;  // bytes of the file before the body
  std::uint64_t written_ = 0;
  bool writeFailed_ = false;
  bool opened_ = false;
};

}  // namespace tarnix
