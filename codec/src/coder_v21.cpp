// Coder version 21: per block, the cheapest of nine slope predictors
// P1 + p * floor((P1 - P2) / 8), sent as a 4-bit index before the sample codes.
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#include <immintrin.h>
#endif

#include "bit_io.h"
#include "coders.h"
#include "framing.h"
#include "sample_code.h"

namespace nubo::codec {
namespace {

// Class and size of one predictor from its histogram; size is the whole
// block without count extension, or the stored size when coding cannot win.
struct Choice {
  int widthClass;
  int64_t bytes;
  bool stored;
};

Choice choose(const int32_t (&h)[kHistogramBins], int n) {
  const int64_t storedBytes = 2 * int64_t{n} + kHeaderBytes;
  const WidthClassChoice c = chooseWidthClass(h, n, kV21PredictorBits, 15);
  if (!c.found || c.bytes > storedBytes) return {15, storedBytes, true};
  return {c.widthClass, c.bytes, false};
}

// floor((P1 - P2) / 8), wrapping: only a damaged stream's history leaves
// the 16-bit range.
inline int32_t slope(int32_t p1, int32_t p2) {
  return static_cast<int32_t>(static_cast<uint32_t>(p1) - static_cast<uint32_t>(p2)) >> 3;
}

// The width histograms of the nine predictors' residuals d - p * S.
//
// This is the encoder's hot spot: nine residuals and widths per sample. The
// widths are formed for the whole block first (on 16-bit lanes where the
// target has SSE2), then counted. Counting them one by one would cost nine
// increments per sample, so predictors are counted in pairs (0,1), (2,3),
// (4,5), (6,7): one increment of a two-dimensional histogram per pair, whose
// row and column sums are the two predictors' histograms. Each table has
// four copies, for consecutive samples, so that repeated increments of one
// counter (widths change slowly) do not wait on each other.
// REQUIRES: every |d - p * S| < 2^17 (widths 0..17).
constexpr int kWidthsV21 = 18;
constexpr int kPairBins = kWidthsV21 * kWidthsV21;
constexpr int kCopies = 4;

// Samples as 16-bit values after kLead zeros (the lags reach back 2c <= 4
// samples), with room after them for whole groups of kLanes.
constexpr int kLanes = 8;
constexpr int kLead = 8;

struct Indexes {
  uint16_t pair[4][kMaxSamples + kLanes];
  uint16_t last[kMaxSamples + kLanes];
};

inline void indexesOfSample(const int16_t* x, int k, int c, Indexes& out) {
  const int32_t d = x[k] - x[k - c];
  const int32_t s = slope(x[k - c], x[k - 2 * c]);
  for (int q = 0; q < 4; ++q) {
    const int a = smallResidualWidth(d - 2 * q * s);
    const int b = smallResidualWidth(d - (2 * q + 1) * s);
    out.pair[q][k] = static_cast<uint16_t>(a * kWidthsV21 + b);
  }
  out.last[k] = static_cast<uint16_t>(smallResidualWidth(d - 8 * s));
}

#if defined(__SSE2__)

// Widths of eight residuals held in two vectors of four: the float of r has
// the biased exponent 126 + width for r != 0 and 0 for r = 0 (exact for
// |r| < 2^24), so the exponent less 126, saturated at 0, is the width.
inline __m128i widths16(__m128i lo, __m128i hi) {
  const __m128i e = _mm_packs_epi32(_mm_srli_epi32(_mm_castps_si128(_mm_cvtepi32_ps(lo)), 23),
                                    _mm_srli_epi32(_mm_castps_si128(_mm_cvtepi32_ps(hi)), 23));
  return _mm_subs_epu16(_mm_and_si128(e, _mm_set1_epi16(0xFF)), _mm_set1_epi16(126));
}

inline __m128i widen(__m128i v, bool high) {
  return _mm_srai_epi32(high ? _mm_unpackhi_epi16(v, v) : _mm_unpacklo_epi16(v, v), 16);
}

// Whole groups of eight samples from sample `from` on; returns the index of
// the first sample not done.
int indexesOfGroups(const int16_t* x, int from, int n, int c, Indexes& out) {
  const __m128i rowStride = _mm_set1_epi16(kWidthsV21);
  int k = from;
  for (; k + kLanes <= n; k += kLanes) {
    const __m128i x0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + k));
    const __m128i x1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + k - c));
    const __m128i x2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + k - 2 * c));
    __m128i r[2], s[2];
    for (int h = 0; h < 2; ++h) {
      const __m128i p1 = widen(x1, h == 1);
      r[h] = _mm_sub_epi32(widen(x0, h == 1), p1);
      s[h] = _mm_srai_epi32(_mm_sub_epi32(p1, widen(x2, h == 1)), 3);
    }
    // Predictor p's residual is d - p * S: one subtraction of S per predictor.
    auto next = [&]() {
      const __m128i w = widths16(r[0], r[1]);
      r[0] = _mm_sub_epi32(r[0], s[0]);
      r[1] = _mm_sub_epi32(r[1], s[1]);
      return w;
    };
    for (int q = 0; q < 4; ++q) {
      const __m128i a = next();
      const __m128i b = next();
      _mm_storeu_si128(reinterpret_cast<__m128i*>(&out.pair[q][k]),
                       _mm_add_epi16(_mm_mullo_epi16(a, rowStride), b));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&out.last[k]), widths16(r[0], r[1]));
  }
  return k;
}

