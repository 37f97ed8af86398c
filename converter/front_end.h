// The one interface through which the jobs and the batch worker show a run.
// The window implements it with its controls, the command-line tool with its
// terminal, the tests with a recorder. No toolkit type crosses it.
#pragma once

#include <string>

namespace nubo::converter {

enum class JobResult : int { Converted = 0, Skipped = 9, StopBatch = 999 };

// Job kinds of a run.
inline constexpr int kJobEncode = 2;           // PCM WAVE -> version-22 compressed file
inline constexpr int kJobEncodeVerify = 3;     // encode, then verify the result
inline constexpr int kJobReencode = 4;         // version 20/21 compressed file -> version 22
inline constexpr int kJobVerify = 5;           // compressed file against a PCM WAVE file

// A run's choices, prepared from the input and output fields when it starts
// and read (never written) by the worker.
struct RunParameters {
  int jobKind = kJobReencode;
  bool optionA = false;            // overwrite existing output files
  bool optionB = false;            // include subdirectories
  std::string inputDirectory;      // no trailing '/'; "." when the field had none
  std::string inputPattern;        // '*' and '?' wildcards, matched without regard to case
  bool wildcard = false;           // the input pattern contains '*'
  std::string outputDirectory;
  std::string outputName;
  int namingMode = 0;              // 0 exact name, 1 extension -> replacementExtension, 2 toggle '!'
  std::string replacementExtension = ".NAB";
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

  // The user asked to stop; polled at each directory and each block.
  virtual bool cancelRequested() const = 0;
};

// Checks and splits the input and output fields of a run into `params`
// (job kind and options are copied in as given). Returns 0, or 999 after
// showing entry 51 (empty input), 64 (empty output) or 60 (a wildcard input
// with a single output name) on the status lines.
int prepareRun(int jobKind, bool optionA, bool optionB, const std::string& inputField,
               const std::string& outputField, FrontEnd& frontEnd, RunParameters& params);

// Carries out one run on the calling thread (the front end starts the
// worker thread): running state, the directory walk, one job per matching
// file, the end message and the idle state. Returns 0 or 999.
int runBatch(const RunParameters& params, FrontEnd& frontEnd);

// The output name of an input file `name` under the run's naming mode.
std::string deriveOutputName(const RunParameters& params, const std::string& name);

}  // namespace nubo::converter
