#pragma once
// The download dialog: a label, the progress bar and the Done button, shown
// modally while the installer is downloaded and run.

#include <string>

#include "platform/dialog_win.h"

namespace tarnix {

class CUseThreadDownloadDlg final : public win::CDialogEx {
 public:
  // Template 102 without a parent; the URL, the installer path from "TEMP",
  // the trace "pathvar=<path>." on standard output and the icon.
  CUseThreadDownloadDlg();
  ~CUseThreadDownloadDlg() override = default;

  HICON m_hIcon = nullptr;
  std::wstring m_strUrl;
  std::wstring m_strPath;

 protected:
  void DoDataExchange() override;
  BOOL OnInitDialog() override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

 private:
  bool OnPaint();
  void OnDoneClicked();
};

// The download branch of start-up: runs the dialog modally as the
// application's main window. Returns when the user has closed it (normally
// the installer-run thread ends the process first).
void RunDownloadDialog();

}  // namespace tarnix
