// SPDX-License-Identifier: BSD-3-Clause
#include "headless_window.h"

#include <algorithm>

namespace nubo::platform {

namespace {

std::string describe(const Rect& r) {
  return std::to_string(r.x) + "," + std::to_string(r.y) + "," + std::to_string(r.width) + "," +
         std::to_string(r.height);
}

uint32_t buttonKind(const HeadlessControl& c) { return c.style & style::kButtonKindMask; }

}  // namespace

HeadlessWindow::HeadlessWindow(TextMetrics metrics, int clientWidth, int clientHeight)
    : metrics_(metrics), clientWidth_(clientWidth), clientHeight_(clientHeight) {}

HeadlessWindow::~HeadlessWindow() { closeQueue(); }

bool HeadlessWindow::create(const std::string& title, WindowEvents& events) {
  record("create " + title);
  title_ = title;
  events_ = &events;
  uiThread_ = std::this_thread::get_id();
  events.onCreate();
  events.onSize(clientWidth_, clientHeight_);
  return true;
}

int HeadlessWindow::run() {
  record("run");
  for (;;) {
    std::shared_ptr<Task> task;
    {
      std::unique_lock<std::mutex> lock(queueMutex_);
      queueChanged_.wait(lock, [&] { return quitRequested_ || destroyed_ || !queue_.empty(); });
      if (queue_.empty()) break;
      task = queue_.front();
      queue_.pop_front();
    }
    task->work();
    {
      std::lock_guard<std::mutex> lock(queueMutex_);
      task->done = true;
    }
    queueChanged_.notify_all();
  }
  closeQueue();
  return quitCode_;
}

void HeadlessWindow::quit(int code) {
  record("quit " + std::to_string(code));
  {
    std::lock_guard<std::mutex> lock(queueMutex_);
    quitRequested_ = true;
    quitCode_ = code;
  }
  queueChanged_.notify_all();
}

void HeadlessWindow::destroy() {
  record("destroy");
  if (destroyed_) return;
  if (events_ != nullptr) events_->onDestroy();
  {
    std::lock_guard<std::mutex> lock(queueMutex_);
    destroyed_ = true;
  }
  queueChanged_.notify_all();
}

void HeadlessWindow::createControl(int id, ControlClass cls, const std::string& caption, uint32_t style,
                                   const Rect& rect) {
  record("createControl " + std::to_string(id) + " class " + std::to_string(static_cast<int>(cls)) +
         " style " + std::to_string(style) + " rect " + describe(rect) + " caption " + caption);
  if (controls_.count(id) == 0) creationOrder_.push_back(id);
  HeadlessControl& c = controls_[id];
  c = HeadlessControl{};
  c.id = id;
  c.cls = cls;
  c.caption = caption;
  c.style = style;
  c.createdRect = rect;
  c.rect = rect;
  c.rect.x += offsetX_;
  c.rect.y += offsetY_;
  c.text = caption;
  c.enabled = (style & style::kDisabled) == 0;
}

HeadlessControl* HeadlessWindow::find(int id) {
  const auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : &it->second;
}

const HeadlessControl* HeadlessWindow::control(int id) const {
  const auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : &it->second;
}

void HeadlessWindow::setText(int id, const std::string& text) {
  record("setText " + std::to_string(id) + " " + text);
  if (HeadlessControl* c = find(id)) c->text = text;
  // Taken out while it runs: a reaction may set texts itself.
  for (std::size_t i = 0; i < textReactions_.size(); ++i) {
    if (textReactions_[i].id != id) continue;
    TextReaction reaction = std::move(textReactions_[i]);
    textReactions_.erase(textReactions_.begin() + static_cast<std::ptrdiff_t>(i));
    if (!reaction.react(text)) textReactions_.insert(textReactions_.begin() + static_cast<std::ptrdiff_t>(i), std::move(reaction));
    break;
  }
}

std::string HeadlessWindow::getText(int id) {
  record("getText " + std::to_string(id));
  const HeadlessControl* c = find(id);
  return c == nullptr ? std::string() : c->text;
}

void HeadlessWindow::setTextLimit(int id, int characters) {
  record("setTextLimit " + std::to_string(id) + " " + std::to_string(characters));
  if (HeadlessControl* c = find(id)) c->textLimit = characters;
}

// Only a list box holds lines, as on the desktop.
void HeadlessWindow::clearList(int id) {
  record("clearList " + std::to_string(id));
  HeadlessControl* c = find(id);
  if (c != nullptr && c->cls == ControlClass::ListBox) c->items.clear();
}

void HeadlessWindow::addListLines(int id, const std::vector<std::string>& lines) {
  for (const std::string& line : lines) record("addListLine " + std::to_string(id) + " " + line);
  HeadlessControl* c = find(id);
  if (c != nullptr && c->cls == ControlClass::ListBox) c->items.insert(c->items.end(), lines.begin(), lines.end());
}

std::vector<std::string> HeadlessWindow::listLines(int id) {
  const HeadlessControl* c = find(id);
  return c == nullptr ? std::vector<std::string>{} : c->items;
}

bool HeadlessWindow::getCheck(int id) {
  record("getCheck " + std::to_string(id));
  const HeadlessControl* c = find(id);
  return c != nullptr && c->checked;
}

void HeadlessWindow::setCheck(int id, bool checked) {
  record("setCheck " + std::to_string(id) + " " + std::to_string(checked));
  if (HeadlessControl* c = find(id)) c->checked = checked;
}

void HeadlessWindow::showPressed(int id, bool pressed) {
  record("showPressed " + std::to_string(id) + " " + std::to_string(pressed));
  if (HeadlessControl* c = find(id)) c->pressed = pressed;
}

void HeadlessWindow::enable(int id, bool enabled) {
  record("enable " + std::to_string(id) + " " + std::to_string(enabled));
  if (HeadlessControl* c = find(id)) c->enabled = enabled;
}

void HeadlessWindow::showInactive(int id, bool inactive) {
  record("showInactive " + std::to_string(id) + " " + std::to_string(inactive));
  if (HeadlessControl* c = find(id)) c->inactive = inactive;
}

void HeadlessWindow::scrollContent(int dx, int dy) {
  record("scrollContent " + std::to_string(dx) + " " + std::to_string(dy));
  offsetX_ += dx;
  offsetY_ += dy;
  for (auto& [id, c] : controls_) {
    c.rect.x += dx;
    c.rect.y += dy;
  }
}

void HeadlessWindow::setScrollRange(ScrollBar bar, int minimum, int maximum) {
  record(std::string("setScrollRange ") + (bar == ScrollBar::Horizontal ? "h " : "v ") + std::to_string(minimum) +
         " " + std::to_string(maximum));
  minimum_[index(bar)] = minimum;
  maximum_[index(bar)] = maximum;
}

void HeadlessWindow::setScrollPosition(ScrollBar bar, int position) {
  record(std::string("setScrollPosition ") + (bar == ScrollBar::Horizontal ? "h " : "v ") +
         std::to_string(position));
  position_[index(bar)] = position;
}

bool HeadlessWindow::askYesNo(const std::string& text, const std::string& caption, const std::string& yes,
                              const std::string& no) {
  record("askYesNo " + caption + ": " + text + " [" + yes + "] [" + no + "]");
  YesNoAnswer answer;
  if (!yesNoAnswers_.empty()) {
    answer = std::move(yesNoAnswers_.front());
    yesNoAnswers_.pop_front();
  }
  if (answer.whileOpen) answer.whileOpen();
  messageBoxes_.push_back({true, caption, text, yes, no, answer.yes});
  return answer.yes;
}

void HeadlessWindow::showError(const std::string& caption, const std::string& text) {
  record("showError " + caption + ": " + text);
  messageBoxes_.push_back({false, caption, text, "", "", false});
}

void HeadlessWindow::focusMainWindow() {
  record("focusMainWindow");
  ++focusCount_;
  focused_ = kHeadlessMainWindowFocus;
}

void HeadlessWindow::focusControl(int id) {
  record("focusControl " + std::to_string(id));
  const HeadlessControl* c = find(id);
  if (c != nullptr && c->enabled && (c->style & style::kVisible) != 0) focused_ = id;
}

std::optional<std::string> HeadlessWindow::openFileDialog(const std::string& initialPath) {
  return fileDialog(false, initialPath);
}

std::optional<std::string> HeadlessWindow::saveFileDialog(const std::string& initialPath) {
  return fileDialog(true, initialPath);
}

// Both dialogs: recorded, answered with the next queued answer (none: the
// user cancelled).
std::optional<std::string> HeadlessWindow::fileDialog(bool save, const std::string& initialPath) {
  record(std::string(save ? "saveFileDialog " : "openFileDialog ") + initialPath);
  std::optional<std::string> answer;
  if (!dialogAnswers_.empty()) {
    answer = dialogAnswers_.front();
    dialogAnswers_.pop_front();
  }
  dialogs_.push_back({save, initialPath, answer});
  return answer;
}

void HeadlessWindow::runOnUiThread(const std::function<void()>& work) {
  if (std::this_thread::get_id() == uiThread_) {
    work();
    return;
  }
  auto task = std::make_shared<Task>();
  task->work = work;
  std::unique_lock<std::mutex> lock(queueMutex_);
  if (queueClosed_) return;
  queue_.push_back(task);
  queueChanged_.notify_all();
  // Released when the UI thread has run the work or the queue was closed.
  queueChanged_.wait(lock, [&] { return task->done || queueClosed_; });
}

bool HeadlessWindow::runOne() {
  std::shared_ptr<Task> task;
  {
    std::lock_guard<std::mutex> lock(queueMutex_);
    if (queue_.empty()) return false;
    task = queue_.front();
    queue_.pop_front();
  }
  task->work();
  {
    std::lock_guard<std::mutex> lock(queueMutex_);
    task->done = true;
  }
  queueChanged_.notify_all();
  return true;
}

int HeadlessWindow::pump() {
  int ran = 0;
  while (runOne()) ++ran;
  return ran;
}

bool HeadlessWindow::pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    // One item at a time: a worker waits for each of its items, so the
    // state `done` looks for is seen before the worker goes on.
    while (!done() && runOne()) {
    }
    if (done()) return true;
    std::unique_lock<std::mutex> lock(queueMutex_);
    if (std::chrono::steady_clock::now() >= deadline) return false;
    queueChanged_.wait_for(lock, std::chrono::milliseconds(5), [&] { return !queue_.empty(); });
  }
}

