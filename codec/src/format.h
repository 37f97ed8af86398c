// SPDX-License-Identifier: BSD-3-Clause
// Field widths and limits of the code block format (docs/format.md), shared by
// every coder so that both directions use the same names.
#pragma once

#include <cstddef>
#include <cstdint>

namespace nubo::codec {

inline constexpr int kMaxSamples = 2047;             // samples per block, all channels
inline constexpr std::size_t kMaxCodeBlockBytes = 4098;  // header + count extension + 2047 stored samples
inline constexpr int kHeaderBytes = 2;                // block header word
inline constexpr int kCountExtensionBytes = 2;        // sample count after a 4095 size field
inline constexpr unsigned kSizeFieldBits = 12;
inline constexpr unsigned kSizeFieldMask = 0x0FFF;
inline constexpr unsigned kCountExtensionMark = 4095; // size field value announcing a count extension
inline constexpr unsigned kStoredClass = 15;          // width class of a stored block
inline constexpr int kHistogramBins = 20;             // residual widths 0..19
inline constexpr int kEscapeBits = 17;                // value bits of the escape code
inline constexpr int kEscapeCodeBits = 21;            // 0000 prefix + 17 value bits
inline constexpr int kVerifyBufferBytes = 4100;       // private decode area of the verify step

inline constexpr int kV21PredictorBits = 4;           // predictor index at the head of a v21 body
inline constexpr int kV21Predictors = 9;
inline constexpr int kV22CoefficientBits = 10;        // each of the three v22 coefficient fields
inline constexpr int kV22HeadBits = 3 * kV22CoefficientBits;

enum class CodecResult : int {
  Ok = 0,
  UnsupportedVersion = 1,
  VerifyMismatch = 2,
  TooManySamples = 4,
  SizeMismatch = 8,
  UnsupportedChannels = 16,
};

}  // namespace nubo::codec
