#include "download/download_worker.h"

#include "download/progress.h"
#include "platform/message_box.h"

namespace tarnix {

void RunDownload(const DownloadJobRecord& job, const std::wstring& expectedSigner,
                 DownloadPlatform& platform, InstallerTrust& trust) {
  // For the thread's whole run: the URL moniker and what it loads expect an
  // apartment on the thread that calls it.
  ComApartment com(platform);
  if (platform.DownloadToFile(job.url, job.path) != kResultOk) {
    platform.ShowMessage(kDownloadFailedText);
    return;
  }
  // The installer is started elevated: only a program from the expected
  // signer may go on, not an error page a server answered with status 200
  // nor whatever someone on the way substituted.
  InstallerCheck check = CheckInstaller(trust, job.path, expectedSigner);
  if (check.verdict != InstallerVerdict::kTrusted) {
    platform.RemoveFile(job.path);  // the check has closed the file already
    platform.ShowMessage(kDownloadFailedText);
    return;
  }
  platform.SignalFinished(std::move(check.file));
}

}  // namespace tarnix
