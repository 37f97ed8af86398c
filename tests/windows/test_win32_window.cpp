// SPDX-License-Identifier: BSD-3-Clause
// The Win32 window backend on its own, with real windows (under Wine on a
// virtual display, see with_display.sh): controls of the system's classes
// with the given styles, texts, limits and states, the metrics, commands,
// scrolling, the close box, the Yes/No box's captions and keys, the
// worker's calls by posted messages, texts in any script, the opening size,
// shortened status lines with their tooltips, the program's icon, and the
// keyboard.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "win32_window.h"

namespace nubo::platform {
namespace {

// Records the events; its onCreate builds the controls a test asks for.
struct Recorder : WindowEvents {
  Window* window = nullptr;
  std::vector<std::string> log;
  std::vector<int> commands;
  bool allowClose = true;
  std::function<void()> atCreate;
  void onCreate() override {
    log.push_back("create");
    if (atCreate) atCreate();
  }
  void onDestroy() override {
    log.push_back("destroy");
    window->quit(5);
  }
  void onSize(int w, int h) override { log.push_back("size " + std::to_string(w) + "x" + std::to_string(h)); }
  void onCommand(int id) override { commands.push_back(id); }
  void onScroll(ScrollBar, ScrollRequest, int) override {}
  bool onClose() override {
    log.push_back("close");
    return allowClose;
  }
};

HWND child(Win32Window& w, int id) { return ::GetDlgItem(static_cast<HWND>(w.handle()), id); }

std::string classOf(HWND h) {
  char name[32] = {};
  ::GetClassNameA(h, name, sizeof name);
  return CharUpperA(name);
}

class Win32WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    events.window = &window;
    events.atCreate = [this] {
      window.createControl(21, ControlClass::Button, "Start", 0x50010001, {10, 10, 80, 24});
      window.createControl(13, ControlClass::Button, "Option", 0x50010003, {10, 40, 120, 20});
      window.createControl(12, ControlClass::Edit, "typed", 0x50810080, {10, 70, 200, 22});
      window.createControl(31, ControlClass::Static, "status", 0x50800000, {10, 100, 300, 20});
      window.createControl(40, ControlClass::ListBox, "", 0x50A10001, {10, 130, 100, 60});
    };
    ASSERT_TRUE(window.create("format converter test", events));
  }
  Win32Window window;
  Recorder events;
};

TEST_F(Win32WindowTest, ControlsAreTheSystemClassesWithTheGivenStyles) {
  const struct {
    int id;
    const char* cls;
    DWORD style;
  } expected[] = {{21, "BUTTON", 0x50010001}, {13, "BUTTON", 0x50010003}, {12, "EDIT", 0x50810080},
                  {31, "STATIC", 0x50800000}, {40, "LISTBOX", 0x50A10001}};
  for (const auto& e : expected) {
    HWND h = child(window, e.id);
    ASSERT_NE(h, nullptr) << e.id;
    EXPECT_EQ(classOf(h), e.cls) << e.id;
    // The controls manage their own border and scroll bar bits (an edit's
    // border becomes a client edge, an empty list box hides its bar).
    constexpr DWORD kManaged = WS_BORDER | WS_VSCROLL | WS_HSCROLL;
    EXPECT_EQ(static_cast<DWORD>(::GetWindowLongPtrA(h, GWL_STYLE)) & e.style & ~kManaged, e.style & ~kManaged) << e.id;
    EXPECT_TRUE(window.hasControl(e.id));
  }
  EXPECT_FALSE(window.hasControl(22));
  char cls[32] = {};
  ::GetClassNameA(static_cast<HWND>(window.handle()), cls, sizeof cls);
  EXPECT_STREQ(cls, "NUBOCONV");
  const LONG_PTR style = ::GetWindowLongPtrA(static_cast<HWND>(window.handle()), GWL_STYLE);
  EXPECT_NE(style & WS_HSCROLL, 0);
  EXPECT_NE(style & WS_VSCROLL, 0);
  // onCreate, then onSize with the client size, before create() returned.
  RECT client {};
  ::GetClientRect(static_cast<HWND>(window.handle()), &client);
  ASSERT_GE(events.log.size(), 2u);
  EXPECT_EQ(events.log[0], "create");
  EXPECT_EQ(events.log[1], "size " + std::to_string(client.right) + "x" + std::to_string(client.bottom));

  // The metrics are those of the window's device context.
  HDC dc = ::GetDC(static_cast<HWND>(window.handle()));
  TEXTMETRICA tm {};
  ASSERT_TRUE(::GetTextMetricsA(dc, &tm));
  ::ReleaseDC(static_cast<HWND>(window.handle()), dc);
  const TextMetrics m = window.textMetrics();
  EXPECT_EQ(m.averageCharWidth, tm.tmAveCharWidth);
  EXPECT_EQ(m.height, tm.tmHeight);
  EXPECT_EQ(m.fixedPitch, (tm.tmPitchAndFamily & TMPF_FIXED_PITCH) == 0);
}

