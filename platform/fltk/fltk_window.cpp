// SPDX-License-Identifier: BSD-3-Clause
#include "fltk_window.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Hold_Browser.H>
#include <FL/Fl_Native_File_Chooser.H>
#include <FL/Fl_Round_Button.H>
#include <FL/fl_ask.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <deque>
#include <future>
#include <map>
#include <set>
#include <mutex>
#include <thread>
#include <vector>

#include "fltk_controls.h"
#include "utf8_path.h"

namespace nubo::platform {

namespace {

// The font of every control and message, at FLTK's normal size.
constexpr Fl_Font kFont = FL_HELVETICA;
constexpr int kFontSize = 14;  // FL_NORMAL_SIZE, which is a variable
// Mouse-wheel notches scroll three lines each, the desktop default.
constexpr int kLinesPerNotch = 3;
// The file dialogs return at most this many characters (the 300-byte buffer).
constexpr std::size_t kMaxDialogPath = 299;

bool gThreadsEnabled = false;

// The backends alive at the moment; UI thread only. An awake callback that
// FLTK serves after its window has gone finds its pointer missing here.
std::set<const void*> gLiveWindows;

void enableThreads() {
  // Fl::lock() once on the UI thread before any worker starts creates FLTK's
  // wake-up pipe; without it Fl::awake() from a worker is never served.
  if (!gThreadsEnabled) {
    Fl::lock();
    gThreadsEnabled = true;
  }
}

enum class Kind { Static, Push, DefaultPush, Check, Radio, GroupBox, Edit, List };

Kind buttonKind(uint32_t styleBits, bool& automatic) {
  automatic = false;
  switch (styleBits & style::kButtonKindMask) {
    case style::kDefPushButton:
      return Kind::DefaultPush;
    case style::kAutoCheckBox:
    case 6:  // automatic three-state box: shown as an automatic check box
      automatic = true;
      return Kind::Check;
    case style::kCheckBox:
    case 5:  // three-state box
      return Kind::Check;
    case style::kAutoRadioButton:
      automatic = true;
      return Kind::Radio;
    case style::kRadioButton:
      return Kind::Radio;
    case style::kGroupBox:
      return Kind::GroupBox;
    default:
      return Kind::Push;
  }
}

// Cuts `text` to at most `limit` characters without splitting a UTF-8 sequence.
std::string cutToLimit(const std::string& text, int limit) {
  if (limit < 0 || utf8Characters(text) <= static_cast<std::size_t>(limit)) return text;
  // The field's limit is in characters, as FLTK counts them for typing: the
  // cut comes before the character that would pass it, never inside one.
  std::size_t end = 0;
  for (int kept = 0; end < text.size(); ++end) {
    if ((static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) continue;
    if (kept++ == limit) break;
  }
  return text.substr(0, end);
}

class MainWindow : public Fl_Double_Window {
 public:
  MainWindow(int w, int h) : Fl_Double_Window(w, h) {}

  void resize(int x, int y, int w, int h) override {
    Fl_Double_Window::resize(x, y, w, h);
    if (onResize) onResize(w, h);
  }

  int handle(int event) override {
    const int used = Fl_Double_Window::handle(event);
    if (event == FL_MOUSEWHEEL && !used && onWheel) {
      onWheel(Fl::event_dx(), Fl::event_dy());
      return 1;
    }
    return used;
  }

  std::function<void(int, int)> onResize;
  std::function<void(int dx, int dy)> onWheel;
};

}  // namespace

bool openDisplay() {
  if (fl_display == nullptr) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return false;
    fl_open_display(display);
  }
  enableThreads();
  return true;
}

TextMetrics fltkTextMetrics() {
  fl_font(kFont, kFontSize);
  TextMetrics metrics;
  metrics.averageCharWidth = static_cast<int>(std::lround(fl_width("x")));
  metrics.height = fl_height();
  metrics.fixedPitch = fl_width("iiii") == fl_width("WWWW");
  return metrics;
}

struct FltkWindow::Impl {
  struct Control {
    int id = 0;
    Kind kind = Kind::Static;
    bool automatic = false;
    uint32_t style = 0;
    Fl_Widget* widget = nullptr;
    std::string text;  // the text as set, before label escaping
    std::vector<std::string> items;  // a list box's lines
    bool checked = false;
    bool inactive = false;
    // The colours an inactive control is drawn without.
    Fl_Color labelColor = FL_FOREGROUND_COLOR;
    Fl_Color markColor = FL_FOREGROUND_COLOR;
    Fl_Color textColor = FL_FOREGROUND_COLOR;
    Impl* owner = nullptr;
  };

