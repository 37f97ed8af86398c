// SPDX-License-Identifier: BSD-3-Clause
// Coder version 21: per block, the cheapest of nine slope predictors
// P1 + p * floor((P1 - P2) / 8), sent as a 4-bit index before the sample codes.
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#include <immintrin.h>
#endif

#include "bit_io.h"
#include "coders.h"
#include "framing.h"
#include "paired_codes.h"
#include "sample_code.h"

namespace nubo::codec {
namespace {

using detail::V21Candidate;

V21Candidate choose(const int32_t (&h)[kHistogramBins], int n) {
  const int64_t storedBytes = 2 * int64_t{n} + kHeaderBytes;
  const bool tooWide = h[17] + h[18] > 0;
  const WidthClassChoice c = chooseWidthClass(h, n, kV21PredictorBits, 15);
  if (!c.found || c.bytes > storedBytes) return {15, storedBytes, true, tooWide};
  return {c.widthClass, c.bytes, false, tooWide};
}

// floor((P1 - P2) / 8), wrapping: only a damaged stream's history leaves
// the 16-bit range.
inline int32_t slope(int32_t p1, int32_t p2) {
  return static_cast<int32_t>(static_cast<uint32_t>(p1) - static_cast<uint32_t>(p2)) >> 3;
}

// The width histograms of the nine predictors' residuals d - p * S, in
// full: the statistics of machines without AVX2, and the path that tests
// compare the AVX2 statistics with.
//
// Nine residuals and widths per sample. The widths are formed for the whole
// block first (on 16-bit lanes where the target has SSE2), then counted.
// Counting them one by one would cost nine increments per sample, so
// predictors are counted in pairs (0,1), (2,3), (4,5), (6,7): one increment
// of a two-dimensional histogram per pair, whose row and column sums are the
// two predictors' histograms. Each table has four copies, for consecutive
// samples, so that repeated increments of one counter (widths change slowly)
// do not wait on each other.
// REQUIRES: every |d - p * S| < 2^17 (widths 0..17).
constexpr int kWidthsV21 = 18;
constexpr int kPairBins = kWidthsV21 * kWidthsV21;
constexpr int kCopies = 4;

// Samples as 16-bit values after kLead zeros (the lags reach back 2c <= 4
// samples), and kTail zeros after them, so that vector loops may run over
// whole groups of kLanes and whole steps of kWideLanes.
constexpr int kLanes = 8;
constexpr int kWideLanes = 32;
constexpr int kLead = 8;
constexpr int kTail = kWideLanes;

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

#endif

#if !defined(__SSE2__)

int indexesOfGroups(const int16_t*, int from, int, int, Indexes&) { return from; }

#endif

// Every predictor's histogram, in full, from the pair tables.
void pairTableHistograms(const int16_t* x, int n, int c, int32_t (&h)[kV21Predictors][kHistogramBins], bool sse2) {
  Indexes idx;
  // Whole groups of eight, then single samples.
  const int done = sse2 ? indexesOfGroups(x, 0, n, c, idx) : 0;
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

void plainCandidates(const int16_t* x, int n, int c, V21Candidate (&out)[kV21Predictors], bool sse2) {
  int32_t h[kV21Predictors][kHistogramBins];
  pairTableHistograms(x, n, c, h, sse2);
  for (int p = 0; p < kV21Predictors; ++p) out[p] = choose(h[p], n);
}

#if defined(__SSE2__) && defined(__GNUC__)
#define NUBO_HAVE_AVX2_PATH 1

// The statistics with AVX2 (chosen at run time) count no histogram in full.
// A predictor's class and size depend only on the running counts
// C(t) = #{widths <= t} at the median width w and the four values after it
// (and at w - 1 for the class below): the median search stops where C
// reaches half the block, the short codes are C(class) samples, the three
// prefixed cases are the differences of C up to class + 3, and every wider
// residual takes the escape code. So each predictor counts C at seven
// widths only, around a guess of its median: the mean width rounded, which
// lies within one of the median for the residuals of real signals. Seven
// counts are seven compares per 32 widths held as bytes. Where the guess
// is too far off to prove that the counts give the class and size of the
// full histogram, that predictor's histogram is counted in full instead.
constexpr int kWindow = 7;  // running counts per predictor

// Steps of kWideLanes widths (the bytes of a 256-bit vector) covering n samples.
constexpr int wholeSteps(int n) { return (n + kWideLanes - 1) / kWideLanes; }

// The widths of the nine predictors' residuals, one byte each, in sample
// order; entries from n up to the next whole step are 0.
struct PredictorWidths {
  alignas(32) uint8_t of[kV21Predictors][wholeSteps(kMaxSamples) * kWideLanes];
};

// The float of r has the biased exponent 126 + width for r != 0 and 0 for
// r = 0 (exact for |r| < 2^24). Returns the exponent fields of four vectors
// of eight residuals as 32 bytes in sample order; each exponent is at most
// 126 + 17, and the width is the exponent less 126, saturated at 0.
__attribute__((target("avx2"))) inline __m256i exponentBytes(const __m256i (&r)[4]) {
  __m256i e[4];
  for (int h = 0; h < 4; ++h) e[h] = _mm256_srli_epi32(_mm256_castps_si256(_mm256_cvtepi32_ps(r[h])), 23);
  // The sign of a negative residual lands in bit 8 of its field.
  const __m256i low = _mm256_set1_epi16(0xFF);
  const __m256i e01 = _mm256_and_si256(_mm256_packs_epi32(e[0], e[1]), low);
  const __m256i e23 = _mm256_and_si256(_mm256_packs_epi32(e[2], e[3]), low);
  // The packs interleave the 128-bit halves: four samples in each 32-bit
  // group, in the order 0, 2, 4, 6, 1, 3, 5, 7 of the groups.
  return _mm256_permutevar8x32_epi32(_mm256_packus_epi16(e01, e23), _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
}

__attribute__((target("avx2"))) void predictorWidthsAvx2(const int16_t* x, int n, int c, PredictorWidths& out) {
  const __m256i bias = _mm256_set1_epi8(126);
  const int steps = wholeSteps(n);
  for (int step = 0; step < steps; ++step) {
    const int k = step * kWideLanes;
    __m256i r[4], s[4];
    for (int h = 0; h < 4; ++h) {
      const int at = k + 8 * h;
      const __m256i x0 = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(x + at)));
      const __m256i x1 = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(x + at - c)));
      const __m256i x2 = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(x + at - 2 * c)));
      r[h] = _mm256_sub_epi32(x0, x1);
      s[h] = _mm256_srai_epi32(_mm256_sub_epi32(x1, x2), 3);
    }
    // Predictor p's residual is d - p * S: one subtraction of S per predictor.
    for (int p = 0; p < kV21Predictors; ++p) {
      const __m256i w = _mm256_subs_epu8(exponentBytes(r), bias);
      _mm256_store_si256(reinterpret_cast<__m256i*>(&out.of[p][k]), w);
      for (int h = 0; h < 4; ++h) r[h] = _mm256_sub_epi32(r[h], s[h]);
    }
  }
  const int tail = steps * kWideLanes - n;
  for (int p = 0; p < kV21Predictors; ++p) std::memset(&out.of[p][n], 0, static_cast<std::size_t>(tail));
}

