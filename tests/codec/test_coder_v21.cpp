// Version-21 coder through the public call: exact bytes of known blocks and
// round trips over every signal shape.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
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

// The statistics pass has an AVX2 path, an SSE2 path and plain code; the
// encoder uses the widest the machine has, so the others are run here on the
// same blocks and must count the same widths.
TEST(CoderV21Statistics, VectorAndPlainPathsCountTheSameWidths) {
  using nubo::codec::detail::V21Path;
  using nubo::test::Shape;
  const Shape shapes[] = {Shape::Silence,   Shape::Step, Shape::FullScaleNoise, Shape::QuietNoise, Shape::Square,
                          Shape::Sine, Shape::ClippedSine, Shape::NearExtremes, Shape::Music};
  const int lengths[] = {1, 7, 8, 9, 15, 16, 17, 31, 33, 1000, 2046, 2047};
  uint32_t seed = 1;
  for (const Shape shape : shapes) {
    for (const int channels : {1, 2}) {
      for (const int n : lengths) {
        const std::vector<int16_t> signal = nubo::test::makeSignal(shape, n, channels, seed++);
        // Four zeros before the samples (the lags of the first ones) and
        // readable room after them, as the encoder lays them out.
        std::vector<int16_t> history(8 + NUBO_MAX_SAMPLES + 8, 0);
        std::copy(signal.begin(), signal.end(), history.begin() + 8);
        int32_t counts[3][nubo::codec::kV21Predictors][nubo::codec::kHistogramBins];
        const V21Path paths[] = {V21Path::Best, V21Path::Sse2, V21Path::Scalar};
        for (int i = 0; i < 3; ++i) {
          nubo::codec::detail::v21PredictorHistograms(history.data() + 8, n, channels, counts[i], paths[i]);
        }
        for (int p = 0; p < nubo::codec::kV21Predictors; ++p) {
          int32_t total = 0;
          for (int b = 0; b < nubo::codec::kHistogramBins; ++b) {
            total += counts[2][p][b];
            ASSERT_EQ(counts[0][p][b], counts[2][p][b]) << nubo::test::shapeName(shape) << " n=" << n << " c="
                                                        << channels << " predictor " << p << " width " << b;
            ASSERT_EQ(counts[1][p][b], counts[2][p][b]) << nubo::test::shapeName(shape) << " n=" << n << " c="
                                                        << channels << " predictor " << p << " width " << b;
          }
          ASSERT_EQ(total, n) << "every sample is counted once per predictor";
        }
      }
    }
  }
}

}  // namespace
