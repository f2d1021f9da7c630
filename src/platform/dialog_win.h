#pragma once
// A small stand-in for the dialog part of MFC: a modal dialog run from a
// template, with member handlers, and control objects bound to its children.

#include <windows.h>

namespace tarnix::win {

// A child window of a dialog, bound by its id while the dialog initialises.
// Process-wide instances exist before any window does; until bound, every
// call goes to no window and does nothing.
class CWndControl {
 public:
  constexpr CWndControl() = default;
  CWndControl(const CWndControl&) = delete;
  CWndControl& operator=(const CWndControl&) = delete;

  // Binds child `id` of `dialog`. Returns false when there is no such child.
  bool Bind(HWND dialog, int id);
  HWND GetSafeHwnd() const { return hwnd_; }
  void EnableWindow(bool enable) const;
  bool IsWindowEnabled() const;
  void UpdateWindow() const;

 protected:
  // Written once on the main thread before any worker thread starts; only
  // read afterwards.
  HWND hwnd_ = nullptr;
};

class CProgressCtrl : public CWndControl {
 public:
  // PBM_SETRANGE32.
  void SetRange32(int low, int high) const;
  // PBM_SETPOS, sent: returns after the bar's thread has handled it.
  void SetPos(int position) const;
};

class CButton : public CWndControl {};

class CStatic : public CWndControl {
 public:
  // WM_SETTEXT, sent: returns after the control's thread has handled it.
  void SetText(const wchar_t* text) const;
};

// A modal dialog made from a dialog template of the program's resources.
class CDialogEx {
 public:
  explicit CDialogEx(int templateId, HWND parent = nullptr)
      : templateId_(templateId), parent_(parent) {}
  virtual ~CDialogEx() = default;
  CDialogEx(const CDialogEx&) = delete;
  CDialogEx& operator=(const CDialogEx&) = delete;

  // Runs the dialog until EndDialog; returns its result, or -1 when the
  // dialog could not be created.
  INT_PTR DoModal();
  HWND GetSafeHwnd() const { return hwnd_; }
  void EndDialog(INT_PTR result) const;

 protected:
  // Binds the control objects (the base binds nothing).
  virtual void DoDataExchange() {}
  // WM_INITDIALOG: runs DoDataExchange. Returns TRUE to let the system set the focus.
  virtual BOOL OnInitDialog();
  // WM_COMMAND IDOK / IDCANCEL when no handler took them: end the dialog with that id.
  virtual void OnOK();
  virtual void OnCancel();
  // The derived dialog's own message handlers, asked before the base's.
  // Returns true when handled, with `result` as the dialog procedure's value.
  virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result);

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);

  int templateId_;
  HWND parent_;
  HWND hwnd_ = nullptr;
};

}  // namespace tarnix::win