  struct UiTask {
    std::function<void()> work;
    std::promise<void> done;
  };

  WindowEvents* events = nullptr;
  MainWindow* window = nullptr;
  detail::ContentArea* content = nullptr;
  detail::RequestScrollbar* bars[2] = {nullptr, nullptr};
  Fl_Box* corner = nullptr;
  detail::FocusSink* focusSink = nullptr;
  int positions[2] = {0, 0};
  int minimums[2] = {0, 0};
  int maximums[2] = {0, 0};
  int clientWidth = -1;
  int clientHeight = -1;
  TextMetrics metrics;
  bool haveMetrics = false;

  std::map<int, std::unique_ptr<Control>> controls;
  std::vector<int> creationOrder;

  // Set on the UI thread; atomic so that a quit() from elsewhere is seen too.
  std::atomic<bool> quitRequested{false};
  std::atomic<int> quitCode{0};
  std::atomic<bool> destroyed{false};
  std::thread::id uiThread;

  std::mutex queueMutex;
  std::deque<std::shared_ptr<UiTask>> queue;  // guarded by queueMutex
  bool queueClosed = false;                   // guarded by queueMutex

  ~Impl() {
    gLiveWindows.erase(this);
    Fl::remove_check(drainCheck, this);
    closeQueue();
    delete window;  // deletes every child widget
  }

  static int index(ScrollBar bar) { return bar == ScrollBar::Horizontal ? 0 : 1; }

  Control* find(int id) const {
    const auto it = controls.find(id);
    return it == controls.end() ? nullptr : it->second.get();
  }

  const TextMetrics& currentMetrics() {
    if (!haveMetrics) {
      if (!openDisplay()) return metrics;  // the defaults; nothing can be shown anyway
      metrics = fltkTextMetrics();
      haveMetrics = true;
    }
    return metrics;
  }

  // --- layout -------------------------------------------------------------

  // Places the client area and the scroll bars in a window of w x h pixels
  // and reports a changed client size.
  void layout(int w, int h) {
    const int bar = Fl::scrollbar_size();
    const int cw = std::max(0, w - bar);
    const int ch = std::max(0, h - bar);
    content->resize(0, 0, cw, ch);
    bars[1]->resize(cw, 0, bar, ch);
    bars[0]->resize(0, ch, cw, bar);
    corner->resize(cw, ch, bar, bar);
    updateThumbSizes(cw, ch);
    if (cw != clientWidth || ch != clientHeight) {
      clientWidth = cw;
      clientHeight = ch;
      if (events != nullptr && !destroyed) events->onSize(cw, ch);
    }
  }

  // The thumb shows how much of the range one client area holds.
  void updateThumbSizes(int cw, int ch) {
    const TextMetrics& m = currentMetrics();
    for (int i = 0; i < 2; ++i) {
      const int unit = i == 0 ? std::max(1, m.averageCharWidth) : std::max(1, m.height);
      const int page = std::max(1, (i == 0 ? cw : ch) / unit);
      const int span = maximums[i] - minimums[i];
      if (span <= 0) {
        bars[i]->slider_size(1.0);
        bars[i]->deactivate();
      } else {
        bars[i]->slider_size(std::max(0.08, double(page) / double(page + span)));
        bars[i]->activate();
      }
    }
  }

  // --- events -------------------------------------------------------------

  static void controlCallback(Fl_Widget*, void* data) {
    auto* control = static_cast<Control*>(data);
    control->owner->controlActivated(*control);
  }

  void controlActivated(Control& control) {
    switch (control.kind) {
      case Kind::Check: {
        auto* box = static_cast<Fl_Button*>(control.widget);
        if (control.automatic) {
          control.checked = box->value() != 0;
        } else {
          box->value(control.checked ? 1 : 0);  // a plain check box changes only when told
        }
        break;
      }
      case Kind::Radio: {
        auto* button = static_cast<Fl_Button*>(control.widget);
        if (control.automatic) {
          checkAutoRadio(control);
        } else {
          button->value(control.checked ? 1 : 0);
        }
        break;
      }
      default:
        break;
    }
    if (events != nullptr && !destroyed) events->onCommand(control.id);
  }

