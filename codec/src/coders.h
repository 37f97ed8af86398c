// SPDX-License-Identifier: BSD-3-Clause
// The nine block operations, three per coder version, and the dispatch that
// NuboWaveConvert runs. Every operation takes the caller's record and buffers
// (sample bytes are little-endian 16-bit values, channels interleaved).
#pragma once

#include <cstdint>

#include "format.h"
#include "nubocodec.h"

namespace nubo::codec {

// REQUIRES (all nine): params.channels is 1 or 2 (checked by convert());
// the code buffer holds kMaxCodeBlockBytes; the sample buffer holds
// 2 * kMaxSamples bytes.
[[nodiscard]] CodecResult EncodeBlockV20(ConvertParams& params, const uint8_t* samples, uint8_t* code);
[[nodiscard]] CodecResult DecodeBlockV20(ConvertParams& params, uint8_t* samples, const uint8_t* code);
[[nodiscard]] CodecResult VerifyBlockV20(ConvertParams& params, const uint8_t* samples, const uint8_t* code);

[[nodiscard]] CodecResult EncodeBlockV21(ConvertParams& params, const uint8_t* samples, uint8_t* code);
[[nodiscard]] CodecResult DecodeBlockV21(ConvertParams& params, uint8_t* samples, const uint8_t* code);
[[nodiscard]] CodecResult VerifyBlockV21(ConvertParams& params, const uint8_t* samples, const uint8_t* code);

[[nodiscard]] CodecResult EncodeBlockV22(ConvertParams& params, const uint8_t* samples, uint8_t* code);
[[nodiscard]] CodecResult DecodeBlockV22(ConvertParams& params, uint8_t* samples, const uint8_t* code);
[[nodiscard]] CodecResult VerifyBlockV22(ConvertParams& params, const uint8_t* samples, const uint8_t* code);

namespace detail {

// Which vector code the version-21 encoder may use. Best takes AVX2 where
// the machine has it: widths as bytes, seven running counts per predictor
// around its median instead of full histograms, and the sample codes formed
// eight at a time and joined in pairs. Sse2 counts full histograms with
// SSE2 widths and writes the codes one by one; Scalar is plain code
// throughout. Tests run every path: they must give the same candidates and
// the same blocks.
enum class V21Path { Best, Sse2, Scalar };

// What the statistics tell the encoder about one predictor: the width class
// and size of its block (header included, count extension excluded; class 15
// with the stored size when coding cannot win), and whether one of its
// residuals is too wide for the escape code.
struct V21Candidate {
  int widthClass;
  int64_t bytes;
  bool stored;
  bool tooWide;
};

// The candidates of the nine predictors for samples x[0..n) with c
// channels. REQUIRES: x[-2c..-1] are 0, and x[n..n+31] are 0.
void v21Candidates(const int16_t* x, int n, int c, V21Candidate (&out)[kV21Predictors], V21Path path);

[[nodiscard]] CodecResult encodeBlockV21(ConvertParams& params, const uint8_t* samples, uint8_t* code,
                                         V21Path path);

// How the version-22 encoder forms its sample codes: Best joins them in pairs
// with AVX2 where the machine has it, Plain writes them one by one. Both give
// the same bytes; tests compare them.
enum class V22Path { Best, Plain };

[[nodiscard]] CodecResult encodeBlockV22(ConvertParams& params, const uint8_t* samples, uint8_t* code,
                                         V22Path path);

}  // namespace detail

// The whole call: version dispatch, channel check, flags, verify.
[[nodiscard]] CodecResult convert(ConvertParams& params, void* samples, void* code);

}  // namespace nubo::codec
