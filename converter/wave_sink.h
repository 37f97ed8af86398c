// SPDX-License-Identifier: BSD-3-Clause
// Decoded samples into a 16-bit PCM WAVE file, or an RF64 file when the
// audio is more than a WAVE file's 32-bit sizes can say.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "pcm_stream.h"

namespace nubo::converter {

// Writes the header for `expectedFrames` frames and returns the sink; nullptr
// with `error` when the header could not be written. On an output that cannot
// seek (`seekable` false) the header is never corrected afterwards. The
// `chunks` of the input stand where they stood: before the format chunk,
// before the data chunk, after the audio.
std::unique_ptr<PcmSink> startWaveSink(ByteSink& out, const PcmFormat& format, int64_t expectedFrames, bool seekable,
                                       const ForeignChunks& chunks, std::string& error);

}  // namespace nubo::converter