TEST_F(Win32WindowTest, TextsLimitsChecksAndStates) {
  EXPECT_EQ(window.getText(12), "typed");
  window.setText(31, "Finished.");
  EXPECT_EQ(window.getText(31), "Finished.");
  window.setTextLimit(12, 5);
  window.setText(12, "C:\\longer\\than\\five");
  EXPECT_EQ(window.getText(12), "C:\\lo");
  EXPECT_FALSE(window.getCheck(13));
  window.setCheck(13, true);
  EXPECT_TRUE(window.getCheck(13));
  EXPECT_EQ(::SendMessageA(child(window, 13), BM_GETCHECK, 0, 0), BST_CHECKED);
  window.showPressed(21, true);
  EXPECT_NE(::SendMessageA(child(window, 21), BM_GETSTATE, 0, 0) & BST_PUSHED, 0);
  window.showPressed(21, false);
  EXPECT_EQ(::SendMessageA(child(window, 21), BM_GETSTATE, 0, 0) & BST_PUSHED, 0);
  window.enable(21, false);
  EXPECT_FALSE(::IsWindowEnabled(child(window, 21)));
  window.enable(21, true);
  EXPECT_TRUE(::IsWindowEnabled(child(window, 21)));
  // A control that does not exist is no failure.
  window.setText(77, "x");
  EXPECT_EQ(window.getText(77), "");
}

// A list box holds the lines added, in order and in any script, as the
// system's items; a line wider than the box can be scrolled to its end; the
// lines go when the list is cleared. Other controls take no lines.
TEST_F(Win32WindowTest, ListBoxLines) {
  HWND list = child(window, 40);
  const std::string wide(300, 'w');
  window.addListLines(40, {"b.NAB: damaged (block 3)", "音声 Größe.NAB"});
  window.addListLines(40, {wide});
  EXPECT_EQ(window.listLines(40), (std::vector<std::string>{"b.NAB: damaged (block 3)", "音声 Größe.NAB", wide}));
  ASSERT_EQ(::SendMessageW(list, LB_GETCOUNT, 0, 0), 3);
  wchar_t second[32] = {};
  ::SendMessageW(list, LB_GETTEXT, 1, reinterpret_cast<LPARAM>(second));
  EXPECT_STREQ(second, L"\u97f3\u58f0 Gr\u00f6\u00dfe.NAB");
  // Not sorted: the order added.
  wchar_t first[32] = {};
  ::SendMessageW(list, LB_GETTEXT, 0, reinterpret_cast<LPARAM>(first));
  EXPECT_EQ(first[0], L'b');
  RECT client {};
  ::GetClientRect(list, &client);
  EXPECT_GT(::SendMessageW(list, LB_GETHORIZONTALEXTENT, 0, 0), client.right);
  window.clearList(40);
  EXPECT_TRUE(window.listLines(40).empty());
  EXPECT_EQ(::SendMessageW(list, LB_GETCOUNT, 0, 0), 0);
  EXPECT_EQ(::SendMessageW(list, LB_GETHORIZONTALEXTENT, 0, 0), 0);
  window.addListLines(31, {"not a list"});
  EXPECT_TRUE(window.listLines(31).empty());
  EXPECT_EQ(window.getText(31), "status");
}

