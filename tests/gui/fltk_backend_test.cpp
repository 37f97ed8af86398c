// SPDX-License-Identifier: BSD-3-Clause
// The FLTK backend on a real (virtual) display: what the style numbers make
// of the controls, the scroll requests, the UI-thread hand-over, the window's
// life and the message boxes. Events are put into FLTK's own dispatch as the X
// server would deliver them, so the widgets' real handlers run.
// GoogleTest before FLTK: an FLTK header brings in X11's None and Bool macros.
#include <gtest/gtest.h>

#include <FL/Fl.H>
#include <FL/Fl_Browser.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Input.H>
#include <FL/fl_draw.H>
#include <FL/Fl_Scrollbar.H>
#include <FL/Fl_Window.H>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "fltk_controls.h"
#include "fltk_window.h"

namespace nubo::platform {
namespace {

using namespace std::chrono_literals;

constexpr uint32_t kShown = style::kChild | style::kVisible;

struct ScrollEvent {
  ScrollBar bar;
  ScrollRequest request;
  int thumb;
};

class Recorder : public WindowEvents {
 public:
  void onCreate() override {
    log.push_back("create");
    if (createHook) createHook();
  }
  void onDestroy() override {
    log.push_back("destroy");
    if (destroyHook) destroyHook();
    if (window != nullptr) window->quit(destroyQuitCode);
  }
  void onSize(int w, int h) override { log.push_back("size " + std::to_string(w) + " " + std::to_string(h)); }
  void onCommand(int id) override {
    commands.push_back(id);
    if (commandHook) commandHook(id);
  }
  void onScroll(ScrollBar bar, ScrollRequest request, int thumb) override {
    scrolls.push_back({bar, request, thumb});
  }
  bool onClose() override {
    log.push_back("close");
    return allowClose;
  }

  Window* window = nullptr;
  int destroyQuitCode = 0;
  bool allowClose = true;
  std::function<void()> createHook;
  std::function<void(int)> commandHook;
  std::function<void()> destroyHook;
  std::vector<std::string> log;
  std::vector<int> commands;
  std::vector<ScrollEvent> scrolls;
};

// --- synthetic events ---------------------------------------------------------

Fl_Window* mainWindow() { return Fl::first_window(); }

void settle() {
  for (int i = 0; i < 5; ++i) Fl::wait(0.01);
}

void pointerAt(int x, int y) {
  Fl_Window* w = mainWindow();
  Fl::e_x = x;
  Fl::e_y = y;
  Fl::e_x_root = w->x() + x;
  Fl::e_y_root = w->y() + y;
}

void press(int x, int y) {
  pointerAt(x, y);
  Fl::e_keysym = FL_Button + 1;
  Fl::e_state = FL_BUTTON1;
  Fl::e_is_click = 1;
  Fl::e_clicks = 0;
  Fl::handle(FL_PUSH, mainWindow());
}

void drag(int x, int y) {
  pointerAt(x, y);
  Fl::handle(FL_DRAG, mainWindow());
}

void release(int x, int y) {
  pointerAt(x, y);
  Fl::e_state = 0;
  Fl::handle(FL_RELEASE, mainWindow());
  settle();
}

void click(int x, int y) {
  press(x, y);
  release(x, y);
}

void wheel(int x, int y, int notches) {
  pointerAt(x, y);
  Fl::e_dx = 0;
  Fl::e_dy = notches;
  Fl::handle(FL_MOUSEWHEEL, mainWindow());
  settle();
}

void key(int keysym, Fl_Window* target, int state = 0) {
  static char kReturnText[] = "\r";
  static char kNoText[] = "";
  static char kLetter[2] = "";
  const bool letter = keysym >= 'a' && keysym <= 'z';
  kLetter[0] = static_cast<char>(keysym);
  Fl::e_keysym = keysym;
  Fl::e_state = state;
  Fl::e_text = keysym == FL_Enter ? kReturnText : letter ? kLetter : kNoText;
  Fl::e_length = keysym == FL_Enter || letter ? 1 : 0;
  Fl::handle(FL_KEYBOARD, target);
  settle();
}

template <class T>
T* findWidget(Fl_Group* group, const std::function<bool(Fl_Widget*)>& match) {
  for (int i = 0; i < group->children(); ++i) {
    Fl_Widget* child = group->child(i);
    if (match(child)) return dynamic_cast<T*>(child);
    if (Fl_Group* inner = child->as_group()) {
      if (T* found = findWidget<T>(inner, match)) return found;
    }
  }
  return nullptr;
}

Fl_Button* buttonLabelled(const char* label) {
  return findWidget<Fl_Button>(mainWindow(), [label](Fl_Widget* w) {
    return w->label() != nullptr && std::string(w->label()) == label;
  });
}

Fl_Scrollbar* verticalBar() {
  return findWidget<Fl_Scrollbar>(mainWindow(), [](Fl_Widget* w) {
    auto* bar = dynamic_cast<Fl_Scrollbar*>(w);
    return bar != nullptr && bar->type() == FL_VERTICAL;
  });
}

// --- fixture --------------------------------------------------------------------

class FltkBackend : public ::testing::Test {
 public:  // the timeout callbacks reach the members too
  void SetUp() override {
    if (!openDisplay()) GTEST_SKIP() << "no X display (run under xvfb-run)";
    events.window = &window;
  }

