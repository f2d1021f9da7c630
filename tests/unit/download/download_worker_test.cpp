#include "download/download_worker.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarnix {
namespace {

// Records every call in order and answers from its two settings.
class FakeDownloadPorts : public DownloadPorts {
 public:
  long result = 0;
  bool isPe = true;
  std::vector<std::wstring> calls;

  long DownloadToFile(const std::wstring& url, const std::wstring& path) override {
    calls.push_back(L"download " + url + L" -> " + path);
    return result;
  }
  bool IsPeImageFile(const std::wstring& path) override {
    calls.push_back(L"check " + path);
    return isPe;
  }
  void RemoveFile(const std::wstring& path) override { calls.push_back(L"remove " + path); }
  void SignalFinished() override { calls.push_back(L"signal"); }
  void ShowMessage(const wchar_t* text) override { calls.push_back(std::wstring(L"message ") + text); }
};

const DownloadJobRecord kJob{L"http://host/file", L"C:\\T\\TarnixSetup.exe"};
const std::wstring kDownload = L"download http://host/file -> C:\\T\\TarnixSetup.exe";
const std::wstring kCheck = L"check C:\\T\\TarnixSetup.exe";

TEST(RunDownload, SignalsExactlyOnceAfterADownloadThatYieldsAProgram) {
  FakeDownloadPorts ports;
  RunDownload(kJob, ports);
  EXPECT_EQ(ports.calls, (std::vector<std::wstring>{kDownload, kCheck, L"signal"}));
}

TEST(RunDownload, AnyResultButSOkFailsWithoutTouchingTheFile) {
  // S_FALSE is a success code, but only S_OK counts; INET_E_RESOURCE_NOT_FOUND, E_ABORT.
  for (long result : {1L, static_cast<long>(0x800C0005u), static_cast<long>(0x80004004u)}) {
    FakeDownloadPorts ports;
    ports.result = result;
    RunDownload(kJob, ports);
    EXPECT_EQ(ports.calls, (std::vector<std::wstring>{kDownload, L"message 下载失败！"}))
        << std::hex << result;
  }
}

TEST(RunDownload, AFileThatIsNotAProgramIsDeletedAndReportedAsAFailedDownload) {
  FakeDownloadPorts ports;
  ports.isPe = false;
  RunDownload(kJob, ports);
  EXPECT_EQ(ports.calls,
            (std::vector<std::wstring>{kDownload, kCheck, L"remove C:\\T\\TarnixSetup.exe",
                                       L"message 下载失败！"}));
}

}  // namespace
}  // namespace tarnix
