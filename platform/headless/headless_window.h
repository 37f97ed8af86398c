// SPDX-License-Identifier: BSD-3-Clause
// A window backend without a display: it records every call the window logic
// makes (controls with their class, caption, style and rectangle; texts,
// checks, enabled and pressed states; scroll ranges and positions; the content
// offset; message boxes and file dialogs) and lets tests act as the user would.
//
// Threads: the thread that calls create() is the UI thread. runOnUiThread()
// from that thread runs the work at once; from any other thread it queues the
// work and waits until the UI thread runs it in pump(), pumpUntil() or run().
// After the queue is closed (run() has returned, or closeQueue()) queued and
// later work is dropped and the caller released, as after a real message loop
// has ended. Everything else must be called on the UI thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "window.h"

namespace nubo::platform {

struct HeadlessControl {
  int id = 0;
  ControlClass cls = ControlClass::Static;
  std::string caption;  // as created
  uint32_t style = 0;
  Rect createdRect;     // as created
  Rect rect;            // after scrolling
  std::string text;     // the current text (the caption until it is set)
  int textLimit = -1;   // -1: no limit set
  bool checked = false;
  bool pressed = false;
  bool enabled = true;
  bool inactive = false;  // drawn greyed (an edit: read-only), still clickable
  std::vector<std::string> items;  // a list box's lines
};

struct HeadlessMessageBox {
  bool yesNo = false;  // false: an error box
  std::string caption;
  std::string text;
  std::string yes, no;  // the button captions of a Yes/No box
  bool answer = false;  // the answer given to a Yes/No box
};

// The focus on the main window itself rather than on a control.
inline constexpr int kHeadlessMainWindowFocus = -1;

struct HeadlessDialog {
  bool save = false;
  std::string initialPath;
  std::optional<std::string> answer;
};

class HeadlessWindow : public Window {
 public:
  explicit HeadlessWindow(TextMetrics metrics = {}, int clientWidth = 800, int clientHeight = 600);
  ~HeadlessWindow() override;

  // --- Window ---------------------------------------------------------------
  bool create(const std::string& title, WindowEvents& events) override;
  // Pumps queued UI work until quit() (or destroy()); then closes the queue.
  int run() override;
  void quit(int code) override;
  void destroy() override;
  TextMetrics textMetrics() override { return metrics_; }
  void createControl(int id, ControlClass cls, const std::string& caption, uint32_t style,
                     const Rect& rect) override;
  bool hasControl(int id) const override { return controls_.count(id) != 0; }
  void setText(int id, const std::string& text) override;
  std::string getText(int id) override;
  void setTextLimit(int id, int characters) override;
  void clearList(int id) override;
  void addListLines(int id, const std::vector<std::string>& lines) override;
  std::vector<std::string> listLines(int id) override;
  bool getCheck(int id) override;
  void setCheck(int id, bool checked) override;
  void showPressed(int id, bool pressed) override;
  void enable(int id, bool enabled) override;
  void showInactive(int id, bool inactive) override;
  void focusMainWindow() override;
  void focusControl(int id) override;
  void scrollContent(int dx, int dy) override;
  void setScrollRange(ScrollBar bar, int minimum, int maximum) override;
  void setScrollPosition(ScrollBar bar, int position) override;
  bool askYesNo(const std::string& text, const std::string& caption, const std::string& yes,
                const std::string& no) override;
  void showError(const std::string& caption, const std::string& text) override;
  std::optional<std::string> openFileDialog(const std::string& initialPath) override;
  std::optional<std::string> saveFileDialog(const std::string& initialPath) override;
  void runOnUiThread(const std::function<void()>& work) override;