  // The controls of `control`'s group, in creation order: from the nearest
  // one at or before it that carries the group style up to the next one that
  // does (the grouping of the desktop platform the layouts come from).
  std::vector<Control*> groupOf(const Control& control) const {
    std::vector<Control*> members;
    const auto self = std::find(creationOrder.begin(), creationOrder.end(), control.id);
    if (self == creationOrder.end()) return members;
    auto first = self;
    while (first != creationOrder.begin() && (find(*first)->style & style::kGroup) == 0) --first;
    auto last = self + 1;
    while (last != creationOrder.end() && (find(*last)->style & style::kGroup) == 0) ++last;
    for (auto it = first; it != last; ++it) members.push_back(find(*it));
    return members;
  }

  // An automatic radio button checks itself and unchecks the other automatic
  // radio buttons of its group.
  void checkAutoRadio(Control& control) {
    for (Control* other : groupOf(control)) {
      if (other->kind != Kind::Radio || !other->automatic) continue;
      other->checked = other == &control;
      static_cast<Fl_Button*>(other->widget)->value(other->checked ? 1 : 0);
    }
  }

  static bool canFocus(const Control& c) {
    return c.widget->visible_r() && c.widget->active_r() && c.kind != Kind::GroupBox && c.kind != Kind::Static;
  }

  Control* focusedControl() const {
    for (const auto& [id, c] : controls) {
      if (c->widget == Fl::focus()) return c.get();
    }
    return nullptr;
  }

  // The Tab stops in the order they are seen: row by row from the top, each
  // row from the left (a control joins a row when its middle lies within the
  // height of the row's first control). The radio buttons of one group are
  // one stop: the checked one, else the first.
  std::vector<Control*> tabStops() const {
    std::vector<std::pair<int, Rect>> candidates;
    for (const int id : creationOrder) {
      Control* c = find(id);
      if ((c->style & style::kTabStop) != 0 && canFocus(*c)) {
        candidates.push_back({id, Rect{c->widget->x(), c->widget->y(), c->widget->w(), c->widget->h()}});
      }
    }
    std::vector<Control*> ordered;
    for (const int id : readingOrder(candidates)) ordered.push_back(find(id));
    std::vector<Control*> stops;
    std::map<int, std::size_t> groupStop;  // first member's ID -> index in stops
    for (Control* c : ordered) {
      if (c->kind == Kind::Radio) {
        const int group = groupOf(*c).front()->id;
        const auto known = groupStop.find(group);
        if (known != groupStop.end()) {
          if (c->checked && !stops[known->second]->checked) stops[known->second] = c;
          continue;
        }
        groupStop[group] = stops.size();
      }
      stops.push_back(c);
    }
    return stops;
  }

  // Tab moves the focus to the next (Shift+Tab: previous) stop, wrapping
  // around; from no control (the main window) to the first (last) stop.
  bool tabTo(bool backwards) {
    const std::vector<Control*> stops = tabStops();
    if (stops.empty()) return false;
    int current = -1;
    if (const Control* focused = focusedControl()) {
      const std::vector<Control*> group = focused->kind == Kind::Radio ? groupOf(*focused) : std::vector<Control*>{};
      for (std::size_t i = 0; i < stops.size(); ++i) {
        const bool sameGroup = std::find(group.begin(), group.end(), stops[i]) != group.end();
        if (stops[i] == focused || sameGroup) current = static_cast<int>(i);
      }
    }
    const int n = static_cast<int>(stops.size());
    int next = current < 0 ? (backwards ? n - 1 : 0) : (current + (backwards ? n - 1 : 1)) % n;
    for (int tries = 0; tries < n; ++tries) {
      if (stops[next]->widget->take_focus()) return true;
      next = (next + (backwards ? n - 1 : 1)) % n;
    }
    return false;
  }