  // Creates the window with `controls` made in onCreate, then runs its loop
  // with `steps` carried out inside it, and returns the loop's result.
  int runWith(const std::function<void()>& controls, const std::function<void()>& steps) {
    events.createHook = controls;
    EXPECT_TRUE(window.create("format converter ver1.2 backend test", events));
    stepsToRun = steps;
    Fl::add_timeout(0.05, [](void* data) {
      auto* self = static_cast<FltkBackend*>(data);
      settle();
      self->stepsToRun();
      self->window.quit(0);
    }, this);
    return window.run();
  }

  FltkWindow window;
  Recorder events;
  std::function<void()> stepsToRun;
};

using FltkControls = FltkBackend;
using FltkScrollBars = FltkBackend;
using FltkUiThread = FltkBackend;
using FltkWindowLifecycle = FltkBackend;
using FltkMessageBoxes = FltkBackend;
using FltkKeyboard = FltkBackend;
using FltkStaticText = FltkBackend;

// --- controls ---------------------------------------------------------------------

TEST_F(FltkControls, PlainCheckBoxesChangeOnlyWhenToldAutomaticOnesOnClick) {
  runWith(
      [&] {
        window.createControl(10, ControlClass::Button, "plain", kShown | style::kCheckBox, {10, 10, 150, 20});
        window.createControl(11, ControlClass::Button, "auto", kShown | style::kAutoCheckBox, {10, 40, 150, 20});
      },
      [&] {
        click(20, 20);
        click(20, 50);
        EXPECT_FALSE(window.getCheck(10));
        EXPECT_TRUE(window.getCheck(11));
        window.setCheck(10, true);
        EXPECT_TRUE(window.getCheck(10));
        click(20, 20);
        click(20, 50);
        EXPECT_TRUE(window.getCheck(10));
        EXPECT_FALSE(window.getCheck(11));
      });
  EXPECT_EQ(events.commands, (std::vector<int>{10, 11, 10, 11}));
}

TEST_F(FltkControls, AutomaticRadioButtonsAreExclusiveWithinTheirGroup) {
  constexpr uint32_t kAuto = kShown | style::kAutoRadioButton;
  runWith(
      [&] {
        window.createControl(2, ControlClass::Button, "a", kAuto | style::kGroup, {10, 10, 100, 20});
        window.createControl(3, ControlClass::Button, "b", kAuto, {120, 10, 100, 20});
        window.createControl(4, ControlClass::Button, "c", kAuto, {230, 10, 100, 20});
        window.createControl(6, ControlClass::Button, "d", kAuto | style::kGroup, {10, 40, 100, 20});
        window.createControl(7, ControlClass::Button, "e", kShown | style::kRadioButton, {120, 40, 100, 20});
        window.setCheck(2, true);
        window.setCheck(6, true);
      },
      [&] {
        click(130, 20);  // b
        EXPECT_FALSE(window.getCheck(2));
        EXPECT_TRUE(window.getCheck(3));
        EXPECT_FALSE(window.getCheck(4));
        EXPECT_TRUE(window.getCheck(6)) << "another group is left alone";
        click(130, 20);  // b again stays checked
        EXPECT_TRUE(window.getCheck(3));
        click(130, 50);  // e: a plain radio button does not check itself
        EXPECT_FALSE(window.getCheck(7));
        EXPECT_TRUE(window.getCheck(6));
      });
  EXPECT_EQ(events.commands, (std::vector<int>{3, 3, 7}));
}

TEST_F(FltkControls, DisabledAndHiddenControlsTakeNoClicks) {
  runWith(
      [&] {
        window.createControl(21, ControlClass::Button, "Start", kShown | style::kDisabled, {10, 10, 80, 24});
        window.createControl(22, ControlClass::Button, "Exit", style::kChild, {100, 10, 80, 24});
        window.createControl(23, ControlClass::Button, "Cancel", kShown, {190, 10, 80, 24});
      },
      [&] {
        click(50, 20);
        click(140, 20);
        click(230, 20);
        window.enable(21, true);
        click(50, 20);
      });
  EXPECT_EQ(events.commands, (std::vector<int>{23, 21}));
}

// Shown inactive (a run): greyed by colour, yet every click still reaches
// the logic (which says why it does nothing); a field is read-only, so that
// keys edit nothing. Shown active again, all is as before.
TEST_F(FltkControls, InactiveControlsLookGreyTakeClicksAndFieldsTakeNoKeys) {
  Fl_Color labelBefore = 0;
  Fl_Color markBefore = 0;
  runWith(
      [&] {
        window.createControl(11, ControlClass::Button, "Browse...", kShown | style::kTabStop, {10, 10, 100, 24});
        window.createControl(13, ControlClass::Button, "auto", kShown | style::kAutoCheckBox, {10, 40, 150, 20});
        window.createControl(2, ControlClass::Button, "job", kShown | style::kAutoRadioButton | style::kGroup,
                             {10, 70, 150, 20});
        window.createControl(12, ControlClass::Edit, "kept", kShown | style::kBorder | style::kTabStop,
                             {10, 100, 300, 24});
      },
      [&] {
        Fl_Button* browse = buttonLabelled("Browse...");
        Fl_Button* check = buttonLabelled("auto");
        ASSERT_NE(browse, nullptr);
        ASSERT_NE(check, nullptr);
        labelBefore = browse->labelcolor();
        markBefore = check->selection_color();
        for (const int id : {11, 13, 2, 12}) window.showInactive(id, true);
        EXPECT_EQ(browse->labelcolor(), fl_inactive(labelBefore));
        EXPECT_EQ(check->labelcolor(), fl_inactive(labelBefore));
        EXPECT_EQ(check->selection_color(), fl_inactive(markBefore));
        EXPECT_TRUE(browse->active()) << "a deactivated widget would take no clicks";
        click(50, 20);
        click(20, 50);
        click(20, 80);
        window.focusControl(12);
        key('x', mainWindow());
        EXPECT_EQ(window.getText(12), "kept");
        window.setText(12, "set by the program");  // the program still can
        EXPECT_EQ(window.getText(12), "set by the program");
        for (const int id : {11, 13, 2, 12}) window.showInactive(id, false);
        EXPECT_EQ(browse->labelcolor(), labelBefore);
        EXPECT_EQ(check->selection_color(), markBefore);
        window.focusControl(12);
        key('x', mainWindow());
        EXPECT_NE(window.getText(12), "set by the program");
        click(50, 20);
      });
  EXPECT_EQ(events.commands, (std::vector<int>{11, 13, 2, 11}));
}

// A list box shows whole lines: its height is cut so that the room inside
// its frame and its horizontal scroll bar holds no part of a line.
TEST_F(FltkControls, AListBoxShowsOnlyWholeLines) {
  runWith(
      [&] {
        window.createControl(34, ControlClass::ListBox, "", kShown | style::kBorder | 0x00300000, {10, 10, 400, 97});
      },
      [&] {
        std::vector<std::string> lines;
        for (int i = 0; i < 30; ++i) lines.push_back("line " + std::to_string(i));
        window.addListLines(34, lines);
        settle();
        auto* list = findWidget<Fl_Browser>(mainWindow(), [](Fl_Widget* w) { return dynamic_cast<Fl_Browser*>(w); });
        ASSERT_NE(list, nullptr);
        fl_font(list->textfont(), list->textsize());
        const int line = fl_height();
        const int inside = list->h() - Fl::box_dh(list->box()) - Fl::scrollbar_size();
        EXPECT_LE(list->h(), 97);
        EXPECT_GT(list->h(), 97 - line);
        EXPECT_EQ(inside % line, 0) << "inside " << inside << " line " << line;
        int shown = 0;
        for (int i = 1; i <= 30; ++i) shown += list->displayed(i);
        EXPECT_EQ(shown, inside / line);
      });
}

TEST_F(FltkControls, TextsComeBackAsSetAndEditTextsKeepTheirLimit) {
  runWith(
      [&] {
        window.createControl(12, ControlClass::Edit, "", kShown | style::kBorder, {10, 10, 300, 24});
        window.createControl(31, ControlClass::Static, "", kShown | style::kBorder, {10, 40, 300, 20});
      },
      [&] {
        window.setTextLimit(12, 5);
        window.setText(12, "abcdefgh");
        EXPECT_EQ(window.getText(12), "abcde");
        // The limit counts characters, not bytes: 5 characters in 6 bytes
        // fit; a sixth is cut off, and a 2-byte letter is never split.
        window.setText(12, "abcd\xC3\xA9");
        EXPECT_EQ(window.getText(12), "abcd\xC3\xA9");
        window.setText(12, "abcd\xC3\xA9x");
        EXPECT_EQ(window.getText(12), "abcd\xC3\xA9");
        window.setText(12, "abc\xC3\xA9\xE9\x9F\xB3");
        EXPECT_EQ(window.getText(12), "abc\xC3\xA9\xE9\x9F\xB3");
        window.setText(12, "abcd\xE9\x9F\xB3\xC3\xA9");
        EXPECT_EQ(window.getText(12), "abcd\xE9\x9F\xB3");
        window.setTextLimit(12, 299);
        const std::string path(299, 'p');
        window.setText(12, path + "xyz");
        EXPECT_EQ(window.getText(12), path);
        std::string umlauts;  // 299 characters, 598 bytes
        for (int i = 0; i < 299; ++i) umlauts += "\xC3\xA4";
        window.setText(12, umlauts);
        EXPECT_EQ(window.getText(12), umlauts);
        // FLTK reads '@' as a symbol prefix in labels; the text itself is kept.
        window.setText(31, "@home & /a@b");
        EXPECT_EQ(window.getText(31), "@home & /a@b");
        EXPECT_EQ(window.getText(99), "");
        EXPECT_FALSE(window.hasControl(99));
      });
}

TEST_F(FltkControls, EnterPressesTheDefaultButtonWhichStaysPressedWhileHeld) {
  events.commandHook = [&](int id) {
    if (id == 21) window.showPressed(21, true);
  };
  runWith(
      [&] {
        window.createControl(12, ControlClass::Edit, "", kShown | style::kBorder | style::kTabStop,
                             {10, 10, 300, 24});
        window.createControl(21, ControlClass::Button, "Start", kShown | style::kDefPushButton,
                             {10, 40, 80, 24});
        window.createControl(22, ControlClass::Button, "Exit", kShown, {100, 40, 80, 24});
      },
      [&] {
        click(100, 20);  // the focus into the edit field, which does not use Enter
        key(FL_Enter, mainWindow());
        Fl_Button* start = buttonLabelled("Start");
        ASSERT_NE(start, nullptr);
        const auto until = std::chrono::steady_clock::now() + 400ms;  // past the key flash
        while (std::chrono::steady_clock::now() < until) Fl::wait(0.02);
        EXPECT_EQ(start->value(), 1) << "the key flash released a held button";
        window.showPressed(21, false);
        EXPECT_EQ(start->value(), 0);
      });
  EXPECT_EQ(events.commands, (std::vector<int>{21}));
}

// --- scroll bars --------------------------------------------------------------------

TEST_F(FltkScrollBars, ArrowTroughThumbAndWheelGiveTheirRequests) {
  int clientW = 0;
  int clientH = 0;
  runWith([] {},
          [&] {
            clientW = mainWindow()->w() - Fl::scrollbar_size();
            clientH = mainWindow()->h() - Fl::scrollbar_size();
            const int barX = clientW + Fl::scrollbar_size() / 2;
            window.setScrollRange(ScrollBar::Vertical, 0, 20);
            window.setScrollPosition(ScrollBar::Vertical, 0);
            settle();
            click(barX, clientH - 4);  // the down arrow
            click(barX, clientH - 2 * Fl::scrollbar_size() - 4);  // the trough above it
            click(4, clientH + Fl::scrollbar_size() / 2);  // the left arrow of an empty range
            wheel(clientW / 2, clientH / 2, 1);
            // The thumb sits at the top (position 0): drag it down.
            press(barX, Fl::scrollbar_size() + 3);
            drag(barX, Fl::scrollbar_size() + 3 + clientH / 2);
            release(barX, Fl::scrollbar_size() + 3 + clientH / 2);
            Fl_Scrollbar* bar = verticalBar();
            ASSERT_NE(bar, nullptr);
            EXPECT_EQ(bar->value(), 0) << "the bar shows the position the logic set, not its own";
            window.setScrollPosition(ScrollBar::Vertical, 7);
            EXPECT_EQ(bar->value(), 7);
          });
  using R = ScrollRequest;
  std::vector<R> requests;
  for (const ScrollEvent& e : events.scrolls) {
    EXPECT_EQ(e.bar, ScrollBar::Vertical) << "the empty horizontal range reports nothing";
    requests.push_back(e.request);
  }
  ASSERT_GE(requests.size(), 10u);
  EXPECT_EQ((std::vector<R>(requests.begin(), requests.begin() + 8)),
            (std::vector<R>{R::LineDown, R::EndScroll, R::PageDown, R::EndScroll, R::LineDown, R::LineDown,
                            R::LineDown, R::EndScroll}));
  EXPECT_EQ(requests[8], R::ThumbTrack);
  EXPECT_GT(events.scrolls[8].thumb, 5) << "dragged half way down a range of 20";
  EXPECT_EQ(requests.back(), R::EndScroll);
}

// Picks the `downs`-th entry of the scroll bar's context menu once it is open.
int gMenuDowns = 0;

void pickWhenOpen(void*) {
  if (Fl::grab() == nullptr) {
    Fl::repeat_timeout(0.05, pickWhenOpen);
    return;
  }
  Fl_Window* menu = Fl::grab();
  for (int i = 0; i < gMenuDowns; ++i) key(FL_Down, menu);
  key(FL_Enter, menu);
  Fl::awake();  // the menu's loop waits for X events; wake it to see the choice
}

void rightClick(int x, int y) {
  pointerAt(x, y);
  Fl::e_keysym = FL_Button + 3;
  Fl::e_state = FL_BUTTON3;
  Fl::handle(FL_PUSH, mainWindow());
  Fl::e_state = 0;
  settle();
}

TEST_F(FltkScrollBars, TheContextMenuGivesTopBottomAndScrollHere) {
  runWith([] {},
          [&] {
            const int clientW = mainWindow()->w() - Fl::scrollbar_size();
            const int clientH = mainWindow()->h() - Fl::scrollbar_size();
            const int barX = clientW + Fl::scrollbar_size() / 2;
            window.setScrollRange(ScrollBar::Vertical, 0, 20);
            window.setScrollPosition(ScrollBar::Vertical, 10);
            settle();
            gMenuDowns = 2;  // Scroll Here, Top
            Fl::add_timeout(0.1, pickWhenOpen);
            rightClick(barX, clientH / 2);
            gMenuDowns = 3;  // Bottom
            Fl::add_timeout(0.1, pickWhenOpen);
            rightClick(barX, clientH / 2);
            gMenuDowns = 1;  // Scroll Here, near the lower end
            Fl::add_timeout(0.1, pickWhenOpen);
            rightClick(barX, clientH - Fl::scrollbar_size() - 2);
          });
  using R = ScrollRequest;
  ASSERT_EQ(events.scrolls.size(), 6u);
  EXPECT_EQ(events.scrolls[0].request, R::Top);
  EXPECT_EQ(events.scrolls[1].request, R::EndScroll);
  EXPECT_EQ(events.scrolls[2].request, R::Bottom);
  EXPECT_EQ(events.scrolls[4].request, R::ThumbTrack);
  EXPECT_GE(events.scrolls[4].thumb, 18) << "scrolled to where the bar was clicked";
  EXPECT_EQ(events.scrolls[5].request, R::EndScroll);
}

TEST_F(FltkScrollBars, ScrollContentMovesEveryControl) {
  runWith([&] { window.createControl(21, ControlClass::Button, "Start", kShown, {10, 10, 80, 24}); },
          [&] {
            window.scrollContent(100, 40);
            settle();
            click(50, 22);  // where it was
            click(150, 62);  // where it is now
            window.scrollContent(-100, -40);
            settle();
            click(50, 22);
          });
  EXPECT_EQ(events.commands, (std::vector<int>{21, 21}));
}

// --- the UI thread --------------------------------------------------------------------

TEST_F(FltkUiThread, WorkFromAWorkerRunsOnTheUiThreadWhileTheWorkerWaits) {
  const std::thread::id uiThread = std::this_thread::get_id();
  std::atomic<int> onUiThread{0};
  std::atomic<int> seenByWorker{0};
  runWith([&] { window.createControl(31, ControlClass::Static, "", kShown, {10, 10, 300, 20}); },
          [&] {
            std::atomic<bool> finished{false};
            std::thread worker([&] {
              for (int i = 0; i < 200; ++i) {
                int value = -1;
                window.runOnUiThread([&] {
                  if (std::this_thread::get_id() == uiThread) ++onUiThread;
                  window.setText(31, std::to_string(i));
                  value = i;
                });
                if (value == i) ++seenByWorker;  // done before runOnUiThread returned
              }
              finished = true;
            });
            while (!finished) Fl::wait(0.01);
            worker.join();
            EXPECT_EQ(window.getText(31), "199");
            bool ranAtOnce = false;
            window.runOnUiThread([&] { ranAtOnce = true; });
            EXPECT_TRUE(ranAtOnce) << "from the UI thread itself the work runs at once";
          });
  EXPECT_EQ(onUiThread, 200);
  EXPECT_EQ(seenByWorker, 200);
}

TEST_F(FltkUiThread, AWorkerIsReleasedWhenTheLoopHasEnded) {
  std::atomic<int> lateRan{0};
  std::promise<void> queued;
  std::future<void> early;
  std::future<void> late;
  runWith([] {},
          [&] {
            // One call waits in the queue when the loop ends, one comes after.
            early = std::async(std::launch::async, [&] {
              queued.set_value();
              window.runOnUiThread([] {});  // may still be served before the loop ends
            });
            queued.get_future().wait();
            std::this_thread::sleep_for(50ms);  // no event served meanwhile
            late = std::async(std::launch::async, [&] {
              std::this_thread::sleep_for(200ms);
              window.runOnUiThread([&] { ++lateRan; });
            });
          });
  ASSERT_EQ(early.wait_for(5s), std::future_status::ready) << "a queued call was left waiting";
  ASSERT_EQ(late.wait_for(5s), std::future_status::ready) << "a call after the loop waited";
  EXPECT_EQ(lateRan, 0) << "work ran after the loop had ended";
}

TEST_F(FltkUiThread, DestroyCanWaitForAWorkerThatIsStillSendingWork) {
  std::atomic<bool> stop{false};
  std::atomic<int> served{0};
  std::thread worker;
  events.destroyHook = [&] {
    stop = true;
    worker.join();  // the worker may be waiting in runOnUiThread right now
  };
  runWith([&] { window.createControl(31, ControlClass::Static, "", kShown, {10, 10, 300, 20}); },
          [&] {
            worker = std::thread([&] {
              while (!stop) window.runOnUiThread([&] { ++served; });
            });
            while (served < 50) Fl::wait(0.01);
            window.destroy();  // returns only when the worker has been joined
          });
  EXPECT_FALSE(worker.joinable());
  EXPECT_GE(served, 50);
}

// --- the window's life ------------------------------------------------------------------

TEST_F(FltkWindowLifecycle, SizeOnCreateAndResizeEscapeKeepsTheWindowCloseDestroys) {
  events.destroyQuitCode = 7;
  events.createHook = [] {};
  ASSERT_TRUE(window.create("format converter ver1.2 backend test", events));
  ASSERT_GE(events.log.size(), 2u);
  EXPECT_EQ(events.log[0], "create");
  EXPECT_EQ(events.log[1].rfind("size ", 0), 0u);
  Fl::add_timeout(0.05, [](void* data) {
    auto* self = static_cast<FltkBackend*>(data);
    settle();
    Fl_Window* w = mainWindow();
    const int bar = Fl::scrollbar_size();
    EXPECT_EQ(self->events.log[1], "size " + std::to_string(w->w() - bar) + " " + std::to_string(w->h() - bar));
    w->resize(w->x(), w->y(), 500, 300);
    settle();
    EXPECT_EQ(self->events.log.back(), "size " + std::to_string(500 - bar) + " " + std::to_string(300 - bar));
    key(FL_Escape, w);
    EXPECT_NE(self->events.log.back(), "destroy") << "Escape closed the window";
    Fl::handle(FL_CLOSE, w);  // the close box, as the window manager reports it
  }, this);
  EXPECT_EQ(window.run(), 7);
  EXPECT_EQ(events.log.back(), "destroy");
}

TEST_F(FltkWindowLifecycle, TheCloseBoxClosesOnlyWhenTheLogicAgrees) {
  events.allowClose = false;
  runWith([] {},
          [&] {
            Fl::handle(FL_CLOSE, mainWindow());
            settle();
            EXPECT_EQ(events.log.back(), "close");
            EXPECT_TRUE(mainWindow() != nullptr && mainWindow()->shown()) << "closed against the logic's answer";
            events.allowClose = true;
            Fl::handle(FL_CLOSE, mainWindow());
            settle();
          });
  ASSERT_GE(events.log.size(), 2u);
  EXPECT_EQ(events.log[events.log.size() - 2], "close");
  EXPECT_EQ(events.log.back(), "destroy");
}

// --- keyboard -------------------------------------------------------------------------------

// The name of the focused control: an edit field's text, else its caption.
std::string focusName() {
  Fl_Widget* f = Fl::focus();
  if (f == nullptr) return "(none)";
  if (auto* input = dynamic_cast<Fl_Input*>(f)) return input->value();
  return f->label() != nullptr ? f->label() : "(no label)";
}

TEST_F(FltkKeyboard, TabFollowsTheLayoutWithEachRadioGroupOneStop) {
  constexpr uint32_t kStop = kShown | style::kTabStop;
  constexpr uint32_t kRadio = kStop | style::kAutoRadioButton;
  std::vector<std::string> forward, backward, arrows;
  runWith(
      [&] {
        // The IDs and rows of the converter's layout: each Browse button has
        // a lower ID than its field, the language button the lowest.
        window.createControl(0, ControlClass::Button, "Lang", kStop, {700, 0, 80, 20});
        window.createControl(2, ControlClass::Button, "a", kRadio | style::kGroup, {40, 30, 100, 20});
        window.createControl(3, ControlClass::Button, "b", kRadio, {150, 30, 100, 20});
        window.createControl(4, ControlClass::Button, "c", kRadio, {260, 30, 100, 20});
        window.createControl(5, ControlClass::Button, "Job", kShown | style::kGroup | style::kGroupBox, {10, 20, 760, 40});
        window.createControl(11, ControlClass::Button, "Browse in", kStop, {600, 70, 80, 22});
        window.createControl(12, ControlClass::Edit, "in", kStop | style::kBorder, {100, 70, 480, 22});
        window.createControl(13, ControlClass::Button, "Sub", kStop | style::kAutoCheckBox, {100, 95, 200, 20});
        window.createControl(16, ControlClass::Button, "Browse out", kStop, {600, 120, 80, 22});
        window.createControl(17, ControlClass::Edit, "out", kStop | style::kBorder, {100, 121, 480, 22});
        window.createControl(21, ControlClass::Button, "Start", kStop | style::kDefPushButton, {100, 160, 80, 24});
        window.createControl(22, ControlClass::Button, "Exit", kStop, {200, 160, 80, 24});
        window.createControl(23, ControlClass::Button, "Cancel", kStop | style::kDisabled, {300, 160, 80, 24});
        window.createControl(31, ControlClass::Static, "status", kShown | style::kBorder, {10, 190, 760, 20});
        window.setCheck(4, true);
        window.focusControl(12);
      },
      [&] {
        forward.push_back(focusName());
        for (int i = 0; i < 10; ++i) {
          key(FL_Tab, mainWindow());
          forward.push_back(focusName());
        }
        key(FL_Tab, mainWindow(), FL_SHIFT);
        backward.push_back(focusName());
        key(FL_Tab, mainWindow(), FL_SHIFT);
        backward.push_back(focusName());
        key(FL_Right, mainWindow());  // on the group's checked button
        arrows.push_back(focusName());
        key(FL_Up, mainWindow());
        arrows.push_back(focusName());
        key(FL_Up, mainWindow());
        arrows.push_back(focusName());
        EXPECT_TRUE(window.getCheck(3)) << "an arrow checks the automatic radio button it moves to";
        EXPECT_FALSE(window.getCheck(4));
        // With the focus on the main window, typing edits no field.
        window.focusControl(12);
        window.focusMainWindow();
        key('x', mainWindow());
        EXPECT_EQ(window.getText(12), "in");
        key(FL_Tab, mainWindow());
        EXPECT_EQ(focusName(), "Lang") << "from the main window Tab goes to the first stop";
      });
  EXPECT_EQ(forward, (std::vector<std::string>{"in", "Browse in", "Sub", "out", "Browse out", "Start", "Exit", "Lang",
                                               "c", "in", "Browse in"}));
  EXPECT_EQ(backward, (std::vector<std::string>{"in", "c"}));
  EXPECT_EQ(arrows, (std::vector<std::string>{"a", "c", "b"}));
  EXPECT_EQ(events.commands, (std::vector<int>{2, 4, 3}));
}

// --- static texts ---------------------------------------------------------------------------

TEST_F(FltkStaticText, AStatusLineShowsALongPathShortenedAndAllOfItAsTooltip) {
  const std::string longPath = "/srv/archive/" + std::string(120, 'd') + "/2021/live/TAKE.NAB";
  runWith([&] { window.createControl(31, ControlClass::Static, "", kShown | style::kBorder, {10, 10, 300, 20}); },
          [&] {
            auto* line = findWidget<detail::StaticText>(mainWindow(), [](Fl_Widget* w) {
              return dynamic_cast<detail::StaticText*>(w) != nullptr;
            });
            ASSERT_NE(line, nullptr);
            window.setText(31, longPath);
            EXPECT_EQ(window.getText(31), longPath);
            const std::string shown = line->shownText();
            fl_font(line->labelfont(), line->labelsize());
            EXPECT_LE(fl_width(shown.c_str()), line->w());
            EXPECT_NE(shown.find("\xE2\x80\xA6"), std::string::npos) << shown;
            EXPECT_EQ(shown.substr(shown.size() - 19), "/2021/live/TAKE.NAB") << shown;
            ASSERT_NE(line->tooltip(), nullptr);
            // All of it, in lines that fit the control's width.
            std::string tip = line->tooltip();
            std::size_t lines = 1;
            for (std::size_t at = 0, nl; (nl = tip.find('\n', at)) != std::string::npos; at = nl) {
              EXPECT_LE(fl_width(tip.substr(at, nl - at).c_str()), line->w());
              tip.erase(nl, 1);
              ++lines;
            }
            EXPECT_EQ(tip, longPath);
            EXPECT_GT(lines, 1u);
            window.setText(31, "Finished.");
            EXPECT_EQ(line->shownText(), "Finished.");
            EXPECT_EQ(line->tooltip(), nullptr);
          });
}

// --- message boxes ------------------------------------------------------------------------

// Presses `keysym` in the next modal box as soon as it is open.
int gPendingAnswer = 0;

std::vector<std::string> gBoxButtons;  // the captions of the last box's buttons

void answerWhenOpen(void*) {
  if (Fl::modal() == nullptr) {
    Fl::repeat_timeout(0.05, answerWhenOpen);
    return;
  }
  gBoxButtons.clear();
  findWidget<Fl_Button>(Fl::modal(), [](Fl_Widget* w) {
    if (dynamic_cast<Fl_Button*>(w) != nullptr && w->visible() && w->label() != nullptr) gBoxButtons.push_back(w->label());
    return false;
  });
  key(gPendingAnswer, Fl::modal());
  // The box's own loop went back to waiting for X events when this timer
  // ran; a closed box sends none, so wake the loop up to see it has gone.
  Fl::awake();
}

void answerWith(int keysym) {
  gPendingAnswer = keysym;
  Fl::add_timeout(0.1, answerWhenOpen);
}

TEST_F(FltkMessageBoxes, YesTakesEnterAndEscapeAnswersNo) {
  bool onEnter = false;
  bool onEscape = true;
  runWith([] {},
          [&] {
            answerWith(FL_Enter);
            onEnter = window.askYesNo("Stop the conversion?", "Cancel", "Ja", "Nein");
            std::sort(gBoxButtons.begin(), gBoxButtons.end());
            EXPECT_EQ(gBoxButtons, (std::vector<std::string>{"Ja", "Nein"})) << "the buttons are captioned as asked";
            answerWith(FL_Escape);
            onEscape = window.askYesNo("Stop the conversion?", "Cancel", "Ja", "Nein");
            answerWith(FL_Enter);
            window.showError("Error", "I need /nowhere/NUBOCONV.h");  // returns when closed
          });
  EXPECT_TRUE(onEnter);
  EXPECT_FALSE(onEscape);
}

}  // namespace
}  // namespace nubo::platform
