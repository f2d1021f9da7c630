// Reads and drives the windows of the Wine session for the end-to-end tests.
//
//   winprobe list                 one JSON object per visible top-level window
//                                 (title, class, process id, children with id,
//                                 class, text, enabled state and, for progress
//                                 bars, position and range) on standard output
//   winprobe click TITLE ID       clicks the button with control id ID in the
//                                 top-level window titled TITLE
//   winprobe close TITLE          closes that window as its close box does
//   winprobe dismiss TITLE ID     clicks as "click" does, then waits (up to 30 s)
//                                 until the thread that owns the window has
//                                 ended: after that it can show nothing more
//   winprobe hold                 keeps a hidden window open until ended, so
//                                 that Wine's desktop process stays up between
//                                 the programs of a test run
//   winprobe front TITLE          opens a visible window titled TITLE, makes it
//                                 the foreground window and keeps it open until
//                                 ended
//   winprobe foreground           the foreground window as one JSON object
//                                 (title, class, process id), or null
//   winprobe fits TITLE EXE ID [CONTROL TEXT]...
//                                 for each static and button of the window
//                                 titled TITLE, one JSON object: its id, the
//                                 size of its text on one line and the size of
//                                 its client area. The text is measured with
//                                 the font of dialog template ID of the program
//                                 EXE, made in this process (a font handle does
//                                 not cross processes), at the same resolution.
//                                 Then for each pair CONTROL TEXT, TEXT measured
//                                 so against control CONTROL's client area, as
//                                 an object with "sample":true: a text the
//                                 control may show later
//
// Exit code 0 on success, 2 when the window or control was not found, 3 when
// the thread of a dismissed window was still running after the wait.

#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <string>

#include "utf8.h"
#include <vector>

namespace {

std::string Json(const std::wstring& text) {
  std::string out = "\"";
  for (char c : Utf8(text)) {
    auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof(escaped), "\\u%04x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::wstring TextOf(HWND window) {
  wchar_t text[1024] = {};
  // The text the window system keeps for the window: read without sending
  // the window a message, so a window whose thread is busy still answers.
  InternalGetWindowText(window, text, 1024);
  return text;
}

// Asks a window of another process; 0 when its thread does not answer in time.
LRESULT Ask(HWND window, UINT message, WPARAM wParam) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(window, message, wParam, 0, SMTO_ABORTIFHUNG, 2000, &result)) return 0;
  return static_cast<LRESULT>(result);
}

std::wstring ClassOf(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return name;
}

BOOL CALLBACK CollectTopLevel(HWND window, LPARAM list) {
  if (IsWindowVisible(window)) reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
  return TRUE;
}

BOOL CALLBACK CollectChild(HWND window, LPARAM list) {
  reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
  return TRUE;
}

std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> children;
  EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&children));
  return children;
}

int List() {
  std::vector<HWND> windows;
  EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&windows));
  std::string out;
  for (HWND window : windows) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    out += "{\"title\":" + Json(TextOf(window)) + ",\"class\":" + Json(ClassOf(window)) +
           ",\"pid\":" + std::to_string(pid) +
           ",\"enabled\":" + (IsWindowEnabled(window) ? "true" : "false") + ",\"children\":[";
    bool first = true;
    for (HWND child : Children(window)) {
      std::wstring className = ClassOf(child);
      out += first ? "" : ",";
      first = false;
      out += "{\"id\":" + std::to_string(GetDlgCtrlID(child)) + ",\"class\":" + Json(className) +
             ",\"text\":" + Json(TextOf(child)) +
             ",\"enabled\":" + (IsWindowEnabled(child) ? "true" : "false") +
             ",\"visible\":" + (IsWindowVisible(child) ? "true" : "false");
      if (lstrcmpiW(className.c_str(), PROGRESS_CLASSW) == 0) {
        // PBM_GETRANGE fills a caller's record, which cannot cross processes:
        // ask for each end separately.
        auto low = static_cast<long>(Ask(child, PBM_GETRANGE, TRUE));
        auto high = static_cast<long>(Ask(child, PBM_GETRANGE, FALSE));
        auto pos = static_cast<long>(Ask(child, PBM_GETPOS, 0));
        out += ",\"pos\":" + std::to_string(pos) + ",\"low\":" + std::to_string(low) +
               ",\"high\":" + std::to_string(high);
      }
      out += "}";
    }
    out += "]}\n";
  }
  std::fputs(out.c_str(), stdout);
  std::fflush(stdout);
  return 0;
}

HWND FindTopLevel(const wchar_t* title) {
  std::vector<HWND> windows;
  EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&windows));
  for (HWND window : windows) {
    if (TextOf(window) == title) return window;
  }
  return nullptr;
}

int Click(const wchar_t* title, int id) {
  HWND window = FindTopLevel(title);
  if (window == nullptr) return 2;
  HWND button = GetDlgItem(window, id);
  if (button == nullptr) return 2;
  // Posted, so the probe never waits for a modal loop the click opens or ends.
  PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
  return 0;
}

