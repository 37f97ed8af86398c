// SPDX-License-Identifier: BSD-3-Clause
// The parts of the searching encoder that tests reach: class costs, the
// bound, candidate costing and the block writer.
#pragma once

#include <cstdint>

#include "coder_v22_fit.h"
#include "coder_v22_kernels.h"
#include "format.h"
#include "nubocodec.h"

namespace nubo::search::detail {

using codec::kHistogramBins;
using codec::detail::Coefficients;
using codec::detail::History;

inline constexpr int kSearchClasses = 14;  // classes 0..13; 14 and up never beat the stored form

// The cheapest class for a width histogram and the length of the sample
// codes under it; a tie goes to the lower class.
// REQUIRES: no residual of width 17 or more (h[17..19] == 0).
struct ClassCost {
  int widthClass = 0;
  int64_t bits = 0;
};
ClassCost cheapestClass(const int32_t (&h)[kHistogramBins]);

// A lower bound on the sample-code bits of a block whose histogram so far
// is h and of which `remaining` residuals are still to come: every further
// code takes at least 1 bit under class 0 and k + 2 under class k.
int64_t lowerBoundBits(const int32_t (&h)[kHistogramBins], int remaining);

// The cheapest class of predictor a over samples s[0..n) (history as
// History leaves it), or false when a residual is 17 bits wide or more, or
// when the codes cannot stay within limitBits (checked as they are counted).
bool costOf(const int16_t* s, int n, int c, const Coefficients& a, int64_t limitBits, ClassCost& out);

// True when every coefficient lies within its field's range.
bool inRange(const Coefficients& a);

// A candidate predictor and its estimated squared error (from the fit's sums).
struct Candidate {
  Coefficients a;
  double squaredError;
};

// The candidates of a block, deduplicated and sorted by squared error:
// the nearest integer vectors around the least-squares optimum over the
// block's own samples, the fixed first-, second- and third-difference and
// zero predictors, and `reference`. `sums` are sumsOf(s, n, c). Returns
// their number.
inline constexpr int kMaxCandidates = 16;
int candidatesOf(const int16_t* s, int n, int c, const codec::detail::Sums& sums, const Coefficients& reference,
                 Candidate (&out)[kMaxCandidates]);

// What the search chose: a coded block (predictor, class, bytes without the
// count extension) or, when nothing codes within 2n + 2 bytes, storing.
struct Choice {
  bool coded = false;
  Coefficients a{256, 0, 0};
  int widthClass = 0;
  int64_t bytes = 0;
};

// Writes the block of `choice` by the framing rules (count extension,
// header, codeSize) without searching or verifying.
// REQUIRES: params.sampleCount <= 2047; channels 1 or 2; a coded choice
// whose bytes are those of its predictor and class.
int32_t writeBlock(ConvertParams& params, const uint8_t* samples, uint8_t* code, const Choice& choice);

// Decodes the block just written (codeSize bytes) through NuboWaveConvert
// and compares it with the samples: NUBO_VERIFY_MISMATCH with the verify
// step's report in the record, or NUBO_SIZE_MISMATCH when the decoder reads
// another length or count than was written.
int32_t checkBlock(ConvertParams& params, const uint8_t* samples, const uint8_t* code);

}  // namespace nubo::search::detail
