#include "platform/dialog_win.h"

#include <commctrl.h>

namespace tarnix::win {

bool CWndControl::Bind(HWND dialog, int id) {
  hwnd_ = ::GetDlgItem(dialog, id);
  return hwnd_ != nullptr;
}

void CWndControl::EnableWindow(bool enable) const { ::EnableWindow(hwnd_, enable ? TRUE : FALSE); }

bool CWndControl::IsWindowEnabled() const { return ::IsWindowEnabled(hwnd_) != FALSE; }

void CWndControl::UpdateWindow() const { ::UpdateWindow(hwnd_); }

void CProgressCtrl::SetRange32(int low, int high) const {
  ::SendMessageW(hwnd_, PBM_SETRANGE32, static_cast<WPARAM>(low), static_cast<LPARAM>(high));
}

void CProgressCtrl::SetPos(int position) const {
  ::SendMessageW(hwnd_, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void CStatic::SetText(const wchar_t* text) const {
  ::SendMessageW(hwnd_, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

INT_PTR CDialogEx::DoModal() {
  return ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(templateId_), parent_,
                           &CDialogEx::DialogProc, reinterpret_cast<LPARAM>(this));
}

void CDialogEx::EndDialog(INT_PTR result) const { ::EndDialog(hwnd_, result); }

BOOL CDialogEx::OnInitDialog() {
  DoDataExchange();
  return TRUE;
}

void CDialogEx::OnOK() { EndDialog(IDOK); }

void CDialogEx::OnCancel() { EndDialog(IDCANCEL); }

bool CDialogEx::OnMessage(UINT, WPARAM, LPARAM, INT_PTR&) { return false; }

INT_PTR CALLBACK CDialogEx::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  // The object travels in WM_INITDIALOG's lParam and then lives in the
  // window's user data; messages before it (WM_SETFONT) go to the default.
  if (message == WM_INITDIALOG) {
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, lParam);
    reinterpret_cast<CDialogEx*>(lParam)->hwnd_ = hwnd;
  }
  auto* dialog = reinterpret_cast<CDialogEx*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (dialog == nullptr) return FALSE;
  // No exception may unwind through the system's dialog code: the Windows
  // build has exceptions switched off, so a handler cannot throw at all.
  return dialog->Dispatch(message, wParam, lParam);
}

INT_PTR CDialogEx::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) return OnInitDialog();
  INT_PTR result = FALSE;
  if (OnMessage(message, wParam, lParam, result)) return result;
  if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
    switch (LOWORD(wParam)) {
      case IDOK:
        OnOK();
        return TRUE;
      case IDCANCEL:  // close box, system menu and Esc all arrive here
        OnCancel();
        return TRUE;
      default:
        break;
    }
  }
  return FALSE;
}

}  // namespace tarnix::win