// The list box holds whole lines only, with and without its horizontal
// scroll bar (created with no integral height, as the definition files make
// it); thousands of lines at once are all there.
TEST_F(Win32WindowTest, AListBoxShowsWholeLinesAndTakesThousandsAtOnce) {
  window.createControl(34, ControlClass::ListBox, "", 0x50B10100, {10, 200, 300, 97});
  HWND list = child(window, 34);
  const auto item = static_cast<int>(::SendMessageW(list, LB_GETITEMHEIGHT, 0, 0));
  ASSERT_GT(item, 0);
  const auto wholeLines = [&] {
    RECT client {};
    ::GetClientRect(list, &client);
    RECT outer {};
    ::GetWindowRect(list, &outer);
    EXPECT_LE(outer.bottom - outer.top, 97);
    EXPECT_GT(outer.bottom - outer.top, 97 - item);
    return client.bottom % item == 0;
  };
  EXPECT_TRUE(wholeLines());
  std::vector<std::string> lines;
  for (int i = 0; i < 3000; ++i) lines.push_back("Z:\\many\\F" + std::to_string(i) + ".NAB: not begun");
  window.addListLines(34, lines);
  EXPECT_EQ(::SendMessageW(list, LB_GETCOUNT, 0, 0), 3000);
  EXPECT_TRUE(wholeLines());
  window.addListLines(34, {std::string(400, 'w')});  // the horizontal scroll bar shows
  EXPECT_GT(::SendMessageW(list, LB_GETHORIZONTALEXTENT, 0, 0), 300);
  EXPECT_TRUE(wholeLines());
  window.clearList(34);
  EXPECT_TRUE(wholeLines());
  EXPECT_EQ(window.listLines(34).size(), 0u);
}

TEST_F(Win32WindowTest, OnlyClicksAreCommands) {
  ::SendMessageA(child(window, 21), BM_CLICK, 0, 0);
  ::SendMessageA(child(window, 13), BM_CLICK, 0, 0);
  window.setText(12, "changed");  // EN_CHANGE and EN_UPDATE: no command
  ::SendMessageA(child(window, 12), WM_SETFOCUS, 0, 0);
  EXPECT_EQ(events.commands, (std::vector<int>{21, 13}));
  EXPECT_TRUE(window.getCheck(13));  // an automatic check box checks itself
  // Enter's question to the window: the default push button, Start.
  const LRESULT def = ::SendMessageA(static_cast<HWND>(window.handle()), DM_GETDEFID, 0, 0);
  EXPECT_EQ(HIWORD(def), DC_HASDEFID);
  EXPECT_EQ(LOWORD(def), 21);
  window.enable(21, false);
  EXPECT_EQ(::SendMessageA(static_cast<HWND>(window.handle()), DM_GETDEFID, 0, 0), 0);
}

TEST_F(Win32WindowTest, ScrollRangePositionAndContent) {
  HWND hwnd = static_cast<HWND>(window.handle());
  window.setScrollRange(ScrollBar::Vertical, 0, 30);
  window.setScrollPosition(ScrollBar::Vertical, 12);
  int low = -1, high = -1;
  ::GetScrollRange(hwnd, SB_VERT, &low, &high);
  EXPECT_EQ(low, 0);
  EXPECT_EQ(high, 30);
  EXPECT_EQ(::GetScrollPos(hwnd, SB_VERT), 12);
  auto origin = [&](int id) {
    RECT r {};
    ::GetWindowRect(child(window, id), &r);
    POINT p {r.left, r.top};
    ::ScreenToClient(hwnd, &p);
    return p;
  };
  const POINT before = origin(31);
  window.scrollContent(-16, -32);
  const POINT after = origin(31);
  EXPECT_EQ(after.x, before.x - 16);
  EXPECT_EQ(after.y, before.y - 32);
  // The same on the screen.
  ::ShowWindow(hwnd, SW_SHOW);
  ::UpdateWindow(hwnd);
  window.scrollContent(16, 8);
  const POINT shown = origin(31);
  EXPECT_EQ(shown.x, before.x);
  EXPECT_EQ(shown.y, before.y - 24);
}

