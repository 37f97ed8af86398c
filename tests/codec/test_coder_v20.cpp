// SPDX-License-Identifier: BSD-3-Clause
// Version-20 coder through the public call: exact bytes of known blocks,
// round trips, result codes and the verify report.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "bit_io.h"
#include "nubocodec.h"
#include "signals.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Block {
  ConvertParams params{};
  uint8_t samples[2 * NUBO_MAX_SAMPLES + 8] = {};
  uint8_t code[NUBO_MAX_CODE_BLOCK_BYTES] = {};
};

int32_t encode(Block& b, const std::vector<int16_t>& s, int channels, uint16_t flags = NUBO_FLAG_ENCODE,
               uint32_t version = 20) {
  b.params = {};
  b.params.flags = flags;
  b.params.sampleCount = static_cast<uint16_t>(s.size());
  b.params.channels = static_cast<uint16_t>(channels);
  b.params.coderVersion = version;
  const Bytes raw = nubo::test::toBytes(s);
  if (!raw.empty()) std::memcpy(b.samples, raw.data(), std::min(raw.size(), sizeof b.samples));
  return NuboWaveConvert(&b.params, b.samples, b.code);
}

Bytes codeBytes(const Block& b) { return Bytes(b.code, b.code + b.params.codeSize); }

int32_t decode(const Bytes& block, uint16_t sampleCount, int channels, ConvertParams& p, uint8_t* samples) {
  static uint8_t code[NUBO_MAX_CODE_BLOCK_BYTES];
  std::memset(code, 0, sizeof code);
  std::memcpy(code, block.data(), block.size());
  p = {};
  p.flags = NUBO_FLAG_DECODE;
  p.sampleCount = sampleCount;
  p.channels = static_cast<uint16_t>(channels);
  p.coderVersion = 20;
  return NuboWaveConvert(&p, samples, code);
}

TEST(CoderV20Examples, WorkedExamplesAndEdgeCasesGiveExactBytes) {
  struct Case {
    std::vector<int16_t> samples;
    int channels;
    uint16_t flags;
    Bytes expected;
  };
  std::vector<Case> cases = {
      {{5, 7, 6, 6}, 1, 1, {0x04, 0x00, 0x1A, 0x65}},
      {{5, 7, 6, 6}, 1, 9, {0xFF, 0x0F, 0x04, 0x00, 0x1A, 0x65}},
      {{0, 0, 0, 0, 0, 0, 30000, 0}, 1, 1, {0x08, 0x00, 0xFC, 0x0E, 0xA6, 0x01, 0x8A, 0xD0}},
      {{}, 1, 1, {0x02, 0x00}},
      {{0}, 1, 1, {0x03, 0x00, 0x80}},
      {{1000}, 1, 1, {0x04, 0xF0, 0xE8, 0x03}},
      {{-32768, 32767}, 1, 1, {0x06, 0xF0, 0x00, 0x80, 0xFF, 0x7F}},
  };
  Bytes silence = {0xDF, 0x00};
  silence.insert(silence.end(), 220, 0xFF);
  silence.push_back(0xF0);
  cases.push_back({std::vector<int16_t>(1764, 0), 2, 1, silence});
  for (const auto& c : cases) {
    Block b;
    ASSERT_EQ(encode(b, c.samples, c.channels, c.flags), NUBO_OK);
    EXPECT_EQ(codeBytes(b), c.expected) << c.samples.size() << " samples";
    EXPECT_EQ(b.params.decodedCount, c.samples.size());
  }
}

TEST(CoderV20Examples, EscapeCodesOfExtremeDifferences) {
  // 0 then 32767 then -32768: differences 32767 and -65535 under class 0.
  Block b;
  ASSERT_EQ(encode(b, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, -32768, 32767, -32768, 0, 0, 0, 0, 0, 0, 0}, 1), NUBO_OK);
  nubo::codec::BitReader in(b.code + 2, b.params.codeSize - 2);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(in.get(1), 1u);
  EXPECT_EQ(in.get(4), 0u);
  EXPECT_EQ(in.get(17), 0x18000u);  // -32768
  EXPECT_EQ(in.get(4), 0u);
  EXPECT_EQ(in.get(17), 0x0FFFFu);  // +65535
  EXPECT_EQ(in.get(4), 0u);
  EXPECT_EQ(in.get(17), 0x10001u);  // -65535
}