__attribute__((target("avx2"))) inline int64_t sumOfLanes(__m256i v) {
  const __m128i s = _mm_add_epi64(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
  return _mm_cvtsi128_si64(s) + _mm_extract_epi64(s, 1);
}

__attribute__((target("avx2"))) int64_t widthSumAvx2(const uint8_t* w, int steps) {
  const __m256i zero = _mm256_setzero_si256();
  __m256i sum = zero;
  for (int step = 0; step < steps; ++step) {
    const __m256i v = _mm256_load_si256(reinterpret_cast<const __m256i*>(w + step * kWideLanes));
    sum = _mm256_add_epi64(sum, _mm256_sad_epu8(v, zero));
  }
  return sumOfLanes(sum);
}

__attribute__((target("avx2"))) int widestAvx2(const uint8_t* w, int steps) {
  __m256i widest = _mm256_setzero_si256();
  for (int step = 0; step < steps; ++step)
    widest = _mm256_max_epu8(widest, _mm256_load_si256(reinterpret_cast<const __m256i*>(w + step * kWideLanes)));
  __m128i m = _mm_max_epu8(_mm256_castsi256_si128(widest), _mm256_extracti128_si256(widest, 1));
  m = _mm_max_epu8(m, _mm_srli_si128(m, 8));
  m = _mm_max_epu8(m, _mm_srli_si128(m, 4));
  m = _mm_max_epu8(m, _mm_srli_si128(m, 2));
  m = _mm_max_epu8(m, _mm_srli_si128(m, 1));
  return _mm_cvtsi128_si32(m) & 0xFF;
}

// counts[j] := #{i < 32 * steps : w[i] <= lo + j}. Each byte lane counts at
// most one width per step, and a block has at most 64 steps, so the lanes
// cannot overflow. One variable per count keeps them all in registers.
static_assert(kWindow == 7);
__attribute__((target("avx2"))) void windowCountsAvx2(const uint8_t* w, int steps, int lo,
                                                       int32_t (&counts)[kWindow]) {
  const char t = static_cast<char>(lo + 1);  // w <= lo + j is lo + j + 1 > w
  const __m256i l0 = _mm256_set1_epi8(t), l1 = _mm256_set1_epi8(t + 1), l2 = _mm256_set1_epi8(t + 2),
                l3 = _mm256_set1_epi8(t + 3), l4 = _mm256_set1_epi8(t + 4), l5 = _mm256_set1_epi8(t + 5),
                l6 = _mm256_set1_epi8(t + 6);
  __m256i c0 = _mm256_setzero_si256(), c1 = c0, c2 = c0, c3 = c0, c4 = c0, c5 = c0, c6 = c0;
  for (int step = 0; step < steps; ++step) {
    const __m256i v = _mm256_load_si256(reinterpret_cast<const __m256i*>(w + step * kWideLanes));
    c0 = _mm256_sub_epi8(c0, _mm256_cmpgt_epi8(l0, v));
    c1 = _mm256_sub_epi8(c1, _mm256_cmpgt_epi8(l1, v));
    c2 = _mm256_sub_epi8(c2, _mm256_cmpgt_epi8(l2, v));
    c3 = _mm256_sub_epi8(c3, _mm256_cmpgt_epi8(l3, v));
    c4 = _mm256_sub_epi8(c4, _mm256_cmpgt_epi8(l4, v));
    c5 = _mm256_sub_epi8(c5, _mm256_cmpgt_epi8(l5, v));
    c6 = _mm256_sub_epi8(c6, _mm256_cmpgt_epi8(l6, v));
  }
  const __m256i zero = _mm256_setzero_si256();
  const __m256i lanes[kWindow] = {c0, c1, c2, c3, c4, c5, c6};
  for (int j = 0; j < kWindow; ++j) counts[j] = static_cast<int32_t>(sumOfLanes(_mm256_sad_epu8(lanes[j], zero)));
}

// Bits of the sample codes under class k from the running counts at k..k+3
// (sampleCodeBitsForClass in terms of C): C(k) short codes, the three
// prefixed cases, and every wider residual an escape code.
int64_t codeBitsFromRunning(int k, int64_t atK, int64_t at1, int64_t at2, int64_t at3, int n) {
  const int64_t shortBits = k == 0 ? 1 : k + 2;
  return shortBits * atK + (k + 3) * (at1 - atK) + (k + 5) * (at2 - at1) + (k + 7) * (at3 - at2) +
         int64_t{kEscapeCodeBits} * (n - at3);
}

// choose() from the running counts C(lo..lo+6) of a predictor's n widths
// instead of its histogram; false when they do not settle the result. They
// do when the median w (the first t with C(t) >= n / 2) lies above lo, or
// lo is 0, and C is known up to w + 3 (or has reached n by lo + 6); or when
// the median search ends unfound at class 15 inside the window.
bool candidateFromCounts(const int32_t (&counts)[kWindow], int lo, int n, V21Candidate& out) {
  const int hi = lo + kWindow - 1;
  const int32_t half = n / 2;
  int below = 0;  // the counts do not decrease, so those below half come first
  for (int j = 0; j < kWindow; ++j) below += counts[j] < half;
  if (lo > 0 && below == 0) return false;  // the median may lie below lo
  const bool complete = counts[kWindow - 1] == n;  // no width above hi
  const int64_t storedBytes = 2 * int64_t{n} + kHeaderBytes;
  const int median = lo + below;  // hi + 1 when it lies above the window
  if (median > 15) {  // the search ends unfound: C(15) < half
    out = {15, storedBytes, true, false};
    return true;
  }
  if (median + 3 > hi && !complete) return false;
  auto at = [&](int t) -> int64_t { return t <= hi ? counts[t - lo] : n; };
  const auto bytes = [&](int k) {
    return codedBlockBytes(kV21PredictorBits, codeBitsFromRunning(k, at(k), at(k + 1), at(k + 2), at(k + 3), n));
  };
  int widthClass = median;
  int64_t size = bytes(median);
  if (median > 0) {
    const int64_t narrower = bytes(median - 1);
    if (narrower <= size) {  // a tie goes to the smaller class
      widthClass = median - 1;
      size = narrower;
    }
  }
  if (size > storedBytes) out = {15, storedBytes, true, false};
  else out = {widthClass, size, false, false};
  return true;
}

// The candidates of the nine predictors from their widths, each from seven
// counts around its guessed median, or from its full histogram where those
// do not settle it. tooWide is left false: the encoder asks only about the
// chosen predictor (widestAvx2).
__attribute__((target("avx2"))) void candidatesAvx2(const PredictorWidths& widths, int n,
                                                    V21Candidate (&out)[kV21Predictors]) {
  const int steps = wholeSteps(n);
  const int padding = steps * kWideLanes - n;  // widths of 0 after the block
  // The guess only places the window, so its rounding does not matter.
  const float perSample = n > 0 ? 1.0f / static_cast<float>(n) : 0.0f;
  for (int p = 0; p < kV21Predictors; ++p) {
    const uint8_t* const w = widths.of[p];
    const int guess = static_cast<int>(static_cast<float>(widthSumAvx2(w, steps)) * perSample + 0.5f);
    const int lo = guess > 2 ? guess - 2 : 0;
    int32_t counts[kWindow];
    windowCountsAvx2(w, steps, lo, counts);
    for (int32_t& count : counts) count -= padding;
    if (!candidateFromCounts(counts, lo, n, out[p])) {
      int32_t full[kHistogramBins];
      countWidths(w, n, full);
      out[p] = choose(full, n);
      out[p].tooWide = false;
    }
  }
}

// The chosen predictor's codes, formed eight at a time and joined in pairs
// (paired_codes.h) with the widths of the statistics pass, then written a
// pair per step. BMI2 gives the writer's variable shifts in one instruction.
// REQUIRES: x[n..n+7] are readable; every width of predictor p is below 17.
__attribute__((target("avx2,bmi2"))) void putCodesAvx2(BitWriter& out, const uint8_t* end, const int16_t* x,
                                                       const uint8_t* width, int n, int c, int p, int k) {
  uint64_t pairs[(kMaxSamples + kLanes) / 2];
  uint32_t lengths[(kMaxSamples + kLanes) / 2];
  const detail::PairedCodeClass codes = detail::pairedCodeClass(k);
  const __m256i weight = _mm256_set1_epi32(p);
  for (int i = 0; i < n; i += kLanes) {
    const __m256i x0 = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(x + i)));
    const __m256i x1 = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(x + i - c)));
    const __m256i x2 = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(x + i - 2 * c)));
    const __m256i s = _mm256_srai_epi32(_mm256_sub_epi32(x1, x2), 3);
    const __m256i e = _mm256_sub_epi32(_mm256_sub_epi32(x0, x1), _mm256_mullo_epi32(weight, s));
    const __m256i w = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(width + i)));
    detail::pairedCodes8(codes, e, w, pairs + i / 2, lengths + i / 2);
  }
  // A local writer: the caller's could be reached through the bytes written,
  // which would keep its state in memory.
  BitWriter local = out;
  const SampleCodeWriter single(k);
  for (int i = detail::putPairedCodes(local, end, pairs, lengths, 0, n); i < n; ++i) {
    const int32_t e = (x[i] - x[i - c]) - p * slope(x[i - c], x[i - 2 * c]);
    local.put(single.code(e, width[i]), single.length(width[i]));
  }
  out = local;
}

