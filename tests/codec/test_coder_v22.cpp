// SPDX-License-Identifier: BSD-3-Clause
// Version-22 coder: the fitted coefficients, exact bytes of known blocks,
// decoding of known codes, and round trips.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "bit_io.h"
#include "coder_v22_fit.h"
#include "coders.h"
#include "nubocodec.h"
#include "signals.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes encodeV22(const std::vector<int16_t>& s, int channels, uint16_t flags = NUBO_FLAG_ENCODE) {
  static uint8_t code[NUBO_MAX_CODE_BLOCK_BYTES];
  auto raw = nubo::test::toBytes(s);
  raw.resize(2 * NUBO_MAX_SAMPLES);
  ConvertParams p{};
  p.flags = flags;
  p.sampleCount = static_cast<uint16_t>(s.size());
  p.channels = static_cast<uint16_t>(channels);
  p.coderVersion = 22;
  EXPECT_EQ(NuboWaveConvert(&p, raw.data(), code), NUBO_OK);
  return Bytes(code, code + p.codeSize);
}

int32_t decodeV22(const Bytes& block, uint16_t sampleCount, int channels, ConvertParams& p,
                  std::vector<int16_t>& out) {
  std::vector<uint8_t> code(NUBO_MAX_CODE_BLOCK_BYTES, 0);
  std::copy(block.begin(), block.end(), code.begin());
  std::vector<uint8_t> samples(2 * NUBO_MAX_SAMPLES);
  p = {};
  p.flags = NUBO_FLAG_DECODE;
  p.sampleCount = sampleCount;
  p.channels = static_cast<uint16_t>(channels);
  p.coderVersion = 22;
  const int32_t r = NuboWaveConvert(&p, samples.data(), code.data());
  out.assign(p.decodedCount, 0);
  for (size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<int16_t>(samples[2 * i] | samples[2 * i + 1] << 8);
  return r;
}

nubo::codec::detail::Coefficients fit(const std::vector<int16_t>& s, int channels) {
  const auto raw = nubo::test::toBytes(s);
  return nubo::codec::detail::fitV22(raw.data(), static_cast<int>(s.size()), channels);
}

TEST(CoderV22Fit, WorkedExamplesGiveTheirCoefficients) {
  auto a = fit({100, 120, 130, 125, 110, 90, 70, 60}, 1);
  EXPECT_EQ(a.a1, 304);
  EXPECT_EQ(a.a2, -16);
  EXPECT_EQ(a.a3, -72);
  a = fit({100, -50, 120, -40, 130, -35, 125, -30, 110, -20, 90, -10}, 2);
  EXPECT_EQ(a.a1, 302);
  EXPECT_EQ(a.a2, -14);
  EXPECT_EQ(a.a3, -98);
  a = fit({32767, -32768, 32767, -32768, 0}, 1);  // a1 clamped
  EXPECT_EQ(a.a1, -128);
  EXPECT_EQ(a.a2, 51);
  EXPECT_EQ(a.a3, 102);
  a = fit({0, 0, 5, 3}, 1);  // A33 is 0: fallback predictor
  EXPECT_EQ(a.a1, 256);
  EXPECT_EQ(a.a2, 0);
  EXPECT_EQ(a.a3, 0);
}

TEST(CoderV22Examples, KnownBlocksEncodeAndDecodeExactly) {
  struct Case {
    std::vector<int16_t> samples;
    int channels;
    uint16_t flags;
    Bytes expected;
  };
  const std::vector<Case> cases = {
      {{0, 0, 5, 3}, 1, 1, {0x08, 0x00, 0x60, 0x08, 0x04, 0x03, 0x1A, 0x50}},
      {{100, 120, 130, 125, 110, 90, 70, 60}, 1, 1,
       {0x0D, 0x20, 0x6C, 0x09, 0x02, 0xE0, 0x00, 0x0C, 0x94, 0x97, 0xB1, 0x8E, 0x3C}},
      {{100, -50, 120, -40, 130, -35, 125, -30, 110, -20, 90, -10}, 2, 1,
       {0x11, 0x40, 0x6B, 0x88, 0xE2, 0x78, 0x72, 0x13, 0x63, 0x67, 0xD5, 0x4C, 0x76, 0x61, 0xFB, 0x1F, 0xC0}},
      {{}, 1, 1, {0x02, 0xF0}},
      {{7}, 1, 1, {0x04, 0xF0, 0x07, 0x00}},
      {{0, 0}, 1, 1, {0x06, 0x00, 0x60, 0x08, 0x04, 0x03}},
      {{0, 0}, 1, 9, {0xFF, 0x0F, 0x02, 0x00, 0x60, 0x08, 0x04, 0x03}},
      {std::vector<int16_t>(10, 0), 1, 1, {0x07, 0x00, 0x60, 0x08, 0x04, 0x03, 0xFF}},
      {std::vector<int16_t>(10, 0), 2, 1, {0x07, 0x00, 0x60, 0x08, 0x04, 0x03, 0xFF}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(encodeV22(c.samples, c.channels, c.flags), c.expected) << c.samples.size() << " samples";
    ConvertParams p;
    std::vector<int16_t> out;
    // With a count extension the count comes from the block, whatever sampleCount says.
    const uint16_t count = (c.flags & 8) ? 99 : static_cast<uint16_t>(c.samples.size());
    EXPECT_EQ(decodeV22(c.expected, count, c.channels, p, out), NUBO_OK);
    EXPECT_EQ(out, c.samples);
    EXPECT_EQ(p.codeSize, c.expected.size());
  }
}

TEST(CoderV22Examples, BlocksThatMustBeStored) {
  Bytes b = encodeV22({0, -32768, -32768, 0, 0}, 2);
  EXPECT_EQ(b[1] >> 4, 15);
  b = encodeV22({32767, -32768, 32767, -32768, 0}, 1);
  EXPECT_EQ(b.size(), 12u);
  EXPECT_EQ(b[1] >> 4, 15);
}

TEST(CoderV22Decode, KnownCodesAndSizeMismatch) {
  // Class 2, fallback predictor, one channel: codes 1 111 (-1), 1 011 (3),
  // 01 001 (-6), 0000 1 1111 1111 1111 1100 (-4), residuals of first differences.
  uint8_t body[16] = {};
  nubo::codec::BitWriter w(body);
  w.put(384, 10);
  w.put(128, 10);
  w.put(256, 10);
  for (const char* bit = "1111" "1011" "01001" "000011111111111111100"; *bit; ++bit) w.put(*bit == '1', 1);
  const auto bodyBytes = static_cast<size_t>(w.finish() - body);
  Bytes block = {static_cast<uint8_t>(bodyBytes + 2), 0x20};
  block.insert(block.end(), body, body + bodyBytes);
  ConvertParams p;
  std::vector<int16_t> out;
  EXPECT_EQ(decodeV22(block, 4, 1, p, out), NUBO_OK);
  EXPECT_EQ(out, (std::vector<int16_t>{-1, 2, -4, -8}));
  block[0] += 1;  // size field one more than the body
  block.push_back(0);
  EXPECT_EQ(decodeV22(block, 4, 1, p, out), NUBO_SIZE_MISMATCH);
  EXPECT_EQ(out, (std::vector<int16_t>{-1, 2, -4, -8}));
}

TEST(CoderV22RoundTrip, EveryShapeLengthChannelAndExtension) {
  const int lengths[] = {0, 1, 2, 3, 6, 100, 1764, 2046, 2047};
  uint32_t seed = 500;
  for (auto shape : nubo::test::kAllShapes) {
    for (int n : lengths) {
      for (int channels = 1; channels <= 2; ++channels) {
        for (uint16_t flags : {uint16_t{1}, uint16_t{9}}) {
          const auto s = nubo::test::makeSignal(shape, n, channels, seed++);
          auto raw = nubo::test::toBytes(s);
          raw.resize(2 * NUBO_MAX_SAMPLES);
          static uint8_t code[NUBO_MAX_CODE_BLOCK_BYTES];
          ConvertParams p{};
          p.flags = flags | NUBO_FLAG_VERIFY;
          p.sampleCount = static_cast<uint16_t>(n);
          p.channels = static_cast<uint16_t>(channels);
          p.coderVersion = 22;
          const int32_t r = NuboWaveConvert(&p, raw.data(), code);
          if (n == 2047 && flags == 1 && r == NUBO_TOO_MANY_SAMPLES) continue;
          ASSERT_EQ(r, NUBO_OK) << nubo::test::shapeName(shape) << " n=" << n;
          const uint16_t encodedSize = p.codeSize;
          ConvertParams q;
          std::vector<int16_t> out;
          ASSERT_EQ(decodeV22(Bytes(code, code + encodedSize), static_cast<uint16_t>(n), channels, q, out), NUBO_OK);
          EXPECT_EQ(q.codeSize, encodedSize);
          EXPECT_EQ(out, s) << nubo::test::shapeName(shape) << " n=" << n;
        }
      }
    }
  }
}

}  // namespace

namespace {

// Width of |e| as the coder counts it.
int widthOf(int64_t e) {
  int w = 0;
  for (int64_t m = e < 0 ? -e : e; m > 0; m >>= 1) ++w;
  return w;
}

// The widest residual of the fitted predictor, formed as the coder forms it.
int widestResidual(const std::vector<int16_t>& s, int channels) {
  const auto a = fit(s, channels);
  auto at = [&](int i) -> int32_t { return i >= 0 ? s[static_cast<size_t>(i)] : 0; };
  int widest = 0;
  for (int i = 0; i < static_cast<int>(s.size()); ++i) {
    const int32_t p = (a.a1 * at(i - channels) + a.a2 * at(i - 2 * channels) + a.a3 * at(i - 3 * channels)) >> 8;
    widest = std::max(widest, widthOf(int64_t{s[static_cast<size_t>(i)]} - p));
  }
  return widest;
}

// A steep sine clipped at full scale. Where it runs into the clipping the
// fitted predictor overshoots past 32767, so a full-scale jump to -32768 at
// that sample leaves a residual of more than 65535.
std::vector<int16_t> clippedSineWithJump(bool jump) {
  std::vector<int16_t> s;
  for (int i = 0; i < 600; ++i) s.push_back(nubo::test::clamp16(34000 * std::sin(2 * M_PI * i / 32)));
  if (jump) s[231] = -32768;
  return s;
}

}  // namespace

TEST(CoderV22Examples, ResidualOfWidthSeventeenStoresTheBlock) {
  // Without the jump the sine codes below its raw size.
  const auto smooth = clippedSineWithJump(false);
  ASSERT_LE(widestResidual(smooth, 1), 16);
  EXPECT_NE(encodeV22(smooth, 1)[1] >> 4, 15);

  const auto s = clippedSineWithJump(true);
  ASSERT_GE(widestResidual(s, 1), 17) << "the signal must contain a 17-bit residual";
  const unsigned storedSize = 2 * static_cast<unsigned>(s.size()) + 2;
  Bytes expected = {static_cast<uint8_t>(storedSize), static_cast<uint8_t>(0xF0 | storedSize >> 8)};
  const auto raw = nubo::test::toBytes(s);
  expected.insert(expected.end(), raw.begin(), raw.end());
  EXPECT_EQ(encodeV22(s, 1), expected);
  // With a count extension: the stored samples follow the count.
  Bytes extended = {0xFF, 0xFF, static_cast<uint8_t>(s.size()), static_cast<uint8_t>(s.size() >> 8)};
  extended.insert(extended.end(), raw.begin(), raw.end());
  EXPECT_EQ(encodeV22(s, 1, NUBO_FLAG_ENCODE | NUBO_FLAG_COUNT_EXTENSION), extended);
}

// The encoder joins its sample codes in pairs with AVX2 where the machine has
// it; the plain writer must give the same blocks byte for byte, over every
// width class, odd and even lengths, escape codes and both framings.
TEST(CoderV22Paths, PairedAndPlainCodeWritersGiveTheSameBlocks) {
  using nubo::codec::detail::V22Path;
  using nubo::test::Shape;
  const Shape shapes[] = {Shape::Silence, Shape::Step,        Shape::FullScaleNoise, Shape::QuietNoise, Shape::Square,
                          Shape::Sine,    Shape::ClippedSine, Shape::NearExtremes,   Shape::Music};
  const int lengths[] = {1, 2, 3, 7, 8, 9, 15, 16, 17, 31, 33, 1000, 1764, 2046, 2047};
  uint32_t seed = 7;
  int escapeBlocks = 0;
  for (const Shape shape : shapes) {
    for (const bool spikes : {false, true}) {
      for (const int channels : {1, 2}) {
        for (const int n : lengths) {
          std::vector<int16_t> s = nubo::test::makeSignal(shape, n, channels, seed++);
          // Lone large steps in a quiet signal take the escape code.
          if (spikes) {
            for (int i = 5; i < n; i += 37) s[i] = static_cast<int16_t>(s[i] / 2 + (i % 2 ? 9000 : -9000));
          }
          auto raw = nubo::test::toBytes(s);
          raw.resize(2 * NUBO_MAX_SAMPLES);
          for (const uint16_t flags : {uint16_t{NUBO_FLAG_ENCODE}, uint16_t{NUBO_FLAG_ENCODE | NUBO_FLAG_COUNT_EXTENSION}}) {
            uint8_t code[2][NUBO_MAX_CODE_BLOCK_BYTES] = {};
            ConvertParams p[2] = {};
            const V22Path paths[] = {V22Path::Best, V22Path::Plain};
            nubo::codec::CodecResult r[2];
            for (int k = 0; k < 2; ++k) {
              p[k].flags = flags;
              p[k].sampleCount = static_cast<uint16_t>(n);
              p[k].channels = static_cast<uint16_t>(channels);
              p[k].coderVersion = 22;
              r[k] = nubo::codec::detail::encodeBlockV22(p[k], raw.data(), code[k], paths[k]);
            }
            const std::string what = std::string(nubo::test::shapeName(shape)) + (spikes ? "+spikes" : "") +
                                     " n=" + std::to_string(n) + " c=" + std::to_string(channels);
            ASSERT_EQ(r[0], r[1]) << what;
            ASSERT_EQ(p[0].codeSize, p[1].codeSize) << what;
            ASSERT_EQ(Bytes(code[0], code[0] + p[0].codeSize), Bytes(code[1], code[1] + p[1].codeSize)) << what;
            if (spikes && n >= 1000 && (code[0][1] >> 4) != nubo::codec::kStoredClass) ++escapeBlocks;
          }
        }
      }
    }
  }
  EXPECT_GT(escapeBlocks, 0) << "some spiked blocks are coded, not stored, so their escape codes are compared";
}