  // The arrow keys on a radio button move to the next (previous) radio
  // button of its group, wrapping around; an automatic one is checked as by
  // a click, as on the desktop platform.
  bool arrow(bool forward) {
    Control* focused = focusedControl();
    if (focused == nullptr || focused->kind != Kind::Radio) return false;
    std::vector<Control*> radios;
    for (Control* c : groupOf(*focused)) {
      if (c->kind == Kind::Radio && (c == focused || canFocus(*c))) radios.push_back(c);
    }
    const auto self = std::find(radios.begin(), radios.end(), focused);
    const std::size_t n = radios.size();
    if (n < 2 || self == radios.end()) return true;
    const std::size_t at = static_cast<std::size_t>(self - radios.begin());
    Control* next = radios[(at + (forward ? 1 : n - 1)) % n];
    if (!next->widget->take_focus()) return true;
    if (next->automatic) controlActivated(*next);
    return true;
  }

  void deliverScroll(ScrollBar bar, ScrollRequest request, int thumb) {
    // The bar moved its thumb on its own; put it back where the logic had it.
    // The logic sets the new position while it handles the request.
    bars[index(bar)]->value(positions[index(bar)]);
    if (events != nullptr && !destroyed) events->onScroll(bar, request, thumb);
  }

  void deliverWheel(ScrollBar bar, int notches) {
    const ScrollRequest request = notches < 0 ? ScrollRequest::LineUp : ScrollRequest::LineDown;
    const int steps = std::abs(notches) * kLinesPerNotch;
    for (int i = 0; i < steps; ++i) deliverScroll(bar, request, positions[index(bar)]);
    deliverScroll(bar, ScrollRequest::EndScroll, positions[index(bar)]);
  }

  // --- the UI-thread queue --------------------------------------------------

  static void drainCheck(void* data) { static_cast<Impl*>(data)->drain(); }
  static void drainAwake(void* data) {
    if (gLiveWindows.count(data) != 0) static_cast<Impl*>(data)->drain();
  }

  // Runs every queued task; on the UI thread, with FLTK's lock held.
  void drain() {
    for (;;) {
      std::shared_ptr<UiTask> task;
      {
        std::lock_guard<std::mutex> lock(queueMutex);
        if (queue.empty()) return;
        task = queue.front();
        queue.pop_front();
      }
      task->work();
      task->done.set_value();
    }
  }

  // After the loop has ended nothing serves the queue: waiting workers are
  // released with their work undone, and later calls return at once.
  void closeQueue() {
    std::deque<std::shared_ptr<UiTask>> abandoned;
    {
      std::lock_guard<std::mutex> lock(queueMutex);
      queueClosed = true;
      abandoned.swap(queue);
    }
    for (auto& task : abandoned) task->done.set_value();
  }

  // --- dialogs --------------------------------------------------------------

