// SPDX-License-Identifier: BSD-3-Clause
// Version-21 coder through the public call: exact bytes of known blocks and
// round trips over every signal shape.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "coders.h"
#include "nubocodec.h"
#include "signals.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes encodeV21(const std::vector<int16_t>& s, int channels, uint16_t flags, ConvertParams& p) {
  static uint8_t code[NUBO_MAX_CODE_BLOCK_BYTES];
  auto raw = nubo::test::toBytes(s);
  raw.resize(2 * NUBO_MAX_SAMPLES);
  p = {};
  p.flags = flags;
  p.sampleCount = static_cast<uint16_t>(s.size());
  p.channels = static_cast<uint16_t>(channels);
  p.coderVersion = 21;
  EXPECT_EQ(NuboWaveConvert(&p, raw.data(), code), NUBO_OK);
  return Bytes(code, code + p.codeSize);
}

TEST(CoderV21Examples, WorkedExampleAndEdgeCasesGiveExactBytes) {
  struct Case {
    std::vector<int16_t> samples;
    uint16_t flags;
    Bytes expected;
  };
  const std::vector<Case> cases = {
      {{10, 12, 15, 11, 11, 30, 31, 29}, 1, {0x08, 0x20, 0x03, 0x55, 0x6B, 0x81, 0x9C, 0xF0}},
      {{}, 1, {0x02, 0xF0}},
      {{}, 9, {0xFF, 0xFF, 0x00, 0x00}},
      {{0}, 1, {0x03, 0x00, 0x08}},
      {{5}, 1, {0x04, 0x00, 0x01, 0xA0}},
      {{-3}, 1, {0x04, 0x00, 0x02, 0x00}},
  };
  for (const auto& c : cases) {
    ConvertParams p;
    EXPECT_EQ(encodeV21(c.samples, 1, c.flags, p), c.expected) << c.samples.size() << " samples";
  }
  ConvertParams p;
  EXPECT_EQ(encodeV21(std::vector<int16_t>(400, 0), 1, 1, p).size(), 53u);  // 2 + ceil(404 / 8)
}

TEST(CoderV21RoundTrip, EveryShapeLengthChannelAndExtension) {
  const int lengths[] = {0, 1, 2, 5, 100, 1764, 2046, 2047};
  uint32_t seed = 100;
  for (auto shape : nubo::test::kAllShapes) {
    for (int n : lengths) {
      for (int channels = 1; channels <= 2; ++channels) {
        for (uint16_t flags : {uint16_t{1}, uint16_t{9}}) {
          const auto s = nubo::test::makeSignal(shape, n, channels, seed++);
          auto raw = nubo::test::toBytes(s);
          raw.resize(2 * NUBO_MAX_SAMPLES);
          static uint8_t code[NUBO_MAX_CODE_BLOCK_BYTES];
          ConvertParams p{};
          p.flags = flags;
          p.sampleCount = static_cast<uint16_t>(n);
          p.channels = static_cast<uint16_t>(channels);
          p.coderVersion = 21;
          const int32_t r = NuboWaveConvert(&p, raw.data(), code);
          if (n == 2047 && flags == 1 && r == NUBO_TOO_MANY_SAMPLES) continue;
          ASSERT_EQ(r, NUBO_OK) << nubo::test::shapeName(shape) << " n=" << n;
          const uint16_t encodedSize = p.codeSize;
          std::vector<uint8_t> out(2 * NUBO_MAX_SAMPLES);
          p.flags = NUBO_FLAG_DECODE | NUBO_FLAG_VERIFY;
          p.sampleCount = static_cast<uint16_t>(n);
          ASSERT_EQ(NuboWaveConvert(&p, out.data(), code), NUBO_OK) << nubo::test::shapeName(shape) << " n=" << n;
          EXPECT_EQ(p.codeSize, encodedSize);
          EXPECT_TRUE(std::equal(raw.begin(), raw.begin() + 2 * n, out.begin()))
              << nubo::test::shapeName(shape) << " n=" << n;
        }
      }
    }
  }
}

TEST(CoderV21Examples, NoiseAndFastestSquareAreStored) {
  ConvertParams p;
  std::vector<int16_t> square(300);
  for (size_t i = 0; i < square.size(); ++i) square[i] = i % 2 ? -32768 : 32767;
  Bytes b = encodeV21(square, 1, 1, p);
  EXPECT_EQ(b[1] >> 4, 15);
  EXPECT_EQ(p.codeSize, 602);
  b = encodeV21(nubo::test::makeSignal(nubo::test::Shape::FullScaleNoise, 1000, 2, 9), 2, 1, p);
  EXPECT_EQ(b[1] >> 4, 15);
}

}  // namespace

