#include "download/download_dialog_win.h"

#include <cstdio>
#include <cstdlib>

#include "download/download_dialog_ids.h"
#include "download/download_state_win.h"
#include "download/download_worker_win.h"
#include "download/installer_location.h"
#include "platform/app_framework_win.h"
#include "platform/thread_win.h"
#include "platform/ui_text_win.h"

namespace tarnix::win {

CUseThreadDownloadDlg::CUseThreadDownloadDlg(AppLaunch& launch, std::wstring url)
    : CDialogEx(IDD_DOWNLOAD_DIALOG), launch_(launch) {
  m_strUrl = std::move(url);
  m_strPath = InstallerPath(::_wgetenv(kTempVariableName));
  // "%ls" is the standard spelling of "%S": the wide path, converted for the
  // narrow stream. No line break follows. Written out at once: this process
  // ends by terminating itself, which flushes nothing, and no other thread
  // writes to the stream yet.
  std::printf("pathvar=%ls.", m_strPath.c_str());
  std::fflush(stdout);
  m_hIcon = ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME));
}

void CUseThreadDownloadDlg::DoDataExchange() {
  progressBar.Bind(GetSafeHwnd(), IDC_DOWNLOAD_PROGRESS);
  doneButton.Bind(GetSafeHwnd(), IDOK);
  transferLine.Bind(GetSafeHwnd(), IDC_TRANSFER_LINE);
}

BOOL CUseThreadDownloadDlg::OnInitDialog() {
  CDialogEx::OnInitDialog();
  // Failure boxes of the worker threads belong to this window, so they stand in front of it.
  if (CWinApp* app = AfxGetApp()) app->m_hMainWnd = GetSafeHwnd();
  ::SendMessageW(GetSafeHwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
  ::SendMessageW(GetSafeHwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
  // The texts in the user's language; the template's are the Chinese ones.
  ::SetDlgItemTextW(GetSafeHwnd(), IDC_PROGRESS_LABEL, UserUiText(UiText::kProgressLabel));
  ::SetDlgItemTextW(GetSafeHwnd(), IDOK, UserUiText(UiText::kDoneButton));
  StartDownload(*this);
  return TRUE;
}

bool CUseThreadDownloadDlg::OnMessage(UINT message, WPARAM wParam, LPARAM, INT_PTR& result) {
  switch (message) {
    case WM_PAINT:
      return OnPaint();
    case WM_QUERYDRAGICON:
      // Returned directly by the dialog procedure, as the system expects for this message.
      result = reinterpret_cast<INT_PTR>(m_hIcon);
      return true;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK && HIWORD(wParam) == BN_CLICKED) {
        OnDoneClicked();
        result = TRUE;
        return true;
      }
      return false;
    default:
      return false;
  }
}

bool CUseThreadDownloadDlg::OnPaint() {
  if (!::IsIconic(GetSafeHwnd())) return false;  // the system dialog paints itself
  PAINTSTRUCT paint;
  HDC dc = ::BeginPaint(GetSafeHwnd(), &paint);
  ::SendMessageW(GetSafeHwnd(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  int iconWidth = ::GetSystemMetrics(SM_CXICON);
  int iconHeight = ::GetSystemMetrics(SM_CYICON);
  RECT client;
  ::GetClientRect(GetSafeHwnd(), &client);
  int x = (client.right - client.left - iconWidth + 1) / 2;
  int y = (client.bottom - client.top - iconHeight + 1) / 2;
  ::DrawIcon(dc, x, y, m_hIcon);
  ::EndPaint(GetSafeHwnd(), &paint);
  return true;
}

void CUseThreadDownloadDlg::OnDoneClicked() {
  // Enter in the dialog sends IDOK even while the button is disabled; Done
  // means done only once the installation has enabled it.
  if (!doneButton.IsWindowEnabled()) return;
  // Only a downloaded installer is removed: one shipped beside the launcher
  // belongs to whoever put it there.
  if (checkedInstallerPath == m_strPath) ::DeleteFileW(m_strPath.c_str());
  EndDialog(IDCANCEL);
}

void RunDownloadDialog(AppLaunch& launch, const std::wstring& url) {
  CUseThreadDownloadDlg dialog(launch, url);
  dialog.DoModal();
  if (CWinApp* app = AfxGetApp()) app->m_hMainWnd = nullptr;
  // The dialog is gone from the screen. From the installer's start on, the
  // process stays, with nothing on screen, until the installer-run thread is
  // done: the lock is held while the installer runs, and the host's start and
  // its report are not cut.
  FinishClosedDialog(installStages, [] {
    // Handling sent messages: the thread may still own windows that the
    // system made for it, and a broadcast to them would wait for this wait.
    if (installThread) WaitHandlingSentMessages(installThread.Get(), INFINITE);
  });
}

}  // namespace tarnix::win
