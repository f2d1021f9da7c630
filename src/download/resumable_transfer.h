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

namespace tarnix {

// The whole file's move to the installer's path, refused while another
// program (a scanner looking at the fresh file) holds either file, is tried
// this often, this far apart.
inline constexpr int kInstallerMoveAttempts = 20;
inline constexpr std::uint32_t kInstallerMoveRetryPauseMs = 250;

// A file open for writing at its end.
class DataWriter {
 public:
  // Closes the file.
  virtual ~DataWriter() = default;
  // WriteFile until all of `bytes` is written. False on any failure.
  virtual bool Write(const std::uint8_t* bytes, std::size_t size) = 0;
  // FlushFileBuffers, so that a power cut keeps what the record counts.
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
  // MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH).
  virtual bool MoveReplacing(const std::wstring& from, const std::wstring& to) = 0;
  // Sleep. The dialog stays responsive: its own thread handles a close,
  // which ends the process, this thread included.
  virtual void Pause(std::uint32_t milliseconds) = 0;
  // Opens `path` for writing at byte `offset`: 0 creates or empties it; any
  // other offset requires the file to hold exactly that many bytes, and
  // writes follow them. Nothing on failure.
  virtual std::unique_ptr<DataWriter> OpenForWriting(const std::wstring& path,
                                                     std::uint64_t offset) = 0;
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
};

class ResumableTransfer final : public TransferSink {
 public:
  // The download of `url` to `installerPath`, through the partial file and
  // its record beside it.
  ResumableTransfer(std::wstring url, const std::wstring& installerPath, TransferFiles& files);
  ~ResumableTransfer() override;

  // Before the request: keeps a partial file that can be resumed and drops
  // any other (logged: another URL, no record, older than kPartialMaxAgeDays,
  // longer than its total). Returns the byte the request starts from.
  std::uint64_t Prepare();
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
  void UseBody(BodyUse use);

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
};

}  // namespace tarnix
