// SPDX-License-Identifier: BSD-3-Clause
// The batch worker: carries out one run request. It walks every input into
// the plan of the run (the files it takes, with their outputs), makes the
// checks that need the whole run, converts each file, and tells the
// observer what happens. Front ends start it on a thread of their own.
#pragma once

#include "run_events.h"
#include "run_request.h"

namespace nubo::converter {

// Carries out `request`: runStarted, the walk, runPlanned, then per file
// fileBegun, progress and notices, fileDone (in the order of the plan, also
// with several workers), and runEnded with the counts, which it also returns.
// `stop` is polled at each directory, file and block; a run stopped keeps
// the partial output of its current file under its temporary name.
// With `request.options.workers` above 1, that many files are converted at once.
RunSummary runBatch(const RunRequest& request, RunObserver& observer, const StopFlag& stop);

}  // namespace nubo::converter
