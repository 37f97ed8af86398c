// SPDX-License-Identifier: BSD-3-Clause
#include "terminal_front_end.h"

#include <unistd.h>

#include <cctype>

#include "message_entries.h"

namespace nubo::cli {

namespace {

using namespace nubo::converter;  // the kEntry indexes and the outcomes

constexpr int kProgressEntries[] = {kEntryProgressEncode, kEntryProgressReencode, kEntryProgressVerify,
                                    kEntryProgressDecode};

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
      progressOnTerminal_(!quiet && isatty(fileno(err)) != 0) {}

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

void TerminalFrontEnd::clearProgress() {
  if (!progressShown_) return;
  std::fputs("\r\033[K", err_);
  std::fflush(err_);
  progressShown_ = false;
}

void TerminalFrontEnd::writeLine(std::FILE* stream, const std::string& text) {
  clearProgress();
  std::fprintf(stream, "%s\n", text.c_str());
  std::fflush(stream);
}

std::string TerminalFrontEnd::problemText(int entry, const std::string& subject, const std::string& detail,
                                          const std::string& keptAs) const {
  std::string note = detail;
  if (!keptAs.empty()) note += (note.empty() ? "" : "; ") + message(kEntryPartialKept) + " " + keptAs;
  std::string text = message(entry);
  if (!subject.empty()) text += " " + subject;
  if (!note.empty()) text += " (" + note + ")";
  return text;
}

std::string TerminalFrontEnd::problemLine(int entry, const std::string& subject, const std::string& detail,
                                          const std::string& keptAs) const {
  return "nubo: " + problemText(entry, subject, detail, keptAs);
}

void TerminalFrontEnd::setStatusLine(int line, const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (line < 1 || line > 3) return;
  if (line == 1 && isProgress(text)) {
    if (progressOnTerminal_) {
      std::fprintf(err_, "\r\033[K%s", text.c_str());
      std::fflush(err_);
      progressShown_ = true;
    }
    return;
  }
  // Everything else about a file arrives again, whole, in fileDone; the
  // lines are kept for a run refused before it started.
  heldLines_[line] = text;
}

void TerminalFrontEnd::fileDone(const FileOutcome& o) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (report_ != nullptr) {
    std::string reason;
    if (o.outcome != Outcome::Converted && o.outcome != Outcome::Skipped && o.entry >= 0) {
      reason = problemText(o.entry, o.subject, o.detail, o.keptAs);
    }
    report_->add(o, reason);
  }
  if (o.warningEntry >= 0) {
    writeLine(err_, problemLine(o.warningEntry, o.warningSubject.empty() ? o.input : o.warningSubject, o.warningDetail) +
                        " [warning]");
  }
  switch (o.outcome) {
    case Outcome::Converted:
      if (quiet_) break;
      if (!o.resultText.empty()) {
        writeLine(out_, o.resultText);
      } else if (!o.md5.empty() && o.entry == kEntryTestOk) {
        writeLine(out_, o.md5 + "  " + o.subject);  // as md5sum writes it
      } else if (o.entry >= 0) {
        writeLine(out_, message(o.entry) + " " + o.subject);
      }
      break;
    case Outcome::Skipped:
      if (!quiet_) writeLine(out_, message(o.entry) + " " + o.subject);
      break;
    case Outcome::Incomplete:
      if (!quiet_ && !o.resultText.empty()) writeLine(out_, o.resultText);
      writeLine(err_, problemLine(o.entry, o.subject, o.detail, o.keptAs));
      ++reasons_[o.entry];
      break;
    case Outcome::NotConverted:
    case Outcome::Stopped:
      writeLine(err_, problemLine(o.entry, o.subject, o.detail, o.keptAs));
      if (o.outcome == Outcome::NotConverted) ++reasons_[o.entry];
      break;
    case Outcome::PassedOver:
      break;
  }
}

void TerminalFrontEnd::runEnded(const RunSummary& summary) {
  std::lock_guard<std::mutex> lock(mutex_);
  summary_ = summary;
  ended_ = true;
}

int TerminalFrontEnd::finish(int jobKind) {
  std::lock_guard<std::mutex> lock(mutex_);
  clearProgress();
  if (!ended_) return kExitFailed;
  const RunSummary& s = summary_;
  if (s.nothingFound) return kExitFailed;  // each input that matched nothing has been named
  if (!quiet_) {
    char line[512];
    const long bad = s.notConverted + s.incomplete;
    if (jobKind == kJobTest || jobKind == kJobVerify) {
      // Jobs that write nothing: the files that passed, and the rest.
      const bool test = jobKind == kJobTest;
      std::snprintf(line, sizeof line, "%ld %s  %ld %s", s.converted,
                    message(test ? kEntryCountTested : kEntryCountSame).c_str(), bad,
                    message(test ? kEntryCountBad : kEntryCountDifferent).c_str());
    } else {
      std::snprintf(line, sizeof line, "%ld %s  %ld %s  %ld %s", s.converted + s.incomplete,
                    message(kEntryCountDone).c_str(), s.skipped, message(kEntryCountSkipped).c_str(), s.notConverted,
                    message(kEntryCountFailed).c_str());
    }
    writeLine(out_, line);
    // The reasons, once each with the number of files they held back.
    for (const auto& [entry, count] : reasons_) {
      std::string reason = message(entry);
      if (!reason.empty() && reason.back() == ':') reason.pop_back();
      writeLine(err_, "nubo:   " + std::to_string(count) + "  " + reason);
    }
  }
  if (s.stopped) {
    if (s.stopEntry == kEntryTooManyDirectories) writeLine(err_, "nubo: " + message(kEntryTooManyDirectories));
    writeLine(err_, "nubo: " + message(kEntryStopped));
    return kExitFailed;
  }
  return s.notConverted + s.incomplete > 0 ? kExitFailed : kExitOk;
}

void TerminalFrontEnd::failBeforeRun() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (int line = 1; line <= 3; ++line) {
    if (!heldLines_[line].empty() && heldLines_[line] != message(kEntryEmpty)) {
      writeLine(err_, "nubo: " + heldLines_[line]);
    }
    heldLines_[line].clear();
  }
}

void TerminalFrontEnd::reportError(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  writeLine(err_, "nubo: " + text);
}

}  // namespace nubo::cli
