// SPDX-License-Identifier: BSD-3-Clause
#include "win32_window.h"

#include <windows.h>
#include <commdlg.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <future>
#include <map>
#include <mutex>

namespace nubo::platform {

namespace {

constexpr const char kClassName[] = "NUBOCONV";
// Posted to the window: run the work queued by runOnUiThread; end the loop.
constexpr UINT kWorkMessage = WM_APP + 1;
constexpr UINT kQuitMessage = WM_APP + 2;
// The file dialogs' buffers: a path of at most 299 characters, a title of 63.
constexpr DWORD kDialogPathBuffer = 300;
constexpr DWORD kDialogTitleBuffer = 64;
// Lines scrolled per notch of the mouse wheel (the system's default).
constexpr int kWheelLines = 3;

const char* classNameOf(ControlClass cls) {
  switch (cls) {
    case ControlClass::Static: return "STATIC";
    case ControlClass::Button: return "BUTTON";
    case ControlClass::Edit: return "EDIT";
    case ControlClass::ListBox: return "LISTBOX";
  }
  return "STATIC";
}

ScrollRequest requestOf(WORD code, bool* known) {
  *known = true;
  switch (code) {
    case SB_LINEUP: return ScrollRequest::LineUp;
    case SB_LINEDOWN: return ScrollRequest::LineDown;
    case SB_PAGEUP: return ScrollRequest::PageUp;
    case SB_PAGEDOWN: return ScrollRequest::PageDown;
    // The final position of a drag is where the last tracking step left it.
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: return ScrollRequest::ThumbTrack;
    case SB_TOP: return ScrollRequest::Top;
    case SB_BOTTOM: return ScrollRequest::Bottom;
    case SB_ENDSCROLL: return ScrollRequest::EndScroll;
    default: *known = false; return ScrollRequest::EndScroll;
  }
}

// The Yes/No box: MessageBoxA has no way to caption its buttons, so a CBT
// hook, installed for the one call on this thread, renames them when the box
// is activated, and makes Escape answer No (a box without a Cancel button
// ignores Escape otherwise).
struct YesNoCaptions {
  HHOOK hook = nullptr;
  const std::string* yes = nullptr;
  const std::string* no = nullptr;
  WNDPROC boxProc = nullptr;
};
thread_local YesNoCaptions tYesNo;

LRESULT CALLBACK escapeAnswersNo(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
    ::EndDialog(box, IDNO);
    return 0;
  }
  return ::CallWindowProcA(tYesNo.boxProc, box, message, wParam, lParam);
}

LRESULT CALLBACK yesNoHook(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_ACTIVATE && tYesNo.hook != nullptr) {
    HWND box = reinterpret_cast<HWND>(wParam);
    ::SetDlgItemTextA(box, IDYES, tYesNo.yes->c_str());
    ::SetDlgItemTextA(box, IDNO, tYesNo.no->c_str());
    tYesNo.boxProc = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrA(box, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&escapeAnswersNo)));
    const HHOOK hook = tYesNo.hook;
    tYesNo.hook = nullptr;
    ::UnhookWindowsHookEx(hook);
    return 0;
  }
  return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

struct Win32Window::Impl {
  struct UiTask {
    std::function<void()> work;
    std::promise<void> done;
    bool finished = false;
    void finish() {
      if (!finished) {
        finished = true;
        done.set_value();
      }
    }
  };

  HINSTANCE instance = ::GetModuleHandleA(nullptr);
  HWND hwnd = nullptr;
  WindowEvents* events = nullptr;
  DWORD uiThread = 0;
  std::map<int, HWND> controls;
  bool created = false;      // onCreate has been delivered
  bool destroyed = false;
  bool quitRequested = false;
  int quitCode = 0;
  int pendingFocus = -1;     // a control to focus when the window is shown
  int lastSize[2] = {-1, -1};

  std::mutex queueMutex;
  std::deque<std::shared_ptr<UiTask>> queue;
  bool queueClosed = false;

