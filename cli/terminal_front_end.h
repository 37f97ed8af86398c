// The command-line tool's front end: the three status lines of a run become
// lines of text on the terminal. Progress (status line 1 counting megabytes)
// is redrawn in place on a terminal and left out otherwise; the error of a
// run that stops goes to stderr, everything else to stdout.
#pragma once

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "front_end.h"
#include "definition_file.h"

namespace nubo::cli {

class TerminalFrontEnd : public converter::FrontEnd {
 public:
  TerminalFrontEnd(const ui::Definitions& definitions, bool quiet, std::FILE* out = stdout,
                   std::FILE* err = stderr);

  void setStatusLine(int line, const std::string& text) override;
  void runningState() override {}
  void idleState(int code) override;
  std::string message(int index) const override;
  bool cancelRequested() const override;

  // Asks the run to stop after its current block (Ctrl-C).
  void requestCancel() { cancel_ = true; }

  // Ends the output of a run: pending lines are written and any progress
  // display is cleared. True when the run reached its end without an error:
  // not stopped, something found, no file refused with a message.
  bool finish();

  // The fields were refused before a run could start: what the status
  // lines show goes to stderr.
  void failBeforeRun();

  // Shows a failure of the tool itself (not of a run) on stderr.
  void reportError(const std::string& text);

 private:
  bool isProgress(const std::string& text) const;
  bool isRefusal(const std::string& text) const;
  void clearProgress();
  void flushPending(std::FILE* stream);

  const ui::Definitions& definitions_;
  const bool quiet_;
  std::FILE* const out_;
  std::FILE* const err_;
  const bool progressOnTerminal_;
  std::atomic<bool> cancel_{false};

  std::mutex mutex_;
  std::vector<std::pair<int, std::string>> pending_;  // (line, text) of lines 2 and 3 not yet written
  std::string lastLine1_;
  bool progressShown_ = false;
  bool stopped_ = false;
  bool refused_ = false;
};

}  // namespace nubo::cli