#if defined(__GNUC__)
#define NUBO_HAVE_AVX2_PATH 1

// The same as indexesOfGroups for sixteen samples per step, on machines with
// AVX2 (chosen at run time). The 256-bit pack interleaves the two halves'
// lanes, so the indexes of a group land in a different order; counting does
// not depend on the order, and only whole groups are done this way.
__attribute__((target("avx2"))) inline __m256i widthsAvx2(__m256i lo, __m256i hi) {
  const __m256i e = _mm256_packs_epi32(_mm256_srli_epi32(_mm256_castps_si256(_mm256_cvtepi32_ps(lo)), 23),
                                       _mm256_srli_epi32(_mm256_castps_si256(_mm256_cvtepi32_ps(hi)), 23));
  return _mm256_subs_epu16(_mm256_and_si256(e, _mm256_set1_epi16(0xFF)), _mm256_set1_epi16(126));
}

// The widths of the current residuals, then the residuals of the next predictor.
__attribute__((target("avx2"))) inline __m256i nextWidthsAvx2(__m256i (&r)[2], const __m256i (&s)[2]) {
  const __m256i w = widthsAvx2(r[0], r[1]);
  r[0] = _mm256_sub_epi32(r[0], s[0]);
  r[1] = _mm256_sub_epi32(r[1], s[1]);
  return w;
}

__attribute__((target("avx2"))) int indexesOfGroupsAvx2(const int16_t* x, int n, int c, Indexes& out) {
  const __m256i rowStride = _mm256_set1_epi16(kWidthsV21);
  constexpr int kWide = 16;
  int k = 0;
  for (; k + kWide <= n; k += kWide) {
    __m256i r[2], s[2];
    for (int h = 0; h < 2; ++h) {
      const int at = k + 8 * h;
      const __m256i x0 = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(x + at)));
      const __m256i x1 = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(x + at - c)));
      const __m256i x2 = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(x + at - 2 * c)));
      r[h] = _mm256_sub_epi32(x0, x1);
      s[h] = _mm256_srai_epi32(_mm256_sub_epi32(x1, x2), 3);
    }
    for (int q = 0; q < 4; ++q) {
      const __m256i a = nextWidthsAvx2(r, s);
      const __m256i b = nextWidthsAvx2(r, s);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(&out.pair[q][k]),
                          _mm256_add_epi16(_mm256_mullo_epi16(a, rowStride), b));
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(&out.last[k]), widthsAvx2(r[0], r[1]));
  }
  return k;
}

// A test of a flag that libgcc's constructor has filled in before any call;
// no cached static, whose thread-safe guard would tie the library to libstdc++.
bool haveAvx2() { return __builtin_cpu_supports("avx2"); }
#endif

#else

int indexesOfGroups(const int16_t*, int from, int, int, Indexes&) { return from; }