  HWND find(int id) const {
    const auto it = controls.find(id);
    return it == controls.end() ? nullptr : it->second;
  }

  bool onUiThread() const { return ::GetCurrentThreadId() == uiThread; }

  void drain() {
    for (;;) {
      std::shared_ptr<UiTask> task;
      {
        std::lock_guard<std::mutex> lock(queueMutex);
        if (queueClosed || queue.empty()) return;
        task = queue.front();
        queue.pop_front();
      }
      task->work();
      task->finish();
    }
  }

  // No more work is run; every worker waiting is released.
  void closeQueue() {
    std::deque<std::shared_ptr<UiTask>> dropped;
    {
      std::lock_guard<std::mutex> lock(queueMutex);
      queueClosed = true;
      dropped.swap(queue);
    }
    for (auto& task : dropped) task->finish();
  }

  // The enabled, visible default push button, or -1. It is the first
  // button created with BS_DEFPUSHBUTTON (or the one DM_SETDEFID named),
  // remembered here: the dialog manager moves the style itself to whichever
  // push button has the focus, as a dialog's default does.
  int defaultButton() const {
    HWND control = find(defaultId);
    if (control == nullptr) return -1;
    const LONG_PTR style = ::GetWindowLongPtrA(control, GWL_STYLE);
    return (style & WS_VISIBLE) != 0 && (style & WS_DISABLED) == 0 ? defaultId : -1;
  }
  int defaultId = -1;

  bool isOurs(HWND h) const { return hwnd != nullptr && (h == hwnd || ::IsChild(hwnd, h)); }

  // The owner of a message box: the window while it is there.
  HWND owner() const { return hwnd != nullptr && !destroyed && ::IsWindow(hwnd) ? hwnd : nullptr; }

  std::optional<std::string> fileDialog(bool save, const std::string& initialPath) {
    char file[kDialogPathBuffer] = {};
    char title[kDialogTitleBuffer] = {};
    initialPath.copy(file, kDialogPathBuffer - 1);
    OPENFILENAMEA ofn {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner();
    ofn.lpstrFilter = "*.*\0*.*\0";
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file;
    ofn.nMaxFile = kDialogPathBuffer;
    ofn.lpstrFileTitle = title;
    ofn.nMaxFileTitle = kDialogTitleBuffer;
    // The typed name is taken as it is (a pattern, a directory or a file
    // that does not exist yet are all fields the converter understands);
    // no read-only box. OFN_NOCHANGEDIR: the dialog would otherwise make the
    // folder it showed the current directory, and a relative field typed
    // later would then name a file somewhere else.
    ofn.Flags = OFN_NOVALIDATE | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_EXPLORER;
    const BOOL ok = save ? ::GetSaveFileNameA(&ofn) : ::GetOpenFileNameA(&ofn);
    if (!ok || file[0] == '\0') return std::nullopt;  // cancelled, or a path too long for the buffer
    return std::string(file);
  }

  static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
      auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
      ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* im = reinterpret_cast<Impl*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (im == nullptr) return ::DefWindowProcA(hwnd, message, wParam, lParam);
    return im->handle(hwnd, message, wParam, lParam);
  }

