// The conversion jobs of one run: each converts the file at the current
// input path into the current output path, shows its progress and result on
// the status lines and returns a JobResult.
#pragma once

#include <string>

#include "front_end.h"

namespace nubo::converter {

// What the batch worker shares with the jobs during a run.
struct RunState {
  RunState(const RunParameters& p, FrontEnd& f) : params(p), frontEnd(f) {}
  const RunParameters& params;
  FrontEnd& frontEnd;
  long doneCount = 0;
  long skippedCount = 0;
  std::string inputPath;
  std::string outputPath;
  std::string outputDirectory;  // of the directory being processed, no trailing '/'
};

// Runs the job of `jobKind` (2, 3, 4 or 5) on the current paths.
JobResult runJob(RunState& run, int jobKind);

// The count line: done count and entry 55, with option A clear also the
// skipped count and entry 68.
void showCountLine(RunState& run);

}  // namespace nubo::converter
