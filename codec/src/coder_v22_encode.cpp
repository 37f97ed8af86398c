// SPDX-License-Identifier: BSD-3-Clause
// Coder version 22, encoder: a third-order linear predictor per channel,
// fitted to the block by least squares, its three coefficients sent in 10-bit
// fields before the sample codes.
//
// Three passes over the block: the sums of products, the residuals with
// their widths, and the bit stream, with the kernels of coder_v22_kernels.h.
#include <cstdint>

#include "coder_v22_fit.h"
#include "coder_v22_kernels.h"
#include "coders.h"
#include "framing.h"
#include "sample_code.h"

namespace nubo::codec {
namespace detail {
namespace {

// The fit over samples s[0..n-1] with zeros before them.
Coefficients fitHistory(const int16_t* s, int n, int c) { return fitFromSums(s, n, c, sumsOf(s, n, c)); }

}  // namespace

Coefficients fitV22(const uint8_t* samples, int n, int c) {
  const History history(samples, n);
  return fitHistory(history.samples(), n, c);
}

}  // namespace detail

CodecResult detail::encodeBlockV22(ConvertParams& params, const uint8_t* samples, uint8_t* code, V22Path path) {
  params.decodedCount = params.sampleCount;
  const int n = params.sampleCount;
  if (n > kMaxSamples) return CodecResult::TooManySamples;
  const int c = params.channels;
  const detail::History history(samples, n);
  const detail::Coefficients a = detail::fitHistory(history.samples(), n, c);

  // Sized for whole vector groups; entries from n on are not used.
  int32_t residual[kMaxSamples + detail::kLanes];
  uint8_t width[kMaxSamples + detail::kLanes];
  detail::residualsOf(history.samples(), n, c, a, residual, width);
  int32_t h[kHistogramBins];
  countWidths(width, n, h);

  const WidthClassChoice choice = chooseWidthClass(h, n, kV22HeadBits, 15);
  CodedEstimate estimate;
  estimate.widthClass = choice.widthClass;
  estimate.bytes = choice.bytes;
  // Residuals of 17 bits or more do not fit the escape code. Classes 14 and
  // 15 always cost more than storing; the test only keeps the header's class
  // field from ever reading 15 for a coded block.
  estimate.mustStore = !choice.found || h[17] + h[18] + h[19] > 0 || choice.widthClass >= kCodeClasses;

  EncodeFrame frame;
  const CodecResult r = frameEncode(params, estimate, samples, code, frame);
  if (r != CodecResult::Ok || frame.stored) return r;

  detail::writeV22Body(frame.body, estimate.bytes - kHeaderBytes, a, residual, width, n, estimate.widthClass,
                       path == V22Path::Best ? detail::BodyPath::Best : detail::BodyPath::Plain);
  return CodecResult::Ok;
}

CodecResult EncodeBlockV22(ConvertParams& params, const uint8_t* samples, uint8_t* code) {
  return detail::encodeBlockV22(params, samples, code, detail::V22Path::Best);
}

}  // namespace nubo::codec
