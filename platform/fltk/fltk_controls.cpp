// SPDX-License-Identifier: BSD-3-Clause
#include "fltk_controls.h"

#include <FL/Fl.H>
#include <FL/Fl_Menu_Item.H>
#include <FL/fl_draw.H>

#include <algorithm>
#include <vector>

namespace nubo::platform::detail {

std::string labelFromText(const std::string& text) {
  std::string label;
  label.reserve(text.size());
  for (const char c : text) {
    label += c;
    if (c == '@') label += '@';
  }
  return label;
}

Fl_Align horizontalAlign(uint32_t style) {
  switch (style & style::kAlignMask) {
    case style::kAlignCenter:
      return FL_ALIGN_CENTER;
    case style::kAlignRight:
      return FL_ALIGN_RIGHT;
    default:
      return FL_ALIGN_LEFT;
  }
}

// ---------------------------------------------------------------------------

PushButton::PushButton(int x, int y, int w, int h, bool isDefault)
    : Fl_Button(x, y, w, h), isDefault_(isDefault) {
  // A pressed button must read as pressed also while it is held: sunken and darker.
  down_box(FL_DOWN_BOX);
  selection_color(fl_color_average(FL_BACKGROUND_COLOR, FL_BLACK, 0.85f));
}

PushButton::~PushButton() { Fl::remove_timeout(endFlash, this); }

void PushButton::hold(bool pressed) {
  held_ = pressed;
  value(pressed ? 1 : 0);
}

int PushButton::handle(int event) {
  const bool enter = Fl::event_key() == FL_Enter || Fl::event_key() == FL_KP_Enter;
  // Enter reaches the window as a shortcut when the focused control does not
  // use it (FLTK's single-line input does not), as in a dialog.
  if (event == FL_SHORTCUT && isDefault_ && enter) {
    pressByKey();
    return 1;
  }
  if (event == FL_SHORTCUT && (shortcut() != 0 ? Fl::test_shortcut(shortcut()) : test_shortcut())) {
    pressByKey();  // the underlined letter of an "&" caption, with Alt
    return 1;
  }
  if (event == FL_KEYBOARD && Fl::focus() == this && Fl::event_key() == ' ' &&
      (Fl::event_state() & (FL_SHIFT | FL_CTRL | FL_ALT | FL_META)) == 0) {
    pressByKey();
    return 1;
  }
  return Fl_Button::handle(event);
}

void PushButton::pressByKey() {
  value(1);
  redraw();
  Fl::remove_timeout(endFlash, this);
  Fl::add_timeout(0.15, endFlash, this);
  do_callback();
}

void PushButton::endFlash(void* data) {
  auto* self = static_cast<PushButton*>(data);
  self->value(self->held_ ? 1 : 0);
  self->redraw();
}

void PushButton::draw() {
  Fl_Button::draw();
  if (!isDefault_) return;
  fl_color(active_r() ? FL_FOREGROUND_COLOR : fl_inactive(FL_FOREGROUND_COLOR));
  fl_rect(x(), y(), w(), h());
}

// ---------------------------------------------------------------------------

StaticText::StaticText(int x, int y, int w, int h, bool framed) : Fl_Box(x, y, w, h), framed_(framed) {
  box(framed ? FL_THIN_DOWN_BOX : FL_FLAT_BOX);
}

int StaticText::inset() const { return framed_ ? Fl::box_dx(box()) + 3 : 0; }

void StaticText::setText(const std::string& text) {
  fl_font(labelfont(), labelsize());
  const bool oneLine = h() < 2 * fl_height();
  Fl_Align a = align() & ~FL_ALIGN_WRAP;
  if (!oneLine) a |= FL_ALIGN_WRAP;
  align(a);
  // A label is drawn with a little room at its sides.
  const int room = w() - 2 * inset() - 2;
  shown_ = oneLine ? fitText(text, room, [](const std::string& s) { return int(fl_width(s.c_str())); }) : text;
  copy_label(labelFromText(shown_).c_str());
  if (shown_ != text) {
    const int lineWidth = std::max(200, std::min(w(), Fl::w() - 40));
    copy_tooltip(labelFromText(wrapText(text, lineWidth, [](const std::string& s) {
                   return int(fl_width(s.c_str()));
                 })).c_str());
  } else {
    tooltip(nullptr);
  }
  redraw();
}

void StaticText::draw() {
  draw_box();
  const int in = inset();
  draw_label(x() + in, y(), w() - 2 * in, h());
}

// ---------------------------------------------------------------------------

FocusSink::FocusSink() : Fl_Box(0, 0, 0, 0) { box(FL_NO_BOX); }

int FocusSink::handle(int event) {
  switch (event) {
    case FL_FOCUS:
    case FL_UNFOCUS:
      return 1;
    default:
      return 0;
  }
}

// ---------------------------------------------------------------------------

GroupBox::GroupBox(int x, int y, int w, int h) : Fl_Box(x, y, w, h) {
  box(FL_NO_BOX);
}

void GroupBox::draw() {
  fl_font(labelfont(), labelsize());
  const int textHeight = fl_height();
  const int top = y() + textHeight / 2;
  draw_box(FL_ENGRAVED_FRAME, x(), top, w(), h() - (top - y()), color());
  const char* caption = label();
  if (caption == nullptr || *caption == '\0') return;
  int textWidth = 0;
  int measuredHeight = 0;
  fl_measure(caption, textWidth, measuredHeight, 1);
  const int left = x() + 8;
  const int room = w() - 16;
  if (room <= 0) return;
  if (textWidth > room) textWidth = room;
  // Blank the frame's top line behind the caption.
  fl_color(color());
  fl_rectf(left - 3, y(), textWidth + 6, textHeight);
  fl_color(active_r() ? labelcolor() : fl_inactive(labelcolor()));
  fl_push_clip(left, y(), textWidth, textHeight);
  fl_draw(caption, left, y(), textWidth, textHeight, FL_ALIGN_LEFT, nullptr, 1);
  fl_pop_clip();
}

// ---------------------------------------------------------------------------

EditField::EditField(int x, int y, int w, int h, Fl_Align align) : Fl_Input(x, y, w, h), align_(align) {}

int EditField::handle(int event) {
  const int used = Fl_Input::handle(event);
  if (event == FL_FOCUS || event == FL_UNFOCUS) redraw();
  return used;
}

void EditField::draw() {
  const char* text = value();
  if (align_ == FL_ALIGN_LEFT || Fl::focus() == this || text == nullptr || *text == '\0') {
    Fl_Input::draw();
    return;
  }
  const Fl_Boxtype frame = box();
  const int X = x() + Fl::box_dx(frame);
  const int Y = y() + Fl::box_dy(frame);
  const int W = w() - Fl::box_dw(frame);
  const int H = h() - Fl::box_dh(frame);
  fl_font(textfont(), textsize());
  const int margin = 3;
  if (fl_width(text) > W - 2 * margin) {  // too long to place: shown as edited
    Fl_Input::draw();
    return;
  }
  draw_box(frame, color());
  fl_push_clip(X, Y, W, H);
  fl_color(active_r() ? textcolor() : fl_inactive(textcolor()));
  fl_draw(text, X + margin, Y, W - 2 * margin, H, align_, nullptr, 0);
  fl_pop_clip();
}

// ---------------------------------------------------------------------------

ListBox::ListBox(int x, int y, int w, int h) : Fl_Hold_Browser(x, y, w, h) { has_scrollbar(BOTH_ALWAYS); }

void ListBox::fitToWholeLines() {
  add("Xg");
  const int line = item_height(item_first());
  clear();
  const int bar = scrollbar_size() != 0 ? scrollbar_size() : Fl::scrollbar_size();
  const Fl_Boxtype frame = box() != FL_NO_BOX ? box() : FL_DOWN_BOX;
  const int inside = h() - Fl::box_dh(frame) - bar;
  if (line > 0 && inside > line) size(w(), h() - inside % line);
}

// ---------------------------------------------------------------------------

ContentArea::ContentArea(int x, int y, int w, int h) : Fl_Group(x, y, w, h) {}

int ContentArea::handle(int event) {
  if (event == FL_KEYBOARD && (Fl::event_state() & (FL_CTRL | FL_ALT | FL_META)) == 0) {
    const int key = Fl::event_key();
    if (key == FL_Tab && tabHandler && tabHandler((Fl::event_state() & FL_SHIFT) != 0)) return 1;
    // The arrow keys that the focused control leaves move only within a
    // group of radio buttons; FLTK's own arrow navigation would jump between
    // controls against the Tab order.
    if (key == FL_Left || key == FL_Up || key == FL_Right || key == FL_Down) {
      if (arrowHandler) arrowHandler(key == FL_Right || key == FL_Down);
      return 1;
    }
  }
  return Fl_Group::handle(event);
}

// ---------------------------------------------------------------------------

RequestScrollbar::RequestScrollbar(int x, int y, int w, int h, ScrollBar bar)
    : Fl_Scrollbar(x, y, w, h) {
  type(bar == ScrollBar::Horizontal ? FL_HORIZONTAL : FL_VERTICAL);
  linesize(1);
  when(FL_WHEN_CHANGED);
  callback(changed, this);
  clear_visible_focus();
}

// Which part of the bar an event at (eventX, eventY) falls on. This follows
// the geometry Fl_Scrollbar itself uses to decide between arrow, trough and
// thumb, so that the reported request matches what the bar draws as pressed.
RequestScrollbar::Part RequestScrollbar::partAt(int eventX, int eventY) const {
  int start = horizontal() ? x() : y();
  int length = horizontal() ? w() : h();
  const int thickness = horizontal() ? h() : w();
  if (length >= 3 * thickness) {
    start += thickness;
    length -= 2 * thickness;
  }
  const int offset = (horizontal() ? eventX : eventY) - start;
  if (offset < 0) return kLineBack;
  if (offset >= length) return kLineForward;
  if (Fl::event_button() == FL_MIDDLE_MOUSE) return kThumb;
  int thumb = int(slider_size() * length + .5);
  if (thumb < thickness / 2 + 1) thumb = thickness / 2 + 1;
  const double span = maximum() - minimum();
  const double fraction = span != 0 ? (value() - minimum()) / span : 0.5;
  int thumbStart;
  if (fraction >= 1.0) {
    thumbStart = length - thumb;
  } else if (fraction <= 0.0) {
    thumbStart = 0;
  } else {
    thumbStart = int(fraction * (length - thumb) + .5);
  }
  if (offset < thumbStart) return kPageBack;
  if (offset >= thumbStart + thumb) return kPageForward;
  return kThumb;
}

int RequestScrollbar::positionAt(int eventX, int eventY) const {
  int start = horizontal() ? x() : y();
  int length = horizontal() ? w() : h();
  const int thickness = horizontal() ? h() : w();
  if (length >= 3 * thickness) {
    start += thickness;
    length -= 2 * thickness;
  }
  int thumb = int(slider_size() * length + .5);
  if (thumb < thickness / 2 + 1) thumb = thickness / 2 + 1;
  const int travel = length - thumb;
  const double lo = std::min(minimum(), maximum());
  const double hi = std::max(minimum(), maximum());
  if (travel <= 0) return int(lo);
  const double fraction = double((horizontal() ? eventX : eventY) - start - thumb / 2) / travel;
  return int(std::clamp(lo + fraction * (hi - lo) + .5, lo, hi));
}

void RequestScrollbar::showMenu() {
  const bool across = horizontal();
  const int here = positionAt(Fl::event_x(), Fl::event_y());
  // Menu texts of the desktop scroll bar; they are the system's, not the
  // definition file's.
  const auto item = [](const char* text, int flags = 0) {
    return Fl_Menu_Item{text, 0, nullptr, nullptr, flags, FL_NORMAL_LABEL, FL_HELVETICA, 14, FL_FOREGROUND_COLOR};
  };
  const Fl_Menu_Item items[] = {item("Scroll Here", FL_MENU_DIVIDER),
                                item(across ? "Left Edge" : "Top"),
                                item(across ? "Right Edge" : "Bottom", FL_MENU_DIVIDER),
                                item(across ? "Page Left" : "Page Up"),
                                item(across ? "Page Right" : "Page Down", FL_MENU_DIVIDER),
                                item(across ? "Scroll Left" : "Scroll Up"),
                                item(across ? "Scroll Right" : "Scroll Down"),
                                item(nullptr)};
  constexpr ScrollRequest kRequests[] = {ScrollRequest::ThumbTrack, ScrollRequest::Top,    ScrollRequest::Bottom,
                                         ScrollRequest::PageUp,     ScrollRequest::PageDown, ScrollRequest::LineUp,
                                         ScrollRequest::LineDown};
  const Fl_Menu_Item* picked = items->popup(Fl::event_x(), Fl::event_y());
  if (picked == nullptr || !onRequest) return;
  const auto choice = static_cast<std::size_t>(picked - items);
  if (choice >= std::size(kRequests)) return;
  onRequest(kRequests[choice], kRequests[choice] == ScrollRequest::ThumbTrack ? here : int(value()));
  onRequest(ScrollRequest::EndScroll, int(value()));
}

int RequestScrollbar::handle(int event) {
  switch (event) {
    case FL_PUSH:
      if (Fl::event_button() == FL_RIGHT_MOUSE) {
        pressed_ = kNone;
        showMenu();
        return 1;
      }
      pressed_ = partAt(Fl::event_x(), Fl::event_y());
      break;
    case FL_RELEASE: {
      const int used = Fl_Scrollbar::handle(event);
      if (pressed_ != kNone) {
        pressed_ = kNone;
        if (onRequest) onRequest(ScrollRequest::EndScroll, value());
      }
      return used;
    }
    case FL_MOUSEWHEEL: {
      int notches = horizontal() ? Fl::event_dx() : Fl::event_dy();
      if (horizontal() && notches == 0) notches = Fl::event_dy();
      if (notches == 0) return 0;
      if (onWheel) onWheel(notches);
      return 1;
    }
    case FL_KEYBOARD:
    case FL_SHORTCUT:
      // The window's scroll bars take no keys: the arrow keys belong to the
      // focused control, as on the desktop platform the layout comes from.
      return 0;
    default:
      break;
  }
  return Fl_Scrollbar::handle(event);
}

void RequestScrollbar::changed(Fl_Widget*, void* data) {
  auto* self = static_cast<RequestScrollbar*>(data);
  ScrollRequest request = ScrollRequest::ThumbTrack;
  switch (self->pressed_) {
    case kLineBack:
      request = ScrollRequest::LineUp;
      break;
    case kLineForward:
      request = ScrollRequest::LineDown;
      break;
    case kPageBack:
      request = ScrollRequest::PageUp;
      break;
    case kPageForward:
      request = ScrollRequest::PageDown;
      break;
    case kThumb:
    case kNone:
      request = ScrollRequest::ThumbTrack;
      break;
  }
  if (self->onRequest) self->onRequest(request, self->value());
}

}  // namespace nubo::platform::detail
