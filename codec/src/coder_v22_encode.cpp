// SPDX-License-Identifier: BSD-3-Clause
// Coder version 22, encoder: a third-order linear predictor per channel,
// fitted to the block by least squares, its three coefficients sent in 10-bit
// fields before the sample codes.
//
// Three passes over the block: the sums of products, the residuals with
// their widths, and the bit stream, with the kernels of coder_v22_kernels.h.
#include <cfloat>
#include <cmath>
#include <cstdint>

#include "coder_v22_fit.h"
#include "coder_v22_kernels.h"
#include "coders.h"
#include "framing.h"
#include "sample_code.h"

// The fit must reproduce IEEE double arithmetic with every operation rounded
// on its own; excess precision would change the coefficients.
static_assert(FLT_EVAL_METHOD == 0, "double arithmetic must not carry excess precision");

namespace nubo::codec {
namespace detail {
namespace {

int32_t toCoefficient(double x) {
  const double scaled = x * 256.0;
  if (!std::isfinite(scaled) || scaled >= 9223372036854775808.0 || scaled < -9223372036854775808.0) return 0;
  const auto whole = static_cast<int64_t>(scaled);  // truncation toward zero
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(whole)));
}

int32_t clampTo(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : (v > hi ? hi : v); }

// The fit over samples s[0..n-1] with zeros before them.
Coefficients fitHistory(const int16_t* s, int n, int c) {
  const Sums sums = sumsOf(s, n, c);
  const int64_t e = sums.e, r1 = sums.r1, r2 = sums.r2, r3 = sums.r3;
  // The normal equations run over positions 0..n; the lags push some
  // products past the block's end, which are taken off here. Samples at
  // negative positions are 0.
  auto at = [&](int i) -> int64_t { return i >= 0 ? s[i] : 0; };
  int64_t a11, a22, a33, a12, a23, a13;
  if (c == 1) {
    a11 = e;
    a22 = e - at(n - 1) * at(n - 1);
    a33 = a22 - at(n - 2) * at(n - 2);
    a12 = r1;
    a23 = r1 - at(n - 1) * at(n - 2);
    a13 = r2;
  } else {
    a11 = e - at(n - 1) * at(n - 1);
    a22 = a11 - at(n - 2) * at(n - 2) - at(n - 3) * at(n - 3);
    a33 = a22 - at(n - 4) * at(n - 4) - at(n - 5) * at(n - 5);
    a12 = r1 - at(n - 1) * at(n - 3);
    a23 = a12 - at(n - 2) * at(n - 4) - at(n - 3) * at(n - 5);
    a13 = r2 - at(n - 1) * at(n - 5);
  }
  if (a11 < 1 || a22 < 1 || a33 < 1) return {256, 0, 0};

  // Gaussian elimination without pivoting, in the fixed order of the format.
  double A11 = static_cast<double>(a11), A12 = static_cast<double>(a12), A13 = static_cast<double>(a13);
  double A21 = A12, A22 = static_cast<double>(a22), A23 = static_cast<double>(a23);
  double A31 = A13, A32 = A23, A33 = static_cast<double>(a33);
  double R1 = static_cast<double>(r1), R2 = static_cast<double>(r2), R3 = static_cast<double>(r3);
  A12 = A12 / A11;
  A13 = A13 / A11;
  R1 = R1 / A11;
  A22 = A22 - A21 * A12;
  A23 = A23 - A21 * A13;
  R2 = R2 - A21 * R1;
  A32 = A32 - A31 * A12;
  A33 = A33 - A31 * A13;
  R3 = R3 - A31 * R1;
  A23 = A23 / A22;
  R2 = R2 / A22;
  A33 = A33 - A32 * A23;
  R3 = R3 - A32 * R2;
  R3 = R3 / A33;
  const double x3 = R3;
  const double x2 = R2 - A23 * x3;
  const double x1 = (R1 - A12 * x2) - A13 * x3;
  return {clampTo(toCoefficient(x1), -128, 895), clampTo(toCoefficient(x2), -895, 128),
          clampTo(toCoefficient(x3), -255, 255)};
}

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
