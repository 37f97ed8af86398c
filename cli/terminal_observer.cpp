// SPDX-License-Identifier: BSD-3-Clause
#include "terminal_observer.h"

#include <unistd.h>

#include <cstring>

namespace nubo::cli {

using namespace nubo::converter;

TerminalObserver::TerminalObserver(TextOf text, bool quiet, std::FILE* out, std::FILE* err)
    : text_(std::move(text)),
      quiet_(quiet),
      out_(out),
      err_(err),
      progressOnTerminal_(!quiet && isatty(fileno(err)) != 0) {}

void TerminalObserver::clearProgress() {
  if (!progressShown_) return;
  std::fputs("\r\033[K", err_);
  std::fflush(err_);
  progressShown_ = false;
}

void TerminalObserver::writeLine(std::FILE* stream, const std::string& text) {
  clearProgress();
  // A control character in a name would act on the terminal: it is shown
  // as \xHH instead.
  std::string shown;
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
      shown += escaped;
    } else {
      shown += ch;
    }
  }
  std::fprintf(stream, "%s\n", shown.c_str());
  std::fflush(stream);
}

void TerminalObserver::runStarted(const RunRequest& r) {
  std::lock_guard<std::mutex> lock(mutex_);
  job_ = r.job;
}

void TerminalObserver::progress(const Progress& p) {
  if (!progressOnTerminal_) return;
  std::lock_guard<std::mutex> lock(mutex_);
  std::fprintf(err_, "\r\033[K%ld %s %s", static_cast<long>(p.pcmBytes >> 20),
               text_(progressEntry(job_, p.verifying)).c_str(), p.input.c_str());
  std::fflush(err_);
  progressShown_ = true;
}

void TerminalObserver::fileDone(const FileOutcome& o) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (o.warning != kEntryEmpty) {
    FileOutcome warned;
    warned.reason = o.warning;
    warned.subject = o.warningSubject.empty() ? o.input : o.warningSubject;
    warned.systemError = o.warningDetail;
    writeLine(err_, "nubo: " + problemText(warned, text_) + " [warning]");
  }
  switch (o.outcome) {
    case Outcome::Converted:
      if (quiet_) break;
      if (o.showSizeChange) {
        writeLine(out_, sizeChangeLine(o, text_));
      } else if (!o.md5.empty() && o.reason == kEntryTestOk) {
        writeLine(out_, o.md5 + "  " + o.subject);  // as md5sum writes it
      } else if (o.reason != kEntryEmpty) {
        writeLine(out_, text_(o.reason) + " " + o.subject);
      }
      break;
    case Outcome::Skipped: {
      // In the words of the summary line.
      if (quiet_) break;
      std::string skipped = text_(kEntryCountSkipped);
      writeLine(out_, o.subject + ": " + skipped);
      break;
    }
    case Outcome::Incomplete:
      if (!quiet_ && o.showSizeChange) writeLine(out_, sizeChangeLine(o, text_));
      writeLine(err_, "nubo: " + problemText(o, text_));
      ++reasons_[o.reason];
      break;
    case Outcome::NotConverted:
    case Outcome::Stopped:
      writeLine(err_, "nubo: " + problemText(o, text_));
      if (o.outcome == Outcome::NotConverted) ++reasons_[o.reason];
      if (o.otherKind) ++otherKind_;
      break;
    case Outcome::PassedOver:
    case Outcome::NotBegun:
      break;
  }
}

void TerminalObserver::runEnded(const RunSummary& s) {
  std::lock_guard<std::mutex> lock(mutex_);
  summary_ = s;
  ended_ = true;
}

int TerminalObserver::finish(Job job) {
  std::lock_guard<std::mutex> lock(mutex_);
  clearProgress();
  if (!ended_) return kExitFailed;
  const RunSummary& s = summary_;
  if (s.nothingFound) return kExitFailed;  // each input that matched nothing has been named
  if (!quiet_) {
    char line[512];
    const long bad = s.notConverted + s.incomplete;
    if (job == Job::Test || job == Job::Verify) {
      // Jobs that write nothing: the files that passed, and the rest.
      const bool test = job == Job::Test;
      // A file named that is not a compressed file is none of the damaged ones.
      std::snprintf(line, sizeof line, "%ld %s  %ld %s", s.converted,
                    text_(test ? kEntryCountTested : kEntryCountSame).c_str(), bad - (test ? otherKind_ : 0),
                    text_(test ? kEntryCountBad : kEntryCountDifferent).c_str());
      if (test && otherKind_ > 0) {
        const std::size_t used = std::strlen(line);
        std::snprintf(line + used, sizeof line - used, "  %ld file(s) not compressed (.NAB) files", otherKind_);
      }
    } else {
      std::snprintf(line, sizeof line, "%ld %s  %ld %s  %ld %s", s.converted + s.incomplete,
                    text_(kEntryCountDone).c_str(), s.skipped, text_(kEntryCountSkipped).c_str(), s.notConverted,
                    text_(kEntryCountFailed).c_str());
    }
    std::string summary = line;
    if (s.passedOver > 0) summary += "  " + std::to_string(s.passedOver) + " file(s) of another kind passed over";
    writeLine(out_, summary);
    // The reasons, once each with the number of files they held back.
    for (const auto& [id, count] : reasons_) {
      std::string reason = text_(id);
      if (!reason.empty() && reason.back() == ':') reason.pop_back();
      writeLine(err_, "nubo:   " + std::to_string(count) + "  " + reason);
    }
  }
  if (s.stopped) {
    if (s.stopReason == kEntryTooManyDirectories) writeLine(err_, "nubo: " + text_(kEntryTooManyDirectories));
    writeLine(err_, "nubo: " + text_(kEntryStopped));
    return kExitFailed;
  }
  return s.notConverted + s.incomplete > 0 ? kExitFailed : kExitOk;
}

void TerminalObserver::reportError(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  writeLine(err_, "nubo: " + text);
}

}  // namespace nubo::cli
