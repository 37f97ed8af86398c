// SPDX-License-Identifier: BSD-3-Clause
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
  const int c = params.channels;

  // Analysis: differences, widths and their histogram. The predictor of a
  // channel is its previous sample, so the difference of sample i is
  // sample i - sample i - c (the first sample of each channel keeps its value).
  int32_t diff[kMaxSamples];
  uint8_t width[kMaxSamples];
  const int head = n < c ? n : c;
  for (int i = 0; i < head; ++i) diff[i] = loadSample(samples, i);
  for (int i = head; i < n; ++i) diff[i] = loadSample(samples, i) - loadSample(samples, i - c);
  for (int i = 0; i < n; ++i) width[i] = static_cast<uint8_t>(smallResidualWidth(diff[i]));
  int32_t h[kHistogramBins];
  countWidths(width, n, h);

  // Every first difference of 16-bit samples is at most 16 bits wide, so the
  // median search always stops by bin 16.
  const WidthClassChoice choice = chooseWidthClass(h, n, 0, 16);
  CodedEstimate estimate;
  estimate.widthClass = choice.widthClass;
  estimate.bytes = choice.bytes;
  // Classes 15 and 16 always cost more than storing; this only keeps the
  // header's class field from ever reading 15 for a coded block.
  estimate.mustStore = choice.widthClass >= kCodeClasses;
  EncodeFrame frame;
  const CodecResult r = frameEncode(params, estimate, samples, code, frame);
  if (r != CodecResult::Ok || frame.stored) return r;

  // The body is exactly bytes - 2 long, so whole words may be stored ahead
  // while 8 bytes of it remain.
  const uint8_t* const end = frame.body + (estimate.bytes - kHeaderBytes);
  const SampleCodeWriter codes(estimate.widthClass);
  BitWriter out(frame.body);
  int i = 0;
  for (; i + 2 <= n && out.roomFor(end) >= 8; i += 2) {
    out.append(codes.code(diff[i], width[i]), codes.length(width[i]));
    out.append(codes.code(diff[i + 1], width[i + 1]), codes.length(width[i + 1]));
    out.flushWords();
  }
  for (; i < n; ++i) out.put(codes.code(diff[i], width[i]), codes.length(width[i]));
  out.finish();
  return CodecResult::Ok;
}

namespace {

// The samples of a body for one or two channels (sample i belongs to
// channel i mod kChannels). Wrapping arithmetic: a damaged stream gives
// wrong samples, never overflow.
template <int kChannels>
void decodeDifferences(BitReader& in, const SampleCodeReader& codes, uint8_t* samples, int n) {
  uint32_t history[kChannels] = {};
  uint32_t& first = history[0];
  uint32_t& second = history[kChannels - 1];
  readSampleCodes(
      in, codes, n,
      [&](int i, int32_t e0, int32_t e1) {
        first += static_cast<uint32_t>(e0);
        storeSample(samples, i, static_cast<int32_t>(first));
        second += static_cast<uint32_t>(e1);
        storeSample(samples, i + 1, static_cast<int32_t>(second));
      },
      [&](int i, int32_t e) {
        first += static_cast<uint32_t>(e);
        storeSample(samples, i, static_cast<int32_t>(first));
      });
}

}  // namespace

CodecResult DecodeBlockV20(ConvertParams& params, uint8_t* samples, const uint8_t* code) {
  DecodeFrame frame;
  const CodecResult r = beginDecode(params, code, samples, frame);
  if (r != CodecResult::Ok) return r;
  if (frame.widthClass == kStoredClass) return checkSize(params, frame);

  const SampleCodeReader codes(static_cast<int>(frame.widthClass));
  const int n = frame.count;
  BitReader in(frame.body, frame.bodyLimit);
  if (params.channels == 1) {
    decodeDifferences<1>(in, codes, samples, n);
  } else {
    decodeDifferences<2>(in, codes, samples, n);
  }
  return finishDecode(params, frame, in.bytesConsumed(), in.overrun());
}

CodecResult VerifyBlockV20(ConvertParams& params, const uint8_t* samples, const uint8_t* code) {
  return verifyBlock(params, samples, code, DecodeBlockV20);
}

}  // namespace nubo::codec
