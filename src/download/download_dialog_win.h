#pragma once
// The download dialog: a label, the progress bar and the Done button, shown
// modally while the installer is downloaded and run.

#include <string>

#include "download/install_run.h"
#include "platform/dialog_win.h"

namespace tarnix::win {

class CUseThreadDownloadDlg final : public CDialogEx {
 public:
  // Template 102 without a parent; the URL, the installer path from "TEMP",
  // the trace "pathvar=<path>." on standard output and the icon. `launch`
  // is what the installation hands over to; it must outlive every thread.
  // `url`: the installer's URL in force (built in, or a policy's).
  CUseThreadDownloadDlg(AppLaunch& launch, std::wstring url);
  ~CUseThreadDownloadDlg() override = default;

  HICON m_hIcon = nullptr;
  std::wstring m_strUrl;
  std::wstring m_strPath;

  // What the installer-run thread launches through.
  AppLaunch& Launch() const { return launch_; }

 protected:
  void DoDataExchange() override;
  BOOL OnInitDialog() override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

 private:
  bool OnPaint();
  void OnDoneClicked();

  AppLaunch& launch_;
};

// The download branch of start-up: runs the dialog modally as the
// application's main window; after the installation the installer-run thread
// launches the application through `launch`, which must never be destroyed
// (that thread may still use it after the dialog has closed). Returns when
// the user has closed the dialog (normally the installer-run thread ends the
// process first): at once during the download, or, when the installer was
// started, only once it has ended (the host is then not started). A close
// after the installer's end never returns: the installer-run thread ends the
// process once the host's start and its report are over.
void RunDownloadDialog(AppLaunch& launch, const std::wstring& url);

}  // namespace tarnix::win