TEST_F(Win32WindowTest, WorkerCallsRunOnTheUiThreadUntilTheLoopEnds) {
  const DWORD ui = ::GetCurrentThreadId();
  std::atomic<DWORD> ranOn{0};
  std::atomic<bool> afterEnd{false};
  std::thread worker([&] {
    window.runOnUiThread([&] {
      ranOn = ::GetCurrentThreadId();
      window.setText(31, "from the worker");
    });
    window.runOnUiThread([&] { window.quit(7); });
  });
  EXPECT_EQ(window.run(), 7);
  worker.join();
  EXPECT_EQ(ranOn.load(), ui);
  EXPECT_EQ(window.getText(31), "from the worker");
  // The loop has ended: a worker's call returns at once, without its work.
  std::thread late([&] { window.runOnUiThread([&] { afterEnd = true; }); });
  late.join();
  EXPECT_FALSE(afterEnd.load());
}

TEST_F(Win32WindowTest, TheCloseBoxAsksTheLogic) {
  HWND hwnd = static_cast<HWND>(window.handle());
  events.allowClose = false;
  ::SendMessageA(hwnd, WM_CLOSE, 0, 0);
  EXPECT_TRUE(::IsWindow(hwnd));
  events.allowClose = true;
  ::PostMessageA(hwnd, WM_CLOSE, 0, 0);
  EXPECT_EQ(window.run(), 5);  // onDestroy quits with 5
  EXPECT_FALSE(::IsWindow(hwnd));
  EXPECT_EQ(events.log.back(), "destroy");
}

// Finds the Yes/No box from another thread, reports its buttons' captions
// and answers it with `command` (IDYES, or IDCANCEL as Escape sends it).
std::thread answerBox(std::string& captions, WPARAM command) {
  return std::thread([&captions, command] {
    for (int i = 0; i < 500; ++i) {
      HWND box = ::FindWindowA("#32770", "Cancel");
      if (box != nullptr && ::IsWindowVisible(box)) {
        char yes[32] = {}, no[32] = {};
        ::GetDlgItemTextA(box, IDYES, yes, sizeof yes);
        ::GetDlgItemTextA(box, IDNO, no, sizeof no);
        captions = std::string(yes) + "/" + no;
        ::PostMessageA(box, WM_COMMAND, command, 0);
        return;
      }
      ::Sleep(10);
    }
  });
}

TEST_F(Win32WindowTest, YesNoBoxCaptionsAndKeys) {
  std::string captions;
  std::thread yes = answerBox(captions, IDYES);
  EXPECT_TRUE(window.askYesNo("Stop the conversion?", "Cancel", "Ja", "Nein"));
  yes.join();
  EXPECT_EQ(captions, "Ja/Nein");
  captions.clear();
  std::thread escape = answerBox(captions, IDCANCEL);
  EXPECT_FALSE(window.askYesNo("Stop the conversion?", "Cancel", "Yes", "No"));
  escape.join();
  EXPECT_EQ(captions, "Yes/No");
}

// The UTF-16 text of a control, as the system shows it.
std::wstring shownText(HWND h) {
  wchar_t text[1024] = {};
  ::GetWindowTextW(h, text, 1024);
  return text;
}