#endif

}  // namespace

void detail::v21PredictorHistograms(const int16_t* x, int n, int c, int32_t (&h)[kV21Predictors][kHistogramBins],
                                    detail::V21Path path) {
  Indexes idx;
  int done = 0;
#if defined(NUBO_HAVE_AVX2_PATH)
  if (path == detail::V21Path::Best && haveAvx2()) done = indexesOfGroupsAvx2(x, n, c, idx);
#endif
  // What is left: whole groups of eight, then single samples.
  if (path != detail::V21Path::Scalar) done = indexesOfGroups(x, done, n, c, idx);
  for (int k = done; k < n; ++k) indexesOfSample(x, k, c, idx);

  uint16_t pairs[4][kCopies][kPairBins] = {};
  int32_t last[kCopies][kWidthsV21] = {};
  int k = 0;
  for (; k + kCopies <= n; k += kCopies) {
    for (int q = 0; q < 4; ++q)
      for (int j = 0; j < kCopies; ++j) ++pairs[q][j][idx.pair[q][k + j]];
    for (int j = 0; j < kCopies; ++j) ++last[j][idx.last[k + j]];
  }
  for (; k < n; ++k) {
    for (int q = 0; q < 4; ++q) ++pairs[q][0][idx.pair[q][k]];
    ++last[0][idx.last[k]];
  }
  for (int p = 0; p < kV21Predictors; ++p)
    for (int b = 0; b < kHistogramBins; ++b) h[p][b] = 0;
  // The copies are folded into the first one in 16-bit lanes (no counter
  // exceeds the block's 2047 samples), then the table is reduced to its row
  // and column sums.
  for (int q = 0; q < 4; ++q)
    for (int i = 0; i < kPairBins; ++i)
      pairs[q][0][i] = static_cast<uint16_t>(pairs[q][0][i] + pairs[q][1][i] + pairs[q][2][i] + pairs[q][3][i]);
  for (int q = 0; q < 4; ++q) {
    for (int a = 0; a < kWidthsV21; ++a) {
      int32_t row = 0;
      for (int b = 0; b < kWidthsV21; ++b) {
        const int32_t v = pairs[q][0][a * kWidthsV21 + b];
        row += v;
        h[2 * q + 1][b] += v;
      }
      h[2 * q][a] = row;
    }
  }
  for (int b = 0; b < kWidthsV21; ++b) h[8][b] = last[0][b] + last[1][b] + last[2][b] + last[3][b];
}

CodecResult EncodeBlockV21(ConvertParams& params, const uint8_t* samples, uint8_t* code) {
  params.decodedCount = params.sampleCount;
  const int n = params.sampleCount;
  if (n > kMaxSamples) return CodecResult::TooManySamples;
  const int c = params.channels;

  // Statistics: the width histogram of d - p * S for each predictor p,
  // with d the first difference and S the slope of every sample.
  // |d| <= 65535 and |p * S| <= 8 * 8192, so every residual is under 2^17:
  // its width (at most 17) fits the histogram and smallResidualWidth().
  alignas(16) int16_t history[kLead + kMaxSamples + kLanes] = {};
  int16_t* const x = history + kLead;  // x[k] is sample k; x[-1..-2c] are zeros
  for (int k = 0; k < n; ++k) x[k] = loadSample(samples, k);
  int32_t h[kV21Predictors][kHistogramBins];
  detail::v21PredictorHistograms(x, n, c, h, detail::V21Path::Best);

  int best = 0;
  Choice bestChoice = choose(h[0], n);
  for (int p = 1; p < kV21Predictors; ++p) {
    const Choice ch = choose(h[p], n);
    if (ch.bytes < bestChoice.bytes) {
      best = p;
      bestChoice = ch;
    }
  }
  // The escape code holds 17 bits; wider residuals fall back to predictor 0,
  // whose residuals are differences of 16-bit values.
  if (h[best][17] + h[best][18] > 0) {
    best = 0;
    bestChoice = choose(h[0], n);
  }

  CodedEstimate estimate;
  estimate.widthClass = bestChoice.widthClass;
  estimate.bytes = bestChoice.bytes;
  estimate.mustStore = bestChoice.stored;
  EncodeFrame frame;
  const CodecResult r = frameEncode(params, estimate, samples, code, frame);
  if (r != CodecResult::Ok || frame.stored) return r;

  // The chosen predictor's residuals are formed again rather than kept from
  // the statistics pass, in a loop of their own that the compiler vectorises.
  int32_t residual[kMaxSamples];
  uint8_t width[kMaxSamples];
  for (int k = 0; k < n; ++k) {
    residual[k] = (x[k] - x[k - c]) - best * slope(x[k - c], x[k - 2 * c]);
    width[k] = static_cast<uint8_t>(smallResidualWidth(residual[k]));
  }
  // The body is exactly bytes - 2 long, so whole words may be stored ahead
  // while 8 bytes of it remain.
  const uint8_t* const end = frame.body + (estimate.bytes - kHeaderBytes);
  const SampleCodeWriter codes(estimate.widthClass);
  BitWriter out(frame.body);
  out.put(static_cast<uint32_t>(best), kV21PredictorBits);
  int k = 0;
  for (; k + 2 <= n && out.roomFor(end) >= 8; k += 2) {
    out.append(codes.code(residual[k], width[k]), codes.length(width[k]));
    out.append(codes.code(residual[k + 1], width[k + 1]), codes.length(width[k + 1]));
    out.flushWords();
  }
  for (; k < n; ++k) out.put(codes.code(residual[k], width[k]), codes.length(width[k]));
  out.finish();
  return CodecResult::Ok;
}