  std::optional<std::string> fileDialog(bool save, const std::string& initialPath) {
    // FLTK's own chooser rather than a GTK one that libfltk may load at run
    // time: it behaves the same on every machine and under a virtual display.
    Fl::option(Fl::OPTION_FNFC_USES_GTK, false);
    Fl_Native_File_Chooser chooser;
    chooser.type(save ? Fl_Native_File_Chooser::BROWSE_SAVE_FILE : Fl_Native_File_Chooser::BROWSE_FILE);
    chooser.title(save ? "Save As" : "Open");
    std::string directory;
    std::string name = initialPath;
    const std::size_t slash = initialPath.rfind('/');
    if (slash != std::string::npos) {
      directory = slash == 0 ? "/" : initialPath.substr(0, slash);
      name = initialPath.substr(slash + 1);
    }
    if (!directory.empty()) chooser.directory(directory.c_str());
    if (name.find_first_of("*?") != std::string::npos) {
      // A pattern in the name filters the list. "*.*" matches every name on
      // the desktop platform, also names without a dot; FLTK's "*" does that.
      chooser.filter(name == "*.*" ? "*" : name.c_str());
    } else {
      chooser.filter("*");
      if (!name.empty()) chooser.preset_file(name.c_str());
    }
    if (chooser.show() != 0) return std::nullopt;  // cancelled or failed
    const char* chosen = chooser.filename();
    if (chosen == nullptr || *chosen == '\0') return std::nullopt;
    std::string path = chosen;
    if (utf8Characters(path) > kMaxDialogPath) return std::nullopt;  // would not fit the path buffer
    return path;
  }
};

FltkWindow::FltkWindow() : impl_(std::make_unique<Impl>()) {}

FltkWindow::~FltkWindow() = default;

bool FltkWindow::create(const std::string& title, WindowEvents& events) {
  if (impl_->window != nullptr) return false;
  if (!openDisplay()) return false;
  Impl& im = *impl_;
  im.uiThread = std::this_thread::get_id();
  im.events = &events;
  Fl::scheme("gtk+");
  const TextMetrics& m = im.currentMetrics();
  const int bar = Fl::scrollbar_size();
  // The desktop layout widens the average character by half for
  // proportional fonts; the default size uses the same column width.
  const int column = m.fixedPitch ? m.averageCharWidth : m.averageCharWidth * 3 / 2;
  int width = kDefaultClientColumns * column + bar;
  int height = kDefaultClientLines * m.height + bar;
  // On a small screen the window is cut to the screen, less room for a frame.
  width = std::max(8 * bar, std::min(width, Fl::w() - 2 * bar));
  height = std::max(6 * bar, std::min(height, Fl::h() - 4 * bar));

  Fl_Group::current(nullptr);
  im.window = new MainWindow(width, height);
  im.window->copy_label(title.c_str());
  im.window->xclass("NUBOCONV");
  im.content = new detail::ContentArea(0, 0, width - bar, height - bar);
  im.content->box(FL_FLAT_BOX);
  im.content->clip_children(1);
  im.content->resizable(nullptr);
  im.content->end();
  im.content->tabHandler = [&im](bool backwards) { return im.tabTo(backwards); };
  im.content->arrowHandler = [&im](bool forward) { return im.arrow(forward); };
  im.focusSink = new detail::FocusSink();
  im.content->add(im.focusSink);
  for (const ScrollBar which : {ScrollBar::Horizontal, ScrollBar::Vertical}) {
    auto* sb = new detail::RequestScrollbar(0, 0, bar, bar, which);
    sb->bounds(0, 0);
    sb->onRequest = [&im, which](ScrollRequest request, int thumb) { im.deliverScroll(which, request, thumb); };
    sb->onWheel = [&im, which](int notches) { im.deliverWheel(which, notches); };
    im.bars[Impl::index(which)] = sb;
  }
  im.corner = new Fl_Box(FL_FLAT_BOX, 0, 0, bar, bar, nullptr);
  im.window->end();
  im.window->resizable(nullptr);
  im.window->size_range(8 * bar, 6 * bar);  // resizable although no child stretches
  im.window->callback(
      [](Fl_Widget*, void* data) {
        // Escape does not close the converter's window; the close box does,
        // when the window logic agrees.
        if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape) return;
        auto* self = static_cast<FltkWindow*>(data);
        Impl& impl = *self->impl_;
        if (impl.destroyed) return;
        if (impl.events == nullptr || impl.events->onClose()) self->destroy();
      },
      this);
  im.window->onWheel = [&im](int dx, int dy) {
    if (dy != 0) im.deliverWheel(ScrollBar::Vertical, dy);
    if (dx != 0) im.deliverWheel(ScrollBar::Horizontal, dx);
  };
  Fl::add_check(Impl::drainCheck, impl_.get());
  gLiveWindows.insert(impl_.get());

  events.onCreate();
  im.layout(width, height);  // delivers onSize with the first client size
  im.window->onResize = [&im](int w, int h) { im.layout(w, h); };
  return true;
}

int FltkWindow::run() {
  Impl& im = *impl_;
  if (im.window != nullptr && !im.quitRequested && !im.destroyed) {
    im.window->show();
    while (!im.quitRequested && !im.destroyed) Fl::wait(1e20);
  }
  im.closeQueue();
  if (im.window != nullptr) im.window->hide();
  Fl::flush();
  return im.quitRequested ? im.quitCode.load() : 0;
}

void FltkWindow::quit(int code) {
  impl_->quitCode = code;
  impl_->quitRequested = true;
  Fl::awake();  // ends a wait in progress
}

void FltkWindow::destroy() {
  Impl& im = *impl_;
  if (im.destroyed) return;
  // WATCHOUT: closed before onDestroy, which may join a worker that is
  // waiting in runOnUiThread; nothing would serve that wait any more.
  im.closeQueue();
  if (im.events != nullptr) im.events->onDestroy();
  im.destroyed = true;
  // Hidden, not deleted: destroy() may be called from a control's callback,
  // and the controls stay readable until the FltkWindow goes.
  if (im.window != nullptr) im.window->hide();
  Fl::awake();
}

