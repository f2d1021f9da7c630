#include "download/resumable_transfer.h"

#include <utility>

#include "download/bind_answers.h"
#include "download/progress.h"
#include "platform/launch_log.h"

namespace tarnix {
namespace {

constexpr std::uint64_t kFileTimeUnitsPerDay = 24ull * 60 * 60 * 10'000'000;

std::wstring Bytes(std::uint64_t count) { return std::to_wstring(count) + L" bytes"; }

// Whether a refused open or move is worth another try after a pause.
bool IsHeldByAnother(std::uint32_t error, int attempt) {
  if (error == kErrorSharingViolation) return true;
  return error == kErrorAccessDenied && attempt < kPartialAccessDeniedAttempts;
}

}  // namespace

ResumableTransfer::ResumableTransfer(std::wstring url, const std::wstring& installerPath,
                                     TransferFiles& files)
    : url_(std::move(url)),
      installerPath_(installerPath),
      partialPath_(installerPath + kPartialSuffix),
      recordPath_(installerPath + kPartialRecordSuffix),
      files_(files) {}

ResumableTransfer::~ResumableTransfer() = default;

// The record goes first and comes back last, so that no record ever names
// bytes that are not the file it describes.
void ResumableTransfer::ForgetRecord() {
  files_.DeleteFile(recordPath_);
  resume_.reset();
  offset_ = 0;
}

// Only once the file is closed: a file deleted while open keeps its name
// until the last handle goes, and no new file of that name can be made.
void ResumableTransfer::Drop() {
  writer_.reset();
  files_.DeleteFile(recordPath_);
  files_.DeleteFile(partialPath_);
}

// A scanner that looks at the fresh file may hold it for a while.
bool ResumableTransfer::OpenPartial() {
  std::uint32_t error = 0;
  for (int attempt = 1; attempt <= kPartialFileAttempts; ++attempt) {
    writer_ = files_.OpenForWriting(partialPath_, &error);
    if (writer_ || !IsHeldByAnother(error, attempt)) break;
    if (attempt < kPartialFileAttempts) files_.Pause(kPartialFileRetryPauseMs);
  }
  if (!writer_)
    LogLine(L"download: the partial file cannot be opened, error " + std::to_wstring(error));
  return writer_ != nullptr;
}

std::uint64_t ResumableTransfer::Prepare(bool* opened) {
  offset_ = 0;
  resume_.reset();
  std::uint64_t size = 0;
  std::uint64_t written = 0;
  const bool present = files_.QueryFile(partialPath_, &size, &written);
  std::string bytes;
  std::optional<PartialRecord> record;
  if (files_.ReadSmallFile(recordPath_, kPartialRecordMaxBytes, &bytes))
    record = ParsePartialRecord(bytes);
  std::wstring reason;
  if (present && size > 0) {
    const std::uint64_t now = files_.CurrentFileTime();
    if (!record) {
      reason = L"it has no record of its own";
    } else if (record->url != url_) {
      reason = L"it came from another URL";
    } else if (size > record->total) {
      reason = L"it is longer than its total of " + Bytes(record->total);
    } else if (now > written && now - written > kPartialMaxAgeDays * kFileTimeUnitsPerDay) {
      reason = L"it is older than " + std::to_wstring(kPartialMaxAgeDays) + L" days";
    }
  }
  opened_ = OpenPartial();
  if (opened != nullptr) *opened = opened_;
  if (!opened_) return 0;
  std::uint64_t openSize = 0;
  const bool resumable =
      present && size > 0 && reason.empty() && writer_->Size(&openSize) && openSize == size;
  if (!resumable) {
    if (!reason.empty())
      LogLine(L"download: partial file of " + Bytes(size) + L" dropped: " + reason);
    // Emptied in place, not deleted: a fresh file is written into it. A
    // program that maps the file (a scanner) refuses that for a moment.
    ForgetRecord();
    bool emptied = writer_->Truncate();
    for (int attempt = 1; !emptied && attempt < kPartialAccessDeniedAttempts; ++attempt) {
      files_.Pause(kPartialFileRetryPauseMs);
      emptied = writer_->Truncate();
    }
    if (!emptied) {
      writer_.reset();
      opened_ = false;
      if (opened != nullptr) *opened = false;
    }
    return 0;
  }
  resume_ = record;
  offset_ = size;
  LogLine(L"download: partial file of " + Bytes(size) + L" of " + Bytes(record->total) +
          L" kept, to be resumed");
  return offset_;
}

bool ResumableTransfer::AlreadyWhole() const { return resume_ && offset_ == resume_->total; }

std::wstring ResumableTransfer::RequestHeaders() {
  return resume_ ? ResumeRequestHeaders(offset_, resume_->validator) : std::wstring();
}

long ResumableTransfer::Response(std::uint32_t status, std::wstring_view headers) {
  response_ = ParseResponseFacts(status, headers);
  const BodyUse use = DecideBodyUse(resume_ ? offset_ : 0, resume_ ? resume_->total : 0, response_);
  UseBody(use);
  // A body that cannot be kept, or a range that does not fit, is of no use;
  // an error status is answered as the callback answers every one.
  if (!writer_ && (use == BodyUse::kAppend || use == BodyUse::kTakeWhole)) return kResultAbort;
  return use_ == BodyUse::kStartOver ? kResultAbort : AnswerResponse(status);
}

void ResumableTransfer::UseBody(BodyUse use) {
  written_ = 0;
  base_ = 0;
  total_.reset();
  use_ = use;
  if (!writer_) return;
  switch (use) {
    case BodyUse::kAppend:
      base_ = offset_;
      total_ = resume_->total;
      return;
    case BodyUse::kTakeWhole: {
      if (resume_)
        LogLine(
            L"download: the server sent the whole file (HTTP status 200); the partial "
            L"file is replaced");
      ForgetRecord();
      if (!writer_->Truncate()) {
        writeFailed_ = true;
        return;
      }
      if (response_.contentLength && !response_.encoded) total_ = *response_.contentLength;
      // The record comes after the emptied file, so that it never counts old bytes.
      std::optional<PartialRecord> record = RecordForWholeBody(url_, response_);
      if (!record) {
        LogLine(
            L"download: the response has no strong validator and total length; "
            L"a cut transfer will start over");
      } else if (std::optional<std::string> text = FormatPartialRecord(*record);
                 text && !files_.WriteSmallFile(recordPath_, *text)) {
        files_.DeleteFile(recordPath_);
      }
      return;
    }
    case BodyUse::kStartOver:
      LogLine(L"download: the server did not send the rest that was asked for (" +
              HttpStatusText(response_.status) + L"); the partial file is dropped");
      ForgetRecord();
      writer_->Truncate();
      return;
    case BodyUse::kDiscard:
      return;
  }
}

bool ResumableTransfer::Body(const std::uint8_t* bytes, std::size_t size) {
  // Data without a response is not HTTP: kept whole, unless a range was
  // asked for, whose rest must never pass for the whole file.
  if (!use_) UseBody(resume_ ? BodyUse::kStartOver : BodyUse::kTakeWhole);
  if (use_ == BodyUse::kDiscard || use_ == BodyUse::kStartOver) return true;
  if (!writer_ || writeFailed_ || !writer_->Write(bytes, size)) {
    writeFailed_ = true;
    return false;
  }
  written_ += size;
  return true;
}

TransferSink::FileProgress ResumableTransfer::Progress(std::uint32_t progress,
                                                       std::uint32_t progressMax) {
  FileProgress file;
  file.received = base_ + progress;
  if (total_) {
    file.total = *total_;
  } else if (progressMax != 0) {
    file.total = base_ + progressMax;
  }
  return file;
}

bool ResumableTransfer::MoveIntoPlace(std::uint32_t* error) {
  for (int attempt = 1; attempt <= kPartialFileAttempts; ++attempt) {
    *error = files_.MoveReplacing(partialPath_, installerPath_);
    if (*error == 0) return true;
    if (!IsHeldByAnother(*error, attempt)) return false;
    if (attempt < kPartialFileAttempts) files_.Pause(kPartialFileRetryPauseMs);
  }
  return false;
}

AttemptEnd ResumableTransfer::Finish(long result) {
  AttemptEnd end;
  end.written = written_;
  const bool bodyKept = use_ == BodyUse::kAppend || use_ == BodyUse::kTakeWhole;
  if (bodyKept && writer_ && !writer_->Flush()) writeFailed_ = true;
  writer_.reset();
  if (!opened_) {
    end.flaw = L"the partial file cannot be opened";
    return end;
  }
  if (writeFailed_) {
    end.flaw = L"the partial file could not be written";
    Drop();
    return end;
  }
  std::uint64_t size = 0;
  std::uint64_t ignored = 0;
  if (!files_.QueryFile(partialPath_, &size, &ignored)) size = 0;
  const bool alreadyWhole = !use_ && AlreadyWhole();
  if (!bodyKept && !alreadyWhole) {
    end.kept = resume_ ? size : 0;
    if (!resume_) Drop();
    end.flaw = use_ == BodyUse::kStartOver ? L"the rest asked for did not come"
               : response_.status >= 400   ? L"an HTTP error status"
               : response_.status == 0     ? L"no HTTP response"
                                           : L"no file in the response";
    return end;
  }
  const std::optional<std::uint64_t> total = alreadyWhole ? resume_->total : total_;
  bool whole = false;
  if (total) {
    whole = size == *total;
    if (size > *total) {
      end.flaw = L"the file has " + Bytes(size) + L", more than its total of " + Bytes(*total);
      Drop();
      return end;
    }
    if (!whole) end.flaw = L"the file has " + Bytes(size) + L" of " + Bytes(*total);
  } else {
    // Without a total only the transfer's own result tells a whole file.
    whole = result == kResultOk && size > 0;
    if (!whole) end.flaw = size == 0 ? L"the file is empty" : L"the transfer broke off";
  }
  const bool resumable = files_.QueryFile(recordPath_, &ignored, &ignored);
  if (!whole) {
    if (resumable && size > 0) {
      end.kept = size;
    } else {
      Drop();
    }
    return end;
  }
  std::uint32_t error = 0;
  if (!MoveIntoPlace(&error)) {
    end.flaw = L"the whole file could not be moved to " + LogQuoted(installerPath_) + L", error " +
               std::to_wstring(error);
    end.kept = resumable ? size : 0;
    if (!resumable) Drop();
    return end;
  }
  files_.DeleteFile(recordPath_);
  end.whole = true;
  // A whole file found already there was put together by an earlier launch.
  end.appended = use_ == BodyUse::kAppend || alreadyWhole;
  return end;
}

}  // namespace tarnix
