// SPDX-License-Identifier: BSD-3-Clause
#include "terminal_observer.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "fixity.h"

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
  std::fprintf(stream, "%s\n", escapeControls(text).c_str());
  std::fflush(stream);
}

void TerminalObserver::runStarted(const RunRequest& r) {
  std::lock_guard<std::mutex> lock(mutex_);
  job_ = r.job;
  md5Lines_ = r.job == Job::Test && r.options.md5;
  started_ = std::chrono::steady_clock::now();
}

void TerminalObserver::runPlanned(const RunPlan& plan) {
  std::lock_guard<std::mutex> lock(mutex_);
  planned_ = plan.files.size();
  plannedBytes_ = 0;
  for (const PlannedFile& f : plan.files) {
    fileBytes_.push_back(f.inputBytes);
    plannedBytes_ += f.inputBytes;
  }
}

void TerminalObserver::fileBegun(const FileBegun& b) {
  if (!progressOnTerminal_) return;
  std::lock_guard<std::mutex> lock(mutex_);
  current_[b.index] = 0;
  currentName_ = b.input;
  currentRatio_ = -1;
  drawProgress(false);
}

void TerminalObserver::progress(const Progress& p) {
  if (!progressOnTerminal_) return;
  std::lock_guard<std::mutex> lock(mutex_);
  current_[p.index] = p.inputBytes;
  currentName_ = p.input;
  // The compressed size against the audio: of the output for the jobs that
  // write a .NAB file, of the input for those that read one.
  const int64_t compressed = p.outputBytes > 0 ? p.outputBytes : p.inputBytes;
  currentRatio_ = p.pcmBytes > 0 && job_ != Job::Encode && job_ != Job::EncodeVerify
                      ? static_cast<double>(compressed) / static_cast<double>(p.pcmBytes)
                  : p.pcmBytes > 0 && p.outputBytes > 0 ? static_cast<double>(p.outputBytes) / static_cast<double>(p.pcmBytes)
                                                        : -1;
  drawProgress(false);
}

// "[3/120] 42%  85.3 MB/s  0:12 left  ratio 0.531  take.NAB": the files done
// of the run's files, the share of its bytes, the rate, the time left, and
// the compressed size of the current file against its audio.
void TerminalObserver::drawProgress(bool force) {
  const auto now = std::chrono::steady_clock::now();
  if (!force && progressShown_ && now - lastDrawn_ < std::chrono::milliseconds(100)) return;
  lastDrawn_ = now;
  int64_t done = bytesDone_;
  for (const auto& [index, bytes] : current_) {
    done += index < fileBytes_.size() ? std::min(bytes, fileBytes_[index]) : bytes;
  }
  const double seconds = std::chrono::duration<double>(now - started_).count();
  const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
  char line[256];
  int n = std::snprintf(line, sizeof line, "[%zu/%zu]", filesDone_, planned_);
  if (plannedBytes_ > 0) {
    n += std::snprintf(line + n, sizeof line - n, " %3d%%",
                       static_cast<int>(100.0 * static_cast<double>(done) / static_cast<double>(plannedBytes_)));
  }
  if (seconds >= 0.5 && rate > 0) {
    n += std::snprintf(line + n, sizeof line - n, "  %.1f MB/s", rate / 1e6);
    const double left = static_cast<double>(std::max<int64_t>(plannedBytes_ - done, 0)) / rate;
    n += std::snprintf(line + n, sizeof line - n, "  %d:%02d left", static_cast<int>(left) / 60,
                       static_cast<int>(left) % 60);
  }
  if (currentRatio_ >= 0) n += std::snprintf(line + n, sizeof line - n, "  ratio %.3f", currentRatio_);
  // One line of a terminal of 80 columns: a long name loses its start.
  std::string shown = line;
  const std::size_t room = 79 > shown.size() + 2 ? 79 - shown.size() - 2 : 0;
  if (!currentName_.empty() && room > 3) {
    shown += "  ";
    shown += currentName_.size() <= room ? currentName_ : "..." + currentName_.substr(currentName_.size() - (room - 3));
  }
  for (char& c : shown) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  std::fprintf(err_, "\r\033[K%s", shown.c_str());
  std::fflush(err_);
  progressShown_ = true;
}

void TerminalObserver::fileDone(const FileOutcome& o) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (o.index < planned_) {
    ++filesDone_;
    current_.erase(o.index);
    if (o.index < fileBytes_.size()) bytesDone_ += fileBytes_[o.index];
  }
  if (o.warning != kEntryEmpty) {
    FileOutcome warned;
    warned.reason = o.warning;
    warned.subject = o.warningSubject.empty() ? o.input : o.warningSubject;
    warned.systemError = o.warningDetail;
    writeLine(err_, "nubo: " + problemText(warned, text_) + " [warning]");
  }
  switch (o.outcome) {
    case Outcome::Converted:
      // A sum asked for with --md5 is what the run is for: -q keeps it.
      if (!o.md5.empty() && o.reason == kEntryTestOk) {
        writeLine(out_, sumLine(o.md5, o.subject));  // as md5sum writes it
        break;
      }
      if (quiet_) break;
      if (o.showSizeChange) {
        writeLine(out_, sizeChangeLine(o, text_));
      } else if (o.job == Job::Decode) {
        writeLine(out_, o.input + " -> " + o.output);
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
  if (progressOnTerminal_ && planned_ > 0) {
    drawProgress(true);  // the last state of the run, then its lines
    std::fputc('\n', err_);
    progressShown_ = false;
  }
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
      // An incomplete input converted as far as it goes is not counted as
      // converted: it has its own count when there is one. The files a stop
      // left unbegun are not converted either; so the counts add up to the
      // files of the run, as the window counts them.
      std::snprintf(line, sizeof line, "%ld %s  %ld %s  %ld %s", s.converted, text_(kEntryCountDone).c_str(),
                    s.skipped, text_(kEntryCountSkipped).c_str(), s.notConverted + s.notBegun,
                    text_(kEntryCountFailed).c_str());
      if (s.incomplete > 0) {
        const std::size_t used = std::strlen(line);
        std::snprintf(line + used, sizeof line - used, "  %ld %s", s.incomplete, text_(kEntryCountIncomplete).c_str());
      }
    }
    std::string summary = line;
    if (s.passedOver > 0) summary += "  " + std::to_string(s.passedOver) + " file(s) of another kind passed over";
    // With test --md5 stdout holds the sums alone (as md5sum writes them), so
    // that it can be kept as a record for --check: the summary goes to stderr.
    writeLine(md5Lines_ ? err_ : out_, summary);
    // The reasons, once each with the number of files they held back.
    for (const auto& [id, count] : reasons_) {
      std::string reason = reasonText(text_, id, job);
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
