// SPDX-License-Identifier: BSD-3-Clause
#include "window_presenter.h"

#include <algorithm>
#include <cstdio>

namespace nubo::ui {

using namespace nubo::converter;

namespace {

void replaceAll(std::string& text, const std::string& mark, const std::string& by) {
  for (std::size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + by.size())) {
    text.replace(at, mark.size(), by);
  }
}

std::string clockTime(double seconds) {
  const long s = static_cast<long>(seconds + 0.5);
  char buffer[32];
  if (s >= 3600) {
    std::snprintf(buffer, sizeof buffer, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  } else {
    std::snprintf(buffer, sizeof buffer, "%ld:%02ld", s / 60, s % 60);
  }
  return buffer;
}

}  // namespace

std::string runProgressText(const std::string& entry, int percent, double secondsLeft) {
  std::string text = entry;
  replaceAll(text, "{share}", std::to_string(percent));
  replaceAll(text, "{time}", secondsLeft < 0 ? "\xE2\x80\xA6" : clockTime(secondsLeft));
  return text;
}

std::string notConvertedLine(const FileOutcome& o, const TextOf& text) {
  const std::string& file = o.input.empty() ? o.subject : o.input;
  std::string line = reasonText(text, o.reason, o.job);
  if (!o.subject.empty() && o.subject != file) {
    // The reason is about another path (the output): that path follows it.
    line += " " + subjectWithNote(o, text);
  } else {
    // The file leads the line, so the reason's colon that would point at it goes.
    if (!line.empty() && line.back() == ':') line.pop_back();
    if (const std::string note = outcomeNote(o, text); !note.empty()) line += " (" + note + ")";
  }
  return file.empty() ? line : file + ": " + line;
}

std::string warningLine(const FileOutcome& o, const TextOf& text) {
  FileOutcome warned;
  warned.job = o.job;
  warned.reason = o.warning;
  warned.input = o.input;
  warned.output = o.output;
  warned.subject = o.warningSubject.empty() ? o.input : o.warningSubject;
  warned.systemError = o.warningDetail;
  return notConvertedLine(warned, text);
}

void WindowPresenter::runStarted(const RunRequest& request) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    job_ = request.job;
    overwrite_ = request.options.overwrite;
    converted_ = 0;
    skipped_ = 0;
    incomplete_ = 0;
    notConverted_ = 0;
    found_ = 0;
    notBegun_.clear();
    lastProblem_.clear();
    weights_.clear();
    plannedBytes_ = 0;
    bytesDone_ = 0;
    currentDone_ = 0;
    started_ = now_();
  }
  display_.runningState();
}

void WindowPresenter::runPlanned(const RunPlan& plan) {
  const std::lock_guard<std::mutex> lock(mutex_);
  job_ = plan.job;
  overwrite_ = plan.overwrite;
  const int64_t passes = plan.job == Job::EncodeVerify ? 2 : 1;
  for (const PlannedFile& f : plan.files) {
    weights_.push_back(passes * std::max<int64_t>(f.inputBytes, 0));
    plannedBytes_ += weights_.back();
  }
  // The time left is told from the rate since the files began.
  started_ = now_();
}

int64_t WindowPresenter::weightOf(std::size_t index) const { return index < weights_.size() ? weights_[index] : 0; }

// "42 % – 1:10 left", or nothing when the run has no bytes to count.
std::string WindowPresenter::progressText() const {
  if (plannedBytes_ <= 0) return {};
  const int64_t done = std::min(bytesDone_ + currentDone_, plannedBytes_);
  const int percent = static_cast<int>(done * 100 / plannedBytes_);
  const double elapsed = std::chrono::duration<double>(now_() - started_).count();
  // A rate needs a second of work behind it; before that the time is not told.
  const double left = elapsed >= 1.0 && done > 0
                          ? static_cast<double>(plannedBytes_ - done) * elapsed / static_cast<double>(done)
                          : -1.0;
  return runProgressText(display_.text(kEntryRunProgress), percent, left);
}

// Line 1: the run's progress, then the megabytes of the file's audio done,
// the job's word for it and the file.
void WindowPresenter::showProgress(int64_t pcmBytes, bool verifying, const std::string& input) {
  std::string line = progressText();
  if (!line.empty()) line += "   ";
  char megabytes[32];
  std::snprintf(megabytes, sizeof megabytes, "%ld ", static_cast<long>(pcmBytes >> 20));
  display_.setStatusLine(1, line + megabytes + display_.text(progressEntry(job_, verifying)) + " " + input);
}

void WindowPresenter::fileBegun(const FileBegun& b) {
  const std::lock_guard<std::mutex> lock(mutex_);
  current_ = b.index;
  currentDone_ = 0;
  showProgress(0, false, b.input);
}

void WindowPresenter::progress(const Progress& p) {
  const std::lock_guard<std::mutex> lock(mutex_);
  current_ = p.index;
  // Encode and verify: the encode pass by the input read, the verify pass
  // by the audio read back, each worth the input's size.
  const int64_t size = job_ == Job::EncodeVerify ? weightOf(p.index) / 2 : weightOf(p.index);
  currentDone_ = p.verifying && job_ == Job::EncodeVerify ? size + std::min(p.pcmBytes, size)
                                                          : std::min(p.inputBytes, size);
  showProgress(p.pcmBytes, p.verifying, p.input);
}

