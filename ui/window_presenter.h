// SPDX-License-Identifier: BSD-3-Clause
// The window's presenter: turns the events of a run into the three status
// lines, the list of files that need a look (not converted, incomplete or
// converted with a warning) and the running and idle states.
// Line 1 carries the run's progress (its share of the planned bytes and the
// time left) and the state of the run, line 2 problems, skips and the size
// change, line 3 the file concerned and, at the end, the count line.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "outcome_text.h"
#include "run_events.h"

namespace nubo::ui {

// Entries that only the window shows about a run: a file a stop left
// unbegun; line 1's progress, "{share} % – {time} left", whose two marks are
// replaced by the share of the run's bytes done and the time left ("…" until
// it can be told); a file a stop cut short.
inline constexpr int kEntryNotBegun = 36;
inline constexpr int kEntryRunProgress = 37;
inline constexpr int kEntryStoppedDuring = 30;

// What the presenter needs of the window. Called from the run's thread.
class RunDisplay {
 public:
  virtual ~RunDisplay() = default;
  virtual void setStatusLine(int line, const std::string& text) = 0;
  // Adds lines to the list of files that need a look (the window empties it at Start).
  virtual void addNotConverted(const std::vector<std::string>& lines) = 0;
  // Cancel enabled, Exit disabled, Start shown pressed.
  virtual void runningState() = 0;
  // The run has ended (`stopped`: status line 1 says so); the window is idle again.
  virtual void idleState(bool stopped) = 0;
  virtual std::string text(int id) const = 0;
};

// "42 % – 1:10 left" from the template of entry 37; `secondsLeft` < 0: not
// known yet. Times of an hour or more as h:mm:ss.
std::string runProgressText(const std::string& entry, int percent, double secondsLeft);

// The line of the list for a file that was not converted, in one form for
// every reason: the file, the reason in words, then the path the reason is
// about when that is another (the output), and in parentheses what
// disagrees or the system's reason, the block and byte offset where
// decoding failed and the name of a partial output kept:
// "in/a.NAB: The input file is damaged (a block cannot be decoded) (block 3,
// byte offset 5300)",
// "in/a.NAB: Output file exists, not converted: out/a.NAB".
std::string notConvertedLine(const converter::FileOutcome& o, const converter::TextOf& text);

// The list's line for the warning of a file that was converted, in the same form.
std::string warningLine(const converter::FileOutcome& o, const converter::TextOf& text);

class WindowPresenter : public converter::RunObserver {
 public:
  using Clock = std::chrono::steady_clock;

  explicit WindowPresenter(RunDisplay& display, std::function<Clock::time_point()> now = Clock::now)
      : display_(display), now_(std::move(now)) {}
  // Tests set their own clock. Not during a run.
  void setClock(std::function<Clock::time_point()> now) { now_ = std::move(now); }

  void runStarted(const converter::RunRequest&) override;
  void runPlanned(const converter::RunPlan& plan) override;
  void fileBegun(const converter::FileBegun& b) override;
  void progress(const converter::Progress& p) override;
  void fileNotice(const converter::FileNotice& n) override;
  void fileDone(const converter::FileOutcome& o) override;
  void runEnded(const converter::RunSummary& s) override;

 private:
  // REQUIRES: mutex_ held.
  void showCountLine();
  void showProgress(int64_t pcmBytes, bool verifying, const std::string& input);
  std::string progressText() const;
  int64_t weightOf(std::size_t index) const;
  converter::TextOf textOf() const {
    return [this](int id) { return display_.text(id); };
  }

  RunDisplay& display_;
  std::function<Clock::time_point()> now_;
  // The window runs one worker; the lock keeps the counts whole should a
  // run send its events from several.
  std::mutex mutex_;
  converter::Job job_ = converter::Job::Reencode;
  bool overwrite_ = false;
  // Each file of the run counted once, by what became of it.
  long converted_ = 0;
  long skipped_ = 0;
  long incomplete_ = 0;
  long notConverted_ = 0;  // refused, failed, cut short by a stop or never begun
  long found_ = 0;  // files of the job's kind that the run took (converted, skipped or failed)
  std::vector<std::string> notBegun_;  // listed at the end, in one go
  // The last problem told on lines 2 and 3, as one line: at the end line 3
  // shows the count line, and line 2 then says the problem whole.
  std::string lastProblem_;
  // Progress: each planned file's weight (its input's bytes; twice that for
  // encode and verify, which reads the audio back), the weight of the files
  // done, and how far the file being converted is.
  std::vector<int64_t> weights_;
  int64_t plannedBytes_ = 0;
  int64_t bytesDone_ = 0;
  std::size_t current_ = 0;
  int64_t currentDone_ = 0;
  Clock::time_point started_{};
};

}  // namespace nubo::ui
