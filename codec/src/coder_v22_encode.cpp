// Coder version 22, encoder: a third-order linear predictor per channel,
// fitted to the block by least squares, its three coefficients sent in 10-bit
// fields before the sample codes.
#include <cfloat>
#include <cmath>
#include <cstdint>

#include "bit_io.h"
#include "coder_v22_fit.h"
#include "coders.h"
#include "framing.h"
#include "sample_code.h"

// The fit must reproduce IEEE double arithmetic with every operation rounded
// on its own; excess precision would change the coefficients.
static_assert(FLT_EVAL_METHOD == 0, "double arithmetic must not carry excess precision");

namespace nubo::codec {
namespace detail {
namespace {

constexpr int kLagZeros = 6;  // three zero start values for two channels

int32_t toCoefficient(double x) {
  const double scaled = x * 256.0;
  if (!std::isfinite(scaled) || scaled >= 9223372036854775808.0 || scaled < -9223372036854775808.0) return 0;
  const auto whole = static_cast<int64_t>(scaled);  // truncation toward zero
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(whole)));
}

int32_t clampTo(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : (v > hi ? hi : v); }

}  // namespace

Coefficients fitV22(const uint8_t* samples, int n, int c) {
  int32_t history[kLagZeros + kMaxSamples] = {};
  int32_t* const s = history + kLagZeros;
  int64_t e = 0, r1 = 0, r2 = 0, r3 = 0;
  for (int i = 0; i < n; ++i) {
    s[i] = loadSample(samples, i);
    e += int64_t{s[i]} * s[i];
    r1 += int64_t{s[i]} * s[i - c];
    r2 += int64_t{s[i]} * s[i - 2 * c];
    r3 += int64_t{s[i]} * s[i - 3 * c];
  }
  // Samples at negative positions are 0 (the zeros before s).
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

}  // namespace detail

CodecResult EncodeBlockV22(ConvertParams& params, const uint8_t* samples, uint8_t* code) {
  params.decodedCount = params.sampleCount;
  const int n = params.sampleCount;
  if (n > kMaxSamples) return CodecResult::TooManySamples;
  const int c = params.channels;
  const detail::Coefficients a = detail::fitV22(samples, n, c);

  int32_t history[6 + kMaxSamples] = {};
  int32_t* const s = history + 6;
  int32_t residual[kMaxSamples];
  uint8_t width[kMaxSamples];
  int32_t h[kHistogramBins] = {};
  for (int i = 0; i < n; ++i) {
    s[i] = loadSample(samples, i);
    const int32_t p = (a.a1 * s[i - c] + a.a2 * s[i - 2 * c] + a.a3 * s[i - 3 * c]) >> 8;
    const int32_t e = s[i] - p;
    const int w = residualWidth(e);
    residual[i] = e;
    width[i] = static_cast<uint8_t>(w);
    ++h[w];
  }

  const WidthClassChoice choice = chooseWidthClass(h, n, kV22HeadBits, 15);
  CodedEstimate estimate;
  estimate.widthClass = choice.widthClass;
  estimate.bytes = choice.bytes;
  estimate.mustStore = !choice.found;
  // Residuals of 17 bits or more do not fit the escape code.
  if (h[17] + h[18] + h[19] > 0) estimate.mustStore = true;

  EncodeFrame frame;
  const CodecResult r = frameEncode(params, estimate, samples, code, frame);
  if (r != CodecResult::Ok || frame.stored) return r;

  BitWriter out(frame.body);
  out.put(static_cast<uint32_t>(a.a1 + 128), kV22CoefficientBits);
  out.put(static_cast<uint32_t>(128 - a.a2), kV22CoefficientBits);
  out.put(static_cast<uint32_t>(a.a3 + 256), kV22CoefficientBits);
  for (int i = 0; i < n; ++i) putSampleCode(out, residual[i], width[i], estimate.widthClass);
  out.finish();
  return CodecResult::Ok;
}

}  // namespace nubo::codec
