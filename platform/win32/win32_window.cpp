// SPDX-License-Identifier: BSD-3-Clause
#include "win32_window.h"

#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <deque>
#include <future>
#include <map>
#include <mutex>
#include <set>
#include <vector>

#include "win32_os_internal.h"
#include "window_text.h"

namespace nubo::platform {

using win32::utf8;
using win32::wide;

namespace {

constexpr const wchar_t kClassName[] = L"NUBOCONV";
// Posted to the window: run the work queued by runOnUiThread; end the loop.
constexpr UINT kWorkMessage = WM_APP + 1;
constexpr UINT kQuitMessage = WM_APP + 2;
// The file dialogs' buffers: a path of at most 299 characters, a title of 63.
constexpr DWORD kDialogPathBuffer = 300;
constexpr DWORD kDialogTitleBuffer = 64;
// Lines scrolled per notch of the mouse wheel (the system's default).
constexpr int kWheelLines = 3;

const wchar_t* classNameOf(ControlClass cls) {
  switch (cls) {
    case ControlClass::Static: return L"STATIC";
    case ControlClass::Button: return L"BUTTON";
    case ControlClass::Edit: return L"EDIT";
    case ControlClass::ListBox: return L"LISTBOX";
  }
  return L"STATIC";
}

// The control's system class, upper case ("EDIT").
bool isClass(HWND control, const wchar_t* name) {
  wchar_t cls[16] = {};
  ::GetClassNameW(control, cls, 16);
  return ::lstrcmpiW(cls, name) == 0;
}

bool isRadioStyle(uint32_t styleBits) {
  const uint32_t kind = styleBits & style::kButtonKindMask;
  return kind == style::kRadioButton || kind == style::kAutoRadioButton;
}

// A static's text is drawn with '&' as the mark of an underlined letter;
// a text shown as it stands (a file name) doubles it, unless the style
// says there is no such mark (SS_NOPREFIX).
std::wstring staticCaption(const std::string& text, LONG_PTR styleBits) {
  std::wstring w = wide(text);
  if ((styleBits & SS_NOPREFIX) != 0) return w;
  std::wstring out;
  for (const wchar_t c : w) {
    out += c;
    if (c == L'&') out += L'&';
  }
  return out;
}

// The rectangle of `control` in its parent's client coordinates.
RECT rectInParent(HWND control, HWND parent) {
  RECT r {};
  ::GetWindowRect(control, &r);
  ::MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&r), 2);
  return r;
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

// The Yes/No box: MessageBoxW has no way to caption its buttons, so a CBT
// hook, installed for the one call on this thread, renames them when the box
// is activated, and makes Escape answer No (a box without a Cancel button
// ignores Escape otherwise).
struct YesNoCaptions {
  HHOOK hook = nullptr;
  const std::wstring* yes = nullptr;
  const std::wstring* no = nullptr;
  WNDPROC boxProc = nullptr;
};
thread_local YesNoCaptions tYesNo;

LRESULT CALLBACK escapeAnswersNo(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
    ::EndDialog(box, IDNO);
    return 0;
  }
  return ::CallWindowProcW(tYesNo.boxProc, box, message, wParam, lParam);
}