TEST_F(Win32WindowTest, TextsInAnyScriptReachTheSystemAsUtf16) {
  // German captions and a Japanese file name: UTF-8 in, UTF-16 on the
  // screen, the same UTF-8 back.
  const std::string german = "Kodieren und pr\xC3\xBC""fen: Gr\xC3\xB6\xC3\x9F""en\xC3\xA4nderung";
  const std::string japanese = "C:\\\xE9\x9F\xB3\xE5\xA3\xB0\\\xE9\x9F\xB3\xE5\xA3\xB0\xF0\x9F\x8E\xB5.wav";
  window.setText(21, german);
  EXPECT_EQ(shownText(child(window, 21)), L"Kodieren und pr\u00FCfen: Gr\u00F6\u00DFen\u00E4nderung");
  EXPECT_EQ(window.getText(21), german);
  window.setText(12, japanese);
  EXPECT_EQ(shownText(child(window, 12)), L"C:\\\u97F3\u58F0\\\u97F3\u58F0\U0001F3B5.wav");
  EXPECT_EQ(window.getText(12), japanese);
  // The field's limit counts characters (UTF-16 units), not bytes, and
  // never splits a pair.
  window.setTextLimit(12, 9);  // the ninth is the first half of the pair
  window.setText(12, japanese);
  EXPECT_EQ(window.getText(12), "C:\\\xE9\x9F\xB3\xE5\xA3\xB0\\\xE9\x9F\xB3\xE5\xA3\xB0");
  // A static shows '&' as it is (a file name may hold one).
  window.setText(31, "Tom & Jerry.wav");
  EXPECT_EQ(shownText(child(window, 31)), L"Tom && Jerry.wav");
  EXPECT_EQ(window.getText(31), "Tom & Jerry.wav");
  // The window's title too.
  Win32Window other;
  Recorder otherEvents;
  otherEvents.window = &other;
  ASSERT_TRUE(other.create("Formatkonverter \xC3\xA4\xE9\x9F\xB3", otherEvents));
  EXPECT_EQ(shownText(static_cast<HWND>(other.handle())), L"Formatkonverter \u00E4\u97F3");
}

TEST_F(Win32WindowTest, TheWindowOpensAtTheSizeItsLayoutNeeds) {
  // 102 columns by 32 lines of the system font (the column widened by half
  // for a proportional font), within the scroll bars, as the Linux window.
  const TextMetrics m = window.textMetrics();
  const int column = m.fixedPitch ? m.averageCharWidth : m.averageCharWidth * 3 / 2;
  RECT client {};
  ::GetClientRect(static_cast<HWND>(window.handle()), &client);
  RECT work {};
  ASSERT_TRUE(::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0));
  ASSERT_GE(work.right - work.left, 102 * column + 100) << "the virtual screen is too small for this test";
  EXPECT_GE(client.right, 102 * column);
  EXPECT_LE(client.right, 102 * column + ::GetSystemMetrics(SM_CXVSCROLL));
  EXPECT_GE(client.bottom, kDefaultClientLines * m.height);
  EXPECT_LE(client.bottom, kDefaultClientLines * m.height + ::GetSystemMetrics(SM_CYHSCROLL));
}

// The width and height of an icon's image.
SIZE iconSize(HICON icon) {
  ICONINFO info {};
  if (!::GetIconInfo(icon, &info)) return {0, 0};
  BITMAP bitmap {};
  ::GetObjectW(info.hbmColor != nullptr ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
  if (info.hbmColor != nullptr) ::DeleteObject(info.hbmColor);
  if (info.hbmMask != nullptr) ::DeleteObject(info.hbmMask);
  // A monochrome icon's mask holds the AND and XOR images one above the other.
  return {bitmap.bmWidth, info.hbmColor != nullptr ? bitmap.bmHeight : bitmap.bmHeight / 2};
}

TEST_F(Win32WindowTest, TheWindowCarriesTheProgramsIconInTheTitleBarAndTaskBarSizes) {
  // This test program holds the nubo icon as its resource 1, as NUBOCONV.exe does.
  const HWND hwnd = static_cast<HWND>(window.handle());
  const auto large = reinterpret_cast<HICON>(::GetClassLongPtrW(hwnd, GCLP_HICON));
  const auto small = reinterpret_cast<HICON>(::GetClassLongPtrW(hwnd, GCLP_HICONSM));
  ASSERT_NE(large, nullptr);
  ASSERT_NE(small, nullptr);
  EXPECT_NE(large, ::LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION))) << "Windows' default icon";
  const int cx = ::GetSystemMetrics(SM_CXICON), cy = ::GetSystemMetrics(SM_CYICON);
  const int smallCx = ::GetSystemMetrics(SM_CXSMICON), smallCy = ::GetSystemMetrics(SM_CYSMICON);
  // Shared icons: loading the resource again at each size gives the same handles.
  const HINSTANCE module = ::GetModuleHandleW(nullptr);
  EXPECT_EQ(large, ::LoadImageW(module, MAKEINTRESOURCEW(1), IMAGE_ICON, cx, cy, LR_SHARED));
  EXPECT_EQ(small, ::LoadImageW(module, MAKEINTRESOURCEW(1), IMAGE_ICON, smallCx, smallCy, LR_SHARED));
  const SIZE largeSize = iconSize(large), smallSize = iconSize(small);
  EXPECT_EQ(largeSize.cx, cx);
  EXPECT_EQ(largeSize.cy, cy);
  EXPECT_EQ(smallSize.cx, smallCx);
  EXPECT_EQ(smallSize.cy, smallCy);
}

