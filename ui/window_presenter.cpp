// SPDX-License-Identifier: BSD-3-Clause
#include "window_presenter.h"

#include <cstdio>

namespace nubo::ui {

using namespace nubo::converter;

void WindowPresenter::runStarted(const RunRequest& request) {
  job_ = request.job;
  overwrite_ = request.options.overwrite;
  done_ = 0;
  skipped_ = 0;
  display_.runningState();
}

void WindowPresenter::runPlanned(const RunPlan& plan) {
  job_ = plan.job;
  overwrite_ = plan.overwrite;
}

void WindowPresenter::progress(const Progress& p) {
  char megabytes[32];
  std::snprintf(megabytes, sizeof megabytes, "%ld ", static_cast<long>(p.pcmBytes >> 20));
  display_.setStatusLine(1, megabytes + display_.text(progressEntry(job_, p.verifying)) + " " + p.input);
}

void WindowPresenter::fileNotice(const FileNotice& n) {
  display_.setStatusLine(2, display_.text(n.message));
  display_.setStatusLine(3, n.subject);
}

// The count line: the done count and entry 55, with overwrite off also the
// skipped count and entry 68.
void WindowPresenter::showCountLine() {
  std::string line = std::to_string(done_) + " " + display_.text(kEntryCountDone);
  if (!overwrite_) line += "  " + std::to_string(skipped_) + " " + display_.text(kEntryCountSkipped);
  display_.setStatusLine(3, line);
}

void WindowPresenter::fileDone(const FileOutcome& o) {
  const TextOf text = textOf();
  switch (o.outcome) {
    case Outcome::PassedOver:
    case Outcome::NotBegun:
      return;
    case Outcome::Skipped:
      ++skipped_;
      break;
    case Outcome::Converted:
      if (o.job == Job::Test) break;  // a test names the file found complete
      if (o.showSizeChange) display_.setStatusLine(2, sizeChangeLine(o, text, true));
      ++done_;
      showCountLine();
      return;
    case Outcome::Incomplete:
      // Converted as far as it goes: counted, then said.
      if (o.showSizeChange) display_.setStatusLine(2, sizeChangeLine(o, text, true));
      ++done_;
      showCountLine();
      break;
    case Outcome::NotConverted:
    case Outcome::Stopped:
      break;
  }
  display_.setStatusLine(2, text(o.reason));
  display_.setStatusLine(3, subjectWithNote(o, text));
}

void WindowPresenter::runEnded(const RunSummary& s) {
  if (s.stopped) {
    if (s.stopReason == kEntryTooManyDirectories) display_.setStatusLine(2, display_.text(kEntryTooManyDirectories));
    display_.idleState(true);
    return;
  }
  const long failures = s.notConverted + s.incomplete;
  if (s.nothingFound) {
    display_.setStatusLine(1, display_.text(kEntryNothingFound));
  } else if (failures > 0) {
    display_.setStatusLine(1, display_.text(kEntryFinished) + " " + std::to_string(failures) + " " +
                                  display_.text(kEntryCountFailed));
  } else {
    display_.setStatusLine(1, display_.text(kEntryFinished));
  }
  display_.idleState(false);
}

}  // namespace nubo::ui
