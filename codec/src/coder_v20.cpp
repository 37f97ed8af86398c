// Coder version 20: first difference per channel, one width class per block
// chosen from the width histogram (the median width or the class below it).
#include <cstdint>

#include "bit_io.h"
#include "coders.h"
#include "framing.h"
#include "sample_code.h"

namespace nubo::codec {

CodecResult EncodeBlockV20(ConvertParams& params, const uint8_t* samples, uint8_t* code) {
  params.decodedCount = params.sampleCount;
  const int n = params.sampleCount;
  if (n > kMaxSamples) return CodecResult::TooManySamples;
  const int channelMask = params.channels - 1;

  // Analysis: differences, widths and their histogram.
  int32_t diff[kMaxSamples];
  uint8_t width[kMaxSamples];
  int32_t h[kHistogramBins] = {};
  int32_t predictor[2] = {0, 0};
  for (int i = 0; i < n; ++i) {
    const int32_t s = loadSample(samples, i);
    const int c = i & channelMask;
    const int32_t d = s - predictor[c];
    predictor[c] = s;
    const int w = residualWidth(d);
    diff[i] = d;
    width[i] = static_cast<uint8_t>(w);
    ++h[w];
  }

  // Every first difference of 16-bit samples is at most 16 bits wide, so the
  // median search always stops by bin 16.
  const WidthClassChoice choice = chooseWidthClass(h, n, 0, 16);
  const int chosen = choice.widthClass;
  const int64_t bytes = choice.bytes;

  CodedEstimate estimate;
  estimate.widthClass = chosen;
  estimate.bytes = bytes;
  // Classes 15 and 16 always cost more than storing; guard the header anyway.
  estimate.mustStore = chosen > 14;
  EncodeFrame frame;
  const CodecResult r = frameEncode(params, estimate, samples, code, frame);
  if (r != CodecResult::Ok || frame.stored) return r;

  BitWriter out(frame.body);
  for (int i = 0; i < n; ++i) putSampleCode(out, diff[i], width[i], chosen);
  out.finish();
  return CodecResult::Ok;
}

CodecResult DecodeBlockV20(ConvertParams& params, uint8_t* samples, const uint8_t* code) {
  DecodeFrame frame;
  const CodecResult r = beginDecode(params, code, samples, frame);
  if (r != CodecResult::Ok) return r;
  if (frame.widthClass == kStoredClass) return checkSize(params, frame);

  const int k = static_cast<int>(frame.widthClass);
  const int channelMask = params.channels - 1;
  // Wrapping arithmetic: a damaged stream gives wrong samples, never overflow.
  uint32_t predictor[2] = {0, 0};
  BitReader in(frame.body, frame.bodyLimit);
  for (int i = 0; i < frame.count; ++i) {
    const int c = i & channelMask;
    predictor[c] += static_cast<uint32_t>(getSampleCode(in, k));
    storeSample(samples, i, static_cast<int32_t>(predictor[c]));
  }
  return finishDecode(params, frame, in.bytesConsumed(), in.overrun());
}

CodecResult VerifyBlockV20(ConvertParams& params, const uint8_t* samples, const uint8_t* code) {
  return verifyBlock(params, samples, code, DecodeBlockV20);
}

}  // namespace nubo::codec
