// Coder version 21: per block, the cheapest of nine slope predictors
// P1 + p * floor((P1 - P2) / 8), sent as a 4-bit index before the sample codes.
#include <cstdint>

#include "bit_io.h"
#include "coders.h"
#include "framing.h"
#include "sample_code.h"

namespace nubo::codec {
namespace {

constexpr int kHistoryZeros = 10;  // two zero start values for up to five channels

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
// floor((P1 - P2) / 8), wrapping: only a damaged stream's history leaves
// the 16-bit range.
inline int32_t slope(int32_t p1, int32_t p2) {
  return static_cast<int32_t>(static_cast<uint32_t>(p1) - static_cast<uint32_t>(p2)) >> 3;
}

// The width histograms of the nine predictors' residuals d - p * S.
//
// This is the encoder's hot spot: nine residuals and widths per sample. The
// widths are computed for the whole block in one loop that the compiler
// vectorises. Counting them one by one would cost nine increments per
// sample, so predictors are counted in pairs (0,1), (2,3), (4,5), (6,7):
// one increment of a two-dimensional histogram per pair, whose row and
// column sums are the two predictors' histograms. Each table has two copies,
// for even and odd samples, so that consecutive increments of one counter
// do not wait on each other.
// REQUIRES: every |d - p * S| < 2^17 (widths 0..17).
constexpr int kWidthsV21 = 18;
constexpr int kPairBins = kWidthsV21 * kWidthsV21;

void predictorHistograms(const int32_t* diff, const int32_t* slopes, int n,
                         int32_t (&h)[kV21Predictors][kHistogramBins]) {
  uint16_t pairIndex[4][kMaxSamples];
  uint8_t lastWidth[kMaxSamples];
  for (int k = 0; k < n; ++k) {
    const int32_t d = diff[k], s = slopes[k];
    for (int q = 0; q < 4; ++q) {
      const int a = smallResidualWidth(d - 2 * q * s);
      const int b = smallResidualWidth(d - (2 * q + 1) * s);
      pairIndex[q][k] = static_cast<uint16_t>(a * kWidthsV21 + b);
    }
    lastWidth[k] = static_cast<uint8_t>(smallResidualWidth(d - 8 * s));
  }
  uint16_t pairs[4][2][kPairBins] = {};
  int32_t last[2][kWidthsV21] = {};
  int k = 0;
  for (; k + 2 <= n; k += 2) {
    for (int q = 0; q < 4; ++q) {
      ++pairs[q][0][pairIndex[q][k]];
      ++pairs[q][1][pairIndex[q][k + 1]];
    }
    ++last[0][lastWidth[k]];
    ++last[1][lastWidth[k + 1]];
  }
  if (k < n) {
    for (int q = 0; q < 4; ++q) ++pairs[q][0][pairIndex[q][k]];
    ++last[0][lastWidth[k]];
  }
  for (int p = 0; p < kV21Predictors; ++p)
    for (int b = 0; b < kHistogramBins; ++b) h[p][b] = 0;
  for (int q = 0; q < 4; ++q) {
    for (int a = 0; a < kWidthsV21; ++a) {
      int32_t row = 0;
      for (int b = 0; b < kWidthsV21; ++b) {
        const int32_t v = pairs[q][0][a * kWidthsV21 + b] + pairs[q][1][a * kWidthsV21 + b];
        row += v;
        h[2 * q + 1][b] += v;
      }
      h[2 * q][a] = row;
    }
  }
  for (int b = 0; b < kWidthsV21; ++b) h[8][b] = last[0][b] + last[1][b];
}

}  // namespace

CodecResult EncodeBlockV21(ConvertParams& params, const uint8_t* samples, uint8_t* code) {
  params.decodedCount = params.sampleCount;
  const int n = params.sampleCount;
  if (n > kMaxSamples) return CodecResult::TooManySamples;
  const int c = params.channels;

  // Statistics: the first difference d and the slope S of every sample, then
  // the width histogram of d - p * S for each predictor p. Each predictor's
  // widths are computed for the whole block in one loop that the compiler
  // vectorises; only the counting is done sample by sample.
  int32_t history[kHistoryZeros + kMaxSamples];
  for (int k = 0; k < 2 * c; ++k) history[k] = 0;
  int32_t* const x = history + 2 * c;  // x[k] is sample k; x[-1..-2c] are zeros
  for (int k = 0; k < n; ++k) x[k] = loadSample(samples, k);
  int32_t diff[kMaxSamples];
  int32_t slopes[kMaxSamples];
  for (int k = 0; k < n; ++k) {
    diff[k] = x[k] - x[k - c];
    slopes[k] = slope(x[k - c], x[k - 2 * c]);
  }
  // |d| <= 65535 and |p * S| <= 8 * 8192, so every residual is under 2^17:
  // its width (at most 17) fits the histogram and smallResidualWidth().
  int32_t h[kV21Predictors][kHistogramBins];
  predictorHistograms(diff, slopes, n, h);

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
    residual[k] = diff[k] - best * slopes[k];
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