TextMetrics FltkWindow::textMetrics() { return impl_->currentMetrics(); }

void FltkWindow::createControl(int id, ControlClass cls, const std::string& caption, uint32_t styleBits,
                               const Rect& rect) {
  Impl& im = *impl_;
  if (im.window == nullptr) return;
  if (Impl::Control* old = im.find(id)) {
    im.content->remove(old->widget);
    Fl::delete_widget(old->widget);
    im.controls.erase(id);
    im.creationOrder.erase(std::find(im.creationOrder.begin(), im.creationOrder.end(), id));
  }
  auto control = std::make_unique<Impl::Control>();
  control->id = id;
  control->style = styleBits;
  control->owner = &im;
  control->text = caption;
  const bool border = (styleBits & style::kBorder) != 0;
  const int x = rect.x;
  const int y = rect.y;
  const int w = std::max(0, rect.width);
  const int h = std::max(0, rect.height);
  Fl_Widget* widget = nullptr;
  Fl_Group::current(nullptr);

  switch (cls) {
    case ControlClass::Static: {
      control->kind = Kind::Static;
      auto* box = new detail::StaticText(x, y, w, h, border);
      box->align(detail::horizontalAlign(styleBits) | FL_ALIGN_INSIDE | FL_ALIGN_CLIP | FL_ALIGN_WRAP);
      widget = box;
      break;
    }
    case ControlClass::Button: {
      control->kind = buttonKind(styleBits, control->automatic);
      switch (control->kind) {
        case Kind::Check: {
          auto* box = new Fl_Check_Button(x, y, w, h);
          box->type(FL_TOGGLE_BUTTON);
          box->box(FL_FLAT_BOX);
          widget = box;
          break;
        }
        case Kind::Radio: {
          // Not FLTK's radio type: FLTK would group every radio button of
          // the parent, while the desktop groups them by the group style.
          auto* button = new Fl_Round_Button(x, y, w, h);
          button->type(FL_TOGGLE_BUTTON);
          button->box(FL_FLAT_BOX);
          widget = button;
          break;
        }
        case Kind::GroupBox:
          widget = new detail::GroupBox(x, y, w, h);
          break;
        default:  // push and default push buttons
          widget = new detail::PushButton(x, y, w, h, control->kind == Kind::DefaultPush);
          break;
      }
      break;
    }
    case ControlClass::Edit: {
      control->kind = Kind::Edit;
      auto* field = new detail::EditField(x, y, w, h, detail::horizontalAlign(styleBits));
      field->box(border ? FL_DOWN_BOX : FL_FLAT_BOX);
      field->color(FL_BACKGROUND2_COLOR);
      field->when(FL_WHEN_NEVER);
      field->value(caption.c_str());
      widget = field;
      break;
    }
    case ControlClass::ListBox: {
      control->kind = Kind::List;
      auto* list = new detail::ListBox(x, y, w, h);
      list->box(border ? FL_DOWN_BOX : FL_FLAT_BOX);
      list->when(FL_WHEN_CHANGED);
      // Lines are shown as they are: no '@' formatting (a name may begin
      // with one). Without column widths a tab makes no columns.
      list->format_char(0);
      list->textfont(kFont);
      list->textsize(kFontSize);
      list->fitToWholeLines();
      widget = list;
      break;
    }
  }

  widget->labelfont(kFont);
  widget->labelsize(kFontSize);
  if (control->kind == Kind::Static) {
    static_cast<detail::StaticText*>(widget)->setText(caption);
  } else if (control->kind != Kind::Edit && control->kind != Kind::List) {
    widget->copy_label(detail::labelFromText(caption).c_str());
  }
  if (auto* input = dynamic_cast<Fl_Input*>(widget)) {
    input->textfont(kFont);
    input->textsize(kFontSize);
  }
  // A list box reports selection changes only with its notify style (bit 0).
  const bool notifies = control->kind != Kind::Static && control->kind != Kind::Edit &&
                        control->kind != Kind::GroupBox &&
                        (control->kind != Kind::List || (styleBits & 0x1) != 0);
  if (notifies) widget->callback(Impl::controlCallback, control.get());
  if (control->kind != Kind::Edit && control->kind != Kind::List && (styleBits & style::kTabStop) == 0) {
    widget->clear_visible_focus();  // reachable by the mouse, not by the keyboard
  }
  if ((styleBits & style::kVisible) == 0) widget->hide();
  if ((styleBits & style::kDisabled) != 0) widget->deactivate();

  // Group boxes go underneath, so that the controls inside them draw on top.
  if (control->kind == Kind::GroupBox) {
    im.content->insert(*widget, 0);
  } else {
    im.content->add(widget);
  }
  control->widget = widget;
  im.creationOrder.push_back(id);
  im.controls[id] = std::move(control);
  im.content->redraw();
}