  LRESULT handle(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
      case WM_CREATE:
        hwnd = h;
        if (events != nullptr) events->onCreate();
        created = true;
        return 0;
      case WM_SIZE: {
        // A minimized window has no client area to lay out: the layout of
        // the restored window is kept.
        if (wParam == SIZE_MINIMIZED || !created || events == nullptr) return 0;
        const int w = LOWORD(lParam);
        const int ht = HIWORD(lParam);
        lastSize[0] = w;
        lastSize[1] = ht;
        events->onSize(w, ht);
        return 0;
      }
      case WM_PAINT: {
        PAINTSTRUCT ps;
        ::BeginPaint(h, &ps);
        ::EndPaint(h, &ps);
        return 0;
      }
      case WM_COMMAND: {
        const int id = LOWORD(wParam);
        const WORD code = HIWORD(wParam);
        HWND from = reinterpret_cast<HWND>(lParam);
        // Only a control of ours that was clicked (or a list box whose
        // selection changed) is a command: edits and statics also send
        // WM_COMMAND for focus and text changes.
        HWND control = find(id);
        if (control == nullptr || from != control || events == nullptr) return 0;
        char cls[16] = {};
        ::GetClassNameA(control, cls, sizeof cls);
        if (code == EN_SETFOCUS && lstrcmpiA(cls, "EDIT") == 0) {
          // Tabbing over a push button made it the one drawn as default;
          // from a field, Enter presses the default button: show it so.
          if (HWND button = find(defaultButton())) ::SendMessageA(button, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
          return 0;
        }
        const bool list = lstrcmpiA(cls, "LISTBOX") == 0;
        if ((list && code == LBN_SELCHANGE) || (!list && lstrcmpiA(cls, "EDIT") != 0 && code == BN_CLICKED)) {
          events->onCommand(id);
        }
        return 0;
      }
      case WM_HSCROLL:
      case WM_VSCROLL: {
        if (lParam != 0 || events == nullptr) return 0;  // a scroll bar control, not the window's
        bool known = false;
        const ScrollRequest request = requestOf(LOWORD(wParam), &known);
        if (!known) return 0;
        // The 16-bit position of the message is cut at 65535; the tracking
        // position itself is asked for.
        int thumb = HIWORD(wParam);
        if (request == ScrollRequest::ThumbTrack) {
          SCROLLINFO si {};
          si.cbSize = sizeof si;
          si.fMask = SIF_TRACKPOS;
          if (::GetScrollInfo(h, message == WM_HSCROLL ? SB_HORZ : SB_VERT, &si)) thumb = si.nTrackPos;
        }
        events->onScroll(message == WM_HSCROLL ? ScrollBar::Horizontal : ScrollBar::Vertical, request, thumb);
        return 0;
      }
      case WM_MOUSEWHEEL: {
        if (events == nullptr) return 0;
        const int notches = GET_WHEEL_DELTA_WPARAM(wParam) / WHEEL_DELTA;
        const ScrollRequest request = notches > 0 ? ScrollRequest::LineUp : ScrollRequest::LineDown;
        for (int i = 0; i < std::abs(notches) * kWheelLines; ++i) events->onScroll(ScrollBar::Vertical, request, 0);
        return 0;
      }
      case DM_GETDEFID: {
        // IsDialogMessageA asks which button Enter presses.
        const int id = defaultButton();
        return id >= 0 ? MAKELRESULT(id, DC_HASDEFID) : 0;
      }
      case DM_SETDEFID:
        defaultId = static_cast<int>(wParam);
        return TRUE;
      case WM_CLOSE:
        if (events == nullptr || events->onClose()) owner_->destroy();
        return 0;
      case WM_DESTROY:
        destroyed = true;
        if (!quitRequested) {
          quitRequested = true;
          quitCode = 0;
        }
        ::PostQuitMessage(quitCode);
        return 0;
      case kWorkMessage:
        drain();
        return 0;
      case kQuitMessage:
        ::PostQuitMessage(quitCode);
        return 0;
      default:
        return ::DefWindowProcA(h, message, wParam, lParam);
    }
  }

  Win32Window* owner_ = nullptr;
};

Win32Window::Win32Window() : impl_(std::make_unique<Impl>()) { impl_->owner_ = this; }

Win32Window::~Win32Window() {
  impl_->closeQueue();
  if (impl_->hwnd != nullptr && ::IsWindow(impl_->hwnd)) {
    ::SetWindowLongPtrA(impl_->hwnd, GWLP_USERDATA, 0);
    ::DestroyWindow(impl_->hwnd);
  }
}

void* Win32Window::handle() const { return impl_->hwnd; }