// The tooltip window of `owner`, and the text and rectangle of its tool `id`.
struct Tip {
  bool found = false;
  std::wstring text;
  RECT rect {};
};
Tip tooltipOf(HWND owner, int id) {
  Tip tip;
  HWND tooltip = nullptr;
  ::EnumThreadWindows(
      ::GetCurrentThreadId(),
      [](HWND h, LPARAM data) -> BOOL {
        wchar_t cls[64] = {};
        ::GetClassNameW(h, cls, 64);
        if (::lstrcmpiW(cls, TOOLTIPS_CLASSW) != 0) return TRUE;
        *reinterpret_cast<HWND*>(data) = h;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&tooltip));
  if (tooltip == nullptr) return tip;
  wchar_t text[2048] = {};
  TOOLINFOW tool {};
  tool.cbSize = TTTOOLINFOW_V2_SIZE;
  tool.hwnd = owner;
  tool.uId = static_cast<UINT_PTR>(id);
  tool.lpszText = text;
  if (!::SendMessageW(tooltip, TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&tool))) return tip;
  tip.found = true;
  tip.rect = tool.rect;
  ::SendMessageW(tooltip, TTM_GETTEXTW, 2048, reinterpret_cast<LPARAM>(&tool));
  tip.text = text;
  return tip;
}

std::wstring withoutLineBreaks(std::wstring text) {
  text.erase(std::remove(text.begin(), text.end(), L'\n'), text.end());
  return text;
}

TEST_F(Win32WindowTest, ALongStatusLineLosesTheMiddleOfItsPathAndShowsAllOfItOnHover) {
  HWND hwnd = static_cast<HWND>(window.handle());
  HWND line = child(window, 31);  // one line high, 300 pixels wide
  const std::string path = "C:\\Aufnahmen\\" + std::string(120, 'd') + "\\2021\\live\\\xE9\x9F\xB3\xE5\xA3\xB0.NAB";
  const std::string text = path + " (File name is too long)";
  window.setText(31, text);
  const std::wstring shown = shownText(line);
  SCOPED_TRACE(testing::PrintToString(shown));
  // Shortened in the middle of the directories: the drive, the last
  // directory, the file name and the reason stay; it fits the control.
  EXPECT_EQ(shown.rfind(L"C:\\", 0), 0u);
  EXPECT_NE(shown.find(L"\u2026"), std::wstring::npos);
  EXPECT_NE(shown.find(L"\\live\\\u97F3\u58F0.NAB (File name is too long)"), std::wstring::npos);
  HDC dc = ::GetDC(line);
  auto font = reinterpret_cast<HFONT>(::SendMessageW(line, WM_GETFONT, 0, 0));
  HGDIOBJ old = font != nullptr ? ::SelectObject(dc, font) : nullptr;
  SIZE size {};
  ::GetTextExtentPoint32W(dc, shown.c_str(), static_cast<int>(shown.size()), &size);
  if (old != nullptr) ::SelectObject(dc, old);
  ::ReleaseDC(line, dc);
  RECT client {};
  ::GetClientRect(line, &client);
  EXPECT_LE(size.cx, client.right);
  // The logic reads back what it set.
  EXPECT_EQ(window.getText(31), text);
  // The whole text is the tooltip of the control's place in the window,
  // in lines no wider than the control.
  Tip tip = tooltipOf(hwnd, 31);
  ASSERT_TRUE(tip.found);
  EXPECT_EQ(withoutLineBreaks(tip.text),
            L"C:\\Aufnahmen\\" + std::wstring(120, L'd') + L"\\2021\\live\\\u97F3\u58F0.NAB (File name is too long)");
  EXPECT_NE(tip.text.find(L'\n'), std::wstring::npos);
  RECT r {};
  ::GetWindowRect(line, &r);
  ::MapWindowPoints(HWND_DESKTOP, hwnd, reinterpret_cast<POINT*>(&r), 2);
  EXPECT_TRUE(::EqualRect(&tip.rect, &r));
  // The tool follows the control when the content scrolls.
  window.scrollContent(-20, -10);
  tip = tooltipOf(hwnd, 31);
  EXPECT_EQ(tip.rect.left, r.left - 20);
  EXPECT_EQ(tip.rect.top, r.top - 10);
  // A text that fits is shown whole, without a tooltip.
  window.setText(31, "Finished.");
  EXPECT_EQ(shownText(line), L"Finished.");
  EXPECT_FALSE(tooltipOf(hwnd, 31).found);
}