bool FltkWindow::hasControl(int id) const { return impl_->find(id) != nullptr; }

void FltkWindow::setText(int id, const std::string& text) {
  Impl::Control* c = impl_->find(id);
  if (c == nullptr) return;
  switch (c->kind) {
    case Kind::Edit: {
      auto* field = static_cast<Fl_Input*>(c->widget);
      // WATCHOUT: Fl_Input::value() ignores maximum_size(); the limit is applied here.
      c->text = cutToLimit(text, field->maximum_size());
      field->value(c->text.c_str());
      break;
    }
    case Kind::List:
      c->text = text;  // a list box's own text is not shown
      break;
    case Kind::Static:
      c->text = text;
      static_cast<detail::StaticText*>(c->widget)->setText(text);
      break;
    default:
      c->text = text;
      c->widget->copy_label(detail::labelFromText(text).c_str());
      c->widget->redraw();
      break;
  }
}

std::string FltkWindow::getText(int id) {
  Impl::Control* c = impl_->find(id);
  if (c == nullptr) return {};
  if (c->kind == Kind::Edit) {
    const char* value = static_cast<Fl_Input*>(c->widget)->value();
    return value != nullptr ? value : "";
  }
  return c->text;
}

void FltkWindow::setTextLimit(int id, int characters) {
  Impl::Control* c = impl_->find(id);
  if (c == nullptr || c->kind != Kind::Edit) return;
  static_cast<Fl_Input*>(c->widget)->maximum_size(characters > 0 ? characters : 0x7FFFFFFE);
}

void FltkWindow::clearList(int id) {
  Impl::Control* c = impl_->find(id);
  if (c == nullptr || c->kind != Kind::List) return;
  c->items.clear();
  static_cast<Fl_Hold_Browser*>(c->widget)->clear();
}

void FltkWindow::addListLines(int id, const std::vector<std::string>& lines) {
  Impl::Control* c = impl_->find(id);
  if (c == nullptr || c->kind != Kind::List) return;
  auto* list = static_cast<Fl_Hold_Browser*>(c->widget);
  for (const std::string& line : lines) {
    c->items.push_back(line);
    list->add(line.c_str());
  }
}

std::vector<std::string> FltkWindow::listLines(int id) {
  Impl::Control* c = impl_->find(id);
  return c == nullptr ? std::vector<std::string>{} : c->items;
}

bool FltkWindow::getCheck(int id) {
  Impl::Control* c = impl_->find(id);
  return c != nullptr && (c->kind == Kind::Check || c->kind == Kind::Radio) && c->checked;
}

void FltkWindow::setCheck(int id, bool checked) {
  Impl::Control* c = impl_->find(id);
  if (c == nullptr || (c->kind != Kind::Check && c->kind != Kind::Radio)) return;
  c->checked = checked;
  static_cast<Fl_Button*>(c->widget)->value(checked ? 1 : 0);
}

void FltkWindow::showPressed(int id, bool pressed) {
  Impl::Control* c = impl_->find(id);
  if (c == nullptr || (c->kind != Kind::Push && c->kind != Kind::DefaultPush)) return;
  static_cast<detail::PushButton*>(c->widget)->hold(pressed);
}

void FltkWindow::enable(int id, bool enabled) {
  Impl::Control* c = impl_->find(id);
  if (c == nullptr) return;
  if (enabled) {
    c->widget->activate();
  } else {
    c->widget->deactivate();
  }
}