bool Win32Window::create(const std::string& title, WindowEvents& events) {
  Impl& im = *impl_;
  if (im.hwnd != nullptr) return false;
  im.uiThread = ::GetCurrentThreadId();
  im.events = &events;
  WNDCLASSA wc {};
  if (!::GetClassInfoA(im.instance, kClassName, &wc)) {
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = &Impl::windowProc;
    wc.hInstance = im.instance;
    wc.hIcon = ::LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
    wc.hCursor = ::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClassName;
    if (::RegisterClassA(&wc) == 0) return false;
  }
  HWND hwnd = ::CreateWindowExA(0, kClassName, title.c_str(), WS_OVERLAPPEDWINDOW | WS_VSCROLL | WS_HSCROLL,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                                im.instance, &im);
  if (hwnd == nullptr) return false;
  im.hwnd = hwnd;
  // Windows sends the first WM_SIZE while the window is made or when it is
  // first shown; the interface promises it now.
  if (im.lastSize[0] < 0 && im.created && !im.destroyed && !im.quitRequested) {
    RECT client {};
    ::GetClientRect(hwnd, &client);
    im.lastSize[0] = client.right - client.left;
    im.lastSize[1] = client.bottom - client.top;
    events.onSize(im.lastSize[0], im.lastSize[1]);
  }
  return true;
}

int Win32Window::run() {
  Impl& im = *impl_;
  if (im.hwnd != nullptr && !im.quitRequested && !im.destroyed) {
    // SW_SHOWDEFAULT: the show mode the program was started with.
    ::ShowWindow(im.hwnd, SW_SHOWDEFAULT);
    ::UpdateWindow(im.hwnd);
    if (im.pendingFocus >= 0) {
      if (HWND c = im.find(im.pendingFocus)) ::SetFocus(c);
      im.pendingFocus = -1;
    }
    MSG msg;
    while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
      if (im.isOurs(msg.hwnd) && msg.message == WM_KEYDOWN) {
        // Escape would reach IsDialogMessageA as the command IDCANCEL (2),
        // which is a job-kind button's ID here: it does nothing in this
        // window. Enter without a default button would become IDOK (1).
        if (msg.wParam == VK_ESCAPE) continue;
        if (msg.wParam == VK_RETURN && im.defaultButton() < 0) {
          ::TranslateMessage(&msg);
          ::DispatchMessageA(&msg);
          continue;
        }
      }
      if (im.hwnd != nullptr && !im.destroyed && ::IsDialogMessageA(im.hwnd, &msg)) continue;
      ::TranslateMessage(&msg);
      ::DispatchMessageA(&msg);
    }
  }
  im.closeQueue();
  return im.quitRequested ? im.quitCode : 0;
}

void Win32Window::quit(int code) {
  Impl& im = *impl_;
  im.quitCode = code;
  im.quitRequested = true;
  if (im.onUiThread()) {
    ::PostQuitMessage(code);
  } else if (im.hwnd != nullptr) {
    ::PostMessageA(im.hwnd, kQuitMessage, 0, 0);
  }
}

void Win32Window::destroy() {
  Impl& im = *impl_;
  if (im.destroyed) return;
  // WATCHOUT: closed before onDestroy, which may join a worker that is
  // waiting in runOnUiThread; nothing would serve that wait any more.
  im.closeQueue();
  if (im.events != nullptr) im.events->onDestroy();
  im.destroyed = true;
  if (im.hwnd != nullptr && ::IsWindow(im.hwnd)) ::DestroyWindow(im.hwnd);
}

TextMetrics Win32Window::textMetrics() {
  Impl& im = *impl_;
  TextMetrics metrics;
  HDC dc = ::GetDC(im.hwnd);  // the screen's when there is no window yet
  TEXTMETRICA tm {};
  if (dc != nullptr && ::GetTextMetricsA(dc, &tm)) {
    metrics.averageCharWidth = tm.tmAveCharWidth;
    metrics.height = tm.tmHeight;
    // WATCHOUT: TMPF_FIXED_PITCH set means a variable-pitch font.
    metrics.fixedPitch = (tm.tmPitchAndFamily & TMPF_FIXED_PITCH) == 0;
  }
  if (dc != nullptr) ::ReleaseDC(im.hwnd, dc);
  return metrics;
}

