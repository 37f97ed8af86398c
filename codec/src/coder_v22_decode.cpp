// SPDX-License-Identifier: BSD-3-Clause
// Coder version 22, decoder and verify: reads the three coefficient fields,
// then rebuilds each sample from its prediction and residual.
#include <cstdint>

#include "bit_io.h"
#include "coders.h"
#include "framing.h"
#include "sample_code.h"

namespace nubo::codec {
namespace {

// The three previous values of one channel, newest first, and one step of
// the predictor over them.
//
// History values stay full 32-bit sums, and on a damaged stream they can
// grow without bound, so the whole prediction wraps modulo 2^32 (unsigned
// arithmetic) before the arithmetic shift; for a valid block every product
// and sum fits and this is the plain signed result. The two older terms do
// not depend on the value just decoded, so only a1 * s1 lies on the chain
// from one sample of a channel to the next.
struct ChannelHistory {
  uint32_t s1 = 0, s2 = 0, s3 = 0;

  int32_t step(uint32_t a1, uint32_t a2, uint32_t a3, int32_t e) {
    const uint32_t older = a2 * s2 + a3 * s3;
    const int32_t p = static_cast<int32_t>(a1 * s1 + older) >> 8;
    const uint32_t x = static_cast<uint32_t>(p) + static_cast<uint32_t>(e);
    s3 = s2;
    s2 = s1;
    s1 = x;
    return static_cast<int32_t>(x);
  }
};

// The samples of a body from its first sample code on, for one or two
// channels (sample i belongs to channel i mod kChannels).
template <int kChannels>
void decodeSamples(BitReader& in, const SampleCodeReader& codes, uint32_t a1, uint32_t a2, uint32_t a3,
                   uint8_t* samples, int n) {
  ChannelHistory history[kChannels];
  ChannelHistory& first = history[0];
  ChannelHistory& second = history[kChannels - 1];
  readSampleCodes(
      in, codes, n,
      [&](int i, int32_t e0, int32_t e1) {
        storeSample(samples, i, first.step(a1, a2, a3, e0));
        storeSample(samples, i + 1, second.step(a1, a2, a3, e1));
      },
      [&](int i, int32_t e) { storeSample(samples, i, first.step(a1, a2, a3, e)); });
}

}  // namespace

CodecResult DecodeBlockV22(ConvertParams& params, uint8_t* samples, const uint8_t* code) {
  DecodeFrame frame;
  const CodecResult r = beginDecode(params, code, samples, frame);
  if (r != CodecResult::Ok) return r;
  if (frame.widthClass == kStoredClass) return checkSize(params, frame);

  const SampleCodeReader codes(static_cast<int>(frame.widthClass));
  const int n = frame.count;
  BitReader in(frame.body, frame.bodyLimit);
  const uint32_t a1 = in.get(kV22CoefficientBits) - 128u;
  const uint32_t a2 = 128u - in.get(kV22CoefficientBits);
  const uint32_t a3 = in.get(kV22CoefficientBits) - 256u;
  if (params.channels == 1) {
    decodeSamples<1>(in, codes, a1, a2, a3, samples, n);
  } else {
    decodeSamples<2>(in, codes, a1, a2, a3, samples, n);
  }
  return finishDecode(params, frame, in.bytesConsumed(), in.overrun());
}

CodecResult VerifyBlockV22(ConvertParams& params, const uint8_t* samples, const uint8_t* code) {
  return verifyBlock(params, samples, code, DecodeBlockV22);
}

}  // namespace nubo::codec
