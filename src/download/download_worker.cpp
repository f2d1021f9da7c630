#include "download/download_worker.h"

#include "download/bind_answers.h"
#include "download/progress.h"
#include "download/shipped_installer.h"
#include "platform/launch_log.h"
#include "platform/message_box.h"
#include "platform/tick_count.h"

namespace tarnix {
namespace {

// One URLDownloadToFileW call, inside an apartment for the call alone.
long DownloadInApartment(DownloadPlatform& platform, const DownloadJobRecord& job,
                         TransferCounts* counts) {
  ComApartment com(platform);
  return platform.DownloadToFile(job.url, job.path, counts);
}

// One attempt at the download, logged with its result, the bytes that
// arrived and how long it took. True when it gave a whole file.
bool DownloadOnce(const DownloadJobRecord& job, int attempt, DownloadPlatform& platform) {
  platform.DeleteCacheEntry(job.url);
  TransferCounts counts;
  const std::uint32_t started = platform.TickMs();
  long result = DownloadInApartment(platform, job, &counts);
  const std::uint32_t duration = TicksBetween(started, platform.TickMs());
  // A connection that breaks off can come back as success, with an empty
  // file or one shorter than announced: that is a failed transfer, not a
  // file to check (and maybe to reject for good). An empty file is one
  // whether or not the server announced a size, and so is a file whose size
  // cannot be read (none there after all).
  // An error status that came as success (a proxy's or server's page) is a
  // failed attempt too: its body is never the installer.
  std::wstring flaw;
  std::uint64_t size = 0;
  if (result == kResultOk) {
    if (counts.httpStatus >= 400) {
      flaw = L", an HTTP error status";
    } else if (!platform.QueryFileSize(job.path, &size)) {
      flaw = L", the file's size cannot be read";
    } else if (size == 0) {
      flaw = L", the file is empty";
    } else if (size < counts.announced) {
      flaw = L", the file has " + std::to_wstring(size) + L" of " +
             std::to_wstring(counts.announced) + L" bytes";
    }
  }
  LogLine(L"download attempt " + std::to_wstring(attempt) + L" of " +
          std::to_wstring(kDownloadAttempts) + L": result " +
          LogHex(static_cast<std::uint32_t>(result)) + L", " + HttpStatusText(counts.httpStatus) +
          L", " + std::to_wstring(counts.received) + L" bytes, " + std::to_wstring(duration) +
          L" ms" + flaw);
  return result == kResultOk && flaw.empty();
}

// Downloads with retries; false (the partial file removed) when every attempt failed.
bool DownloadWithRetries(const DownloadJobRecord& job, DownloadPlatform& platform) {
  for (int attempt = 1;; ++attempt) {
    if (DownloadOnce(job, attempt, platform)) return true;
    platform.RemoveFile(job.path);
    if (attempt == kDownloadAttempts) return false;
    const std::uint32_t pause = kDownloadRetryPausesMs[attempt - 1];
    LogLine(L"download: pause of " + std::to_wstring(pause) + L" ms before attempt " +
            std::to_wstring(attempt + 1));
    platform.Pause(pause);
    platform.SetProgress(0);
  }
}

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
  if (!DownloadWithRetries(job, platform)) {
    LogLine(L"download failed after " + std::to_wstring(kDownloadAttempts) + L" attempts");
    platform.ShowMessage(kDownloadFailedText);
    return;
  }
  // The installer is started elevated: only a program from the expected
  // signer may go on, not an error page a server answered with status 200
  // nor whatever someone on the way substituted.
  InstallerCheck check = CheckInstaller(trust, job.path, expectedSigner);
  LogLine(std::wstring(L"installer check: ") + VerdictText(check.verdict));
  if (check.verdict != InstallerVerdict::kTrusted) {
    platform.RemoveFile(job.path);  // the check has closed the file already
    platform.ShowMessage(kDownloadFailedText);
    return;
  }
  platform.SignalFinished(std::move(check.file), job.path);
}

}  // namespace tarnix