  // --- acting as the user ---------------------------------------------------
  // Clicks control `id` as the real control would react: nothing when it is
  // missing or disabled; the control takes the focus, an auto check box
  // toggles and an auto radio button checks itself (unchecking the auto radio
  // buttons of its group) before the command is delivered. Returns whether
  // the command was delivered.
  bool click(int id);
  // The close box: asks the window logic, and destroys the window when it agrees.
  void close();
  // Delivers the command of `id` with no control behaviour (as a keyboard
  // accelerator would).
  void command(int id);
  // Replaces the text of an edit control as typing would, cut at its limit;
  // a read-only (inactive) field keeps its text.
  void type(int id, const std::string& text);
  void resize(int clientWidth, int clientHeight);
  void scroll(ScrollBar bar, ScrollRequest request, int thumbPosition = 0);
  // The next Yes/No boxes are answered in this order; when none is left the
  // answer is No. `whileOpen` runs while the box is open, before the answer
  // (as the real box serves the worker's calls meanwhile).
  void answerYesNo(bool yes, std::function<void()> whileOpen = {}) {
    yesNoAnswers_.push_back({yes, std::move(whileOpen)});
  }
  // After each text set on control `id`, `react` gets the text, on the UI
  // thread while a worker that sent it still waits (a user acting the moment
  // a text shows); it is dropped once it returns true.
  void whenTextSet(int id, std::function<bool(const std::string& text)> react) {
    textReactions_.push_back({id, std::move(react)});
  }
  // The next file dialog (open or save) returns `path` (nullopt: cancelled);
  // when none is scripted the dialog is cancelled.
  void answerFileDialog(std::optional<std::string> path) { dialogAnswers_.push_back(std::move(path)); }

  // Runs the queued UI work; returns how many items ran.
  int pump();
  // Pumps until `done()` holds or `timeout` passes; returns done(). done()
  // is asked before each item, so a worker waiting for its next item has
  // not gone past the state it looks for.
  bool pumpUntil(const std::function<bool()>& done,
                 std::chrono::milliseconds timeout = std::chrono::milliseconds(20000));
  void closeQueue();

  // --- what was recorded ----------------------------------------------------
  const HeadlessControl* control(int id) const;
  std::string statusLine(int line) const;  // text of control 30 + line
  const std::vector<int>& creationOrder() const { return creationOrder_; }
  const std::vector<HeadlessMessageBox>& messageBoxes() const { return messageBoxes_; }
  const std::vector<HeadlessDialog>& dialogs() const { return dialogs_; }
  const std::vector<std::string>& calls() const { return calls_; }
  const std::string& title() const { return title_; }
  bool created() const { return events_ != nullptr; }
  bool quitRequested() const { return quitRequested_; }
  int quitCode() const { return quitCode_; }
  bool destroyed() const { return destroyed_; }
  int focusCount() const { return focusCount_; }
  // The control with the focus, or kHeadlessMainWindowFocus.
  int focusedControl() const { return focused_; }
  int contentOffsetX() const { return offsetX_; }
  int contentOffsetY() const { return offsetY_; }
  int scrollMinimum(ScrollBar bar) const { return minimum_[index(bar)]; }
  int scrollMaximum(ScrollBar bar) const { return maximum_[index(bar)]; }
  int scrollPosition(ScrollBar bar) const { return position_[index(bar)]; }

 private:
  std::optional<std::string> fileDialog(bool save, const std::string& initialPath);
  struct Task {
    std::function<void()> work;
    bool done = false;
  };

  static int index(ScrollBar bar) { return bar == ScrollBar::Horizontal ? 0 : 1; }
  // Runs the first queued item; false when there is none.
  bool runOne();
  HeadlessControl* find(int id);
  void record(std::string call) { calls_.push_back(std::move(call)); }
  void checkAutoRadio(int id);

  TextMetrics metrics_;
  int clientWidth_;
  int clientHeight_;
  WindowEvents* events_ = nullptr;
  std::string title_;
  std::map<int, HeadlessControl> controls_;
  std::vector<int> creationOrder_;
  std::vector<std::string> calls_;
  std::vector<HeadlessMessageBox> messageBoxes_;
  std::vector<HeadlessDialog> dialogs_;
  struct YesNoAnswer {
    bool yes = false;
    std::function<void()> whileOpen;
  };
  std::deque<YesNoAnswer> yesNoAnswers_;
  std::deque<std::optional<std::string>> dialogAnswers_;
  struct TextReaction {
    int id = 0;
    std::function<bool(const std::string&)> react;
  };
  std::vector<TextReaction> textReactions_;
  bool quitRequested_ = false;
  int quitCode_ = 0;
  bool destroyed_ = false;
  int focusCount_ = 0;
  int focused_ = kHeadlessMainWindowFocus;
  int offsetX_ = 0;
  int offsetY_ = 0;
  int minimum_[2] = {0, 0};
  int maximum_[2] = {0, 0};
  int position_[2] = {0, 0};
  std::thread::id uiThread_;

  std::mutex queueMutex_;
  std::condition_variable queueChanged_;
  std::deque<std::shared_ptr<Task>> queue_;  // guarded by queueMutex_
  bool queueClosed_ = false;                 // guarded by queueMutex_
};

}  // namespace nubo::platform
