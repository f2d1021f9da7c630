#include "download/download_worker.h"

namespace tarnix {

void RunDownload(const DownloadJobRecord& job, DownloadPorts& ports) {
  if (ports.DownloadToFile(job.url, job.path) != 0) {
    ports.ShowMessage(kDownloadFailedText);
    return;
  }
  // A server may answer with status 200 and an error or portal page; the
  // installer is started elevated, so only a Windows program may go on.
  if (!ports.IsPeImageFile(job.path)) {
    ports.RemoveFile(job.path);
    ports.ShowMessage(kDownloadFailedText);
    return;
  }
  ports.SignalFinished();
}

}  // namespace tarnix
