#include "download/download_worker.h"

#include "platform/message_box.h"

namespace tarnix {

void RunDownload(const DownloadJobRecord& job, const std::wstring& expectedSigner,
                 DownloadPorts& ports, InstallerTrustApi& trust) {
  if (ports.DownloadToFile(job.url, job.path) != 0) {
    ports.ShowMessage(kDownloadFailedText);
    return;
  }
  // The installer is started elevated: only a program from the expected
  // signer may go on, not an error page a server answered with status 200
  // nor whatever someone on the way substituted.
  InstallerCheck check = CheckInstaller(trust, job.path, expectedSigner);
  if (check.verdict != InstallerVerdict::kTrusted) {
    ports.RemoveFile(job.path);  // the check has closed the file already
    ports.ShowMessage(kDownloadFailedText);
    return;
  }
  ports.SignalFinished(std::move(check.file));
}

}  // namespace tarnix