void Win32Window::createControl(int id, ControlClass cls, const std::string& caption, uint32_t styleBits,
                                const Rect& rect) {
  Impl& im = *impl_;
  if (im.hwnd == nullptr) return;
  if (HWND old = im.find(id)) {
    ::DestroyWindow(old);
    im.controls.erase(id);
  }
  // The style of the definition file as it is; a control is a child of the
  // main window whatever the file says.
  const DWORD style = static_cast<DWORD>(styleBits) | WS_CHILD;
  HWND control = ::CreateWindowExA(0, classNameOf(cls), caption.c_str(), style, rect.x, rect.y,
                                   std::max(0, rect.width), std::max(0, rect.height), im.hwnd,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), im.instance, nullptr);
  if (control == nullptr) return;
  im.controls[id] = control;
  if (cls == ControlClass::Button && (styleBits & 0x0F) == BS_DEFPUSHBUTTON && im.find(im.defaultId) == nullptr) {
    im.defaultId = id;
  }
}

bool Win32Window::hasControl(int id) const { return impl_->find(id) != nullptr; }

void Win32Window::setText(int id, const std::string& text) {
  HWND c = impl_->find(id);
  if (c == nullptr) return;
  char cls[16] = {};
  ::GetClassNameA(c, cls, sizeof cls);
  if (lstrcmpiA(cls, "EDIT") == 0) {
    // WM_SETTEXT ignores the limit that the user's typing has; it is kept here.
    const auto limit = static_cast<std::size_t>(::SendMessageA(c, EM_GETLIMITTEXT, 0, 0));
    if (limit > 0 && text.size() > limit) {
      ::SetWindowTextA(c, text.substr(0, limit).c_str());
      return;
    }
  }
  ::SetWindowTextA(c, text.c_str());
}

std::string Win32Window::getText(int id) {
  HWND c = impl_->find(id);
  if (c == nullptr) return {};
  const int length = ::GetWindowTextLengthA(c);
  if (length <= 0) return {};
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  const int n = ::GetWindowTextA(c, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(std::max(0, n)));
  return text;
}

void Win32Window::setTextLimit(int id, int characters) {
  if (HWND c = impl_->find(id)) ::SendMessageA(c, EM_LIMITTEXT, characters > 0 ? characters : 0, 0);
}

