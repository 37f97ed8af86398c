// SPDX-License-Identifier: BSD-3-Clause
// Code block framing shared by every coder: the block header (width class and
// 12-bit size field), the count extension, the stored block, the decoder's
// size check and the verify step.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "format.h"
#include "nubocodec.h"

namespace nubo::codec {

// Samples are 16-bit little-endian values; on a little-endian host they are
// moved as whole words.
inline int16_t loadSample(const uint8_t* samples, int i) {
  if constexpr (std::endian::native == std::endian::little) {
    int16_t v;
    std::memcpy(&v, samples + 2 * i, 2);
    return v;
  }
  return static_cast<int16_t>(static_cast<uint16_t>(samples[2 * i] | (samples[2 * i + 1] << 8)));
}
inline void storeSample(uint8_t* samples, int i, int32_t value) {
  if constexpr (std::endian::native == std::endian::little) {
    const auto v = static_cast<uint16_t>(value);
    std::memcpy(samples + 2 * i, &v, 2);
    return;
  }
  samples[2 * i] = static_cast<uint8_t>(value);
  samples[2 * i + 1] = static_cast<uint8_t>(static_cast<uint32_t>(value) >> 8);
}

// What a coder's analysis hands to the framing.
struct CodedEstimate {
  int widthClass = 0;        // 0..14
  int64_t bytes = 0;         // whole coded block, header included, count extension excluded
  bool mustStore = false;    // the coder's own reason to store (a residual too wide for its codes)
};

struct EncodeFrame {
  bool stored = false;
  uint8_t* body = nullptr;   // where a coded body's bit stream starts
};

// Framing steps after the analysis: decides stored or coded, writes the header,
// the count extension and (for a stored block) the body, and sets codeSize.
// Returns TooManySamples, writing nothing, for a block of 2047 samples without
// count extension whose size the 12-bit field cannot record.
// REQUIRES: params.sampleCount <= kMaxSamples (step 1 done by the coder).
[[nodiscard]] inline CodecResult frameEncode(ConvertParams& params, const CodedEstimate& estimate,
                                             const uint8_t* samples, uint8_t* code, EncodeFrame& frame) {
  const int n = params.sampleCount;
  const int64_t storedBytes = 2 * int64_t{n} + kHeaderBytes;
  frame.stored = estimate.mustStore || storedBytes < estimate.bytes;  // a tie stays coded
  const unsigned widthClass = frame.stored ? kStoredClass : static_cast<unsigned>(estimate.widthClass);
  int64_t size = frame.stored ? storedBytes : estimate.bytes;
  const bool extension = (params.flags & NUBO_FLAG_COUNT_EXTENSION) != 0;
  unsigned sizeField;
  if (extension) {
    size += kCountExtensionBytes;
    sizeField = kCountExtensionMark;
  } else {
    if (size >= kCountExtensionMark) return CodecResult::TooManySamples;
    sizeField = static_cast<unsigned>(size);
  }
  const unsigned word = widthClass << kSizeFieldBits | sizeField;
  code[0] = static_cast<uint8_t>(word);
  code[1] = static_cast<uint8_t>(word >> 8);
  params.codeSize = static_cast<uint16_t>(size);
  uint8_t* body = code + kHeaderBytes;
  if (extension) {
    body[0] = static_cast<uint8_t>(n);
    body[1] = static_cast<uint8_t>(n >> 8);
    body += kCountExtensionBytes;
  }
  if (frame.stored) std::memcpy(body, samples, 2 * static_cast<std::size_t>(n));
  frame.body = body;
  return CodecResult::Ok;
}

struct DecodeFrame {
  unsigned widthClass = 0;
  unsigned sizeField = 0;
  int count = 0;
  std::size_t headerBytes = 0;  // 2, or 4 with a count extension
  const uint8_t* body = nullptr;
  std::size_t bodyLimit = 0;    // body bytes that may be read: the rest of the 4098-byte buffer
};

// Decode framing steps 1 to 4: header, count extension, decodedCount, the
// sample limit, and the whole of a stored block. Returns Ok with
// frame.widthClass < 15 when the coder must decode a body.
[[nodiscard]] inline CodecResult beginDecode(ConvertParams& params, const uint8_t* code, uint8_t* samples,
                                             DecodeFrame& frame) {
  const unsigned word = code[0] | (code[1] << 8);
  frame.sizeField = word & kSizeFieldMask;
  frame.widthClass = word >> kSizeFieldBits;
  frame.headerBytes = kHeaderBytes;
  frame.count = params.sampleCount;
  if (frame.sizeField == kCountExtensionMark) {
    frame.count = code[2] | (code[3] << 8);
    frame.headerBytes += kCountExtensionBytes;
  }
  params.codeSize = static_cast<uint16_t>(frame.headerBytes);
  params.decodedCount = static_cast<uint16_t>(frame.count);
  if (frame.count > kMaxSamples) return CodecResult::TooManySamples;
  frame.body = code + frame.headerBytes;
  frame.bodyLimit = kMaxCodeBlockBytes - frame.headerBytes;
  if (frame.widthClass == kStoredClass) {
    const std::size_t bytes = 2 * static_cast<std::size_t>(frame.count);  // fits: 4 + 4094 <= 4098
    std::memcpy(samples, frame.body, bytes);
    params.codeSize = static_cast<uint16_t>(frame.headerBytes + bytes);
  }
  return CodecResult::Ok;
}

// Step 6 alone, also used after a stored block.
[[nodiscard]] inline CodecResult checkSize(const ConvertParams& params, const DecodeFrame& frame) {
  if (frame.sizeField == kCountExtensionMark || params.codeSize == frame.sizeField) return CodecResult::Ok;
  return CodecResult::SizeMismatch;
}

// Decode framing steps 5 and 6 for a coded body of which `bodyBytes` were
// consumed; `overrun` means the body needed more than the buffer holds, which
// is a size mismatch whatever the size field says.
[[nodiscard]] inline CodecResult finishDecode(ConvertParams& params, const DecodeFrame& frame,
                                              std::size_t bodyBytes, bool overrun) {
  if (overrun) {
    params.codeSize = static_cast<uint16_t>(kMaxCodeBlockBytes);
    return CodecResult::SizeMismatch;
  }
  params.codeSize = static_cast<uint16_t>(frame.headerBytes + bodyBytes);
  return checkSize(params, frame);
}

// The verify step: decode the code block again into a private area and
// compare it with the caller's samples byte by byte. On the first difference
// the record receives the mismatch report (index, then both bytes as signed
// 8-bit values widened to 16 bits).
template <typename Decoder>
[[nodiscard]] CodecResult verifyBlock(ConvertParams& params, const uint8_t* samples, const uint8_t* code,
                                      Decoder decode) {
  alignas(8) uint8_t decoded[kVerifyBufferBytes];
  const CodecResult r = decode(params, decoded, code);
  if (r != CodecResult::Ok) return r;
  const std::size_t bytes = 2 * static_cast<std::size_t>(params.decodedCount);
  if (std::memcmp(samples, decoded, bytes) == 0) return CodecResult::Ok;
  std::size_t j = 0;
  while (samples[j] == decoded[j]) ++j;
  params.flags = static_cast<uint16_t>(j);
  params.sampleCount = static_cast<uint16_t>(static_cast<int16_t>(static_cast<int8_t>(samples[j])));
  params.channels = static_cast<uint16_t>(static_cast<int16_t>(static_cast<int8_t>(decoded[j])));
  return CodecResult::VerifyMismatch;
}

}  // namespace nubo::codec
