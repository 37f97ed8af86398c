// SPDX-License-Identifier: BSD-3-Clause
// The kernels of version-22 encoding, shared by the reference encoder
// (coder_v22_encode.cpp) and the searching encoder (codec/search/): the block
// between zero runs, the sums of products, the reference fit, the residuals
// and widths of one coefficient vector, and the writing of a coded body.
//
// The first two run on 16-bit lanes where the target has SSE2 (every x86-64
// machine), with a scalar form elsewhere; both give the same integers.
#pragma once

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#include <immintrin.h>
#endif

#include "bit_io.h"
#include "coder_v22_fit.h"
#include "format.h"
#include "framing.h"
#include "paired_codes.h"
#include "sample_code.h"

// The fit must reproduce IEEE double arithmetic with every operation rounded
// on its own; excess precision would change the coefficients.
static_assert(FLT_EVAL_METHOD == 0, "double arithmetic must not carry excess precision");

namespace nubo::codec::detail {

// The samples of a block as 16-bit values between zero runs: kLead zeros
// before them (the lags reach back at most 3c = 6 samples) and enough after
// them that vector loops may run over whole groups of kLanes.
constexpr int kLanes = 8;
constexpr int kLead = 8;
constexpr int kHistoryLength = kLead + kMaxSamples + 2 * kLanes;

struct History {
  alignas(16) int16_t values[kHistoryLength];

  // Only the zeros around the samples are written: clearing the whole array
  // for every block costs about as much as copying the samples.
  History(const uint8_t* samples, int n) {
    std::memset(values, 0, sizeof(int16_t) * kLead);
    int16_t* const s = values + kLead;
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(s, samples, 2 * static_cast<std::size_t>(n));
    } else {
      for (int i = 0; i < n; ++i) s[i] = loadSample(samples, i);
    }
    std::memset(s + n, 0, sizeof(int16_t) * static_cast<std::size_t>(kHistoryLength - kLead - n));
  }
  const int16_t* samples() const { return values + kLead; }
};

// n rounded up to whole vector groups.
inline int groupedLength(int n) { return (n + kLanes - 1) / kLanes * kLanes; }

struct Sums {
  int64_t e = 0, r1 = 0, r2 = 0, r3 = 0;  // sum of s[i] * s[i - j*c] for j = 0..3
};

#if defined(__SSE2__)

// pmaddwd adds two products of 16-bit values into a 32-bit lane. The exact
// sum lies in [-2^31 + 2^16, 2^31] and only its top value, 2^31 (both
// products (-32768)^2), wraps, to -2^31, which no other sum reaches. So the
// wrapped lane minus 1 (wrapping again) is always the exact sum minus 1, in
// range; the lanes are widened and added up as that, and the ones taken off
// are put back at the end.
inline __m128i madd64(__m128i acc, __m128i x, __m128i y) {
  const __m128i t = _mm_sub_epi32(_mm_madd_epi16(x, y), _mm_set1_epi32(1));
  const __m128i sign = _mm_srai_epi32(t, 31);
  return _mm_add_epi64(acc, _mm_add_epi64(_mm_unpacklo_epi32(t, sign), _mm_unpackhi_epi32(t, sign)));
}

inline int64_t horizontalSum(__m128i v) {
  alignas(16) int64_t lanes[2];
  _mm_store_si128(reinterpret_cast<__m128i*>(lanes), v);
  return lanes[0] + lanes[1];
}

inline Sums sumsOf(const int16_t* s, int n, int c) {
  __m128i e = _mm_setzero_si128(), r1 = e, r2 = e, r3 = e;
  const int length = groupedLength(n);  // the zeros after the block add nothing
  for (int i = 0; i < length; i += kLanes) {
    const __m128i x0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
    const __m128i x1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i - c));
    const __m128i x2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i - 2 * c));
    const __m128i x3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i - 3 * c));
    e = madd64(e, x0, x0);
    r1 = madd64(r1, x0, x1);
    r2 = madd64(r2, x0, x2);
    r3 = madd64(r3, x0, x3);
  }
  const int64_t taken = length / 2;  // one per 32-bit lane of every step
  return {horizontalSum(e) + taken, horizontalSum(r1) + taken, horizontalSum(r2) + taken,
          horizontalSum(r3) + taken};
}

