// SPDX-License-Identifier: BSD-3-Clause
// The FLTK widgets behind the backend's controls and scroll bars. Internal to
// platform/fltk; fltk_window.cpp creates and drives them.
#pragma once

#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Hold_Browser.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Scrollbar.H>

#include <functional>
#include <string>

#include "window.h"
#include "window_text.h"

namespace nubo::platform::detail {

// FLTK reads a label that begins with '@' as a symbol name; a control's text
// is shown as it stands, so every '@' is doubled (FLTK draws "@@" as '@').
std::string labelFromText(const std::string& text);

// Horizontal placement of a label or an edit text from the low two style bits
// (left, centre, right; the fourth value draws like left).
Fl_Align horizontalAlign(uint32_t style);

// A push button. The default button also takes Enter as its shortcut and is
// drawn with a darker frame. hold() keeps the button drawn pressed (the
// running state shows Start that way) until it is released by hold(false).
class PushButton : public Fl_Button {
 public:
  PushButton(int x, int y, int w, int h, bool isDefault);
  ~PushButton() override;
  void hold(bool pressed);
  int handle(int event) override;

 protected:
  void draw() override;

 private:
  // WATCHOUT: Fl_Button's own key handling flashes the button and releases it
  // 0.15 s later, which would also undo a hold() made by the callback; keys
  // are handled here instead, and the flash ends in the held state.
  void pressByKey();
  static void endFlash(void* data);

  bool isDefault_;
  bool held_ = false;
};

// A static text. A framed one keeps its text a few pixels clear of the
// frame, as the status lines need to read as lines of text in a box. A text
// one line high shows a text too long for it shortened by fitText (a path
// loses the middle of its directories, not its file name) and the whole text
// as its tooltip (in lines no wider than the control); a higher one wraps.
class StaticText : public Fl_Box {
 public:
  StaticText(int x, int y, int w, int h, bool framed);
  // REQUIRES: the display is open (the text is measured).
  void setText(const std::string& text);
  // The text as shown (after shortening).
  const std::string& shownText() const { return shown_; }

 protected:
  void draw() override;

 private:
  int inset() const;
  bool framed_;
  std::string shown_;
};

// Holds the keyboard focus when the main window has it rather than a
// control: it takes no key, so typing edits nothing while Tab, Enter and the
// shortcuts still reach the window. Never drawn.
class FocusSink : public Fl_Box {
 public:
  FocusSink();
  int handle(int event) override;
};

// A frame with its caption set into the top edge. It draws under the controls
// it surrounds and takes no events.
class GroupBox : public Fl_Box {
 public:
  GroupBox(int x, int y, int w, int h);

 protected:
  void draw() override;
};

// A one-line edit field. Centred and right-aligned texts are drawn that way
// while the field does not have the focus (FLTK's input draws every text from
// the left, which is also how it is edited).
class EditField : public Fl_Input {
 public:
  EditField(int x, int y, int w, int h, Fl_Align align);
  int handle(int event) override;

 protected:
  void draw() override;

 private:
  Fl_Align align_;
};

// A list box: one line per item, both scroll bars always there (so that the
// room for lines never changes), its height cut to whole lines so that the
// last line in sight is never shown in half.
class ListBox : public Fl_Hold_Browser {
 public:
  ListBox(int x, int y, int w, int h);
  // REQUIRES: the font is set and the list is empty.
  void fitToWholeLines();
};

// The client area: the parent of every control. Tab and Shift+Tab go through
// `tabHandler` (which returns whether it moved the focus), the arrow keys
// that the focused control does not use through `arrowHandler` (which moves
// within a group of radio buttons) and no further.
class ContentArea : public Fl_Group {
 public:
  ContentArea(int x, int y, int w, int h);
  int handle(int event) override;

  std::function<bool(bool backwards)> tabHandler;
  std::function<bool(bool forward)> arrowHandler;
};

// A scroll bar that reports what the user asked for (a line, a page, the thumb
// dragged, the end of a gesture) instead of moving anything itself. The owner
// restores the position it wants after each report.
class RequestScrollbar : public Fl_Scrollbar {
 public:
  RequestScrollbar(int x, int y, int w, int h, ScrollBar bar);
  int handle(int event) override;

  // Called with the request and, for ThumbTrack, the position the thumb was
  // dragged to. The position may be anything within the range.
  std::function<void(ScrollRequest request, int thumbPosition)> onRequest;
  // Called for mouse-wheel notches (positive: down or right).
  std::function<void(int notches)> onWheel;

 private:
  enum Part { kNone = 0, kLineBack = 1, kLineForward = 2, kPageBack = 5, kPageForward = 6, kThumb = 8 };
  Part partAt(int eventX, int eventY) const;
  // The position whose thumb would be centred on the event's point.
  int positionAt(int eventX, int eventY) const;
  // The desktop scroll bar's context menu: scroll here, to either end, by a
  // page or by a line. Each choice is reported as its request and ended with
  // EndScroll, as a drag or a click would be.
  void showMenu();
  static void changed(Fl_Widget* widget, void* data);

  Part pressed_ = kNone;
};

}  // namespace nubo::platform::detail
