// SPDX-License-Identifier: BSD-3-Clause
// The window's presenter: turns the events of a run into the three status
// lines and the running and idle states. Line 1 carries progress and the
// state of the run, line 2 problems, skips and the size change, line 3 the
// file concerned and the count line.
#pragma once

#include <string>

#include "outcome_text.h"
#include "run_events.h"

namespace nubo::ui {

// What the presenter needs of the window. Called from the run's thread.
class RunDisplay {
 public:
  virtual ~RunDisplay() = default;
  virtual void setStatusLine(int line, const std::string& text) = 0;
  // Cancel enabled, Exit disabled, Start shown pressed.
  virtual void runningState() = 0;
  // The run has ended (`stopped`: status line 1 says so); the window is idle again.
  virtual void idleState(bool stopped) = 0;
  virtual std::string text(int id) const = 0;
};

class WindowPresenter : public converter::RunObserver {
 public:
  explicit WindowPresenter(RunDisplay& display) : display_(display) {}

  void runStarted(const converter::RunRequest&) override;
  void runPlanned(const converter::RunPlan& plan) override;
  void progress(const converter::Progress& p) override;
  void fileNotice(const converter::FileNotice& n) override;
  void fileDone(const converter::FileOutcome& o) override;
  void runEnded(const converter::RunSummary& s) override;

 private:
  void showCountLine();
  converter::TextOf textOf() const {
    return [this](int id) { return display_.text(id); };
  }

  RunDisplay& display_;
  converter::Job job_ = converter::Job::Reencode;
  bool overwrite_ = false;
  long done_ = 0;
  long skipped_ = 0;
};

}  // namespace nubo::ui
