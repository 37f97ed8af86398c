// SPDX-License-Identifier: BSD-3-Clause
// The Win32 window backend on its own, with real windows (under Wine on a
// virtual display, see with_display.sh): controls of the system's classes
// with the given styles, texts, limits and states, the metrics, commands,
// scrolling, the close box, the Yes/No box's captions and keys, and the
// worker's calls by posted messages.
#include <windows.h>

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace nubo::platform
