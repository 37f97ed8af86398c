// SPDX-License-Identifier: BSD-3-Clause
// The command-line tool's front end. What became of each file arrives as a
// FileOutcome: results (size changes, skipped files, files found complete)
// go to stdout, problems and refusals to stderr (also under --quiet), and
// progress (status line 1 counting megabytes) to stderr, redrawn in place,
// only when stderr is a terminal. The run ends with a summary and an exit
// status that says whether every file asked for was converted.
#pragma once

#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>

#include "definition_file.h"
#include "front_end.h"
#include "run_report.h"

namespace nubo::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

class TerminalFrontEnd : public converter::FrontEnd {
 public:
  TerminalFrontEnd(const ui::Definitions& definitions, bool quiet, std::FILE* out = stdout,
                   std::FILE* err = stderr);

  void setStatusLine(int line, const std::string& text) override;
  void runningState() override {}
  void idleState(int) override {}
  std::string message(int index) const override;
  bool cancelRequested() const override;
  void fileDone(const converter::FileOutcome& outcome) override;
  void runEnded(const converter::RunSummary& summary) override;

  // Every file's outcome also goes to `report` (which must outlive the run).
  void setReport(RunReport* report) { report_ = report; }

  // Asks the run to stop after its current block (Ctrl-C, SIGTERM, SIGHUP).
  // Safe to call from a signal handler.
  void requestCancel() { cancel_ = true; }

  // Ends the output of a run: the progress display is cleared, the summary
  // written. Returns the exit status: 0 only when every file found was
  // converted or skipped for a complete existing output.
  int finish(int jobKind);

  // The fields were refused before a run could start: what the status
  // lines show goes to stderr.
  void failBeforeRun();

  // Shows a problem of the tool itself (not of a file) on stderr.
  void reportError(const std::string& text);

  // "<entry text> <subject> (<detail>; partial output kept as <file>)"
  std::string problemText(int entry, const std::string& subject, const std::string& detail,
                          const std::string& keptAs = "") const;
  // The same after "nubo: ", as it goes to stderr.
  std::string problemLine(int entry, const std::string& subject, const std::string& detail,
                          const std::string& keptAs = "") const;

 private:
  bool isProgress(const std::string& text) const;
  void clearProgress();
  void writeLine(std::FILE* stream, const std::string& text);

  const ui::Definitions& definitions_;
  const bool quiet_;
  std::FILE* const out_;
  std::FILE* const err_;
  const bool progressOnTerminal_;
  std::atomic<bool> cancel_{false};

  std::mutex mutex_;
  bool progressShown_ = false;
  std::string heldLines_[4];  // the last text of each status line, for failBeforeRun
  converter::RunSummary summary_;
  bool ended_ = false;
  std::map<int, long> reasons_;  // entry -> files not converted for it
  RunReport* report_ = nullptr;
};

}  // namespace nubo::cli