void HeadlessWindow::closeQueue() {
  {
    std::lock_guard<std::mutex> lock(queueMutex_);
    queueClosed_ = true;
    queue_.clear();
  }
  queueChanged_.notify_all();
}

// ---------------------------------------------------------------------------

void HeadlessWindow::checkAutoRadio(int id) {
  // The group runs from the nearest control at or before `id` (in creation
  // order) that carries the group style up to the next one that does.
  const auto self = std::find(creationOrder_.begin(), creationOrder_.end(), id);
  if (self == creationOrder_.end()) return;
  auto first = self;
  while (first != creationOrder_.begin() && (controls_[*first].style & style::kGroup) == 0) --first;
  auto last = self + 1;
  while (last != creationOrder_.end() && (controls_[*last].style & style::kGroup) == 0) ++last;
  for (auto it = first; it != last; ++it) {
    HeadlessControl& c = controls_[*it];
    if (c.cls == ControlClass::Button && buttonKind(c) == style::kAutoRadioButton) c.checked = *it == id;
  }
}

bool HeadlessWindow::click(int id) {
  record("click " + std::to_string(id));
  HeadlessControl* c = find(id);
  if (c == nullptr || !c->enabled || events_ == nullptr) return false;
  if (c->cls != ControlClass::Static) focused_ = id;
  if (c->cls == ControlClass::Button) {
    if (buttonKind(*c) == style::kAutoCheckBox) c->checked = !c->checked;
    if (buttonKind(*c) == style::kAutoRadioButton) checkAutoRadio(id);
  }
  events_->onCommand(id);
  return true;
}