int Dismiss(const wchar_t* title, int id) {
  HWND window = FindTopLevel(title);
  if (window == nullptr) return 2;
  // Opened before the click, so the handle names that thread even once its id is reused.
  HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, GetWindowThreadProcessId(window, nullptr));
  if (thread == nullptr) return 2;
  int result = Click(title, id);
  if (result == 0 && WaitForSingleObject(thread, 30000) != WAIT_OBJECT_0) result = 3;
  CloseHandle(thread);
  return result;
}

int Close(const wchar_t* title) {
  HWND window = FindTopLevel(title);
  if (window == nullptr) return 2;
  PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
  return 0;
}

int Hold() {
  HWND window = CreateWindowExW(0, L"STATIC", L"tarnix-e2e-hold", WS_POPUP, 0, 0, 1, 1, nullptr,
                                nullptr, GetModuleHandleW(nullptr), nullptr);
  if (window == nullptr) return 2;
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  return 0;
}

LRESULT CALLBACK FrontProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcW(window, message, wParam, lParam);
}

int Front(const wchar_t* title) {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = FrontProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"TarnixE2EFront";
  if (RegisterClassW(&windowClass) == 0) return 2;
  HWND window = CreateWindowExW(0, windowClass.lpszClassName, title, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                400, 300, nullptr, nullptr, windowClass.hInstance, nullptr);
  if (window == nullptr) return 2;
  SetForegroundWindow(window);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  return 0;
}

int Foreground() {
  HWND window = GetForegroundWindow();
  std::string out = "null\n";
  if (window != nullptr) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    out = "{\"title\":" + Json(TextOf(window)) + ",\"class\":" + Json(ClassOf(window)) +
          ",\"pid\":" + std::to_string(pid) + "}\n";
  }
  std::fputs(out.c_str(), stdout);
  std::fflush(stdout);
  return 0;
}

INT_PTR CALLBACK QuietDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

std::string FitLine(HDC dc, HWND control, const std::wstring& text, bool sample) {
  SIZE size = {};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  RECT client = {};
  GetClientRect(control, &client);
  return "{\"id\":" + std::to_string(GetDlgCtrlID(control)) + ",\"text\":" + Json(text) +
         ",\"text_width\":" + std::to_string(size.cx) + ",\"text_height\":" + std::to_string(size.cy) +
         ",\"width\":" + std::to_string(client.right - client.left) +
         ",\"height\":" + std::to_string(client.bottom - client.top) + (sample ? ",\"sample\":true}\n" : "}\n");
}

// `samples` holds `sampleCount` pairs of a control id and a text.
int Fits(const wchar_t* title, const wchar_t* exe, int templateId, wchar_t** samples, int sampleCount) {
  // As the launcher is, so that both see the same resolution.
  using SetProcessDPIAwareFunction = BOOL(WINAPI*)();
  auto setAware = reinterpret_cast<SetProcessDPIAwareFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetProcessDPIAware")));
  if (setAware != nullptr) setAware();
  HWND window = FindTopLevel(title);
  HMODULE module = LoadLibraryExW(exe, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (window == nullptr || module == nullptr) return 2;
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  HWND copy = CreateDialogParamW(module, MAKEINTRESOURCEW(templateId), nullptr, QuietDialogProc, 0);
  if (copy == nullptr) return 2;
  auto font = reinterpret_cast<HFONT>(SendMessageW(copy, WM_GETFONT, 0, 0));
  HDC dc = GetDC(copy);
  HGDIOBJ old = SelectObject(dc, font);
  std::string out;
  for (HWND child : Children(window)) {
    std::wstring className = ClassOf(child);
    if (lstrcmpiW(className.c_str(), L"Static") != 0 && lstrcmpiW(className.c_str(), L"Button") != 0) continue;
    out += FitLine(dc, child, TextOf(child), false);
  }
  bool found = true;
  for (int i = 0; i < sampleCount; ++i) {
    HWND control = GetDlgItem(window, _wtoi(samples[2 * i]));
    if (control == nullptr) {
      found = false;
      continue;
    }
    out += FitLine(dc, control, samples[2 * i + 1], true);
  }
  SelectObject(dc, old);
  ReleaseDC(copy, dc);
  DestroyWindow(copy);
  FreeLibrary(module);
  std::fputs(out.c_str(), stdout);
  std::fflush(stdout);
  return found ? 0 : 2;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr || argc < 2) return 1;
  std::wstring command = argv[1];
  int result = 1;
  if (command == L"list") {
    result = List();
  } else if (command == L"click" && argc == 4) {
    result = Click(argv[2], _wtoi(argv[3]));
  } else if (command == L"hold") {
    result = Hold();
  } else if (command == L"dismiss" && argc == 4) {
    result = Dismiss(argv[2], _wtoi(argv[3]));
  } else if (command == L"close" && argc == 3) {
    result = Close(argv[2]);
  } else if (command == L"front" && argc == 3) {
    result = Front(argv[2]);
  } else if (command == L"foreground") {
    result = Foreground();
  } else if (command == L"fits" && argc >= 5 && (argc - 5) % 2 == 0) {
    result = Fits(argv[2], argv[3], _wtoi(argv[4]), argv + 5, (argc - 5) / 2);
  }
  LocalFree(argv);
  return result;
}
