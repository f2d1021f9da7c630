#pragma once
// What the download thread does with one job, shaped so that the Windows side
// is a pass-through.

#include <string>

#include "download/installer_trust.h"
#include "platform/com.h"

namespace tarnix {

// The process-wide job: filled before the download thread starts, then only read.
struct DownloadJobRecord {
  std::wstring url;
  std::wstring path;
};

// The download thread joins a COM apartment through the ComLibrary side:
// the URL moniker is a COM binding.
class DownloadPlatform : public ComLibrary {
 public:
  // URLDownloadToFileW of `url` into `path` with the progress callback; its result.
  virtual long DownloadToFile(const std::wstring& url, const std::wstring& path) = 0;
  // DeleteFileW; a failure is ignored.
  virtual void RemoveFile(const std::wstring& path) = 0;
  // Hands the checked installer, still open, to the installer run and sets
  // downloadFinished.
  virtual void SignalFinished(InstallerFile installer) = 0;
  // A failure message box; returns when the user has closed it.
  virtual void ShowMessage(const wchar_t* text) = 0;
};

// Downloads the job's file, inside a COM apartment. Only a download that returns exactly S_OK and
// yields a program signed by `expectedSigner` (any program when that is
// empty) releases the installer run, which receives the file still open.
// Anything else shows "下载失败！"; a downloaded file that fails the check is
// also deleted, so that nobody opens it later.
void RunDownload(const DownloadJobRecord& job, const std::wstring& expectedSigner,
                 DownloadPlatform& platform, InstallerTrust& trust);

}  // namespace tarnix
