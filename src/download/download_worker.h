#pragma once
// What the download thread does with one job, shaped so that the Windows side
// is a pass-through.

#include <cstdint>
#include <string>

#include "download/installer_trust.h"
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

// What the progress reports of one download said.
struct TransferCounts {
  std::uint32_t received = 0;   // the most that arrived
  std::uint32_t announced = 0;  // the largest total the server announced; 0: none
  std::uint32_t httpStatus = 0; // the last status a server or proxy answered with; 0: none
};

// The download thread joins a COM apartment through the ComLibrary side for
// each download call: the URL moniker is a COM binding. The file identities
// tell the installer beside the launcher from the launcher's own file and the
// download's.
class DownloadPlatform : public ComLibrary, public FileIdentitySource {
 public:
  // URLDownloadToFileW of `url` into `path` with the progress callback; its
  // result. *counts: what the callback's progress reports said.
  virtual long DownloadToFile(const std::wstring& url, const std::wstring& path,
                              TransferCounts* counts) = 0;
  // DeleteUrlCacheEntryW, so that the system's URL cache cannot answer for
  // the server; a failure (no entry) is ignored.
  virtual void DeleteCacheEntry(const std::wstring& url) = 0;
  // PBM_SETPOS on the dialog's bar.
  virtual void SetProgress(int position) = 0;
  // Sleep. The dialog stays responsive: its own thread handles a close,
  // which ends the process, this thread included.
  virtual void Pause(std::uint32_t milliseconds) = 0;
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
// Downloads the job's file, inside a COM apartment for each download call
// only (the pauses, the check and the hand-over run outside; the thread has
// left before the installer run joins one to start the installer, as COM
// asks the first thread of an apartment to leave last). Only a download that
// returns exactly S_OK and yields a program signed by `expectedSigner` (any program when that is
// empty) releases the installer run, which receives the file still open.
// A download that fails (or "succeeds" with an empty file, fewer bytes than
// the server announced, as a broken connection can end, or an HTTP error
// status, whose body is a page and not the installer) is tried again (kDownloadAttempts, with the bar back
// at 0 and the partial file removed each time; never from the URL cache);
// one that completes but fails the check is not, as the same bytes would
// come again. The failure shows "下载失败！" once, and the file is deleted,
// so that nobody opens it later.
void RunDownload(const DownloadJobRecord& job, const std::wstring& expectedSigner,
                 DownloadPlatform& platform, InstallerTrust& trust);

}  // namespace tarnix
