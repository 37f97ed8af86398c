// Coder version 22, decoder and verify: reads the three coefficient fields,
// then rebuilds each sample from its prediction and residual.
#include <cstdint>

#include "bit_io.h"
#include "coders.h"
#include "framing.h"
#include "sample_code.h"

namespace nubo::codec {

CodecResult DecodeBlockV22(ConvertParams& params, uint8_t* samples, const uint8_t* code) {
  DecodeFrame frame;
  const CodecResult r = beginDecode(params, code, samples, frame);
  if (r != CodecResult::Ok) return r;
  if (frame.widthClass == kStoredClass) return checkSize(params, frame);

  const int k = static_cast<int>(frame.widthClass);
  const int c = params.channels;
  BitReader in(frame.body, frame.bodyLimit);
  const int64_t a1 = static_cast<int64_t>(in.get(kV22CoefficientBits)) - 128;
  const int64_t a2 = 128 - static_cast<int64_t>(in.get(kV22CoefficientBits));
  const int64_t a3 = static_cast<int64_t>(in.get(kV22CoefficientBits)) - 256;
  // History values stay full 32-bit sums. On a damaged stream they can grow
  // without bound, so the prediction wraps modulo 2^32 instead of overflowing;
  // for valid blocks this is the plain 32-bit result.
  int32_t history[6 + kMaxSamples] = {};
  int32_t* const s = history + 6;
  for (int i = 0; i < frame.count; ++i) {
    const int64_t sum = a1 * s[i - c] + a2 * s[i - 2 * c] + a3 * s[i - 3 * c];
    const int32_t p = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(sum))) >> 8;
    s[i] = static_cast<int32_t>(static_cast<uint32_t>(p) + static_cast<uint32_t>(getSampleCode(in, k)));
    storeSample(samples, i, s[i]);
  }
  return finishDecode(params, frame, in.bytesConsumed(), in.overrun());
}

CodecResult VerifyBlockV22(ConvertParams& params, const uint8_t* samples, const uint8_t* code) {
  return verifyBlock(params, samples, code, DecodeBlockV22);
}

}  // namespace nubo::codec