// A test of flags that libgcc's constructor has filled in before any call;
// no cached static, whose thread-safe guard would tie the library to libstdc++.
bool haveAvx2() { return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2"); }

#endif

// The predictor of the smallest size, the lowest index among equals. If
// one of its residuals is too wide for the 17 bits of the escape code, the
// caller takes predictor 0 instead, whose residuals are differences of
// 16-bit values.
int cheapestPredictor(const V21Candidate (&candidates)[kV21Predictors]) {
  int best = 0;
  for (int p = 1; p < kV21Predictors; ++p)
    if (candidates[p].bytes < candidates[best].bytes) best = p;
  return best;
}

// The plain writer: the chosen predictor's residuals formed again rather
// than kept from the statistics pass, in a loop of their own that the
// compiler vectorises, then two codes per store.
void putCodes(BitWriter& out, const uint8_t* end, const int16_t* x, int n, int c, int p, int k) {
  int32_t residual[kMaxSamples];
  uint8_t width[kMaxSamples];
  for (int i = 0; i < n; ++i) {
    residual[i] = (x[i] - x[i - c]) - p * slope(x[i - c], x[i - 2 * c]);
    width[i] = static_cast<uint8_t>(smallResidualWidth(residual[i]));
  }
  BitWriter local = out;  // see putCodesAvx2
  const SampleCodeWriter codes(k);
  int i = 0;
  for (; i + 2 <= n && local.roomFor(end) >= 8; i += 2) {
    local.append(codes.code(residual[i], width[i]), codes.length(width[i]));
    local.append(codes.code(residual[i + 1], width[i + 1]), codes.length(width[i + 1]));
    local.flushWords();
  }
  for (; i < n; ++i) local.put(codes.code(residual[i], width[i]), codes.length(width[i]));
  out = local;
}

// The samples as 16-bit values after kLead zeros (the lags reach back
// 2c <= 4 samples) and zeros after them, so that vector loops may run over
// whole groups. Only the zeros around the samples are written: clearing the
// whole history for every block costs about as much as copying the samples.
struct History {
  alignas(32) int16_t values[kLead + kMaxSamples + kTail];

  History(const uint8_t* samples, int n) {
    std::memset(values, 0, sizeof(int16_t) * kLead);
    int16_t* const s = values + kLead;
    for (int i = 0; i < n; ++i) s[i] = loadSample(samples, i);
    std::memset(s + n, 0, sizeof(int16_t) * kTail);
  }
  const int16_t* samples() const { return values + kLead; }  // [-kLead, 0) are zeros
};

// Header and body of a block whose class and predictor are chosen; the
// body's codes come from `putBody(out, end)`.
template <typename PutBody>
CodecResult frameBlock(ConvertParams& params, const uint8_t* samples, uint8_t* code, int best,
                       const V21Candidate& chosen, PutBody&& putBody) {
  CodedEstimate estimate;
  estimate.widthClass = chosen.widthClass;
  estimate.bytes = chosen.bytes;
  estimate.mustStore = chosen.stored;
  EncodeFrame frame;
  const CodecResult r = frameEncode(params, estimate, samples, code, frame);
  if (r != CodecResult::Ok || frame.stored) return r;
  // The body is exactly bytes - 2 long, so whole words may be stored ahead
  // while 8 bytes of it remain.
  const uint8_t* const end = frame.body + (estimate.bytes - kHeaderBytes);
  BitWriter out(frame.body);
  out.put(static_cast<uint32_t>(best), kV21PredictorBits);
  putBody(out, end);
  out.finish();
  return CodecResult::Ok;
}

}  // namespace