// The converter's keyboard: Tab in the order the controls are seen (each
// field before its Browse button, whatever their IDs), the job group one
// stop (its checked button), the arrow keys moving and checking within it.
class Win32KeyboardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    events.window = &window;
    events.atCreate = [this] {
      // The English definition file's styles and places (in pixels here).
      window.createControl(0, ControlClass::Button, "Deutsch", 0x50010000, {860, 0, 120, 24});
      window.createControl(2, ControlClass::Button, "Encode", 0x50030009, {60, 40, 180, 20});
      window.createControl(3, ControlClass::Button, "Verify", 0x50010009, {240, 40, 210, 20});
      window.createControl(4, ControlClass::Button, "Re-encode", 0x50010009, {450, 40, 290, 20});
      window.createControl(5, ControlClass::Button, "Job", 0x50020007, {20, 25, 960, 45});
      window.createControl(11, ControlClass::Button, "Browse...", 0x50010000, {840, 80, 140, 24});
      window.createControl(12, ControlClass::Edit, "in", 0x50810080, {130, 80, 700, 24});
      window.createControl(13, ControlClass::Button, "Subdirectories", 0x50010003, {130, 106, 500, 20});
      window.createControl(14, ControlClass::Static, "Input", 0x50000002, {20, 82, 100, 18});
      window.createControl(16, ControlClass::Button, "Browse...", 0x50010000, {840, 130, 140, 24});
      window.createControl(17, ControlClass::Edit, "out", 0x50810080, {130, 130, 700, 24});
      window.createControl(21, ControlClass::Button, "Start", 0x50010001, {130, 170, 140, 28});
      window.createControl(31, ControlClass::Static, "", 0x50800000, {20, 210, 960, 20});
      window.setCheck(4, true);
    };
    ASSERT_TRUE(window.create("format converter keyboard", events));
    hwnd = static_cast<HWND>(window.handle());
    ::ShowWindow(hwnd, SW_SHOW);
    ::UpdateWindow(hwnd);
    ::SetForegroundWindow(hwnd);
  }
  // A key as the message loop hands it to IsDialogMessageW.
  int press(WPARAM key, bool shift = false) {
    BYTE keys[256] = {};
    ::GetKeyboardState(keys);
    keys[VK_SHIFT] = shift ? 0x80 : 0;
    ::SetKeyboardState(keys);
    MSG msg {::GetFocus(), WM_KEYDOWN, key, 0, 0, {}};
    ::IsDialogMessageW(hwnd, &msg);
    keys[VK_SHIFT] = 0;
    ::SetKeyboardState(keys);
    return ::GetDlgCtrlID(::GetFocus());
  }
  Win32Window window;
  Recorder events;
  HWND hwnd = nullptr;
};