TEST(CoderV20RoundTrip, EveryShapeLengthChannelAndExtension) {
  using nubo::test::Shape;
  const int lengths[] = {0, 1, 2, 3, 7, 100, 1024, 1763, 1764, 2046, 2047};
  uint32_t seed = 1;
  for (Shape shape : nubo::test::kAllShapes) {
    for (int n : lengths) {
      for (int channels = 1; channels <= 2; ++channels) {
        for (uint16_t flags : {uint16_t{1}, uint16_t{9}, uint16_t{5}, uint16_t{13}}) {
          const auto s = nubo::test::makeSignal(shape, n, channels, seed++);
          Block b;
          const int32_t r = encode(b, s, channels, flags);
          if (n == 2047 && !(flags & 8) && r == NUBO_TOO_MANY_SAMPLES) continue;  // cannot be framed
          ASSERT_EQ(r, NUBO_OK) << nubo::test::shapeName(shape) << " n=" << n;
          ConvertParams p;
          uint8_t out[2 * NUBO_MAX_SAMPLES] = {};
          ASSERT_EQ(decode(codeBytes(b), static_cast<uint16_t>(n), channels, p, out), NUBO_OK)
              << nubo::test::shapeName(shape) << " n=" << n << " flags=" << flags;
          EXPECT_EQ(p.codeSize, b.params.codeSize);
          EXPECT_EQ(p.decodedCount, n);
          const auto expected = nubo::test::toBytes(s);
          EXPECT_TRUE(std::equal(expected.begin(), expected.end(), out))
              << nubo::test::shapeName(shape) << " n=" << n;
        }
      }
    }
  }
}

TEST(CoderV20RoundTrip, FullScaleNoiseIsStoredAndSquareWaveToo) {
  Block b;
  ASSERT_EQ(encode(b, nubo::test::makeSignal(nubo::test::Shape::FullScaleNoise, 1000, 2, 7), 2), NUBO_OK);
  EXPECT_EQ(b.code[1] >> 4, 15);
  EXPECT_EQ(b.params.codeSize, 2002);
  std::vector<int16_t> square(200);
  for (size_t i = 0; i < square.size(); ++i) square[i] = (i / 2) % 2 ? 32767 : -32768;
  ASSERT_EQ(encode(b, square, 2), NUBO_OK);
  EXPECT_EQ(b.code[1] >> 4, 15);
}

TEST(CodecResults, UnknownVersionTouchesNothing) {
  for (uint32_t version : {23u, 0xFFFFFFFFu}) {
    Block b;
    std::memset(b.code, 0xAB, sizeof b.code);
    ConvertParams p{};
    p.flags = 1;
    p.sampleCount = 4;
    p.channels = 1;
    p.coderVersion = version;
    p.codeSize = 0x1234;
    p.decodedCount = 0x5678;
    const ConvertParams before = p;
    EXPECT_EQ(NuboWaveConvert(&p, b.samples, b.code), NUBO_UNSUPPORTED_VERSION);
    EXPECT_EQ(std::memcmp(&p, &before, sizeof p), 0);
    EXPECT_EQ(b.code[0], 0xAB);
  }
}

TEST(CodecResults, VersionsUpToTwentySelectTheSameCoder) {
  Block a, b;
  ASSERT_EQ(encode(a, {5, 7, 6, 6}, 1, 1, 20), NUBO_OK);
  for (uint32_t v : {0u, 5u}) {
    ASSERT_EQ(encode(b, {5, 7, 6, 6}, 1, 1, v), NUBO_OK);
    EXPECT_EQ(codeBytes(a), codeBytes(b));
  }
}

TEST(CodecResults, ChannelCountsOtherThanOneOrTwoAreRefused) {
  for (int channels : {0, 3, 5}) {
    Block b;
    std::memset(b.code, 0xAB, sizeof b.code);
    EXPECT_EQ(encode(b, {1, 2, 3}, channels), NUBO_UNSUPPORTED_CHANNELS);
    EXPECT_EQ(b.code[0], 0xAB);
    EXPECT_EQ(b.params.decodedCount, 0);
  }
}

TEST(CodecResults, TooManySamples) {
  Block b;
  std::memset(b.code, 0xAB, sizeof b.code);
  ConvertParams p{};
  p.flags = 1;
  p.sampleCount = 2048;
  p.channels = 1;
  p.coderVersion = 20;
  EXPECT_EQ(NuboWaveConvert(&p, b.samples, b.code), NUBO_TOO_MANY_SAMPLES);
  EXPECT_EQ(p.decodedCount, 2048);
  EXPECT_EQ(b.code[0], 0xAB);

  // A count extension that claims 2048 samples.
  uint8_t out[2 * NUBO_MAX_SAMPLES];
  EXPECT_EQ(decode({0xFF, 0x0F, 0x00, 0x08}, 10, 1, p, out), NUBO_TOO_MANY_SAMPLES);
  EXPECT_EQ(p.codeSize, 4);
  EXPECT_EQ(p.decodedCount, 2048);

  // 2047 noise samples would be stored in 4096 bytes, which the size field cannot record.
  const auto noise = nubo::test::makeSignal(nubo::test::Shape::FullScaleNoise, 2047, 1, 3);
  std::memset(b.code, 0xAB, sizeof b.code);
  EXPECT_EQ(encode(b, noise, 1), NUBO_TOO_MANY_SAMPLES);
  EXPECT_EQ(b.code[0], 0xAB);
  EXPECT_EQ(encode(b, noise, 1, 9), NUBO_OK);
  EXPECT_EQ(b.params.codeSize, 4098);
}

