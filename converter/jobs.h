// SPDX-License-Identifier: BSD-3-Clause
// The conversion jobs of one run: each converts the file at the current
// input path into the current output path and says, as a typed outcome, what
// became of the file. Progress and notices go to the run's observer.
#pragma once

#include <atomic>
#include <cstdint>
#include <set>
#include <string>
#include <utility>

#include "file_io.h"
#include "run_events.h"
#include "run_request.h"

namespace nubo::converter {

// What the batch worker shares with the jobs during a run.
struct RunState {
  RunState(const RunRequest& r, RunObserver& o, const StopFlag& s) : request(r), observer(o), stop(s) {}
  const RunRequest& request;
  RunObserver& observer;
  const StopFlag& stop;
  // Set when one worker of a parallel run has met a failure that stops the run.
  const std::atomic<bool>* runStop = nullptr;
  std::size_t index = 0;  // of the current file in the plan
  std::string inputPath;
  std::string outputPath;
  // The input was named on its own (not found by a walk): a file passed
  // over then says why.
  bool explicitInput = false;
  // The files this run converts, by device and inode: no output may
  // replace one of them. Shared, read-only, by every worker of the run.
  const std::set<std::pair<uint64_t, uint64_t>>* runInputs = nullptr;
  // The standard input and output ("-"), as the front end hands them in.
  StandardStreams* streams = &processStandardStreams();

  bool stopRequested() const { return stop.requested() || (runStop != nullptr && runStop->load()); }
};

// Whether the file at `path` is one that `job` converts, from its header.
// False with the entry (and a detail) that says why not.
bool isJobInput(Job job, const std::string& path, int& entry, std::string& detail);

// Whether the file at `path` has the extension or the signature of the
// inputs of `job` (.NAB for the readers of compressed files; WAVE, RF64 or
// FLAC for the encoder).
bool looksLikeInputOf(Job job, const std::string& path);

// Whether a file found in a walk and refused for `entry` is merely of
// another kind, passed over without a message. A file that looks like one
// of the job's inputs but cannot be read is never passed over silently.
bool passedOverSilently(Job job, int entry, const std::string& path);

// Runs the run's job on the current paths; the caller ends the run when the
// outcome is Stopped.
FileOutcome runJob(RunState& run);

// The outcome of the current file, with its reason and what it is about.
FileOutcome makeOutcome(const RunState& run, Outcome outcome, int reason, const std::string& subject,
                        const std::string& detail = "", const std::string& systemError = "",
                        const std::string& keptAs = "");

}  // namespace nubo::converter
