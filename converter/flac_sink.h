// SPDX-License-Identifier: BSD-3-Clause
// Decoded samples into a FLAC file through libFLAC, every sample checked by
// decoding the bytes written. Built only with libFLAC.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "file_format.h"

namespace nubo::converter {

// Starts the encoder (at the request's level, carrying its fields in the
// VORBIS_COMMENT block) and its checking decoder on their threads; nullptr
// with `error` when libFLAC refuses the stream.
std::unique_ptr<PcmSink> startFlacSink(ByteSink& out, const SinkRequest& request, std::string& error);

}  // namespace nubo::converter