CodecResult DecodeBlockV21(ConvertParams& params, uint8_t* samples, const uint8_t* code) {
  DecodeFrame frame;
  const CodecResult r = beginDecode(params, code, samples, frame);
  if (r != CodecResult::Ok) return r;
  if (frame.widthClass == kStoredClass) return checkSize(params, frame);

  const SampleCodeReader codes(static_cast<int>(frame.widthClass));
  const int n = frame.count;
  BitReader in(frame.body, frame.bodyLimit);
  // The index is not checked: 9..15 weigh the slope like 0..8. All history
  // arithmetic wraps modulo 2^32, so a damaged stream (or such an index) gives
  // wrong samples, never overflow; for a valid stream every value is a
  // 16-bit sample and the results are exact.
  const uint32_t p = in.get(kV21PredictorBits);
  // One step: x = e + p * S + P1, with S = floor((P1 - P2) / 8) and the
  // channel's two previous values held in registers.
  auto step = [p](uint32_t& p1, uint32_t& p2, int32_t e) {
    const uint32_t s = static_cast<uint32_t>(slope(static_cast<int32_t>(p1), static_cast<int32_t>(p2)));
    const uint32_t x = static_cast<uint32_t>(e) + p * s + p1;
    p2 = p1;
    p1 = x;
    return static_cast<int32_t>(x);
  };
  // Two codes per refill (a code is at most 21 bits, a refill leaves 56).
  int i = 0;
  if (params.channels == 1) {
    uint32_t p1 = 0, p2 = 0;
    for (; i + 2 <= n; i += 2) {
      in.refill();
      storeSample(samples, i, step(p1, p2, codes.get(in)));
      storeSample(samples, i + 1, step(p1, p2, codes.get(in)));
    }
    if (i < n) {
      in.refill();
      storeSample(samples, i, step(p1, p2, codes.get(in)));
    }
  } else {
    uint32_t l1 = 0, l2 = 0, r1 = 0, r2 = 0;
    for (; i + 2 <= n; i += 2) {
      in.refill();
      storeSample(samples, i, step(l1, l2, codes.get(in)));
      storeSample(samples, i + 1, step(r1, r2, codes.get(in)));
    }
    if (i < n) {
      in.refill();
      storeSample(samples, i, step(l1, l2, codes.get(in)));
    }
  }
  return finishDecode(params, frame, in.bytesConsumed(), in.overrun());
}

CodecResult VerifyBlockV21(ConvertParams& params, const uint8_t* samples, const uint8_t* code) {
  return verifyBlock(params, samples, code, DecodeBlockV21);
}

}  // namespace nubo::codec
