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

inline int32_t slope(int32_t p1, int32_t p2) {
  return static_cast<int32_t>(static_cast<uint32_t>(p1) - static_cast<uint32_t>(p2)) >> 3;
}

}  // namespace

CodecResult EncodeBlockV21(ConvertParams& params, const uint8_t* samples, uint8_t* code) {
  params.decodedCount = params.sampleCount;
  const int n = params.sampleCount;
  if (n > kMaxSamples) return CodecResult::TooManySamples;
  const int c = params.channels;

  int32_t history[kHistoryZeros + kMaxSamples] = {};
  int32_t* const x = history + 2 * c;  // x[k] is sample k; x[-1..-2c] are zeros
  int32_t h[kV21Predictors][kHistogramBins] = {};
  for (int k = 0; k < n; ++k) {
    const int32_t s = loadSample(samples, k);
    x[k] = s;
    const int32_t p1 = x[k - c], p2 = x[k - 2 * c];
    const int32_t slopeValue = slope(p1, p2);
    // |d| <= 65535 and |p * slope| <= 8 * 8192, so every residual is under
    // 2^17 and its width fits the histogram.
    const int32_t d = s - p1;
    for (int p = 0; p < kV21Predictors; ++p) ++h[p][residualWidth(d - p * slopeValue)];
  }

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

  BitWriter out(frame.body);
  out.put(static_cast<uint32_t>(best), kV21PredictorBits);
  for (int k = 0; k < n; ++k) {
    const int32_t p1 = x[k - c];
    const int32_t e = x[k] - p1 - best * slope(p1, x[k - 2 * c]);
    putSampleCode(out, e, residualWidth(e), bestChoice.widthClass);
  }
  out.finish();
  return CodecResult::Ok;
}

CodecResult DecodeBlockV21(ConvertParams& params, uint8_t* samples, const uint8_t* code) {
  DecodeFrame frame;
  const CodecResult r = beginDecode(params, code, samples, frame);
  if (r != CodecResult::Ok) return r;
  if (frame.widthClass == kStoredClass) return checkSize(params, frame);

  const int k = static_cast<int>(frame.widthClass);
  const int c = params.channels;
  // Wrapping arithmetic: a damaged stream (or predictor index 9..15) gives
  // wrong samples, never overflow.
  uint32_t history[kHistoryZeros + kMaxSamples] = {};
  uint32_t* const x = history + 2 * c;
  BitReader in(frame.body, frame.bodyLimit);
  const uint32_t p = in.get(kV21PredictorBits);
  for (int i = 0; i < frame.count; ++i) {
    const uint32_t p1 = x[i - c];
    const uint32_t s = static_cast<uint32_t>(slope(static_cast<int32_t>(p1), static_cast<int32_t>(x[i - 2 * c])));
    x[i] = static_cast<uint32_t>(getSampleCode(in, k)) + p * s + p1;
    storeSample(samples, i, static_cast<int32_t>(x[i]));
  }
  return finishDecode(params, frame, in.bytesConsumed(), in.overrun());
}

CodecResult VerifyBlockV21(ConvertParams& params, const uint8_t* samples, const uint8_t* code) {
  return verifyBlock(params, samples, code, DecodeBlockV21);
}

}  // namespace nubo::codec
