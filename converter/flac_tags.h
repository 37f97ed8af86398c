// SPDX-License-Identifier: BSD-3-Clause
// The compressed file's fields that a FLAC file carries in its VORBIS_COMMENT
// block: the preamble as hexadecimal digits, the coder parameter and version
// as decimal numbers.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "pcm_stream.h"

namespace nubo::converter {

// Lower-case hexadecimal digits, two per byte.
std::string toHex(const std::string& bytes);
// The bytes of an even number of hexadecimal digits (either case); false
// for anything else.
bool fromHex(const std::string& hex, std::string& bytes);

// The comments (name, value) that carry `carried`, in the order written;
// without NUBO_PREAMBLE when the preamble holds WAVE chunks, which a FLAC
// file carries as "riff" APPLICATION blocks instead.
std::vector<std::pair<std::string, std::string>> carriedTags(const CarriedFields& carried);
// Takes one comment of a FLAC file (name and value) into `carried` when it
// is one of the carried fields; other comments change nothing.
void applyCarriedTag(const std::string& name, const std::string& value, CarriedFields& carried);

}  // namespace nubo::converter