LRESULT CALLBACK yesNoHook(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_ACTIVATE && tYesNo.hook != nullptr) {
    HWND box = reinterpret_cast<HWND>(wParam);
    ::SetDlgItemTextW(box, IDYES, tYesNo.yes->c_str());
    ::SetDlgItemTextW(box, IDNO, tYesNo.no->c_str());
    tYesNo.boxProc = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(box, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&escapeAnswersNo)));
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

  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  HWND hwnd = nullptr;
  WindowEvents* events = nullptr;
  DWORD uiThread = 0;
  std::map<int, HWND> controls;
  std::vector<int> creationOrder;
  std::map<int, uint32_t> styles;   // as the definition file gave them
  std::map<int, std::string> staticTexts;  // a static's whole text, shown shortened when too long
  HWND tooltip = nullptr;
  std::set<int> tooltipTools;       // statics that show a shortened text: their whole text on hover
  std::set<int> inactive;           // shown inactive: still clickable (see showInactive)
  std::map<int, int> listHeights;   // a list box's height as created, before it is cut to whole lines
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
    const LONG_PTR style = ::GetWindowLongPtrW(control, GWL_STYLE);
    return (style & WS_VISIBLE) != 0 && (style & WS_DISABLED) == 0 ? defaultId : -1;
  }
  int defaultId = -1;

  bool isOurs(HWND h) const { return hwnd != nullptr && (h == hwnd || ::IsChild(hwnd, h)); }

  // The owner of a message box: the window while it is there.
  HWND owner() const { return hwnd != nullptr && !destroyed && ::IsWindow(hwnd) ? hwnd : nullptr; }

  std::optional<std::string> fileDialog(bool save, const std::string& initialPath) {
    wchar_t file[kDialogPathBuffer] = {};
    wchar_t title[kDialogTitleBuffer] = {};
    wide(initialPath).copy(file, kDialogPathBuffer - 1);
    OPENFILENAMEW ofn {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner();
    ofn.lpstrFilter = L"*.*\0*.*\0";
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
    const BOOL ok = save ? ::GetSaveFileNameW(&ofn) : ::GetOpenFileNameW(&ofn);
    if (!ok || file[0] == L'\0') return std::nullopt;  // cancelled, or a path too long for the buffer
    return utf8(file, std::wcslen(file));
  }

  // --- status lines: shortened to their width, the whole text as tooltip ----

  // Measures texts in the font `control` draws with.
  struct Measure {
    HWND control;
    HDC dc;
    HGDIOBJ old;
    explicit Measure(HWND c) : control(c), dc(::GetDC(c)), old(nullptr) {
      if (auto font = reinterpret_cast<HFONT>(::SendMessageW(c, WM_GETFONT, 0, 0))) old = ::SelectObject(dc, font);
    }
    ~Measure() {
      if (old != nullptr) ::SelectObject(dc, old);
      ::ReleaseDC(control, dc);
    }
    int width(const std::string& text) const {
      const std::wstring w = wide(text);
      SIZE size {};
      ::GetTextExtentPoint32W(dc, w.c_str(), static_cast<int>(w.size()), &size);
      return static_cast<int>(size.cx);
    }
    int lineHeight() const {
      TEXTMETRICW tm {};
      ::GetTextMetricsW(dc, &tm);
      return tm.tmHeight;
    }
  };

  // Shows `text` in the static `id`: as it is when it fits or the control
  // has room for more than one line (the text wraps there); otherwise
  // shortened by the rule every backend shares (a path loses the middle of
  // its directories, not its file name or the reason after it), with the
  // whole text as the control's tooltip.
  void showStatic(int id, HWND control, const std::string& text) {
    staticTexts[id] = text;
    RECT client {};
    ::GetClientRect(control, &client);
    std::string shown = text;
    std::string whole;
    {
      const Measure measure(control);
      const bool oneLine = client.bottom - client.top < 2 * measure.lineHeight();
      // A static draws its text from its left edge; a pixel is kept at each side.
      const int room = client.right - client.left - 2;
      if (oneLine) shown = fitText(text, room, [&](const std::string& s) { return measure.width(s); });
    }
    ::SetWindowTextW(control, staticCaption(shown, ::GetWindowLongPtrW(control, GWL_STYLE)).c_str());
    if (shown != text) {
      showTooltip(id, control, text);
    } else {
      hideTooltip(id);
    }
  }

  void showTooltip(int id, HWND control, const std::string& text) {
    if (tooltip == nullptr) {
      INITCOMMONCONTROLSEX icc {sizeof(INITCOMMONCONTROLSEX), ICC_WIN95_CLASSES};
      ::InitCommonControlsEx(&icc);
      tooltip = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd, nullptr, instance,
                                  nullptr);
      if (tooltip == nullptr) return;
      // A long path takes a while to read: the tip stays while the mouse does (up to 30 s).
      ::SendMessageW(tooltip, TTM_SETDELAYTIME, TTDT_AUTOPOP, MAKELPARAM(30000, 0));
    }
    // Lines no wider than the control (at least 200 pixels, at most the
    // screen), broken after path separators: a path has no spaces to wrap at.
    RECT r = rectInParent(control, hwnd);
    const int lineWidth = std::max(200, std::min<int>(r.right - r.left, ::GetSystemMetrics(SM_CXSCREEN) - 40));
    std::wstring lines;
    {
      const Measure measure(tooltip);
      lines = wide(wrapText(text, lineWidth, [&](const std::string& s) { return measure.width(s); }));
    }
    ::SendMessageW(tooltip, TTM_SETMAXTIPWIDTH, 0, lineWidth + 1);
    TOOLINFOW tool {};
    // The size comctl32 of every version takes (the newest adds a field).
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    // The tool is the static's rectangle of the main window: a static lets
    // the mouse through to its parent, where the tooltip watches it.
    tool.uFlags = TTF_SUBCLASS;
    tool.hwnd = hwnd;
    tool.uId = static_cast<UINT_PTR>(id);
    tool.rect = r;
    tool.lpszText = lines.data();
    if (tooltipTools.count(id) != 0) {
      ::SendMessageW(tooltip, TTM_NEWTOOLRECTW, 0, reinterpret_cast<LPARAM>(&tool));
      ::SendMessageW(tooltip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
    } else if (::SendMessageW(tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool))) {
      tooltipTools.insert(id);
    }
  }

  void hideTooltip(int id) {
    if (tooltip == nullptr || tooltipTools.erase(id) == 0) return;
    deleteTool(id);
    // WATCHOUT: the tools share one subclass of the main window, through
    // which the tooltip sees the mouse; deleting a tool removed it for all
    // (a status line shortened later showed no tip), so the others are
    // added again.
    const std::set<int> others = tooltipTools;
    for (const int other : others) {
      deleteTool(other);
      tooltipTools.erase(other);
      if (HWND control = find(other)) showTooltip(other, control, staticTexts[other]);
    }
  }

  void deleteTool(int id) {
    TOOLINFOW tool {};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.hwnd = hwnd;
    tool.uId = static_cast<UINT_PTR>(id);
    ::SendMessageW(tooltip, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  }

  // The tools follow their statics when the content has moved.
  void moveTooltips() {
    for (const int id : tooltipTools) {
      HWND control = find(id);
      if (control == nullptr) continue;
      TOOLINFOW tool {};
      tool.cbSize = TTTOOLINFOW_V2_SIZE;
      tool.hwnd = hwnd;
      tool.uId = static_cast<UINT_PTR>(id);
      tool.rect = rectInParent(control, hwnd);
      ::SendMessageW(tooltip, TTM_NEWTOOLRECTW, 0, reinterpret_cast<LPARAM>(&tool));
    }
  }

  // Cuts list box `id` to whole lines: the height it was created with less
  // what its client area holds beyond whole items (the frame and a
  // horizontal scroll bar, when shown, stay outside).
  void fitListHeight(int id) {
    HWND c = find(id);
    const auto given = listHeights.find(id);
    if (c == nullptr || given == listHeights.end()) return;
    const auto item = static_cast<int>(::SendMessageW(c, LB_GETITEMHEIGHT, 0, 0));
    RECT outer {};
    RECT client {};
    ::GetWindowRect(c, &outer);
    ::GetClientRect(c, &client);
    const int frame = (outer.bottom - outer.top) - (client.bottom - client.top);
    const int inside = given->second - frame;
    int height = given->second;
    if (item > 0 && inside > item) height -= inside % item;
    if (height != outer.bottom - outer.top) {
      ::SetWindowPos(c, nullptr, 0, 0, outer.right - outer.left, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }

  // The inactive control under a click on the main window's client area
  // (a disabled child lets the mouse through to its parent), or -1.
  int inactiveAt(POINT p) const {
    for (const int id : inactive) {
      HWND c = find(id);
      if (c == nullptr || !::IsWindowVisible(c)) continue;
      const RECT r = rectInParent(c, hwnd);
      if (::PtInRect(&r, p)) return id;
    }
    return -1;
  }

  // --- the keyboard: Tab order and radio groups, as a dialog has them -------

  // The groups of controls in creation order: each starts at a control
  // created with WS_GROUP and runs to the next one (the first group also
  // from the first control).
  std::vector<std::vector<int>> groups() const {
    std::vector<std::vector<int>> out;
    for (const int id : creationOrder) {
      if (out.empty() || (styles.at(id) & style::kGroup) != 0) out.emplace_back();
      out.back().push_back(id);
    }
    return out;
  }

  // Tab follows the z-order, and a group is the controls from one with
  // WS_GROUP to the next: within each group the controls are put in the
  // order they are seen (row by row, each row from the left, the rule the
  // Linux window follows), the control that starts the group staying first.
  // So a field comes before the Browse button to its right, whatever the
  // order of their IDs.
  void arrangeTabOrder() {
    HWND after = HWND_TOP;
    for (const std::vector<int>& group : groups()) {
      const bool headed = (styles.at(group.front()) & style::kGroup) != 0;
      std::vector<std::pair<int, Rect>> members;
      for (std::size_t k = headed ? 1 : 0; k < group.size(); ++k) {
        const RECT r = rectInParent(find(group[k]), hwnd);
        members.push_back({group[k], Rect{r.left, r.top, r.right - r.left, r.bottom - r.top}});
      }
      std::vector<int> order = readingOrder(members);
      if (headed) order.insert(order.begin(), group.front());
      for (const int id : order) {
        HWND control = find(id);
        ::SetWindowPos(control, after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        after = control;
      }
    }
  }

  // The radio buttons of a group are one Tab stop, as in a dialog: only the
  // checked one (else the first) keeps WS_TABSTOP, when the definition file
  // gave the group's radio buttons that bit; the arrow keys move within it.
  void arrangeRadioStops() {
    for (const std::vector<int>& group : groups()) {
      std::vector<int> radios;
      bool stop = false;
      for (const int id : group) {
        if (isRadioStyle(styles.at(id)) && isClass(find(id), L"BUTTON")) {
          radios.push_back(id);
          stop = stop || (styles.at(id) & style::kTabStop) != 0;
        }
      }
      if (radios.empty() || !stop) continue;
      int chosen = radios.front();
      for (const int id : radios) {
        if (::SendMessageW(find(id), BM_GETCHECK, 0, 0) == BST_CHECKED) {
          chosen = id;
          break;
        }
      }
      for (const int id : radios) {
        HWND control = find(id);
        const LONG_PTR now = ::GetWindowLongPtrW(control, GWL_STYLE);
        const LONG_PTR wanted = id == chosen ? (now | WS_TABSTOP) : (now & ~static_cast<LONG_PTR>(WS_TABSTOP));
        if (wanted != now) ::SetWindowLongPtrW(control, GWL_STYLE, wanted);
      }
    }
  }

  static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
      auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
      ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* im = reinterpret_cast<Impl*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (im == nullptr) return ::DefWindowProcW(hwnd, message, wParam, lParam);
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
        const bool edit = isClass(control, L"EDIT");
        if (code == EN_SETFOCUS && edit) {
          // Tabbing over a push button made it the one drawn as default;
          // from a field, Enter presses the default button: show it so.
          if (HWND button = find(defaultButton())) ::SendMessageW(button, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
          return 0;
        }
        const bool list = isClass(control, L"LISTBOX");
        if ((list && code == LBN_SELCHANGE) || (!list && !edit && code == BN_CLICKED)) {
          // A radio button checked by a click or an arrow key is its group's Tab stop now.
          if (isRadioStyle(styles[id])) arrangeRadioStops();
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
      case WM_LBUTTONDOWN: {
        // A click on a control shown inactive is its command still, so
        // that the logic can say why it does nothing.
        const POINT p {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        const int id = inactiveAt(p);
        if (id >= 0 && events != nullptr) events->onCommand(id);
        return 0;
      }
      case WM_CTLCOLORSTATIC: {
        // A read-only edit asks for its colours here: an inactive field's
        // text is drawn grey, as a disabled one's is.
        HWND from = reinterpret_cast<HWND>(lParam);
        const int id = ::GetDlgCtrlID(from);
        if (inactive.count(id) != 0 && find(id) == from && isClass(from, L"EDIT")) {
          auto dc = reinterpret_cast<HDC>(wParam);
          ::SetTextColor(dc, ::GetSysColor(COLOR_GRAYTEXT));
          ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
          return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
        }
        return ::DefWindowProcW(h, message, wParam, lParam);
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
        return ::DefWindowProcW(h, message, wParam, lParam);
    }
  }

  Win32Window* owner_ = nullptr;
};

Win32Window::Win32Window() : impl_(std::make_unique<Impl>()) { impl_->owner_ = this; }

Win32Window::~Win32Window() {
  impl_->closeQueue();
  if (impl_->hwnd != nullptr && ::IsWindow(impl_->hwnd)) {
    ::SetWindowLongPtrW(impl_->hwnd, GWLP_USERDATA, 0);
    ::DestroyWindow(impl_->hwnd);
  }
}

void* Win32Window::handle() const { return impl_->hwnd; }

namespace {

// The icon resource of NUBOCONV.exe (cmake/windows_resources.rc.in).
constexpr WORD kProgramIconId = 1;

// The program's icon at the size of the system metrics given, shared (never
// destroyed); Windows' default program icon when the module has none.
HICON programIcon(HINSTANCE instance, int widthMetric, int heightMetric) {
  auto* icon = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(kProgramIconId), IMAGE_ICON,
                                               ::GetSystemMetrics(widthMetric), ::GetSystemMetrics(heightMetric),
                                               LR_DEFAULTCOLOR | LR_SHARED));
  if (icon != nullptr) return icon;
  return ::LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
}

}  // namespace

bool Win32Window::create(const std::string& title, WindowEvents& events) {
  Impl& im = *impl_;
  if (im.hwnd != nullptr) return false;
  im.uiThread = ::GetCurrentThreadId();
  im.events = &events;
  WNDCLASSEXW wc {};
  wc.cbSize = sizeof wc;
  if (!::GetClassInfoExW(im.instance, kClassName, &wc)) {
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = &Impl::windowProc;
    wc.hInstance = im.instance;
    // The program's own icon, in the sizes of the title bar (small) and of
    // the task bar and Alt+Tab (large), each picked from the icon's images;
    // Windows' default one for a program built without it (the tests).
    wc.hIcon = programIcon(im.instance, SM_CXICON, SM_CYICON);
    wc.hIconSm = programIcon(im.instance, SM_CXSMICON, SM_CYSMICON);
    wc.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClassName;
    if (::RegisterClassExW(&wc) == 0) return false;
  }
  // The size the layout needs, as the Linux window opens: the canvas's
  // columns and enough lines for the controls in the system font, the
  // scroll bars and the frame; cut to the screen's work area.
  const TextMetrics m = textMetrics();
  const int column = m.fixedPitch ? m.averageCharWidth : m.averageCharWidth * 3 / 2;
  constexpr DWORD kStyle = WS_OVERLAPPEDWINDOW | WS_VSCROLL | WS_HSCROLL;
  RECT frame {0, 0, kDefaultClientColumns * column + ::GetSystemMetrics(SM_CXVSCROLL),
              kDefaultClientLines * m.height + ::GetSystemMetrics(SM_CYHSCROLL)};
  ::AdjustWindowRectEx(&frame, kStyle, FALSE, 0);
  int width = frame.right - frame.left;
  int height = frame.bottom - frame.top;
  RECT work {};
  if (::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0)) {
    width = std::min<int>(width, work.right - work.left);
    height = std::min<int>(height, work.bottom - work.top);
  }
  HWND hwnd = ::CreateWindowExW(0, kClassName, wide(title).c_str(), kStyle, CW_USEDEFAULT, CW_USEDEFAULT, width,
                                height, nullptr, nullptr, im.instance, &im);
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
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
      if (im.isOurs(msg.hwnd) && msg.message == WM_KEYDOWN) {
        // Escape would reach IsDialogMessageA as the command IDCANCEL (2),
        // which is a job-kind button's ID here: it does nothing in this
        // window. Enter without a default button would become IDOK (1).
        if (msg.wParam == VK_ESCAPE) continue;
        if (msg.wParam == VK_RETURN && im.defaultButton() < 0) {
          ::TranslateMessage(&msg);
          ::DispatchMessageW(&msg);
          continue;
        }
      }
      if (im.hwnd != nullptr && !im.destroyed && ::IsDialogMessageW(im.hwnd, &msg)) continue;
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
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
    ::PostMessageW(im.hwnd, kQuitMessage, 0, 0);
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
  TEXTMETRICW tm {};
  if (dc != nullptr && ::GetTextMetricsW(dc, &tm)) {
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
    im.hideTooltip(id);
    ::DestroyWindow(old);
    im.controls.erase(id);
    im.staticTexts.erase(id);
    im.inactive.erase(id);
    im.listHeights.erase(id);
    im.creationOrder.erase(std::find(im.creationOrder.begin(), im.creationOrder.end(), id));
  }
  // The style of the definition file as it is; a control is a child of the
  // main window whatever the file says.
  const DWORD style = static_cast<DWORD>(styleBits) | WS_CHILD;
  const std::wstring text = cls == ControlClass::Static ? std::wstring() : wide(caption);
  HWND control = ::CreateWindowExW(0, classNameOf(cls), text.c_str(), style, rect.x, rect.y,
                                   std::max(0, rect.width), std::max(0, rect.height), im.hwnd,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), im.instance, nullptr);
  if (control == nullptr) return;
  im.controls[id] = control;
  im.creationOrder.push_back(id);
  im.styles[id] = styleBits;
  if (cls == ControlClass::Static) im.showStatic(id, control, caption);
  if (cls == ControlClass::ListBox) {
    im.listHeights[id] = std::max(0, rect.height);
    im.fitListHeight(id);
  }
  if (cls == ControlClass::Button && (styleBits & 0x0F) == BS_DEFPUSHBUTTON && im.find(im.defaultId) == nullptr) {
    im.defaultId = id;
  }
  im.arrangeTabOrder();
  im.arrangeRadioStops();
}

bool Win32Window::hasControl(int id) const { return impl_->find(id) != nullptr; }

void Win32Window::setText(int id, const std::string& text) {
  Impl& im = *impl_;
  HWND c = im.find(id);
  if (c == nullptr) return;
  if (im.staticTexts.count(id) != 0) {
    im.showStatic(id, c, text);
    return;
  }
  std::wstring w = wide(text);
  if (isClass(c, L"EDIT")) {
    // WM_SETTEXT ignores the limit that the user's typing has; it is kept
    // here, in the field's characters (UTF-16 units), never splitting a pair.
    const auto limit = static_cast<std::size_t>(::SendMessageW(c, EM_GETLIMITTEXT, 0, 0));
    if (limit > 0 && w.size() > limit) {
      std::size_t end = limit;
      if (end > 0 && IS_HIGH_SURROGATE(w[end - 1])) --end;
      w.resize(end);
    }
  }
  ::SetWindowTextW(c, w.c_str());
}

std::string Win32Window::getText(int id) {
  Impl& im = *impl_;
  HWND c = im.find(id);
  if (c == nullptr) return {};
  const auto kept = im.staticTexts.find(id);
  if (kept != im.staticTexts.end()) return kept->second;  // the whole text, not as shortened
  const int length = ::GetWindowTextLengthW(c);
  if (length <= 0) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const int n = ::GetWindowTextW(c, text.data(), length + 1);
  return utf8(text.data(), static_cast<std::size_t>(std::max(0, n)));
}

void Win32Window::setTextLimit(int id, int characters) {
  if (HWND c = impl_->find(id)) ::SendMessageW(c, EM_LIMITTEXT, characters > 0 ? characters : 0, 0);
}

void Win32Window::clearList(int id) {
  HWND c = impl_->find(id);
  if (c == nullptr || !isClass(c, L"LISTBOX")) return;
  ::SendMessageW(c, LB_RESETCONTENT, 0, 0);
  ::SendMessageW(c, LB_SETHORIZONTALEXTENT, 0, 0);
  impl_->fitListHeight(id);
}

void Win32Window::addListLines(int id, const std::vector<std::string>& lines) {
  HWND c = impl_->find(id);
  if (c == nullptr || !isClass(c, L"LISTBOX")) return;
  if (lines.empty()) return;
  int extent = static_cast<int>(::SendMessageW(c, LB_GETHORIZONTALEXTENT, 0, 0));
  // WATCHOUT: a list box redraws (and resets its scroll bar) after every
  // item it takes; a stop that lists 1700 unbegun files took 10 to 40 s
  // under Wine, while the window looked idle. It draws once, at the end.
  ::SendMessageW(c, WM_SETREDRAW, FALSE, 0);
  std::size_t bytes = 0;
  for (const std::string& line : lines) bytes += (line.size() + 1) * sizeof(wchar_t);
  ::SendMessageW(c, LB_INITSTORAGE, static_cast<WPARAM>(lines.size()), static_cast<LPARAM>(bytes));
  {
    const Impl::Measure measure(c);
    for (const std::string& line : lines) {
      const std::wstring w = wide(line);
      ::SendMessageW(c, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(w.c_str()));
      // The items are drawn a few pixels in from the left edge.
      SIZE size {};
      ::GetTextExtentPoint32W(measure.dc, w.c_str(), static_cast<int>(w.size()), &size);
      extent = std::max(extent, static_cast<int>(size.cx) + 8);
    }
  }
  ::SendMessageW(c, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(extent), 0);
  ::SendMessageW(c, WM_SETREDRAW, TRUE, 0);
  impl_->fitListHeight(id);
  ::InvalidateRect(c, nullptr, TRUE);
}

std::vector<std::string> Win32Window::listLines(int id) {
  std::vector<std::string> lines;
  HWND c = impl_->find(id);
  if (c == nullptr || !isClass(c, L"LISTBOX")) return lines;
  const auto count = static_cast<int>(::SendMessageW(c, LB_GETCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    const auto length = static_cast<int>(::SendMessageW(c, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0));
    if (length < 0) continue;
    std::wstring item(static_cast<std::size_t>(length) + 1, L'\0');
    const auto got = static_cast<int>(
        ::SendMessageW(c, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(item.data())));
    lines.push_back(utf8(item.data(), static_cast<std::size_t>(std::max(0, got))));
  }
  return lines;
}

bool Win32Window::getCheck(int id) {
  HWND c = impl_->find(id);
  return c != nullptr && ::SendMessageW(c, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void Win32Window::setCheck(int id, bool checked) {
  Impl& im = *impl_;
  HWND c = im.find(id);
  if (c == nullptr) return;
  ::SendMessageW(c, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
  if (isRadioStyle(im.styles[id])) im.arrangeRadioStops();
}

void Win32Window::showPressed(int id, bool pressed) {
  if (HWND c = impl_->find(id)) ::SendMessageW(c, BM_SETSTATE, pressed ? TRUE : FALSE, 0);
}

void Win32Window::enable(int id, bool enabled) {
  if (HWND c = impl_->find(id)) ::EnableWindow(c, enabled ? TRUE : FALSE);
}

void Win32Window::showInactive(int id, bool inactive) {
  Impl& im = *impl_;
  HWND c = im.find(id);
  if (c == nullptr || (im.inactive.count(id) != 0) == inactive) return;
  if (inactive) {
    im.inactive.insert(id);
  } else {
    im.inactive.erase(id);
  }
  if (isClass(c, L"EDIT")) {
    // Read-only, not disabled: the path can still be selected and copied.
    ::SendMessageW(c, EM_SETREADONLY, inactive ? TRUE : FALSE, 0);
    ::InvalidateRect(c, nullptr, TRUE);
    return;
  }
  // WATCHOUT: a disabled control that has the focus would keep it with no
  // way to move it by the keyboard; the main window takes it.
  if (inactive && ::GetFocus() == c) ::SetFocus(im.hwnd);
  ::EnableWindow(c, inactive ? FALSE : TRUE);
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
  const LONG_PTR style = ::GetWindowLongPtrW(c, GWL_STYLE);
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
    im.moveTooltips();
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
  im.moveTooltips();
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
  const std::wstring yesText = wide(yes);
  const std::wstring noText = wide(no);
  tYesNo.yes = &yesText;
  tYesNo.no = &noText;
  tYesNo.hook = ::SetWindowsHookExW(WH_CBT, &yesNoHook, nullptr, ::GetCurrentThreadId());
  // MB_DEFBUTTON1: Enter answers Yes.
  const int answer = ::MessageBoxW(impl_->owner(), wide(text).c_str(), wide(caption).c_str(),
                                   MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON1 | MB_APPLMODAL);
  if (tYesNo.hook != nullptr) {  // the box never appeared
    ::UnhookWindowsHookEx(tYesNo.hook);
    tYesNo.hook = nullptr;
  }
  return answer == IDYES;
}

void Win32Window::showError(const std::string& caption, const std::string& text) {
  ::MessageBoxW(impl_->owner(), wide(text).c_str(), wide(caption).c_str(), MB_OK | MB_ICONERROR | MB_APPLMODAL);
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
  if (!::PostMessageW(im.hwnd, kWorkMessage, 0, 0)) {
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