// Residuals and their widths for the groups covering samples 0..n-1.
//   t = a1*s[i-c] + a2*s[i-2c] + a3*s[i-3c] - 256*s[i] (two pmaddwd)
//   e = s[i] - (P >> 8) = -(t >> 8), as P >> 8 - s[i] = (P - 256*s[i]) >> 8.
// Width: the exponent of the float 2|e| + 1, exact for |e| < 2^23, gives
// floor(log2(2|e| + 1)) = residualWidth(e), also for e = 0.
inline void residualsOf(const int16_t* s, int n, int c, const Coefficients& a, int32_t* residual, uint8_t* width) {
  const __m128i a12 = _mm_set1_epi32(static_cast<int32_t>((static_cast<uint32_t>(a.a2) << 16) |
                                                          (static_cast<uint32_t>(a.a1) & 0xFFFF)));
  const __m128i a30 = _mm_set1_epi32(static_cast<int32_t>((static_cast<uint32_t>(-256) << 16) |
                                                          (static_cast<uint32_t>(a.a3) & 0xFFFF)));
  const __m128i zero = _mm_setzero_si128();
  const __m128i one = _mm_set1_epi32(1);
  const __m128i bias = _mm_set1_epi32(127);
  const int length = groupedLength(n);
  for (int i = 0; i < length; i += kLanes) {
    const __m128i x0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
    const __m128i x1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i - c));
    const __m128i x2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i - 2 * c));
    const __m128i x3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i - 3 * c));
    __m128i e[2];
    __m128i w[2];
    for (int half = 0; half < 2; ++half) {
      const __m128i p12 = half == 0 ? _mm_unpacklo_epi16(x1, x2) : _mm_unpackhi_epi16(x1, x2);
      const __m128i p30 = half == 0 ? _mm_unpacklo_epi16(x3, x0) : _mm_unpackhi_epi16(x3, x0);
      const __m128i t = _mm_add_epi32(_mm_madd_epi16(p12, a12), _mm_madd_epi16(p30, a30));
      e[half] = _mm_sub_epi32(zero, _mm_srai_epi32(t, 8));
      const __m128i sign = _mm_srai_epi32(e[half], 31);
      const __m128i magnitude = _mm_sub_epi32(_mm_xor_si128(e[half], sign), sign);
      const __m128 f = _mm_cvtepi32_ps(_mm_add_epi32(_mm_add_epi32(magnitude, magnitude), one));
      w[half] = _mm_sub_epi32(_mm_srli_epi32(_mm_castps_si128(f), 23), bias);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(residual + i), e[0]);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(residual + i + 4), e[1]);
    const __m128i w16 = _mm_packs_epi32(w[0], w[1]);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(width + i), _mm_packus_epi16(w16, w16));
  }
}

// With AVX2 the codes are formed eight at a time and joined in pairs
// (paired_codes.h). Covers the groups over samples 0..n-1.
// REQUIRES: every width below 17.
__attribute__((target("avx2"))) inline void pairedCodesAvx2(const int32_t* residual, const uint8_t* width, int n, int k,
                                                     uint64_t* pairs, uint32_t* lengths) {
  const PairedCodeClass codes = pairedCodeClass(k);
  const int length = groupedLength(n);
  for (int i = 0; i < length; i += kLanes) {
    const __m256i e = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(residual + i));
    const __m256i w = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(width + i)));
    pairedCodes8(codes, e, w, pairs + i / 2, lengths + i / 2);
  }
}

#else

