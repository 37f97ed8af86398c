// SPDX-License-Identifier: BSD-3-Clause
// What a window of another program shows, for the tests of NUBOCONV.exe's
// real window under Wine (gui_windows.sh): its client size, each control's
// ID, place, size and text as the system holds it (UTF-8), the control with
// the keyboard focus, the lines of its list boxes, and the text of a tooltip
// on the screen.
//   window_probe.exe TITLE_START
// prints, one a line:
//   client WIDTH HEIGHT SCREEN_X SCREEN_Y (the client area's size and its place on the screen)
//   control ID X Y WIDTH HEIGHT CHECK TEXT  (place in client coordinates; CHECK 1 or 0 for a
//                                          check box or radio button, - for others)
//   item ID TEXT                          (each line of a list box, in order, after its control line)
//   focus ID                              (-1: no control of the window)
//   tooltip TEXT                          (a visible tooltip of its program, its lines joined)
// Exit 1 when no visible window's title starts with TITLE_START.
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

// WM_GETTEXT reaches windows of another program (the text is copied across).
std::wstring textOf(HWND h) {
  wchar_t buffer[4096] = {};
  DWORD_PTR got = 0;
  ::SendMessageTimeoutW(h, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 5000, &got);
  return buffer;
}

std::wstring classOf(HWND h) {
  wchar_t cls[64] = {};
  ::GetClassNameW(h, cls, 64);
  return cls;
}

struct Search {
  std::wstring title;
  HWND found = nullptr;
  DWORD process = 0;
  std::vector<HWND> tips;
};

BOOL CALLBACK findMain(HWND h, LPARAM data) {
  auto* s = reinterpret_cast<Search*>(data);
  const std::wstring title = textOf(h);
  if (::IsWindowVisible(h) && title.compare(0, s->title.size(), s->title) == 0 && classOf(h) == L"NUBOCONV") {
    s->found = h;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK findTips(HWND h, LPARAM data) {
  auto* s = reinterpret_cast<Search*>(data);
  DWORD process = 0;
  ::GetWindowThreadProcessId(h, &process);
  if (process == s->process && ::IsWindowVisible(h) && ::lstrcmpiW(classOf(h).c_str(), L"tooltips_class32") == 0) {
    s->tips.push_back(h);
  }
  return TRUE;
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (argv == nullptr || argc != 2) {
    std::fprintf(stderr, "usage: window_probe.exe TITLE_START\n");
    return 2;
  }
  Search search;
  search.title = argv[1];
  ::EnumWindows(findMain, reinterpret_cast<LPARAM>(&search));
  if (search.found == nullptr) {
    std::fprintf(stderr, "window_probe: no window titled %s...\n", utf8(search.title).c_str());
    return 1;
  }
  HWND main = search.found;
  RECT client {};
  ::GetClientRect(main, &client);
  POINT origin {0, 0};
  ::ClientToScreen(main, &origin);
  std::printf("client %ld %ld %ld %ld\n", client.right, client.bottom, origin.x, origin.y);
  for (HWND c = ::GetWindow(main, GW_CHILD); c != nullptr; c = ::GetWindow(c, GW_HWNDNEXT)) {
    RECT r {};
    ::GetWindowRect(c, &r);
    ::MapWindowPoints(HWND_DESKTOP, main, reinterpret_cast<POINT*>(&r), 2);
    const LONG_PTR kind = ::GetWindowLongPtrW(c, GWL_STYLE) & BS_TYPEMASK;
    const bool checkable = ::lstrcmpiW(classOf(c).c_str(), L"BUTTON") == 0 &&
                           (kind == BS_CHECKBOX || kind == BS_AUTOCHECKBOX || kind == BS_RADIOBUTTON ||
                            kind == BS_AUTORADIOBUTTON);
    const char* check = !checkable ? "-" : ::SendMessageW(c, BM_GETCHECK, 0, 0) == BST_CHECKED ? "1" : "0";
    std::printf("control %d %ld %ld %ld %ld %s %s\n", ::GetDlgCtrlID(c), r.left, r.top, r.right - r.left,
                r.bottom - r.top, check, utf8(textOf(c)).c_str());
    if (::lstrcmpiW(classOf(c).c_str(), L"LISTBOX") == 0) {
      // The system copies a list box's items across programs, as it does texts.
      DWORD_PTR count = 0;
      ::SendMessageTimeoutW(c, LB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, 5000, &count);
      for (WPARAM i = 0; i < static_cast<WPARAM>(count); ++i) {
        DWORD_PTR length = 0;
        ::SendMessageTimeoutW(c, LB_GETTEXTLEN, i, 0, SMTO_ABORTIFHUNG, 5000, &length);
        std::wstring item(static_cast<size_t>(length) + 1, L'\0');
        DWORD_PTR got = 0;
        ::SendMessageTimeoutW(c, LB_GETTEXT, i, reinterpret_cast<LPARAM>(item.data()), SMTO_ABORTIFHUNG, 5000, &got);
        item.resize(std::min<size_t>(static_cast<size_t>(got), item.size()));
        std::printf("item %d %s\n", ::GetDlgCtrlID(c), utf8(item).c_str());
      }
    }
  }
  const DWORD thread = ::GetWindowThreadProcessId(main, &search.process);
  GUITHREADINFO info {};
  info.cbSize = sizeof info;
  const bool known = ::GetGUIThreadInfo(thread, &info) && info.hwndFocus != nullptr && ::IsChild(main, info.hwndFocus);
  std::printf("focus %d\n", known ? ::GetDlgCtrlID(info.hwndFocus) : -1);
  ::EnumWindows(findTips, reinterpret_cast<LPARAM>(&search));
  for (HWND tip : search.tips) {
    std::string text;
    for (const char ch : utf8(textOf(tip))) {
      if (ch != '\n' && ch != '\r') text += ch;
    }
    std::printf("tooltip %s\n", text.c_str());
  }
  ::LocalFree(argv);
  return 0;
}
