// SPDX-License-Identifier: BSD-3-Clause
// A version-22 compressed file written from samples held in memory, for
// libraries that hand nubo their audio (the Python module). The file goes
// through the output rules every job follows (SafeOutput): written under a
// temporary name, named only when complete, never over a run's input, a
// device or a file of another kind, and over an existing compressed file
// only when `overwrite` is asked for.
#pragma once

#include <cstdint>
#include <string>

#include "run_events.h"

namespace nubo::converter {

// Writes `frames` frames of `channels` (1 or 2) interleaved 16-bit samples,
// low byte first, at `sampleRate` to `path`. The outcome is Converted, or
// says why not (Skipped for a complete existing file without `overwrite`);
// the caller has checked that the block length is usable (usableSampleRate).
FileOutcome writeCompressedSamples(const std::string& path, const void* samples, int64_t frames, int channels,
                                   int32_t sampleRate, bool overwrite);

// Whether a file of `channels` at `sampleRate` has a block length of 1..2047.
bool usableSampleRate(int channels, int64_t sampleRate);

}  // namespace nubo::converter