TEST_F(Win32KeyboardTest, TabFollowsTheLayoutAndARadioGroupIsOneStop) {
  ::SetFocus(child(window, 12));
  ASSERT_EQ(::GetDlgCtrlID(::GetFocus()), 12);
  std::vector<int> forward;
  for (int i = 0; i < 8; ++i) forward.push_back(press(VK_TAB));
  EXPECT_EQ(forward, (std::vector<int>{11, 13, 17, 16, 21, 0, 4, 12}));
  EXPECT_EQ(press(VK_TAB, true), 4);  // Shift+Tab back into the group: its checked button
  // The arrow keys move within the group, wrapping, and check as they go.
  EXPECT_EQ(press(VK_RIGHT), 2);
  EXPECT_TRUE(window.getCheck(2));
  EXPECT_FALSE(window.getCheck(4));
  EXPECT_EQ(press(VK_DOWN), 3);
  EXPECT_EQ(press(VK_UP), 2);
  EXPECT_EQ(events.commands, (std::vector<int>{2, 3, 2}));
  // The group is still one stop, now at the button checked last.
  EXPECT_EQ(press(VK_TAB), 12);
  EXPECT_EQ(press(VK_TAB, true), 2);
  EXPECT_EQ(press(VK_TAB, true), 0);
  // The logic checking another button moves the stop there.
  window.setCheck(2, false);
  window.setCheck(3, true);
  ::SetFocus(child(window, 12));
  EXPECT_EQ(press(VK_TAB, true), 3);
}

// Shown inactive (during a run): a button is drawn disabled, yet a real
// click on it still reaches the logic as its command (the main window gets
// the click a disabled child lets through), so that the logic can say why it
// does nothing; a field is read-only, with grey text. Active again, all is
// as before.
TEST_F(Win32KeyboardTest, InactiveControlsLookDisabledYetAClickIsStillTheirCommand) {
  const auto clickOn = [&](int id) {
    RECT r {};
    ::GetWindowRect(child(window, id), &r);
    ::SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    INPUT input[2] = {};
    input[0].type = input[1].type = INPUT_MOUSE;
    input[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    input[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    ::SendInput(2, input, sizeof(INPUT));
    // Served as the loop would, until the command comes (generous bound).
    const std::size_t before = events.commands.size();
    const DWORD start = ::GetTickCount();
    while (events.commands.size() == before && ::GetTickCount() - start < 20000) {
      MSG msg;
      while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
      }
      ::Sleep(10);
    }
    return events.commands.size() > before ? events.commands.back() : -1;
  };
  for (const int id : {0, 11, 13, 3, 12}) window.showInactive(id, true);
  for (const int id : {0, 11, 13, 3}) EXPECT_FALSE(::IsWindowEnabled(child(window, id))) << id;
  EXPECT_TRUE(::IsWindowEnabled(child(window, 21)));
  EXPECT_EQ(clickOn(11), 11);
  EXPECT_EQ(clickOn(13), 13);
  EXPECT_EQ(clickOn(3), 3);
  EXPECT_EQ(clickOn(21), 21);  // an active one as ever
  EXPECT_FALSE(window.getCheck(13)) << "a disabled check box does not check itself";
  // The field: read-only, its text grey; keys change nothing.
  HWND field = child(window, 12);
  EXPECT_NE(::GetWindowLongPtrW(field, GWL_STYLE) & ES_READONLY, 0);
  ::SetFocus(field);
  ::SendMessageW(field, WM_CHAR, L'x', 0);
  EXPECT_EQ(window.getText(12), "in");
  HDC dc = ::GetDC(field);
  ::SendMessageW(hwnd, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(field));
  EXPECT_EQ(::GetTextColor(dc), ::GetSysColor(COLOR_GRAYTEXT));
  ::ReleaseDC(field, dc);
  for (const int id : {0, 11, 13, 3, 12}) window.showInactive(id, false);
  for (const int id : {0, 11, 13, 3}) EXPECT_TRUE(::IsWindowEnabled(child(window, id))) << id;
  EXPECT_EQ(::GetWindowLongPtrW(field, GWL_STYLE) & ES_READONLY, 0);
  EXPECT_EQ(clickOn(13), 13);
  EXPECT_TRUE(window.getCheck(13));
  ::SendMessageW(field, EM_SETSEL, 2, 2);
  ::SendMessageW(field, WM_CHAR, L'x', 0);
  EXPECT_EQ(window.getText(12), "inx");
}

}  // namespace
}  // namespace nubo::platform