TEST(CodecResults, SizeFieldDisagreeingWithTheBody) {
  ConvertParams p;
  uint8_t out[2 * NUBO_MAX_SAMPLES];
  EXPECT_EQ(decode({0x04, 0x00, 0x1A, 0x65}, 4, 1, p, out), NUBO_OK);
  EXPECT_EQ(decode({0x05, 0x00, 0x1A, 0x65, 0x00}, 4, 1, p, out), NUBO_SIZE_MISMATCH);
  EXPECT_EQ(p.codeSize, 4);
  EXPECT_EQ(decode({0x03, 0x00, 0x1A, 0x65}, 4, 1, p, out), NUBO_SIZE_MISMATCH);
  // Samples still decoded.
  EXPECT_EQ(out[0], 5);
  EXPECT_EQ(out[6], 6);
}

TEST(CodecResults, DamagedBodyNeverReadsPastTheCodeBuffer) {
  // Class 0, 2047 samples, all-zero body: every sample asks for 21 bits, far
  // more than the buffer holds. The buffer is exactly 4098 bytes on the heap.
  std::vector<uint8_t> code(NUBO_MAX_CODE_BLOCK_BYTES, 0);
  code[0] = 0xFF;
  code[1] = 0x0F;
  code[2] = 0xFF;
  code[3] = 0x07;  // count extension: 2047
  std::vector<uint8_t> out(2 * NUBO_MAX_SAMPLES);
  ConvertParams p{};
  p.flags = NUBO_FLAG_DECODE;
  p.channels = 2;
  p.coderVersion = 20;
  EXPECT_EQ(NuboWaveConvert(&p, out.data(), code.data()), NUBO_SIZE_MISMATCH);
  EXPECT_EQ(p.codeSize, NUBO_MAX_CODE_BLOCK_BYTES);
  EXPECT_EQ(p.decodedCount, 2047);
}

TEST(CodecVerify, MismatchReportWithSignWidening) {
  Block b;
  ASSERT_EQ(encode(b, {5, 7, 6, 6}, 1), NUBO_OK);
  b.params.flags = NUBO_FLAG_VERIFY;  // verify alone checks the block against the samples
  EXPECT_EQ(NuboWaveConvert(&b.params, b.samples, b.code), NUBO_OK);
  b.samples[3] = 0x80;  // sample 1 becomes 7 + 0x8000: high byte differs
  b.params.flags = NUBO_FLAG_VERIFY;
  b.params.sampleCount = 4;
  b.params.channels = 1;
  EXPECT_EQ(NuboWaveConvert(&b.params, b.samples, b.code), NUBO_VERIFY_MISMATCH);
  EXPECT_EQ(b.params.flags, 3);
  EXPECT_EQ(b.params.sampleCount, 0xFF80);
  EXPECT_EQ(b.params.channels, 0x0000);

  Block c;
  ASSERT_EQ(encode(c, {5, 7, 6, 6}, 1, NUBO_FLAG_ENCODE | NUBO_FLAG_VERIFY), NUBO_OK);
  c.params.flags = NUBO_FLAG_DECODE | NUBO_FLAG_VERIFY;
  EXPECT_EQ(NuboWaveConvert(&c.params, c.samples, c.code), NUBO_OK);
}

TEST(CodecFlags, NeitherEncodeNorDecodeWritesNothing) {
  Block b;
  std::memset(b.code, 0xAB, sizeof b.code);
  ConvertParams p{};
  p.flags = 8;
  p.sampleCount = 4;
  p.channels = 1;
  p.coderVersion = 20;
  p.codeSize = 77;
  const ConvertParams before = p;
  EXPECT_EQ(NuboWaveConvert(&p, b.samples, b.code), NUBO_OK);
  EXPECT_EQ(std::memcmp(&p, &before, sizeof p), 0);
  EXPECT_EQ(b.code[0], 0xAB);
  p.flags = 3;  // encode wins over decode
  EXPECT_EQ(NuboWaveConvert(&p, b.samples, b.code), NUBO_OK);
  EXPECT_EQ(p.codeSize, 3);  // four zero samples: class 0, four 1 bits
}

}  // namespace
