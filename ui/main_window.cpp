// SPDX-License-Identifier: BSD-3-Clause
#include "main_window.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>

#include "field_syntax.h"
#include "batch_worker.h"
#include "message_entries.h"
#include "os.h"

namespace nubo::ui {

namespace {

using platform::ControlClass;
using platform::ScrollBar;
using platform::ScrollRequest;

constexpr int kHorizontalPage = 8;

// Layout values come from a file: the pixel arithmetic is done wide and
// clamped so that no value of the file can overflow it.
int clampToInt(int64_t v) { return static_cast<int>(std::clamp<int64_t>(v, INT_MIN, INT_MAX)); }

}  // namespace

MainWindow::MainWindow(platform::Window& window, std::string definitionStem, std::string settingsStem)
    : window_(window),
      stem_(std::move(definitionStem)),
      settingsStem_(settingsStem.empty() ? stem_ : std::move(settingsStem)) {}

MainWindow::~MainWindow() {
  cancel_.request();
  joinWorker();
}

void MainWindow::joinWorker() {
  if (worker_.joinable()) worker_.join();
}

// The definition file that builds the window. Without one that can, the
// window is not made: a message names the file (and the line), and the
// program ends with kExitFailed. A saved language whose file can no longer
// be used is named and passed over for the base file, so that a damaged
// variant never locks the user out.
bool MainWindow::loadStartTexts() {
  const auto missingBase = [this](const std::string& basePath) { window_.showError("Error", "I need " + basePath); };
  if (loadDefinitions(stem_, settings_.languageNumber, definitions_, missingBase) != 0) {
    window_.quit(kExitFailed);
    return false;
  }
  DefinitionProblem problem = windowDefinitionProblem(definitions_);
  if (problem.line != 0 && settings_.languageNumber != 0) {
    const std::string variant = definitionPath(stem_, settings_.languageNumber);
    const DefinitionProblem variantProblem = problem;
    settings_.languageNumber = 0;
    if (loadDefinitions(stem_, settings_.languageNumber, definitions_, missingBase) != 0) {
      window_.quit(kExitFailed);
      return false;
    }
    problem = windowDefinitionProblem(definitions_);
    // Said in the words of the base file, when it can be used.
    if (problem.line == 0) showPassedOver(variant, variantProblem);
  }
  if (problem.line != 0) {
    showDefinitionProblem(definitionPath(stem_, settings_.languageNumber), problem);
    window_.quit(kExitFailed);
    return false;
  }
  return true;
}

namespace {
std::string describeProblem(const DefinitionProblem& problem) {
  return "Line " + std::to_string(problem.line) + ": " + problem.what + ".";
}
}  // namespace

// The texts are English: a definition file that fails cannot give them.
void MainWindow::showDefinitionProblem(const std::string& path, const DefinitionProblem& problem) {
  window_.showError("Error", "The definition file " + path + " cannot be used.\n" + describeProblem(problem));
}

// A variant passed over, said with the texts of the file in use; what is
// wrong with it stays in the words of the check.
void MainWindow::showPassedOver(const std::string& path, const DefinitionProblem& problem) {
  const std::string lead =
      textOr(converter::kEntryVariantPassedOver, "This language file cannot be used and is passed over:");
  window_.showError(textOr(converter::kEntryErrorTitle, "Error"), lead + " " + path + "\n" + describeProblem(problem));
}

std::string MainWindow::textOr(int index, const char* fallback) const {
  return definitions_.defined(index) ? definitions_.text(index) : fallback;
}

void MainWindow::onCreate() {
  const platform::TextMetrics metrics = window_.textMetrics();
  // WATCHOUT: a backend reporting zero metrics would make every division by
  // the character size below fail; one pixel is the least.
  cw_ = std::max(1, metrics.fixedPitch ? metrics.averageCharWidth : metrics.averageCharWidth * 3 / 2);
  lh_ = std::max(1, metrics.height);
  tm_ = lh_ * 2 / 10;

  settingsPath_ = chooseSettingsPath(settingsStem_, std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
  settings_ = readSettings(settingsPath_);
  if (!initialInput_.empty()) settings_.slots[inputSlot()] = initialInput_;
  if (!loadStartTexts()) return;  // the message box is shown and the quit requested

  int64_t contentBottom = 0;  // pixels
  for (int i = 0; i < kTableEntries; ++i) {
    const ControlRecord& r = definitions_.control(i);
    if (r.type < 0 || r.type > 3) continue;
    platform::Rect rect;
    rect.x = clampToInt(int64_t{cw_} * r.x / 10);
    rect.y = clampToInt(tm_ + int64_t{r.y} * lh_ * 14 / 100);
    rect.width = clampToInt(int64_t{cw_} * r.width / 10);
    rect.height = clampToInt(int64_t{r.height} * lh_ / 10);
    window_.createControl(i, static_cast<ControlClass>(r.type), definitions_.text(i),
                          static_cast<uint32_t>(r.style), rect);
    if ((static_cast<uint32_t>(r.style) & platform::style::kVisible) != 0) {
      contentBottom = std::max<int64_t>(contentBottom, int64_t{rect.y} + rect.height);
    }
  }
  // The vertical scroll range covers the lines the controls take, not the
  // whole canvas (which the layout fills only half way down).
  contentLines_ = clampToInt(std::min<int64_t>(kCanvasLines, (contentBottom + lh_ - 1) / lh_));
  created_ = true;

  showJobKindTexts();
  clearStatusLines();
  cancel_.clear();
  running_ = false;
  window_.enable(kCancelButton, false);

  window_.setCheck(settings_.jobKind, true);
  window_.setCheck(kOptionACheck, settings_.optionA != 0);
  window_.setCheck(kOptionBCheck, settings_.optionB != 0);
  if (window_.hasControl(kBestCheck)) window_.setCheck(kBestCheck, settings_.best != 0);
  window_.setTextLimit(kInputField, static_cast<int>(kMaxPathChars));
  window_.setTextLimit(kOutputField, static_cast<int>(kMaxPathChars));
  window_.focusControl(kInputField);
}

void MainWindow::onDestroy() {
  // A run still going is asked to stop; the worker is joined when the
  // window object goes, after the message loop has ended.
  if (running_) cancel_.request();
  int code = 0;
  if (created_) {
    readControls();
    std::string reason;
    if (!writeSettings(settingsPath_, settings_, &reason)) {
      window_.showError(textOr(converter::kEntryErrorTitle, "Error"),
                        textOr(converter::kEntrySettingsNotSaved, "The settings could not be saved:") + " " +
                                     settingsPath_ + " (" + reason + ")");
      code = kExitFailed;
    }
  }
  window_.quit(code);
}

bool MainWindow::onClose() {
  if (!running_) return true;
  if (closePending_) return false;  // already waiting for the run to stop
  if (cancel_.requested()) {
    window_.setText(kStatusLine1, definitions_.text(converter::kEntryAlreadyCancelled));
  } else {
    if (!askCancel()) return false;
    if (!running_) return true;  // the run ended while the question was open
  }
  closePending_ = true;
  return false;
}

void MainWindow::showJobKindTexts() {
  const int kind = settings_.jobKind;
  if (kind < 2 || kind > 4) return;
  window_.setText(kInputField, settings_.slots[inputSlot()]);
  window_.setText(kOutputField, settings_.slots[outputSlot()]);
  window_.setText(kHintLabel, definitions_.text(kind == 4 ? converter::kEntryHintReencode : converter::kEntryHintEncode));
  window_.setText(kInputLabel, definitions_.text(converter::kEntryInputLabel));
  window_.setText(kOutputLabel, definitions_.text(converter::kEntryOutputLabel));
}

void MainWindow::clearStatusLines() {
  for (int line = 1; line <= 3; ++line) window_.setText(kStatusLine1 + line - 1, definitions_.text(converter::kEntryEmpty));
}

// A refused command does nothing else; the refusal stays readable for a
// while although the run writes the same line after every file.
void MainWindow::refuse() {
  window_.setText(kStatusLine2, definitions_.text(converter::kEntryRefused));
  hold_.refused();
}

// A radio button or check box clicked during a run has changed its look by
// itself; it shows again what the run was started with.
void MainWindow::restoreChoices() {
  for (int kind = 2; kind <= 4; ++kind) window_.setCheck(kind, kind == settings_.jobKind);
  window_.setCheck(kOptionACheck, settings_.optionA != 0);
  window_.setCheck(kOptionBCheck, settings_.optionB != 0);
  if (window_.hasControl(kBestCheck)) window_.setCheck(kBestCheck, settings_.best != 0);
}

// During a run every control but Start, Exit and Cancel does nothing, and
// looks it: greyed, the fields read-only. They still take clicks, so that a
// click is answered with the refusal rather than with nothing.
void MainWindow::showChoicesInactive(bool inactive) {
  static constexpr int kChoices[] = {kLanguageButton, 2,           3,           4,          kInputBrowse, kInputField,
                                     kOptionBCheck,   kOutputBrowse, kOutputField, kOptionACheck, kBestCheck};
  for (const int id : kChoices) {
    if (window_.hasControl(id)) window_.showInactive(id, inactive);
  }
}

void MainWindow::readControls() {
  // A control that the definition file did not create keeps its value.
  if (window_.hasControl(kOptionACheck)) settings_.optionA = window_.getCheck(kOptionACheck) ? 1 : 0;
  if (window_.hasControl(kOptionBCheck)) settings_.optionB = window_.getCheck(kOptionBCheck) ? 1 : 0;
  if (window_.hasControl(kBestCheck)) settings_.best = window_.getCheck(kBestCheck) ? 1 : 0;
  if (window_.hasControl(kInputField)) settings_.slots[inputSlot()] = window_.getText(kInputField);
  if (window_.hasControl(kOutputField)) settings_.slots[outputSlot()] = window_.getText(kOutputField);
}

void MainWindow::browse(bool save) {
  readControls();
  const int slot = save ? outputSlot() : inputSlot();
  const std::optional<std::string> chosen =
      save ? window_.saveFileDialog(settings_.slots[slot]) : window_.openFileDialog(settings_.slots[slot]);
  if (!chosen) return;
  // Taken whole: a path cut short would name another file (a longer one is
  // refused when the run starts).
  settings_.slots[slot] = *chosen;
  window_.setText(save ? kOutputField : kInputField, settings_.slots[slot]);
}

void MainWindow::onCommand(int id) {
  const bool active = running_;
  switch (id) {
    case kLanguageButton:
      if (active) {
        refuse();
        return;
      }
      // The fields are read first so that what was typed survives the new
      // captions (the edit fields' captions would replace it).
      readControls();
      switchLanguage();
      return;
    case 2:
    case 3:
    case 4:
      if (active) {
        refuse();
        restoreChoices();
        return;
      }
      clearStatusLines();
      if (window_.getCheck(id)) {
        readControls();  // into the slots of the previous job kind
        settings_.jobKind = id;
        showJobKindTexts();
      }
      return;
    case kInputBrowse:
    case kOutputBrowse:
      if (active) {
        refuse();
        return;
      }
      clearStatusLines();
      browse(id == kOutputBrowse);
      return;
    case kOptionBCheck:
    case kOptionACheck:
    case kBestCheck:
      if (active) {
        refuse();
        restoreChoices();
        return;
      }
      clearStatusLines();
      return;
    case kStartButton:
      window_.focusMainWindow();
      if (active) {
        if (cancel_.requested()) {
          window_.setText(kStatusLine1, definitions_.text(converter::kEntryAlreadyCancelled));
          window_.showPressed(kStartButton, false);
        } else {
          window_.showPressed(kStartButton, true);
        }
        return;
      }
      start();
      return;
    case kExitButton:
      if (!active) {
        window_.destroy();
      } else if (cancel_.requested() && !closePending_) {
        // Exit is enabled again once a stop has been asked for: the window
        // closes when the run has stopped.
        window_.setText(kStatusLine1, definitions_.text(converter::kEntryAlreadyCancelled));
        closePending_ = true;
      }
      return;
    case kCancelButton:
      if (active) askCancel();
      return;
    default:
      return;
  }
}

void MainWindow::start() {
  hold_.reset();
  clearStatusLines();
  window_.clearList(kNotConvertedList);
  readControls();
  // A job number that names no job (a settings file written by hand) makes
  // no run: the window enters the running state and leaves it stopped.
  const std::optional<converter::Job> job = jobOfControl(settings_.jobKind);
  converter::RunRequest request;
  if (const std::optional<FieldProblem> problem =
          requestFromFields(job.value_or(converter::Job::Reencode), settings_.optionA != 0, settings_.optionB != 0,
                            settings_.slots[inputSlot()], settings_.slots[outputSlot()], request)) {
    std::string text = definitions_.text(problem->message);
    if (!problem->subject.empty()) text += " " + problem->subject;
    setStatusLine(problem->line, text);
    return;
  }
  request.options.best = settings_.best != 0;
  running_ = true;
  showChoicesInactive(true);
  if (!job) {
    idleState(true);
    return;
  }
  // The previous worker has passed its idle state; it only has to return.
  joinWorker();
  request_ = std::move(request);  // written only here, while no worker exists
  try {
    worker_ = platform::startThread([this] { converter::runBatch(request_, presenter_, cancel_); });
  } catch (const std::system_error&) {
    // No thread: the run ends as a failed one, so that Start works again.
    idleState(true);
  }
}

// Returns whether the user answered Yes.
bool MainWindow::askCancel() {
  const bool yes = window_.askYesNo(definitions_.text(converter::kEntryCancelQuestion),
                                    textOr(converter::kEntryQuestionTitle, "Cancel"),
                                    textOr(converter::kEntryYes, "Yes"), textOr(converter::kEntryNo, "No"));
  // WATCHOUT: the worker is served while the box is open, so the run may have
  // ended meanwhile; its idle state has set the controls, and a stop asked for
  // now would stay set and stop the next run at once.
  if (!running_) return yes;
  if (yes) {
    stopRun();
  } else {
    window_.showPressed(kCancelButton, false);
    window_.focusMainWindow();
  }
  return yes;
}

void MainWindow::stopRun() {
  window_.setText(kStatusLine1, definitions_.text(converter::kEntryCancelled));
  cancel_.request();
  window_.showPressed(kStartButton, false);
  window_.enable(kCancelButton, false);
  window_.enable(kExitButton, true);
}

// The next language whose file builds the window: a variant that cannot is
// named and stepped over, as a missing one is (a missing variant leads back
// to the base file).
void MainWindow::switchLanguage() {
  int language = settings_.languageNumber + 1;
  auto loaded = std::make_unique<Definitions>();
  // A missing base file is said, and the texts shown stay: the window is
  // built already and ending it here would lose what was typed.
  const auto missingBase = [this](const std::string& basePath) { window_.showError("Error", "I need " + basePath); };
  for (;;) {
    if (loadDefinitions(stem_, language, *loaded, missingBase) != 0) return;
    const DefinitionProblem problem = windowDefinitionProblem(*loaded);
    if (problem.line == 0) break;
    showPassedOver(definitionPath(stem_, language), problem);
    if (language == 0) return;  // the base file itself: the texts shown stay
    ++language;
  }
  settings_.languageNumber = language;
  definitions_ = *loaded;
  for (int i = 0; i < kTableEntries; ++i) {
    if (definitions_.control(i).type >= 0 && window_.hasControl(i)) window_.setText(i, definitions_.text(i));
  }
  showJobKindTexts();
  clearStatusLines();
}

// --- front end of the worker -------------------------------------------------

void MainWindow::setStatusLine(int line, const std::string& text) {
  if (line < 1 || line > 3) return;
  window_.runOnUiThread([&] {
    if (const std::optional<std::string> due = hold_.due()) window_.setText(kStatusLine2, *due);
    if (line == 2 && hold_.keepBack(text)) return;
    window_.setText(kStatusLine1 + line - 1, text);
  });
}

void MainWindow::addNotConverted(const std::vector<std::string>& lines) {
  window_.runOnUiThread([&] { window_.addListLines(kNotConvertedList, lines); });
}

void MainWindow::runningState() {
  window_.runOnUiThread([&] {
    window_.enable(kCancelButton, true);
    window_.enable(kExitButton, false);
    window_.showPressed(kStartButton, true);
    showChoicesInactive(true);
  });
}

void MainWindow::idleState(bool stopped) {
  // A text kept back by a refusal is shown when its hold is over, before the
  // window goes idle. The worker waits for that (at most the hold); from the
  // UI thread nothing is ever kept back (no run, no refusal).
  RefusalHold::Clock::duration wait{};
  window_.runOnUiThread([&] { wait = hold_.keepsBack() ? hold_.remaining() : RefusalHold::Clock::duration{}; });
  if (wait > RefusalHold::Clock::duration::zero()) std::this_thread::sleep_for(wait);
  // WATCHOUT: the flags are cleared on the UI thread, together with the
  // controls, so that a command there (the answer to the Cancel question)
  // sees either a run with its controls or the idle window, never a mix.
  bool done = false;
  window_.runOnUiThread([&] {
    // The stop is said with the idle controls, in one step: no command
    // comes between the two (a Start click would meet a run that has said
    // it is over).
    if (stopped) window_.setText(kStatusLine1, definitions_.text(converter::kEntryStopped));
    if (const std::optional<std::string> keptBack = hold_.takeKeptBack()) window_.setText(kStatusLine2, *keptBack);
    window_.enable(kCancelButton, false);
    window_.enable(kExitButton, true);
    window_.showPressed(kStartButton, false);
    showChoicesInactive(false);
    cancel_.clear();
    running_ = false;
    done = true;
    if (closePending_) {
      closePending_ = false;
      window_.destroy();  // the settings are saved there
    }
  });
  if (!done) {
    // The message loop has ended: no command can come any more.
    cancel_.clear();
    running_ = false;
  }
}

std::string MainWindow::text(int id) const { return definitions_.text(id); }

// --- size and scrolling ------------------------------------------------------

void MainWindow::onSize(int clientWidth, int clientHeight) {
  const int sizes[2] = {clientWidth, clientHeight};
  const int units[2] = {cw_, lh_};
  const int canvas[2] = {kCanvasColumns, contentLines_};
  const ScrollBar bars[2] = {ScrollBar::Horizontal, ScrollBar::Vertical};
  for (int i = 0; i < 2; ++i) {
    int d = (lastSize_[i] - sizes[i]) / units[i] - 1;
    if (d > 0) d = 0;
    if (d < -position_[i]) d = -position_[i];
    position_[i] += d;
    if (d != 0) {
      if (i == 0) window_.scrollContent(-units[i] * d, 0); else window_.scrollContent(0, -units[i] * d);
    }
    maximum_[i] = std::max(0, canvas[i] - sizes[i] / units[i] + 2);
    window_.setScrollRange(bars[i], 0, maximum_[i]);
    position_[i] = std::min(position_[i], maximum_[i]);
    window_.setScrollPosition(bars[i], position_[i]);
    lastSize_[i] = sizes[i];
  }
}

void MainWindow::onScroll(ScrollBar bar, ScrollRequest request, int thumbPosition) {
  const int i = index(bar);
  const int position = position_[i];
  int step = 0;
  if (bar == ScrollBar::Vertical) {
    const int page = std::max(1, lastSize_[1] / lh_);
    switch (request) {
      case ScrollRequest::LineUp: step = -1; break;
      case ScrollRequest::LineDown: step = 1; break;
      case ScrollRequest::PageUp: step = -page; break;
      case ScrollRequest::PageDown: step = page; break;
      case ScrollRequest::ThumbTrack: step = thumbPosition - position; break;
      case ScrollRequest::Top: step = -position; break;
      case ScrollRequest::Bottom: step = maximum_[i] - position; break;
      default: step = 0; break;
    }
  } else {
    switch (request) {
      case ScrollRequest::LineUp: step = -1; break;
      case ScrollRequest::LineDown: step = 1; break;
      case ScrollRequest::PageUp: step = -kHorizontalPage; break;
      case ScrollRequest::PageDown: step = kHorizontalPage; break;
      case ScrollRequest::ThumbTrack: step = thumbPosition - position; break;
      default: step = 0; break;
    }
  }
  scrollBy(bar, step);
}

void MainWindow::scrollBy(ScrollBar bar, int step) {
  const int i = index(bar);
  step = std::clamp(step, -position_[i], maximum_[i] - position_[i]);
  if (step == 0) return;
  position_[i] += step;
  if (bar == ScrollBar::Horizontal) window_.scrollContent(-cw_ * step, 0); else window_.scrollContent(0, -lh_ * step);
  window_.setScrollPosition(bar, position_[i]);
}

// -----------------------------------------------------------------------------

int runConverterProgram(platform::Window& window, const std::string& definitionStem,
                        const std::string& settingsStem, const std::string& initialInput) {
  MainWindow mainWindow(window, definitionStem, settingsStem);
  mainWindow.startWithInput(initialInput);
  if (!window.create(kWindowTitle, mainWindow)) return kExitFailed;
  const int code = window.run();
  // The loop has ended, so the worker's UI calls return at once: it notices
  // the cancel flag at its next block and can be joined.
  return code;
}

}  // namespace nubo::ui