namespace {

TEST(CoderV21Examples, SeventeenBitResidualFallsBackToPredictorZero) {
  // Two steep ramps (-32000 up to 32000 in steps of 2000): predictor 8
  // extrapolates them exactly, but at the jump back down its residual is
  // -64000 - 8 * 250, 17 bits wide, so the block is coded with predictor 0,
  // whose residuals (2000 on the ramps, -64000 at the jump) fit the codes.
  std::vector<int16_t> s;
  for (int i = 0; i < 66; ++i) s.push_back(static_cast<int16_t>(-32000 + 2000 * (i % 33)));
  ConvertParams p;
  const Bytes block = encodeV21(s, 1, NUBO_FLAG_ENCODE, p);
  ASSERT_GE(block.size(), 3u);
  EXPECT_NE(block[1] >> 4, 15) << "coded, not stored";
  EXPECT_EQ(block[2] >> 4, 0) << "predictor index";

  std::vector<uint8_t> code(NUBO_MAX_CODE_BLOCK_BYTES, 0);
  std::copy(block.begin(), block.end(), code.begin());
  std::vector<uint8_t> out(2 * NUBO_MAX_SAMPLES);
  ConvertParams q{};
  q.flags = NUBO_FLAG_DECODE;
  q.sampleCount = static_cast<uint16_t>(s.size());
  q.channels = 1;
  q.coderVersion = 21;
  ASSERT_EQ(NuboWaveConvert(&q, out.data(), code.data()), NUBO_OK);
  EXPECT_EQ(q.codeSize, block.size());
  out.resize(2 * s.size());
  EXPECT_EQ(out, nubo::test::toBytes(s));
}

// Blocks whose first differences take a few widths in chosen proportions:
// zeros mixed with wide steps, two clusters far apart, and so on. Under
// every predictor such blocks put the median far from the mean width, where
// the AVX2 statistics must fall back to counting the whole histogram.
std::vector<int16_t> widthMixture(std::mt19937& rng, int n, int channels) {
  const int levels = 2 + static_cast<int>(rng() % 2);
  int widths[3], weights[3], total = 0;
  for (int i = 0; i < levels; ++i) {
    widths[i] = static_cast<int>(rng() % 15);
    weights[i] = 1 + static_cast<int>(rng() % 10);
    total += weights[i];
  }
  std::vector<int16_t> s(static_cast<size_t>(n));
  for (int k = 0; k < n; ++k) {
    int pick = static_cast<int>(rng() % static_cast<unsigned>(total)), level = 0;
    while (pick >= weights[level]) pick -= weights[level++];
    const int w = widths[level];
    int32_t d = w == 0 ? 0 : (1 << (w - 1)) + static_cast<int32_t>(rng() % (1u << (w - 1)));
    if (rng() & 1) d = -d;
    const int32_t previous = k >= channels ? s[k - channels] : 0;
    if (previous + d > 32767 || previous + d < -32768) d = -d;
    s[k] = static_cast<int16_t>(previous + d);
  }
  return s;
}

// Steep ramps from -32768 up, falling back at the end of each period: the
// slope predictors extrapolate the ramp, but their residual at a fall is 17
// bits wide when the steps are large.
std::vector<int16_t> ramps(std::mt19937& rng, int n) {
  const int step = 500 + static_cast<int>(rng() % 3500);
  const int period = 2 + static_cast<int>(rng() % 40);
  std::vector<int16_t> s(static_cast<size_t>(n));
  for (int k = 0; k < n; ++k) s[k] = static_cast<int16_t>(std::min(32767, -32768 + step * (k % period)));
  return s;
}

// The blocks that the path tests run: every signal shape, mixtures of
// widths and steep ramps, at lengths around the vector steps of 8, 16 and 32
// samples.
template <typename Visit>
void forEachPathTestBlock(Visit&& visit) {
  const int lengths[] = {0, 1, 2, 3, 7, 8, 9, 15, 16, 17, 31, 32, 33, 63, 65, 1000, 1764, 2046, 2047};
  uint32_t seed = 1;
  std::mt19937 rng(77);
  for (const int channels : {1, 2}) {
    for (const int n : lengths) {
      for (const auto shape : nubo::test::kAllShapes)
        visit(nubo::test::makeSignal(shape, n, channels, seed++), channels, nubo::test::shapeName(shape));
      for (int i = 0; i < 12; ++i) visit(widthMixture(rng, n, channels), channels, "width mixture");
      for (int i = 0; i < 4; ++i) visit(ramps(rng, n), channels, "ramps");
    }
  }
}

// The encoder takes AVX2 where the machine has it (widths as bytes and a
// few running counts per predictor, then codes joined in pairs), else SSE2
// widths with full histograms, else plain code. Every path must find the
// same class and size for each predictor, and the same tooWide flag, and
// write the same blocks.
TEST(CoderV21Paths, EveryPathFindsTheSameCandidates) {
  using nubo::codec::detail::V21Candidate;
  using nubo::codec::detail::V21Path;
  const V21Path paths[] = {V21Path::Best, V21Path::Sse2, V21Path::Scalar};
  int mixtures = 0;
  forEachPathTestBlock([&](const std::vector<int16_t>& signal, int channels, const char* what) {
    const int n = static_cast<int>(signal.size());
    // Zeros before the samples (the lags of the first ones) and after them,
    // as the encoder lays them out.
    std::vector<int16_t> history(8 + NUBO_MAX_SAMPLES + 32, 0);
    std::copy(signal.begin(), signal.end(), history.begin() + 8);
    V21Candidate found[3][nubo::codec::kV21Predictors];
    for (int i = 0; i < 3; ++i) nubo::codec::detail::v21Candidates(history.data() + 8, n, channels, found[i], paths[i]);
    for (int i = 0; i < 2; ++i) {
      for (int p = 0; p < nubo::codec::kV21Predictors; ++p) {
        const V21Candidate& a = found[i][p];
        const V21Candidate& b = found[2][p];
        ASSERT_EQ(a.widthClass, b.widthClass) << what << " n=" << n << " c=" << channels << " path " << i << " predictor " << p;
        ASSERT_EQ(a.bytes, b.bytes) << what << " n=" << n << " c=" << channels << " path " << i << " predictor " << p;
        ASSERT_EQ(a.stored, b.stored) << what << " n=" << n << " c=" << channels << " path " << i << " predictor " << p;
        ASSERT_EQ(a.tooWide, b.tooWide) << what << " n=" << n << " c=" << channels << " path " << i << " predictor " << p;
      }
    }
    if (std::string(what) == "width mixture") ++mixtures;
  });
  EXPECT_GT(mixtures, 0);
}

TEST(CoderV21Paths, EveryPathWritesTheSameBlocks) {
  using nubo::codec::detail::V21Path;
  const V21Path paths[] = {V21Path::Best, V21Path::Sse2, V21Path::Scalar};
  int coded = 0;
  forEachPathTestBlock([&](const std::vector<int16_t>& signal, int channels, const char* what) {
    auto raw = nubo::test::toBytes(signal);
    raw.resize(2 * NUBO_MAX_SAMPLES);
    for (const uint16_t flags : {uint16_t{NUBO_FLAG_ENCODE}, uint16_t{NUBO_FLAG_ENCODE | NUBO_FLAG_COUNT_EXTENSION}}) {
      Bytes blocks[3];
      nubo::codec::CodecResult results[3];
      for (int i = 0; i < 3; ++i) {
        uint8_t code[NUBO_MAX_CODE_BLOCK_BYTES] = {};
        ConvertParams p{};
        p.flags = flags;
        p.sampleCount = static_cast<uint16_t>(signal.size());
        p.channels = static_cast<uint16_t>(channels);
        p.coderVersion = 21;
        results[i] = nubo::codec::detail::encodeBlockV21(p, raw.data(), code, paths[i]);
        blocks[i] = Bytes(code, code + (results[i] == nubo::codec::CodecResult::Ok ? p.codeSize : 0));
      }
      const std::string where = std::string(what) + " n=" + std::to_string(signal.size()) + " c=" +
                                std::to_string(channels) + " flags=" + std::to_string(flags);
      ASSERT_EQ(results[0], results[2]) << where;
      ASSERT_EQ(results[1], results[2]) << where;
      ASSERT_EQ(blocks[0], blocks[2]) << where;
      ASSERT_EQ(blocks[1], blocks[2]) << where;
      if (blocks[2].size() > 2 && (blocks[2][1] >> 4) != nubo::codec::kStoredClass) ++coded;
    }
  });
  EXPECT_GT(coded, 0);
}

}  // namespace