void WindowPresenter::fileNotice(const FileNotice& n) {
  const std::lock_guard<std::mutex> lock(mutex_);
  display_.setStatusLine(2, display_.text(n.message));
  display_.setStatusLine(3, n.subject);
  lastProblem_ = display_.text(n.message) + " " + n.subject;
}

// The count line: each file of the run once, as the run's events tell it.
// The files converted (entry 55), with overwrite off those skipped for an
// output that existed (68), those not converted (86: refused, failed, cut
// short or never begun after a stop) and, when there are any, the
// incomplete inputs converted as far as they go (9).
void WindowPresenter::showCountLine() {
  std::string line = std::to_string(converted_) + " " + display_.text(kEntryCountDone);
  if (!overwrite_) line += "  " + std::to_string(skipped_) + " " + display_.text(kEntryCountSkipped);
  line += "  " + std::to_string(notConverted_) + " " + display_.text(kEntryCountFailed);
  if (incomplete_ > 0) line += "  " + std::to_string(incomplete_) + " " + display_.text(kEntryCountIncomplete);
  display_.setStatusLine(3, line);
}

void WindowPresenter::fileDone(const FileOutcome& o) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const TextOf text = textOf();
  if (o.outcome != Outcome::NotBegun) bytesDone_ += weightOf(o.index);
  if (o.index == current_) currentDone_ = 0;
  // A file converted with a warning is listed too: it needs a look.
  if (o.warning != kEntryEmpty && (o.outcome == Outcome::Converted || o.outcome == Outcome::Incomplete)) {
    display_.addNotConverted({warningLine(o, text)});
  }
  switch (o.outcome) {
    case Outcome::PassedOver:
      return;
    case Outcome::NotBegun: {
      ++notConverted_;
      FileOutcome unbegun = o;
      unbegun.reason = static_cast<Msg>(kEntryNotBegun);
      notBegun_.push_back(notConvertedLine(unbegun, text));
      return;
    }
    case Outcome::Converted:
      ++found_;
      if (o.job == Job::Test) {  // a test names the file found complete
        display_.setStatusLine(2, text(o.reason));
        display_.setStatusLine(3, subjectWithNote(o, text));
        return;
      }
      if (o.showSizeChange) {
        display_.setStatusLine(2, sizeChangeLine(o, text, true));
        lastProblem_.clear();
      }
      ++converted_;
      showCountLine();
      return;
    case Outcome::Incomplete:
      // Converted as far as it goes: its size change, then what is wrong
      // with it. It has a count of its own, not that of the converted files.
      ++found_;
      ++incomplete_;
      if (o.showSizeChange) display_.setStatusLine(2, sizeChangeLine(o, text, true));
      break;
    case Outcome::Skipped:
      ++found_;
      ++skipped_;
      break;
    case Outcome::NotConverted:
      // An input that matched nothing is no file found.
      if (o.reason != kEntryNothingFound) {
        ++found_;
        ++notConverted_;
      }
      break;
    case Outcome::Stopped:
      ++found_;
      ++notConverted_;
      break;
  }
  // A stop request and an input that matched nothing are the run's end
  // message on line 1; the list names the file (or the input).
  const bool stopRequest = o.outcome == Outcome::Stopped && o.reason == kEntryStopped;
  FileOutcome listed = o;
  if (stopRequest) listed.reason = static_cast<Msg>(kEntryStoppedDuring);
  display_.addNotConverted({notConvertedLine(listed, text)});
  if (stopRequest || o.reason == kEntryNothingFound) return;
  display_.setStatusLine(2, text(o.reason));
  display_.setStatusLine(3, subjectWithNote(o, text));
  lastProblem_ = problemText(o, text);
}

// The end of every run: the files a stop left unbegun join the list, line 2
// keeps the last problem whole, line 3 shows the count line, line 1 how the
// run ended.
void WindowPresenter::runEnded(const RunSummary& s) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (!notBegun_.empty()) {
    display_.addNotConverted(notBegun_);
    notBegun_.clear();
  }
  if (!lastProblem_.empty()) display_.setStatusLine(2, lastProblem_);
  showCountLine();
  if (s.stopped) {
    if (s.stopReason == kEntryTooManyDirectories) display_.setStatusLine(2, display_.text(kEntryTooManyDirectories));
    display_.idleState(true);
    return;
  }
  if (s.nothingFound || found_ == 0) {
    // Nothing matched, or nothing that matched was of the job's kind.
    display_.setStatusLine(1, display_.text(kEntryNothingFound));
  } else {
    // "Finished.", with the files that need a look counted as line 3 counts them.
    std::string line = display_.text(kEntryFinished);
    if (notConverted_ > 0) line += " " + std::to_string(notConverted_) + " " + display_.text(kEntryCountFailed);
    if (incomplete_ > 0) line += " " + std::to_string(incomplete_) + " " + display_.text(kEntryCountIncomplete);
    display_.setStatusLine(1, line);
  }
  display_.idleState(false);
}

}  // namespace nubo::ui