void detail::v21Candidates(const int16_t* x, int n, int c, V21Candidate (&out)[kV21Predictors], V21Path path) {
#if defined(NUBO_HAVE_AVX2_PATH)
  if (path == V21Path::Best && haveAvx2()) {
    PredictorWidths widths;
    predictorWidthsAvx2(x, n, c, widths);
    candidatesAvx2(widths, n, out);
    for (int p = 0; p < kV21Predictors; ++p) out[p].tooWide = widestAvx2(widths.of[p], wholeSteps(n)) >= 17;
    return;
  }
#endif
  plainCandidates(x, n, c, out, path != V21Path::Scalar);
}

CodecResult detail::encodeBlockV21(ConvertParams& params, const uint8_t* samples, uint8_t* code, V21Path path) {
  params.decodedCount = params.sampleCount;
  const int n = params.sampleCount;
  if (n > kMaxSamples) return CodecResult::TooManySamples;
  const int c = params.channels;

  // Statistics: the class and size of d - p * S for each predictor p, with
  // d the first difference and S the slope of every sample.
  // |d| <= 65535 and |p * S| <= 8 * 8192, so every residual is under 2^17:
  // its width (at most 17) fits the histogram and smallResidualWidth().
  const History history(samples, n);
  const int16_t* const x = history.samples();
  V21Candidate candidates[kV21Predictors];
#if defined(NUBO_HAVE_AVX2_PATH)
  if (path == V21Path::Best && haveAvx2()) {
    PredictorWidths widths;
    predictorWidthsAvx2(x, n, c, widths);
    candidatesAvx2(widths, n, candidates);
    int best = cheapestPredictor(candidates);
    if (widestAvx2(widths.of[best], wholeSteps(n)) >= 17) best = 0;
    return frameBlock(params, samples, code, best, candidates[best], [&](BitWriter& out, const uint8_t* end) {
      putCodesAvx2(out, end, x, widths.of[best], n, c, best, candidates[best].widthClass);
    });
  }
#endif
  plainCandidates(x, n, c, candidates, path != V21Path::Scalar);
  int best = cheapestPredictor(candidates);
  if (candidates[best].tooWide) best = 0;
  return frameBlock(params, samples, code, best, candidates[best], [&](BitWriter& out, const uint8_t* end) {
    putCodes(out, end, x, n, c, best, candidates[best].widthClass);
  });
}

CodecResult EncodeBlockV21(ConvertParams& params, const uint8_t* samples, uint8_t* code) {
  return detail::encodeBlockV21(params, samples, code, detail::V21Path::Best);
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
