// SPDX-License-Identifier: BSD-3-Clause
// nubo's terminal: an observer of a run. Results (size changes, skipped
// files, files found complete) go to stdout, problems and refusals to stderr
// (also under --quiet), and progress to stderr, redrawn in place, only when
// stderr is a terminal. The run ends with a summary and an exit status that
// says whether every file asked for was converted.
#pragma once

#include <cstdio>
#include <chrono>
#include <cstdint>
#include <map>
#include <vector>
#include <mutex>
#include <string>

#include "outcome_text.h"
#include "run_events.h"

namespace nubo::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

class TerminalObserver : public converter::RunObserver {
 public:
  TerminalObserver(converter::TextOf text, bool quiet, std::FILE* out = stdout, std::FILE* err = stderr);

  void runStarted(const converter::RunRequest& r) override;
  void runPlanned(const converter::RunPlan& plan) override;
  void fileBegun(const converter::FileBegun& b) override;
  void progress(const converter::Progress& p) override;
  void fileDone(const converter::FileOutcome& o) override;
  void runEnded(const converter::RunSummary& s) override;

  // Ends the output of a run: the progress display is cleared, the summary
  // written. Returns the exit status: 0 only when every file found was
  // converted or skipped for a complete existing output.
  int finish(converter::Job job);

  // Shows a problem of the tool itself (not of a file) on stderr, after "nubo: ".
  void reportError(const std::string& text);

  const converter::TextOf& text() const { return text_; }

 private:
  void clearProgress();
  // The run's one progress line, redrawn at most ten times a second
  // (`force`: now). REQUIRES: mutex_ held.
  void drawProgress(bool force);
  void writeLine(std::FILE* stream, const std::string& text);

  const converter::TextOf text_;
  const bool quiet_;
  std::FILE* const out_;
  std::FILE* const err_;
  const bool progressOnTerminal_;

  std::mutex mutex_;
  converter::Job job_ = converter::Job::Reencode;
  bool progressShown_ = false;
  converter::RunSummary summary_;
  bool ended_ = false;
  std::map<int, long> reasons_;  // message id -> files not converted for it
  // Progress of the run: the planned files and bytes, what is done, and the
  // bytes read so far of each file being converted.
  std::size_t planned_ = 0;
  int64_t plannedBytes_ = 0;
  std::vector<int64_t> fileBytes_;
  std::size_t filesDone_ = 0;
  int64_t bytesDone_ = 0;
  std::map<std::size_t, int64_t> current_;  // plan index -> bytes read
  std::string currentName_;
  double currentRatio_ = -1;
  std::chrono::steady_clock::time_point started_;
  std::chrono::steady_clock::time_point lastDrawn_;
  long otherKind_ = 0;           // files named that are not of the job's kind
  bool md5Lines_ = false;        // test --md5: stdout holds the sums alone
};

}  // namespace nubo::cli
