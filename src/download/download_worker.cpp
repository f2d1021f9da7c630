#include "download/download_worker.h"

#include "download/bind_answers.h"
#include "download/progress.h"
#include "download/shipped_installer.h"
#include "platform/launch_log.h"
#include "platform/message_box.h"
#include "platform/tick_count.h"

namespace tarnix {
namespace {

// One transfer, inside an apartment for the call alone.
long TransferInApartment(DownloadPlatform& platform, const std::wstring& url, TransferSink& sink,
                         TransferCounts* counts) {
  ComApartment com(platform);
  return platform.Transfer(url, sink, counts);
}

// The bar's position for `received` of `total` bytes (0: unknown).
int BarPosition(std::uint64_t received, std::uint64_t total) {
  if (total == 0) return 0;
  // The moniker counts in 32 bits; a larger file is scaled down to fit.
  while (total > 0xFFFFFFFFull) {
    total >>= 1;
    received >>= 1;
  }
  return ProgressPosition(static_cast<std::uint32_t>(received), static_cast<std::uint32_t>(total))
      .value_or(0);
}

enum class AttemptVerdict { kWhole, kWholeAppended, kTryAgain, kFinal };

std::wstring AttemptName(int attempt) {
  return L"download attempt " + std::to_wstring(attempt) + L" of " +
         std::to_wstring(kDownloadAttempts);
}

// One attempt at the download, logged as it starts (where from) and as it
// ends (its result, the bytes that arrived, what is kept and how long it
// took).
AttemptVerdict DownloadOnce(const DownloadJobRecord& job, int attempt, DownloadPlatform& platform) {
  platform.DeleteCacheEntry(job.url);
  ResumableTransfer transfer(job.url, job.path, platform);
  bool opened = false;
  const std::uint64_t from = transfer.Prepare(&opened);
  if (!opened) {
    LogLine(AttemptName(attempt) + L": no request, " + transfer.Finish(kResultOk).flaw);
    return AttemptVerdict::kTryAgain;
  }
  platform.SetProgress(BarPosition(from, transfer.KnownTotal()));
  platform.ShowStart(from, transfer.KnownTotal());
  if (transfer.AlreadyWhole()) {
    LogLine(AttemptName(attempt) + L": the partial file is whole already; no request");
    AttemptEnd end = transfer.Finish(kResultOk);
    if (!end.flaw.empty()) LogLine(AttemptName(attempt) + L": " + end.flaw);
    return end.whole ? AttemptVerdict::kWholeAppended : AttemptVerdict::kTryAgain;
  }
  LogLine(AttemptName(attempt) + L": " + LogQuoted(job.url) + L" from byte " +
          std::to_wstring(from));
  TransferCounts counts;
  const std::uint32_t started = platform.TickMs();
  const long result = TransferInApartment(platform, job.url, transfer, &counts);
  const std::uint32_t duration = TicksBetween(started, platform.TickMs());
  const AttemptEnd end = transfer.Finish(result);
  const std::uint32_t status =
      transfer.HttpStatus() != 0 ? transfer.HttpStatus() : counts.httpStatus;
  std::wstring line = AttemptName(attempt) + L": result " +
                      LogHex(static_cast<std::uint32_t>(result)) + L", " + HttpStatusText(status) +
                      L", " + std::to_wstring(end.written) + L" bytes received, " +
                      std::to_wstring(duration) + L" ms";
  if (!end.flaw.empty()) line += L", " + end.flaw;
  if (end.kept != 0) line += L"; " + std::to_wstring(end.kept) + L" bytes kept for a resume";
  LogLine(line);
  if (end.whole) return end.appended ? AttemptVerdict::kWholeAppended : AttemptVerdict::kWhole;
  return IsFinalHttpStatus(status) ? AttemptVerdict::kFinal : AttemptVerdict::kTryAgain;
}

enum class DownloadEnd { kWhole, kWholeAppended, kFailed };

// Downloads with retries; kFailed when every attempt failed or the server's
// answer was final.
DownloadEnd DownloadWithRetries(const DownloadJobRecord& job, DownloadPlatform& platform) {
  for (int attempt = 1;; ++attempt) {
    const AttemptVerdict verdict = DownloadOnce(job, attempt, platform);
    if (verdict == AttemptVerdict::kWhole) return DownloadEnd::kWhole;
    if (verdict == AttemptVerdict::kWholeAppended) return DownloadEnd::kWholeAppended;
    if (verdict == AttemptVerdict::kFinal) {
      LogLine(L"download failed: the server's answer is final; no further attempt");
      return DownloadEnd::kFailed;
    }
    if (attempt == kDownloadAttempts) {
      LogLine(L"download failed after " + std::to_wstring(kDownloadAttempts) + L" attempts");
      return DownloadEnd::kFailed;
    }
    const std::uint32_t pause = kDownloadRetryPausesMs[attempt - 1];
    LogLine(L"download: pause of " + std::to_wstring(pause) + L" ms before attempt " +
            std::to_wstring(attempt + 1));
    platform.Pause(pause);
  }
}

}  // namespace

bool IsFinalHttpStatus(std::uint32_t status) {
  if (status < 400 || status > 499) return false;
  return status != 407 && status != 408 && status != 416 && status != 429;
}

namespace {

const wchar_t* VerdictText(InstallerVerdict verdict) {
  switch (verdict) {
    case InstallerVerdict::kTrusted:
      return L"trusted";
    case InstallerVerdict::kCouldNotOpen:
      return L"could not open";
    case InstallerVerdict::kNotAProgram:
      return L"not a program";
    case InstallerVerdict::kNotTrusted:
      return L"not trusted";
  }
  return L"?";
}

// The installer shipped beside the launcher, checked as a download is: the
// file, still open, when it passes; nothing when it is missing or fails,
// which is logged. The file is only ever read.
InstallerFile CheckShippedInstaller(const DownloadJobRecord& job,
                                    const std::wstring& expectedSigner, DownloadPlatform& platform,
                                    InstallerTrust& trust) {
  const std::wstring prefix = L"installer beside the launcher: " + LogQuoted(job.shippedPath);
  if (job.shippedPath.empty()) return {};
  if (std::wstring reason =
          NotAShippedInstaller(platform, job.shippedPath, job.launcherPath, job.path);
      !reason.empty()) {
    LogLine(prefix + reason);
    return {};
  }
  std::uint64_t size = 0;
  if (!platform.QueryFileSize(job.shippedPath, &size)) {
    LogLine(prefix + L": none");
    return {};
  }
  LogLine(prefix + L": " + std::to_wstring(size) + L" bytes, checking");
  InstallerCheck check = CheckInstaller(trust, job.shippedPath, expectedSigner);
  LogLine(std::wstring(L"installer check: ") + VerdictText(check.verdict));
  if (check.verdict != InstallerVerdict::kTrusted) {
    LogLine(prefix + L": " + VerdictText(check.verdict) + L", downloading instead");
    return {};
  }
  LogLine(prefix + L": used in place of a download");
  return std::move(check.file);
}

}  // namespace

void RunDownload(const DownloadJobRecord& job, const std::wstring& expectedSigner,
                 DownloadPlatform& platform, InstallerTrust& trust) {
  if (InstallerFile shipped = CheckShippedInstaller(job, expectedSigner, platform, trust)) {
    platform.SetProgress(kProgressDownloadEnd);
    platform.SignalFinished(std::move(shipped), job.shippedPath);
    return;
  }
  // A launcher saved as the download's own file (TarnixSetup.exe in the
  // temporary folder) would have the download moved onto itself.
  if (!job.launcherPath.empty() && IsSameFile(platform, job.path, job.launcherPath)) {
    LogLine(L"download: " + LogQuoted(job.path) +
            L" is the launcher itself; nothing is downloaded");
    platform.ShowMessage(kDownloadFailedText);
    return;
  }
  // The installer is started elevated: only a program from the expected
  // signer may go on, not an error page a server answered with status 200
  // nor whatever someone on the way substituted. A file put together from
  // more than one transfer that fails the check may be a bad splice (a file
  // changed on a server that ignores If-Range, a partial file's tail lost in
  // a power cut): it is downloaded whole once more. A whole file that fails
  // would come again the same: that is final.
  for (bool wholeAgain = false;; wholeAgain = true) {
    const DownloadEnd end = DownloadWithRetries(job, platform);
    if (end == DownloadEnd::kFailed) break;
    InstallerCheck check = CheckInstaller(trust, job.path, expectedSigner);
    LogLine(std::wstring(L"installer check: ") + VerdictText(check.verdict));
    if (check.verdict == InstallerVerdict::kTrusted) {
      platform.SignalFinished(std::move(check.file), job.path);
      return;
    }
    platform.RemoveFile(job.path);  // the check has closed the file already
    if (end != DownloadEnd::kWholeAppended || wholeAgain) break;
    LogLine(
        L"download: the file put together from a resumed transfer failed the check; "
        L"downloading it whole once more");
  }
  platform.ShowMessage(kDownloadFailedText);
}

}  // namespace tarnix
