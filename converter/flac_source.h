// SPDX-License-Identifier: BSD-3-Clause
// Samples from a 16-bit FLAC file of 1 or 2 channels, decoded by libFLAC with
// its MD5 checked at the end; the compressed file's fields it carries come
// from its VORBIS_COMMENT block. Built only with libFLAC.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "pcm_stream.h"

namespace nubo::converter {

// Starts decoding `in` from its first byte. False, with `detail`, when it is a
// damaged FLAC file or not one of 16 bits and 1 or 2 channels.
bool openFlacSource(std::unique_ptr<ByteSource> in, std::unique_ptr<PcmSource>& source, std::string& detail);

}  // namespace nubo::converter
