#include "terminal_front_end.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>

#include "message_entries.h"

namespace nubo::cli {

namespace {

// Message table entries the terminal front end reads.
using namespace nubo::converter;  // the kEntry indexes
constexpr int kProgressEntries[] = {kEntryProgressEncode, kEntryProgressReencode, kEntryProgressVerify,
                                    kEntryProgressDecode};
// A file passed over with one of these on status line 2 was not converted
// although the user asked for it: the run does not count as a success.
constexpr int kRefusalEntries[] = {kEntryCannotOpen, kEntryDamaged, kEntryOutputIsInput, kEntryPathTooLong,
                                    kEntryUnsupportedRate};

bool startsWith(const std::string& text, const std::string& prefix) {
  return !prefix.empty() && text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

TerminalFrontEnd::TerminalFrontEnd(const ui::Definitions& definitions, bool quiet, std::FILE* out,
                                   std::FILE* err)
    : definitions_(definitions),
      quiet_(quiet),
      out_(out),
      err_(err),
      progressOnTerminal_(!quiet && isatty(fileno(out)) != 0) {}

std::string TerminalFrontEnd::message(int index) const { return definitions_.text(index); }

bool TerminalFrontEnd::cancelRequested() const { return cancel_; }

// A progress line is "<megabytes> <progress entry> <path>".
bool TerminalFrontEnd::isProgress(const std::string& text) const {
  std::size_t i = 0;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
  if (i == 0 || i >= text.size() || text[i] != ' ') return false;
  const std::string rest = text.substr(i + 1);
  for (int entry : kProgressEntries) {
    if (startsWith(rest, message(entry))) return true;
  }
  return false;
}

bool TerminalFrontEnd::isRefusal(const std::string& text) const {
  for (int entry : kRefusalEntries) {
    if (text == message(entry)) return true;
  }
  return false;
}

void TerminalFrontEnd::clearProgress() {
  if (!progressShown_) return;
  std::fputs("\r\033[K", out_);
  std::fflush(out_);
  progressShown_ = false;
}

void TerminalFrontEnd::flushPending(std::FILE* stream) {
  if (pending_.empty()) return;
  clearProgress();
  // A message (line 2) reads before the path or count it concerns (line 3).
  std::stable_sort(pending_.begin(), pending_.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  const bool toErr = stream == err_;
  for (const auto& [line, text] : pending_) {
    if (toErr) {
      std::fprintf(stream, "nubo: %s\n", text.c_str());
    } else if (!quiet_) {
      std::fprintf(stream, "%s\n", text.c_str());
    }
  }
  std::fflush(stream);
  pending_.clear();
}

void TerminalFrontEnd::setStatusLine(int line, const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (text.empty() || text == message(kEntryEmpty)) return;
  if (line == 1) {
    if (isProgress(text)) {
      flushPending(out_);
      if (progressOnTerminal_) {
        std::fprintf(out_, "\r\033[K%s", text.c_str());
        std::fflush(out_);
        progressShown_ = true;
      }
      return;
    }
    // The state of the run ("finished", "nothing found"): shown by finish().
    flushPending(out_);
    lastLine1_ = text;
    return;
  }
  // Status lines 2 and 3 come in pairs (a message and its path, the size
  // change and the count line). They are held until the pair is complete,
  // so that a pair which turns out to be the error of a stopped run goes to
  // stderr only: a second text for the same line starts a new pair.
  if (line == 2 && isRefusal(text)) refused_ = true;
  for (const auto& held : pending_) {
    if (held.first == line) {
      flushPending(out_);
      break;
    }
  }
  pending_.emplace_back(line, text);
}

void TerminalFrontEnd::idleState(int code) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (code != 999) return;
  stopped_ = true;
  pending_.insert(pending_.begin(), {1, message(kEntryStopped)});
  flushPending(err_);
}

bool TerminalFrontEnd::finish() {
  std::lock_guard<std::mutex> lock(mutex_);
  flushPending(out_);
  clearProgress();
  if (stopped_) return false;
  if (lastLine1_ == message(kEntryNothingFound)) {
    std::fprintf(err_, "nubo: %s\n", lastLine1_.c_str());
    return false;
  }
  if (!quiet_ && !lastLine1_.empty()) std::fprintf(out_, "%s\n", lastLine1_.c_str());
  std::fflush(out_);
  return !refused_ && (lastLine1_.empty() || lastLine1_ == message(kEntryFinished));
}

void TerminalFrontEnd::failBeforeRun() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!lastLine1_.empty()) pending_.insert(pending_.begin(), {1, lastLine1_});
  lastLine1_.clear();
  flushPending(err_);
}

void TerminalFrontEnd::reportError(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  clearProgress();
  std::fprintf(err_, "nubo: %s\n", text.c_str());
  std::fflush(err_);
}

}  // namespace nubo::cli