void FltkWindow::showInactive(int id, bool inactive) {
  Impl::Control* c = impl_->find(id);
  if (c == nullptr || c->inactive == inactive) return;
  Fl_Widget* w = c->widget;
  auto* field = c->kind == Kind::Edit ? static_cast<Fl_Input*>(w) : nullptr;
  if (inactive) {
    c->labelColor = w->labelcolor();
    c->markColor = w->selection_color();
    if (field != nullptr) c->textColor = field->textcolor();
  }
  c->inactive = inactive;
  if (field != nullptr) {
    field->readonly(inactive ? 1 : 0);
    field->textcolor(inactive ? fl_inactive(c->textColor) : c->textColor);
  } else {
    w->labelcolor(inactive ? fl_inactive(c->labelColor) : c->labelColor);
    // The check mark and the radio dot are drawn in the selection colour.
    if (c->kind == Kind::Check || c->kind == Kind::Radio) {
      w->selection_color(inactive ? fl_inactive(c->markColor) : c->markColor);
    }
  }
  w->redraw();
}

void FltkWindow::focusMainWindow() {
  // WATCHOUT: with Fl::focus() on the window itself, the next keys still
  // went on editing the field that had the focus; a widget that takes no
  // keys holds the focus instead.
  if (impl_->focusSink != nullptr) Fl::focus(impl_->focusSink);
}

void FltkWindow::focusControl(int id) {
  Impl::Control* c = impl_->find(id);
  if (c == nullptr || !c->widget->visible() || !c->widget->active() || !c->widget->visible_focus()) return;
  // Before the window is shown take_focus() refuses (nothing is visible
  // yet); the focus is set directly and kept when the window appears.
  if (!c->widget->take_focus()) Fl::focus(c->widget);
  c->widget->redraw();
}

void FltkWindow::scrollContent(int dx, int dy) {
  Impl& im = *impl_;
  if (im.content == nullptr || (dx == 0 && dy == 0)) return;
  for (int i = 0; i < im.content->children(); ++i) {
    Fl_Widget* child = im.content->child(i);
    child->position(child->x() + dx, child->y() + dy);
  }
  im.content->redraw();
}

void FltkWindow::setScrollRange(ScrollBar bar, int minimum, int maximum) {
  Impl& im = *impl_;
  const int i = Impl::index(bar);
  im.minimums[i] = minimum;
  im.maximums[i] = maximum;
  if (im.bars[i] == nullptr) return;
  im.bars[i]->bounds(minimum, std::max(minimum, maximum));
  im.bars[i]->value(std::clamp(im.positions[i], minimum, std::max(minimum, maximum)));
  im.updateThumbSizes(std::max(0, im.clientWidth), std::max(0, im.clientHeight));
  im.bars[i]->redraw();
}

void FltkWindow::setScrollPosition(ScrollBar bar, int position) {
  Impl& im = *impl_;
  const int i = Impl::index(bar);
  im.positions[i] = position;
  if (im.bars[i] != nullptr) im.bars[i]->value(position);
}

bool FltkWindow::askYesNo(const std::string& text, const std::string& caption, const std::string& yes,
                          const std::string& no) {
  fl_message_title(caption.c_str());
  fl_message_font(kFont, kFontSize);
  // fl_choice draws its first button rightmost and makes the second the
  // default: this shows [Yes] [No] with Yes taking Enter; Escape answers No.
  return fl_choice("%s", no.c_str(), yes.c_str(), nullptr, detail::labelFromText(text).c_str()) == 1;
}

void FltkWindow::showError(const std::string& caption, const std::string& text) {
  fl_message_title(caption.c_str());
  fl_message_font(kFont, kFontSize);
  fl_alert("%s", detail::labelFromText(text).c_str());
}

std::optional<std::string> FltkWindow::openFileDialog(const std::string& initialPath) {
  return impl_->fileDialog(false, initialPath);
}

std::optional<std::string> FltkWindow::saveFileDialog(const std::string& initialPath) {
  return impl_->fileDialog(true, initialPath);
}

void FltkWindow::runOnUiThread(const std::function<void()>& work) {
  Impl& im = *impl_;
  if (std::this_thread::get_id() == im.uiThread || im.window == nullptr) {
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
  // The awake callback drains the queue; should FLTK's ring of pending
  // callbacks be full, the plain wake-up still makes the loop run its check,
  // which drains it too.
  if (Fl::awake(Impl::drainAwake, impl_.get()) != 0) Fl::awake();
  done.wait();
}

}  // namespace nubo::platform