void HeadlessWindow::close() {
  record("close");
  if (events_ != nullptr && !destroyed_ && events_->onClose()) destroy();
}

void HeadlessWindow::command(int id) {
  record("command " + std::to_string(id));
  if (events_ != nullptr) events_->onCommand(id);
}

void HeadlessWindow::type(int id, const std::string& text) {
  record("type " + std::to_string(id) + " " + text);
  HeadlessControl* c = find(id);
  if (c == nullptr || c->inactive) return;
  c->text = c->textLimit >= 0 ? text.substr(0, static_cast<std::size_t>(c->textLimit)) : text;
}

void HeadlessWindow::resize(int clientWidth, int clientHeight) {
  record("resize " + std::to_string(clientWidth) + " " + std::to_string(clientHeight));
  clientWidth_ = clientWidth;
  clientHeight_ = clientHeight;
  if (events_ != nullptr) events_->onSize(clientWidth, clientHeight);
}

void HeadlessWindow::scroll(ScrollBar bar, ScrollRequest request, int thumbPosition) {
  record("scroll");
  if (events_ != nullptr) events_->onScroll(bar, request, thumbPosition);
}

std::string HeadlessWindow::statusLine(int line) const {
  const HeadlessControl* c = control(30 + line);
  return c == nullptr ? std::string() : c->text;
}

}  // namespace nubo::platform