inline Sums sumsOf(const int16_t* s, int n, int c) {
  Sums t;
  for (int i = 0; i < n; ++i) {
    const int32_t x = s[i];
    t.e += int64_t{x * x};
    t.r1 += int64_t{x * s[i - c]};
    t.r2 += int64_t{x * s[i - 2 * c]};
    t.r3 += int64_t{x * s[i - 3 * c]};
  }
  return t;
}

inline void residualsOf(const int16_t* s, int n, int c, const Coefficients& a, int32_t* residual, uint8_t* width) {
  for (int i = 0; i < n; ++i) {
    const int32_t p = (a.a1 * s[i - c] + a.a2 * s[i - 2 * c] + a.a3 * s[i - 3 * c]) >> 8;
    residual[i] = s[i] - p;
    width[i] = static_cast<uint8_t>(residualWidth(residual[i]));
  }
}

#endif

inline int32_t toCoefficient(double x) {
  const double scaled = x * 256.0;
  if (!std::isfinite(scaled) || scaled >= 9223372036854775808.0 || scaled < -9223372036854775808.0) return 0;
  const auto whole = static_cast<int64_t>(scaled);  // truncation toward zero
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(whole)));
}

inline int32_t clampTo(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : (v > hi ? hi : v); }

// The reference encoder's least-squares fit over samples s[0..n-1] with
// zeros before them, from their sums (sumsOf). The searching encoder takes
// it from the same sums for its candidate of the reference predictor.
// WATCHOUT: the result must be bit-exact IEEE double arithmetic, every
// operation rounded on its own: every unit that calls it is compiled with
// -ffp-contract=off and without fast-math (codec/CMakeLists.txt).
inline Coefficients fitFromSums(const int16_t* s, int n, int c, const Sums& sums) {
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

// How a coded body's sample codes are formed: Best joins them in pairs with
// AVX2 where the machine has it, Plain writes them one by one. Both give the
// same bytes.
enum class BodyPath { Best, Plain };

// Writes a coded body: the three coefficient fields, then the code of every
// residual under class k, padded to a whole byte. `bodyBytes` is the body's
// exact length (the block's size less the header).
// REQUIRES: residual/width as residualsOf() leaves them for n samples, every
// width below 17; 0 <= k <= 14; bodyBytes matches the codes' length.
inline void writeV22Body(uint8_t* body, int64_t bodyBytes, const Coefficients& a, const int32_t* residual,
                         const uint8_t* width, int n, int k, BodyPath path) {
  // The body is exactly bodyBytes long, so whole words may be stored ahead
  // while 8 bytes of it remain.
  const uint8_t* const end = body + bodyBytes;
  const SampleCodeWriter codes(k);
  BitWriter out(body);
  out.put(static_cast<uint32_t>(a.a1 + 128), kV22CoefficientBits);
  out.put(static_cast<uint32_t>(128 - a.a2), kV22CoefficientBits);
  out.put(static_cast<uint32_t>(a.a3 + 256), kV22CoefficientBits);
  int i = 0;
  bool paired = false;
#if defined(__SSE2__)
  if (path == BodyPath::Best && __builtin_cpu_supports("avx2")) {
    paired = true;
    uint64_t pairs[(kMaxSamples + kLanes) / 2];
    uint32_t pairLengths[(kMaxSamples + kLanes) / 2];
    pairedCodesAvx2(residual, width, n, k, pairs, pairLengths);
    i = putPairedCodes(out, end, pairs, pairLengths, 0, n);
  }
#endif
  if (!paired && out.roomFor(end) >= 8) {
    out.flushWords();  // fewer than 8 bits pending: room for two codes per step
    for (; i + 2 <= n && out.roomFor(end) >= 8; i += 2) {
      out.append(codes.code(residual[i], width[i]), codes.length(width[i]));
      out.append(codes.code(residual[i + 1], width[i + 1]), codes.length(width[i + 1]));
      out.flushWords();
    }
  }
  for (; i < n; ++i) out.put(codes.code(residual[i], width[i]), codes.length(width[i]));
  out.finish();
}

}  // namespace nubo::codec::detail
