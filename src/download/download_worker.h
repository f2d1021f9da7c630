#pragma once
// What the download thread does with one job, shaped so that the Windows side
// is a pass-through.

#include <cstdint>
#include <string>

#include "download/installer_trust.h"
#include "download/resumable_transfer.h"
#include "platform/com.h"
#include "platform/file_identity.h"
#include "platform/ui_text.h"

namespace tarnix {

// The process-wide job: filled before the download thread starts, then only read.
struct DownloadJobRecord {
  std::wstring url;
  std::wstring path;
  // The installer shipped beside the launcher, tried before any download;
  // empty: none to look for.
  std::wstring shippedPath;
  // The launcher's own file, never taken for the shipped installer.
  std::wstring launcherPath;
};

// A failed download is tried again, up to kDownloadAttempts in all, after
// the pauses below: a dropped or reset connection often works a moment later.
inline constexpr int kDownloadAttempts = 3;
inline constexpr std::uint32_t kDownloadRetryPausesMs[kDownloadAttempts - 1] = {2000, 5000};

// What the progress reports of one transfer said.
struct TransferCounts {
  std::uint32_t received = 0;    // the most that arrived
  std::uint32_t announced = 0;   // the largest total the server announced; 0: none
  std::uint32_t httpStatus = 0;  // the last status a server or proxy answered with; 0: none
};

// Whether an HTTP status is the server's last word on the download, so that
// trying again would only ask the same question: every 4xx but 407 (a proxy
// that wants credentials the user may still give), 408 (the server timed
// out), 416 (a range that no longer fits; the next attempt asks for the whole
// file) and 429 (too many requests: later may work).
bool IsFinalHttpStatus(std::uint32_t status);

// The download thread joins a COM apartment through the ComLibrary side for
// each transfer: the URL moniker is a COM binding. The file calls of the
// partial download are the TransferFiles side; the file identities tell the
// installer beside the launcher from the launcher's own file and the
// download's.
class DownloadPlatform : public ComLibrary, public TransferFiles, public FileIdentitySource {
 public:
  // One transfer of `url` through the URL moniker, its request headers,
  // response and body going through `sink`; the binding's result (S_OK when
  // the whole body arrived). *counts: what the callback's progress reports said.
  virtual long Transfer(const std::wstring& url, TransferSink& sink, TransferCounts* counts) = 0;
  // DeleteUrlCacheEntryW, so that the system's URL cache cannot answer for
  // the server; a failure (no entry) is ignored.
  virtual void DeleteCacheEntry(const std::wstring& url) = 0;
  // PBM_SETPOS on the dialog's bar.
  virtual void SetProgress(int position) = 0;
  // The line under the bar as an attempt starts: the bytes already there of
  // the total (0: unknown), without a time left; empty when nothing is there.
  virtual void ShowStart(std::uint64_t alreadyThere, std::uint64_t total) = 0;
  // GetTickCount.
  virtual std::uint32_t TickMs() = 0;
  // GetFileAttributesExW's size of the file at `path`. False when it cannot be read.
  virtual bool QueryFileSize(const std::wstring& path, std::uint64_t* size) = 0;
  // DeleteFileW; a failure is ignored.
  virtual void RemoveFile(const std::wstring& path) = 0;
  // Hands the checked installer, still open, and its path to the installer
  // run and sets downloadFinished.
  virtual void SignalFinished(InstallerFile installer, const std::wstring& path) = 0;
  // A failure message box; returns when the user has closed it.
  virtual void ShowMessage(UiText text) = 0;
};

// An installer shipped beside the launcher (the job's shippedPath) is
// checked first, exactly as a download is; when it passes, the bar goes to
// the end of the download's part and it is handed over still open, with no
// download. One that is missing or fails the check is logged and the
// download goes on as below; the shipped file is never written, moved or
// deleted.
//
// Downloads the job's file, inside a COM apartment for each transfer only
// (the pauses, the check and the hand-over run outside; the thread has left
// before the installer run joins one to start the installer, as COM asks the
// first thread of an apartment to leave last). The bytes go into a partial
// file beside the job's path (ResumableTransfer), and an attempt after a cut
// transfer, in this launch or a later one, asks only for the rest. A failed
// attempt (a broken connection, a stall, a 5xx, an empty or short file) is
// tried again, kDownloadAttempts in all, never from the URL cache; a final
// HTTP status (IsFinalHttpStatus) ends the download at once. Only a whole
// file that yields a program signed by `expectedSigner` (any program when
// that is empty) releases the installer run, which receives the file still
// open; one that fails the check is deleted and not tried again, as the same
// bytes would come again. A failed download shows "下载失败！" once.
void RunDownload(const DownloadJobRecord& job, const std::wstring& expectedSigner,
                 DownloadPlatform& platform, InstallerTrust& trust);

}  // namespace tarnix
