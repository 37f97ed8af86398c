// SPDX-License-Identifier: BSD-3-Clause
// Decoded samples into a FLAC file through libFLAC, every sample checked by
// decoding the bytes written. Built only with libFLAC.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "pcm_stream.h"

namespace nubo::converter {

// Starts the encoder and its checking decoder on their threads; nullptr with
// `error` when libFLAC refuses the stream.
std::unique_ptr<PcmSink> startFlacSink(ByteSink& out, const PcmFormat& format, int64_t expectedFrames,
                                       const SinkOptions& options, std::string& error);

}  // namespace nubo::converter
