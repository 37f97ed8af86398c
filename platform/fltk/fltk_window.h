// SPDX-License-Identifier: BSD-3-Clause
// The FLTK 1.3 backend of platform::Window: one double-buffered top-level
// window whose client area holds the child controls, with a vertical and a
// horizontal scroll bar along its right and bottom edges. The scroll bars do
// not scroll anything themselves; they report requests to
// WindowEvents::onScroll and show the position the logic sets.
//
// Use it from one thread (the UI thread) except runOnUiThread, which a worker
// calls. No FLTK header is needed to use it.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "window.h"

namespace nubo::platform {

// Connects to the X display named by DISPLAY and makes FLTK use it. False when
// there is none, so that the caller can say so clearly (FLTK itself would print
// a terse line and exit). Call it on the thread that runs the window, before
// any other thread starts: it also enables FLTK's thread support.
bool openDisplay();

// The metrics of the font the controls use (Helvetica at FLTK's normal size),
// measured the way the layout expects: the width of "x" as the average
// character width and the font height as the line height.
// REQUIRES: openDisplay() returned true.
TextMetrics fltkTextMetrics();

class FltkWindow final : public Window {
 public:
  FltkWindow();
  // REQUIRES: no worker thread calls runOnUiThread any more.
  ~FltkWindow() override;
  FltkWindow(const FltkWindow&) = delete;
  FltkWindow& operator=(const FltkWindow&) = delete;

  bool create(const std::string& title, WindowEvents& events) override;
  // Shows the window and serves events until quit() or until the window is
  // destroyed. Afterwards runOnUiThread returns at once without running its
  // work, so that a worker still winding down cannot wait for a loop that is gone.
  int run() override;
  void quit(int code) override;
  // The close box asks WindowEvents::onClose and destroys the window when it
  // agrees (Escape never closes it).
  // Delivers onDestroy and hides the window. From its start the UI thread
  // serves no more work for a worker: runOnUiThread returns at once without
  // running it, so that onDestroy may wait for (join) a worker that is still
  // sending status lines without the two waiting for each other.
  void destroy() override;

  TextMetrics textMetrics() override;

  void createControl(int id, ControlClass cls, const std::string& caption, uint32_t style,
                     const Rect& rect) override;
  bool hasControl(int id) const override;
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
  // Greys the label (and a check mark) by colour and makes an edit field
  // read-only: a deactivated FLTK widget would take no clicks.
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

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace nubo::platform
