// SPDX-License-Identifier: BSD-3-Clause
// Samples from a 16-bit PCM WAVE file (also the extensible format) or an
// RF64 file, read to the end of its data chunk.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "pcm_stream.h"

namespace nubo::converter {

// Reads the header of `in` from its first byte. False, with `detail` saying
// what the file is instead, unless it is a 16-bit PCM WAVE or RF64 file of 1
// or 2 channels.
bool openWaveSource(std::unique_ptr<ByteSource> in, std::unique_ptr<PcmSource>& source, std::string& detail);

}  // namespace nubo::converter