bool Win32Window::getCheck(int id) {
  HWND c = impl_->find(id);
  return c != nullptr && ::SendMessageA(c, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void Win32Window::setCheck(int id, bool checked) {
  if (HWND c = impl_->find(id)) ::SendMessageA(c, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void Win32Window::showPressed(int id, bool pressed) {
  if (HWND c = impl_->find(id)) ::SendMessageA(c, BM_SETSTATE, pressed ? TRUE : FALSE, 0);
}

void Win32Window::enable(int id, bool enabled) {
  if (HWND c = impl_->find(id)) ::EnableWindow(c, enabled ? TRUE : FALSE);
}

void Win32Window::focusMainWindow() {
  Impl& im = *impl_;
  im.pendingFocus = -1;
  if (im.hwnd != nullptr && !im.destroyed) ::SetFocus(im.hwnd);
}

void Win32Window::focusControl(int id) {
  Impl& im = *impl_;
  HWND c = im.find(id);
  if (c == nullptr) return;
  const LONG_PTR style = ::GetWindowLongPtrA(c, GWL_STYLE);
  if ((style & WS_VISIBLE) == 0 || (style & WS_DISABLED) != 0) return;
  // Before the window is shown the focus cannot be set: run() sets it.
  if (!::IsWindowVisible(im.hwnd)) {
    im.pendingFocus = id;
    return;
  }
  ::SetFocus(c);
}

void Win32Window::scrollContent(int dx, int dy) {
  Impl& im = *impl_;
  if (im.hwnd == nullptr || (dx == 0 && dy == 0)) return;
  if (::IsWindowVisible(im.hwnd)) {
    // With no rectangle ScrollWindow moves the child controls too.
    ::ScrollWindow(im.hwnd, dx, dy, nullptr, nullptr);
    return;
  }
  // WATCHOUT: a window not shown yet has nothing on the screen to scroll,
  // and ScrollWindow leaves its controls where they are; they are moved
  // one by one.
  for (const auto& [id, control] : im.controls) {
    RECT r {};
    ::GetWindowRect(control, &r);
    POINT p {r.left, r.top};
    ::ScreenToClient(im.hwnd, &p);
    ::SetWindowPos(control, nullptr, p.x + dx, p.y + dy, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

void Win32Window::setScrollRange(ScrollBar bar, int minimum, int maximum) {
  Impl& im = *impl_;
  if (im.hwnd != nullptr) ::SetScrollRange(im.hwnd, bar == ScrollBar::Horizontal ? SB_HORZ : SB_VERT, minimum, maximum, TRUE);
}

void Win32Window::setScrollPosition(ScrollBar bar, int position) {
  Impl& im = *impl_;
  if (im.hwnd != nullptr) ::SetScrollPos(im.hwnd, bar == ScrollBar::Horizontal ? SB_HORZ : SB_VERT, position, TRUE);
}

bool Win32Window::askYesNo(const std::string& text, const std::string& caption, const std::string& yes,
                           const std::string& no) {
  tYesNo.yes = &yes;
  tYesNo.no = &no;
  tYesNo.hook = ::SetWindowsHookExA(WH_CBT, &yesNoHook, nullptr, ::GetCurrentThreadId());
  // MB_DEFBUTTON1: Enter answers Yes.
  const int answer = ::MessageBoxA(impl_->owner(), text.c_str(), caption.c_str(),
                                   MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON1 | MB_APPLMODAL);
  if (tYesNo.hook != nullptr) {  // the box never appeared
    ::UnhookWindowsHookEx(tYesNo.hook);
    tYesNo.hook = nullptr;
  }
  return answer == IDYES;
}

void Win32Window::showError(const std::string& caption, const std::string& text) {
  ::MessageBoxA(impl_->owner(), text.c_str(), caption.c_str(), MB_OK | MB_ICONERROR | MB_APPLMODAL);
}

std::optional<std::string> Win32Window::openFileDialog(const std::string& initialPath) {
  return impl_->fileDialog(false, initialPath);
}

std::optional<std::string> Win32Window::saveFileDialog(const std::string& initialPath) {
  return impl_->fileDialog(true, initialPath);
}

void Win32Window::runOnUiThread(const std::function<void()>& work) {
  Impl& im = *impl_;
  if (im.onUiThread() || im.hwnd == nullptr) {
    work();
    return;
  }
  auto task = std::make_shared<Impl::UiTask>();
  task->work = work;
  std::future<void> done = task->done.get_future();
  {
    std::lock_guard<std::mutex> lock(im.queueMutex);
    if (im.queueClosed) return;
    im.queue.push_back(task);
  }
  // A posted message reaches the window also inside the modal loops of the
  // message boxes and file dialogs, so the worker is served while they are
  // open. When the window is gone the post fails and the work is dropped.
  if (!::PostMessageA(im.hwnd, kWorkMessage, 0, 0)) {
    std::lock_guard<std::mutex> lock(im.queueMutex);
    const auto it = std::find(im.queue.begin(), im.queue.end(), task);
    if (it != im.queue.end()) {
      im.queue.erase(it);
      task->finish();
    }
  }
  done.wait();
}

}  // namespace nubo::platform
