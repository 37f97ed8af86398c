// SPDX-License-Identifier: BSD-3-Clause
// What the converter tells its front ends about a run, as data: the plan,
// each file begun, progress, a notice during a file, what became of each
// file, and the end. The window's presenter, nubo's terminal and the report
// are observers of the same events; none of them is told a text.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "message_entries.h"
#include "run_request.h"

namespace nubo::converter {

// What became of one file of a run.
enum class Outcome {
  Converted,     // done (also: a compressed file that `test` found complete, a verify that matched)
  Skipped,       // a complete output existed and overwrite was not asked for
  Incomplete,    // an incomplete input, converted as far as it goes: output written, but reported
  NotConverted,  // refused or failed; the run went on
  Stopped,       // the run stopped during this file (a stop request, or a failure that would repeat)
  PassedOver,    // not of the job's kind, found in a directory: passed over without a message
  NotBegun,      // planned, but the run stopped before its turn
};

// One file the run will take, in the order it takes them.
struct PlannedFile {
  std::string input;
  std::string output;      // empty for jobs that write nothing
  int64_t inputBytes = 0;  // its size when the run was planned (0 for the standard input)
};

struct RunPlan {
  Job job = Job::Reencode;
  bool overwrite = false;
  std::vector<PlannedFile> files;
};

struct FileBegun {
  std::size_t index = 0;  // into the plan
  std::string input;
  std::string output;
};

// Progress of the file being converted. Sent when the whole number of
// mebibytes of its audio changes (and so at most once a MiB); from any worker.
struct Progress {
  std::size_t index = 0;
  std::string input;
  int64_t pcmBytes = 0;    // audio bytes done in this file
  int64_t inputBytes = 0;  // bytes of the input read so far
  bool verifying = false;  // the second half of encode-and-verify (or a verify): the output read back
  int64_t outputBytes = 0; // bytes written so far (jobs that write a .NAB file; else 0)
};

// Something worth saying about a file while it is converted (the job goes on).
struct FileNotice {
  std::size_t index = 0;
  Msg message = kEntryEmpty;
  std::string subject;
};

struct FileOutcome {
  std::size_t index = 0;   // into the plan (the plan's size for an input that matched nothing)
  Outcome outcome = Outcome::Converted;
  Job job = Job::Reencode;
  std::string input;
  std::string output;      // empty for jobs that write nothing
  Msg reason = kEntryEmpty;  // why it was not converted (or the result of a test); kEntryEmpty: none
  bool otherKind = false;    // refused as not of the job's kind (named on its own; found in a walk it is passed over)
  std::string subject;     // the path the reason is about
  std::string detail;      // what disagrees, or what the file is instead
  std::string systemError; // the system's reason ("No space left on device")
  int64_t block = 0;       // where decoding failed: the block (from 1) and its byte offset
  int64_t offset = 0;
  std::string keptAs;      // the temporary file that holds a partial output
  Msg warning = kEntryEmpty;   // a problem about a file that was converted
  std::string warningSubject;  // what the warning is about ("" for the input)
  std::string warningDetail;   // the system's reason behind it, if any
  int64_t inputBytes = 0;      // bytes of the input converted (re-encode: preamble and blocks, as they are in the file)
  // The window's count of the re-encode's input: a last block with a count
  // extension counts as 4095 bytes, whatever its true size (-1: as inputBytes).
  int64_t countedInputBytes = -1;
  int64_t outputBytes = 0;     // bytes written
  int64_t pcmBytes = 0;        // bytes of audio
  // The sizes of the input file and of the output file written (or found
  // done) as they are on the disk; -1 for a stream or a file not written.
  int64_t inputFileBytes = -1;
  int64_t outputFileBytes = -1;
  int64_t frames = 0;
  bool showSizeChange = false; // re-encode and encode: the size change is the result
  double seconds = 0;          // how long the job took
  std::string md5;             // of the audio, when the run asked for it
};

// The size change of a converted file, in per cent of its audio (0 without
// audio); `counted`: by the window's count of the input (countedInputBytes).
double sizeChange(const FileOutcome& o, bool counted = false);

struct RunSummary {
  long converted = 0;
  long skipped = 0;
  long incomplete = 0;
  long notConverted = 0;
  long passedOver = 0;        // found, but not of the job's kind (silently, in directories)
  long notBegun = 0;          // planned, but a stop came first
  bool nothingFound = false;  // no input matched any file
  bool stopped = false;       // a stop request, or a failure that would repeat
  Msg stopReason = kEntryEmpty;  // kEntryStopped, kEntryTooManyDirectories, or the stopping file's reason
  // Every file asked for was converted, found complete or skipped for a complete output.
  bool allDone() const { return !stopped && !nothingFound && notConverted == 0 && incomplete == 0; }
};

class RunObserver {
 public:
  virtual ~RunObserver() = default;
  virtual void runStarted(const RunRequest&) {}
  virtual void runPlanned(const RunPlan&) {}
  virtual void fileBegun(const FileBegun&) {}
  virtual void progress(const Progress&) {}
  virtual void fileNotice(const FileNotice&) {}
  // In the order of the plan, also when several workers convert at once.
  virtual void fileDone(const FileOutcome&) {}
  virtual void runEnded(const RunSummary&) {}
};

// Hands every event to several observers, in order.
class ObserverList : public RunObserver {
 public:
  void add(RunObserver& o) { list_.push_back(&o); }
  void runStarted(const RunRequest& r) override { for (auto* o : list_) o->runStarted(r); }
  void runPlanned(const RunPlan& p) override { for (auto* o : list_) o->runPlanned(p); }
  void fileBegun(const FileBegun& b) override { for (auto* o : list_) o->fileBegun(b); }
  void progress(const Progress& p) override { for (auto* o : list_) o->progress(p); }
  void fileNotice(const FileNotice& n) override { for (auto* o : list_) o->fileNotice(n); }
  void fileDone(const FileOutcome& f) override { for (auto* o : list_) o->fileDone(f); }
  void runEnded(const RunSummary& s) override { for (auto* o : list_) o->runEnded(s); }

 private:
  std::vector<RunObserver*> list_;
};

// The one thing that flows back into a run: the request to stop after the
// current block. Set from any thread (or a signal handler); polled at each
// directory, file and block.
class StopFlag {
 public:
  void request() { flag_ = true; }
  void clear() { flag_ = false; }
  bool requested() const { return flag_.load(); }

 private:
  std::atomic<bool> flag_{false};
};

}  // namespace nubo::converter
