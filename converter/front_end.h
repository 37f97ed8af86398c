// SPDX-License-Identifier: BSD-3-Clause
// The one interface through which the jobs and the batch worker show a run.
// The window implements it with its controls, the command-line tool with its
// terminal, the tests with a recorder. No toolkit type crosses it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace nubo::converter {

enum class JobResult : int { Converted = 0, Skipped = 9, StopBatch = 999 };

// Job kinds of a run.
inline constexpr int kJobEncode = 2;           // PCM WAVE -> version-22 compressed file
inline constexpr int kJobEncodeVerify = 3;     // encode, then verify the result
inline constexpr int kJobReencode = 4;         // version 20/21 compressed file -> version 22
inline constexpr int kJobVerify = 5;           // compressed file against a PCM WAVE file
inline constexpr int kJobDecode = 6;           // compressed file (any version) -> PCM WAVE file
inline constexpr int kJobTest = 7;             // check compressed files; writes nothing

// A run's choices, prepared from the input and output fields when it starts
// and read (never written) by the worker. A run of the command-line tool may
// have several of them, one per input it was given.
struct RunParameters {
  int jobKind = kJobReencode;
  bool optionA = false;            // overwrite existing output files
  bool optionB = false;            // include subdirectories
  bool sync = false;               // force each output to the disk before it takes its final name
  std::string inputDirectory;      // no trailing '/'; "." when the field had none
  std::string inputPattern;        // '*' and '?' wildcards, matched without regard to case
  bool wildcard = false;           // the input pattern contains '*' or '?'
  std::string outputDirectory;
  std::string outputName;
  int namingMode = 0;              // 0 exact name, 1 extension -> replacementExtension, 2 toggle '!'
  std::string replacementExtension = ".NAB";
  bool standardInput = false;      // the input field was "-": the one input is the standard input
  bool flac = false;               // decode writes FLAC (libFLAC) instead of WAVE
  int flacLevel = 5;               // its compression level, 0..8
  bool md5 = false;                // compute the MD5 of each file's audio (FileOutcome::md5)
};

// What became of one file of a run.
enum class Outcome {
  Converted,       // done (also: a compressed file that `test` found complete)
  Skipped,         // a complete output existed and option A was clear
  Incomplete,      // an incomplete input, converted as far as it goes: output written, but reported
  NotConverted,    // refused or failed; the run went on
  Stopped,         // the run stopped during this file (cancel, or a failure that would repeat)
  PassedOver,      // not of the job's kind, found in a directory: passed over without a message
};

struct FileOutcome {
  Outcome outcome = Outcome::Converted;
  std::string input;
  std::string output;      // empty for jobs that write nothing
  int entry = -1;          // message table entry of the reason (or of the result)
  std::string subject;     // the path that entry is about
  std::string detail;      // the system's reason, or where in the file decoding failed
  std::string keptAs;      // the temporary file that holds a partial output
  std::string resultText;  // the size change line of a converted file
  int warningEntry = -1;   // a warning about a file that was converted
  std::string warningSubject;  // what the warning is about ("" for the input)
  std::string warningDetail;   // the system's reason behind it, if any
  int64_t inputBytes = 0;
  int64_t outputBytes = 0;
  int64_t frames = 0;
  double seconds = 0;      // how long the job took
  std::string md5;         // of the audio, when the run asked for it
};

// The end of a run, for front ends that report more than the status lines.
struct RunSummary {
  long converted = 0;
  long skipped = 0;
  long incomplete = 0;
  long notConverted = 0;
  long passedOver = 0;       // found, but not of the job's kind (silently, in directories)
  bool nothingFound = false;  // no input matched any file
  bool stopped = false;       // cancelled, or stopped by a failure that would repeat
  int stopEntry = 0;          // the entry of the reason it stopped
};

class FrontEnd {
 public:
  virtual ~FrontEnd() = default;

  // Replaces the text of status line 1, 2 or 3. Called from the worker; the
  // implementation carries it out on its UI thread and returns when done.
  virtual void setStatusLine(int line, const std::string& text) = 0;

  // The run has started: Cancel enabled, Exit disabled, Start shown pressed.
  virtual void runningState() = 0;

  // The run has ended. Code 999 shows message 57 on status line 1. Clears the
  // cancel flag and the running marker; Cancel disabled, Exit enabled, Start released.
  virtual void idleState(int code) = 0;

  // Text of message table entry `index` (0..99).
  virtual std::string message(int index) const = 0;

  // The user asked to stop; polled at each directory, file and block.
  virtual bool cancelRequested() const = 0;

  // What became of a file, after its status lines were shown. Front ends
  // that keep their own record of a run (the command-line tool) take it here.
  virtual void fileDone(const FileOutcome&) {}

  // The counts of a run, just before its idle state.
  virtual void runEnded(const RunSummary&) {}
};

// Checks and splits the input and output fields of a run into `params`
// (job kind and options are copied in as given). Returns 0, or 999 after
// showing entry 51 (empty input), 64 (empty output) or 60 (a wildcard input
// with a single output name) on the status lines.
int prepareRun(int jobKind, bool optionA, bool optionB, const std::string& inputField,
               const std::string& outputField, FrontEnd& frontEnd, RunParameters& params);

// Carries out one run (the front end starts the worker thread that calls
// it): running state, the walk of every input's directories, one job per
// matching file, the end message and the idle state. All inputs share one
// job kind and one set of options. With `workers` above 1, that many files
// are converted at once on threads of their own; the outputs, the order of
// the fileDone calls and the counts are those of one worker, and only
// status line 1 (progress) is shown while they run. Returns 0, or 999 when
// the run stopped.
int runBatch(const std::vector<RunParameters>& inputs, FrontEnd& frontEnd, int workers = 1);
inline int runBatch(const RunParameters& params, FrontEnd& frontEnd) {
  return runBatch(std::vector<RunParameters>{params}, frontEnd);
}

// The output name of an input file `name` under the run's naming mode.
std::string deriveOutputName(const RunParameters& params, const std::string& name);

}  // namespace nubo::converter
