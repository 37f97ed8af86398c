// SPDX-License-Identifier: BSD-3-Clause
// The searching version-22 encoder: for each block it looks for the cheapest
// valid version-22 code block among several predictors and every width
// class, where the reference encoder of libnubocodec takes its one fitted
// predictor and its median class. Every version-22 decoder reads its blocks.
//
// A static library of its own (nubo_search) that the programs link beside
// libnubocodec: the shared library keeps exporting NuboWaveConvert alone,
// and its encode stays the reference encoder.
#pragma once

#include <cstdint>

#include "nubocodec.h"

namespace nubo::search {

// Encodes the block of the sample buffer with coder version 22 into the
// code buffer, as NuboWaveConvert does with coderVersion 22 and
// NUBO_FLAG_ENCODE (NUBO_FLAG_COUNT_EXTENSION honoured, the other flags
// ignored): same framing, stored rule, record fields and results. The block
// is never larger than the reference encoder's. Before returning, the block
// is decoded again through NuboWaveConvert and compared with the samples:
// a difference gives NUBO_VERIFY_MISMATCH with the report of the verify
// step, a decoded length that differs NUBO_SIZE_MISMATCH.
// Buffers as for NuboWaveConvert. Allocates nothing.
int32_t EncodeBlockV22Best(ConvertParams* params, const void* samples, void* code);

}  // namespace nubo::search
