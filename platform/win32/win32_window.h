// SPDX-License-Identifier: BSD-3-Clause
// The native Win32 backend of platform::Window: a top-level window of the
// registered class "NUBOCONV" with both scroll bars, whose child controls are
// the system's own STATIC, BUTTON, EDIT and LISTBOX windows, created with the
// style bits of the definition file as they are. Texts are UTF-8 here and
// UTF-16 for the system (the wide functions throughout). Character metrics
// come from GetTextMetricsW on the window's device context (the system font,
// which the controls use too). The message loop runs IsDialogMessageW, so
// that Tab, the group and tab-stop bits and the default push button work as
// in a dialog; the controls are put in the z-order in which they are seen,
// which is the Tab order. A one-line static too narrow for its text shows it
// shortened in the middle of its paths, and the whole text as a tooltip. A
// worker reaches the window by posted messages.
//
// Use it from one thread (the UI thread, the one that calls create()) except
// runOnUiThread, which a worker calls. No Windows header is needed to use it.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "window.h"

namespace nubo::platform {

class Win32Window final : public Window {
 public:
  Win32Window();
  // REQUIRES: no worker thread calls runOnUiThread any more.
  ~Win32Window() override;
  Win32Window(const Win32Window&) = delete;
  Win32Window& operator=(const Win32Window&) = delete;

  // Registers the class NUBOCONV (once per process) and creates the window
  // at the size its layout needs (kDefaultClientColumns by
  // kDefaultClientLines, cut to the screen); onCreate and then onSize with
  // the first client size are delivered before it returns. The window is
  // shown by run().
  bool create(const std::string& title, WindowEvents& events) override;
  // Shows the window and runs the message loop until quit() or until the
  // window is destroyed. Afterwards runOnUiThread returns at once without
  // running its work.
  int run() override;
  void quit(int code) override;
  // Delivers onDestroy (the window and its controls are still there) and
  // destroys the window. From its start the UI thread serves no more work
  // for a worker, so that onDestroy may join a worker still sending.
  void destroy() override;

  TextMetrics textMetrics() override;

  void createControl(int id, ControlClass cls, const std::string& caption, uint32_t style,
                     const Rect& rect) override;
  bool hasControl(int id) const override;
  void setText(int id, const std::string& text) override;
  std::string getText(int id) override;
  void setTextLimit(int id, int characters) override;
  // LB_RESETCONTENT, LB_ADDSTRING; the horizontal extent follows the widest
  // line, so that a list box with WS_HSCROLL scrolls to the end of any line.
  // Lines are added with the drawing held back (thousands at the end of a
  // stopped run); the list box's height is cut to whole lines, also when its
  // horizontal scroll bar comes or goes.
  void clearList(int id) override;
  void addListLines(int id, const std::vector<std::string>& lines) override;
  std::vector<std::string> listLines(int id) override;
  bool getCheck(int id) override;
  void setCheck(int id, bool checked) override;
  void showPressed(int id, bool pressed) override;
  void enable(int id, bool enabled) override;
  // An edit becomes read-only with grey text; any other control is
  // disabled (drawn grey by the system) and a click on it, which then
  // reaches the main window, is delivered as its command.
  void showInactive(int id, bool inactive) override;
  void focusMainWindow() override;
  void focusControl(int id) override;

  void scrollContent(int dx, int dy) override;
  void setScrollRange(ScrollBar bar, int minimum, int maximum) override;
  void setScrollPosition(ScrollBar bar, int position) override;

  // MessageBoxW; the Yes/No box gets its button captions through a CBT hook.
  bool askYesNo(const std::string& text, const std::string& caption, const std::string& yes,
                const std::string& no) override;
  void showError(const std::string& caption, const std::string& text) override;
  // GetOpenFileNameW / GetSaveFileNameW.
  std::optional<std::string> openFileDialog(const std::string& initialPath) override;
  std::optional<std::string> saveFileDialog(const std::string& initialPath) override;

  void runOnUiThread(const std::function<void()>& work) override;

  // The window's handle (an HWND), for tests; nullptr before create().
  void* handle() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace nubo::platform
