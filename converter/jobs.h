// SPDX-License-Identifier: BSD-3-Clause
// The conversion jobs of one run: each converts the file at the current
// input path into the current output path, shows its progress and result on
// the status lines and says what became of the file.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <utility>

#include "front_end.h"
#include "os.h"

namespace nubo::converter {

// What the batch worker shares with the jobs during a run.
struct RunState {
  RunState(const RunParameters& p, FrontEnd& f) : params(&p), frontEnd(f) {}
  const RunParameters* params;  // those of the input the current file came from
  FrontEnd& frontEnd;
  long doneCount = 0;
  long skippedCount = 0;
  std::string inputPath;
  std::string outputPath;
  // The input was named on its own (no wildcard, in the top directory): a
  // file passed over then says why.
  bool explicitInput = false;
  // The files this run converts, by device and inode: no output may
  // replace one of them. Shared, read-only, by every worker of the run.
  const std::set<std::pair<uint64_t, uint64_t>>* runInputs = nullptr;
};

// Whether the file at `path` is one that a job of `jobKind` converts, from
// its header. False with the entry (and a detail) that says why not.
bool isJobInput(int jobKind, const std::string& path, int& entry, std::string& detail);

// The reasons that say a file is not of the kind a job takes: passed over
// without a message when found in a directory, said when named on its own.
bool isNotOfTheKind(int entry);

// Runs the job of `jobKind` on the current paths. The outcome has been shown
// on the status lines; the caller ends the run when it is Stopped.
FileOutcome runJob(RunState& run, int jobKind);

// Shows `entry` on status line 2 and `subject` on line 3, with `detail` and
// the temporary file `keptAs` (a partial output) after it in parentheses,
// and makes the outcome of it.
FileOutcome showOutcome(RunState& run, Outcome outcome, int entry, const std::string& subject,
                        const std::string& detail = "", const std::string& keptAs = "");

// The count line: done count and entry 55, with option A clear also the
// skipped count and entry 68.
void showCountLine(RunState& run);

}  // namespace nubo::converter
