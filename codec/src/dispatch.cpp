// SPDX-License-Identifier: BSD-3-Clause
// The call sequence of NuboWaveConvert: choose the coder, run the encode or
// decode that the flags ask for, then the verify.
#include "coders.h"

namespace nubo::codec {
namespace {

struct Coder {
  CodecResult (*encode)(ConvertParams&, const uint8_t*, uint8_t*);
  CodecResult (*decode)(ConvertParams&, uint8_t*, const uint8_t*);
  CodecResult (*verify)(ConvertParams&, const uint8_t*, const uint8_t*);
};

constexpr Coder kCoderV20{EncodeBlockV20, DecodeBlockV20, VerifyBlockV20};
constexpr Coder kCoderV21{EncodeBlockV21, DecodeBlockV21, VerifyBlockV21};
constexpr Coder kCoderV22{EncodeBlockV22, DecodeBlockV22, VerifyBlockV22};

// Versions 0..20 share the version-20 coder.
const Coder* coderFor(uint32_t version) {
  if (version <= 20) return &kCoderV20;
  if (version == 21) return &kCoderV21;
  if (version == 22) return &kCoderV22;
  return nullptr;
}

}  // namespace

CodecResult convert(ConvertParams& params, void* samplesArg, void* codeArg) {
  const Coder* coder = coderFor(params.coderVersion);
  if (coder == nullptr) return CodecResult::UnsupportedVersion;
  // Every coder indexes its predictors by channel; other counts are refused
  // before anything is touched.
  if (params.channels != 1 && params.channels != 2) return CodecResult::UnsupportedChannels;
  auto* samples = static_cast<uint8_t*>(samplesArg);
  auto* code = static_cast<uint8_t*>(codeArg);
  const unsigned flags = params.flags & 0x0F;
  CodecResult r = CodecResult::Ok;
  if (flags & NUBO_FLAG_ENCODE) {
    r = coder->encode(params, samples, code);
  } else if (flags & NUBO_FLAG_DECODE) {
    r = coder->decode(params, samples, code);
  }
  if (r == CodecResult::Ok && (flags & NUBO_FLAG_VERIFY)) r = coder->verify(params, samples, code);
  return r;
}

}  // namespace nubo::codec
