// SPDX-License-Identifier: BSD-3-Clause
// Differential tests: the library's coders against plain reference coders
// kept here, which follow the block format one bit and one sample at a time
// with no table, no wide buffer and no vector trick. Encoders must give the
// same bytes and codeSize; decoders the same result, codeSize, decodedCount
// and sample bytes, also on damaged input.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "nubocodec.h"
#include "signals.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kCodeBuffer = NUBO_MAX_CODE_BLOCK_BYTES;

int width(int64_t e) {
  int64_t m = e < 0 ? -e : e;
  int w = 0;
  while (m > 0) {
    ++w;
    m >>= 1;
  }
  return w;
}

// One bit at a time, most significant bit of each byte first.
struct RefWriter {
  Bytes bytes;
  int used = 8;
  void bit(int b) {
    if (used == 8) {
      bytes.push_back(0);
      used = 0;
    }
    if (b) bytes.back() |= static_cast<uint8_t>(0x80 >> used);
    ++used;
  }
  void bits(uint32_t v, int count) {
    for (int i = count - 1; i >= 0; --i) bit((v >> i) & 1);
  }
  void code(int32_t e, int k) {
    const int b = width(e);
    if (b <= k) {
      bit(1);
      if (k > 0) bits(static_cast<uint32_t>(e), k + 1);
    } else if (b <= k + 3) {
      for (int z = 0; z < b - k; ++z) bit(0);
      bit(1);
      bits(static_cast<uint32_t>(e > 0 ? e : e - 1), b);
    } else {
      bits(0, 4);
      bits(static_cast<uint32_t>(e), 17);
    }
  }
};

// Bits of the sample codes under class k, from the width histogram.
int64_t codeBits(const std::vector<int64_t>& h, int k) {
  int64_t s = 0, r = 0;
  for (int b = 0; b <= k; ++b) s += h[b];
  for (int b = k + 4; b <= 18; ++b) r += h[b];
  auto at = [&](int b) { return b < 20 ? h[b] : 0; };
  return (k == 0 ? 1 : k + 2) * s + (k + 3) * at(k + 1) + (k + 5) * at(k + 2) + (k + 7) * at(k + 3) + 21 * r;
}

// Class and coded size (header included) from a histogram, or class 15 when
// the median lies past `lastBin` or the coded size exceeds the stored size.
void chooseClass(const std::vector<int64_t>& h, int n, int headBits, int lastBin, int& cls, int64_t& size) {
  const int64_t stored = 2 * int64_t{n} + 2;
  int64_t running = 0;
  int k = 0;
  for (; k <= lastBin; ++k) {
    running += h[k];
    if (running >= n / 2) break;
  }
  if (k > lastBin) {
    cls = 15;
    size = stored;
    return;
  }
  auto bytes = [&](int w) { return 2 + (headBits + codeBits(h, w) + 7) / 8; };
  cls = k;
  size = bytes(k);
  if (k > 0 && bytes(k - 1) <= size) {
    cls = k - 1;
    size = bytes(k - 1);
  }
  if (size > stored) {
    cls = 15;
    size = stored;
  }
}

// The whole block from class, size, head bits and residuals; empty when the
// block cannot be framed.
Bytes frame(const std::vector<int16_t>& s, bool extension, int cls, int64_t size, int headBits, uint32_t head,
            const std::vector<int32_t>& residuals) {
  const int n = static_cast<int>(s.size());
  if (extension) size += 2;
  else if (size >= 4095) return {};
  const unsigned word = static_cast<unsigned>(cls) << 12 | (extension ? 4095u : static_cast<unsigned>(size));
  Bytes out = {static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8)};
  if (extension) {
    out.push_back(static_cast<uint8_t>(n));
    out.push_back(static_cast<uint8_t>(n >> 8));
  }
  if (cls == 15) {
    for (int16_t v : s) {
      out.push_back(static_cast<uint8_t>(v));
      out.push_back(static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8));
    }
  } else {
    RefWriter w;
    w.bits(head, headBits);
    for (int32_t e : residuals) w.code(e, cls);
    out.insert(out.end(), w.bytes.begin(), w.bytes.end());
  }
  EXPECT_EQ(out.size(), static_cast<size_t>(size));
  return out;
}

std::vector<int64_t> histogram(const std::vector<int32_t>& e) {
  std::vector<int64_t> h(20, 0);
  for (int32_t v : e)
    if (width(v) < 20) ++h[width(v)];
  return h;
}

Bytes refEncodeV20(const std::vector<int16_t>& s, int c, bool extension) {
  const int n = static_cast<int>(s.size());
  std::vector<int32_t> d(n);
  for (int i = 0; i < n; ++i) d[i] = s[i] - (i >= c ? s[i - c] : 0);
  int cls;
  int64_t size;
  chooseClass(histogram(d), n, 0, 16, cls, size);
  return frame(s, extension, cls, size, 0, 0, d);
}

Bytes refEncodeV21(const std::vector<int16_t>& s, int c, bool extension) {
  const int n = static_cast<int>(s.size());
  std::vector<std::vector<int32_t>> e(9, std::vector<int32_t>(n));
  for (int i = 0; i < n; ++i) {
    const int32_t p1 = i >= c ? s[i - c] : 0, p2 = i >= 2 * c ? s[i - 2 * c] : 0;
    const int32_t slope = (p1 - p2) >> 3;
    for (int p = 0; p < 9; ++p) e[p][i] = s[i] - p1 - p * slope;
  }
  int best = -1, bestClass = 0;
  int64_t bestSize = 0;
  for (int p = 0; p < 9; ++p) {
    int cls;
    int64_t size;
    chooseClass(histogram(e[p]), n, 4, 15, cls, size);
    if (best < 0 || size < bestSize) {
      best = p;
      bestClass = cls;
      bestSize = size;
    }
  }
  const auto h = histogram(e[best]);
  if (h[17] + h[18] > 0) {
    best = 0;
    chooseClass(histogram(e[0]), n, 4, 15, bestClass, bestSize);
  }
  return frame(s, extension, bestClass, bestSize, 4, static_cast<uint32_t>(best), e[best]);
}

int32_t toCoefficient(double x, int32_t lo, int32_t hi) {
  const double v = x * 256.0;
  int32_t a = 0;
  if (v == v && v < 9223372036854775808.0 && v >= -9223372036854775808.0) a = static_cast<int32_t>(static_cast<uint32_t>(static_cast<int64_t>(v)));
  return a < lo ? lo : a > hi ? hi : a;
}

Bytes refEncodeV22(const std::vector<int16_t>& s, int c, bool extension) {
  const int n = static_cast<int>(s.size());
  auto at = [&](int i) -> int64_t { return i >= 0 && i < n ? s[i] : 0; };
  int64_t e = 0, r1 = 0, r2 = 0, r3 = 0;
  for (int i = 0; i < n; ++i) {
    e += at(i) * at(i);
    r1 += at(i) * at(i - c);
    r2 += at(i) * at(i - 2 * c);
    r3 += at(i) * at(i - 3 * c);
  }
  // The matrix straight from its definition: lagged products over 0..n.
  auto sum = [&](int j, int k) {
    int64_t t = 0;
    for (int i = 0; i <= n; ++i) t += at(i - j * c) * at(i - k * c);
    return t;
  };
  int32_t a1 = 256, a2 = 0, a3 = 0;
  const int64_t a11 = sum(1, 1), a22 = sum(2, 2), a33 = sum(3, 3);
  if (a11 >= 1 && a22 >= 1 && a33 >= 1) {
    double m[3][4] = {{double(a11), double(sum(1, 2)), double(sum(1, 3)), double(r1)},
                      {double(sum(2, 1)), double(a22), double(sum(2, 3)), double(r2)},
                      {double(sum(3, 1)), double(sum(3, 2)), double(a33), double(r3)}};
    for (int j = 1; j < 4; ++j) m[0][j] = m[0][j] / m[0][0];
    for (int row = 1; row < 3; ++row)
      for (int j = 1; j < 4; ++j) m[row][j] = m[row][j] - m[row][0] * m[0][j];
    for (int j = 2; j < 4; ++j) m[1][j] = m[1][j] / m[1][1];
    for (int j = 2; j < 4; ++j) m[2][j] = m[2][j] - m[2][1] * m[1][j];
    m[2][3] = m[2][3] / m[2][2];
    const double x3 = m[2][3];
    const double x2 = m[1][3] - m[1][2] * x3;
    const double x1 = (m[0][3] - m[0][1] * x2) - m[0][2] * x3;
    a1 = toCoefficient(x1, -128, 895);
    a2 = toCoefficient(x2, -895, 128);
    a3 = toCoefficient(x3, -255, 255);
  }
  std::vector<int32_t> res(n);
  for (int i = 0; i < n; ++i) {
    const int64_t p = (a1 * at(i - c) + a2 * at(i - 2 * c) + a3 * at(i - 3 * c)) >> 8;
    res[i] = static_cast<int32_t>(s[i] - p);
  }
  const auto h = histogram(res);
  int cls;
  int64_t size;
  chooseClass(h, n, 30, 15, cls, size);
  if (h[17] + h[18] + h[19] > 0) {
    cls = 15;
    size = 2 * int64_t{n} + 2;
  }
  const uint32_t head = static_cast<uint32_t>(a1 + 128) << 20 | static_cast<uint32_t>(128 - a2) << 10 |
                        static_cast<uint32_t>(a3 + 256);
  return frame(s, extension, cls, size, 30, head, res);
}

Bytes refEncode(uint32_t version, const std::vector<int16_t>& s, int c, bool extension) {
  if (version == 20) return refEncodeV20(s, c, extension);
  if (version == 21) return refEncodeV21(s, c, extension);
  return refEncodeV22(s, c, extension);
}

// Reads bits one at a time from a 4098-byte code buffer; bits past it read
// as 0 and mark the block as needing more than the buffer holds.
struct RefReader {
  const uint8_t* buffer;
  size_t pos;  // bit index from the start of the buffer
  size_t start;
  bool past = false;
  int bit() {
    const size_t byte = pos / 8;
    int b = 0;
    if (byte < static_cast<size_t>(kCodeBuffer)) b = (buffer[byte] >> (7 - pos % 8)) & 1;
    else past = true;
    ++pos;
    return b;
  }
  int32_t value(int count, int32_t start0, int32_t start1) {
    int32_t v = bit() ? start1 : start0;
    for (int i = 1; i < count; ++i) v = static_cast<int32_t>(2 * static_cast<uint32_t>(v) + bit());
    return v;
  }
  int32_t sampleCode(int k) {
    if (bit()) return k == 0 ? 0 : value(k + 1, 0, -1);
    for (int z = 1; z <= 3; ++z) {
      if (bit()) {
        const int32_t v = value(k + z, -2, 1);
        return v < 0 ? v + 1 : v;
      }
    }
    return value(17, 0, -1);
  }
};

// Decodes as the block format reads, with wrapping 32-bit history arithmetic.
int32_t refDecode(uint32_t version, ConvertParams& p, uint8_t* samples, const uint8_t* code) {
  const unsigned word = code[0] | code[1] << 8;
  const unsigned sizeField = word & 0xFFF, cls = word >> 12;
  int count = p.sampleCount;
  size_t header = 2;
  if (sizeField == 4095) {
    count = code[2] | code[3] << 8;
    header = 4;
  }
  p.codeSize = static_cast<uint16_t>(header);
  p.decodedCount = static_cast<uint16_t>(count);
  if (count > 2047) return NUBO_TOO_MANY_SAMPLES;
  const int c = p.channels;
  if (cls == 15) {
    std::memcpy(samples, code + header, 2 * static_cast<size_t>(count));
    p.codeSize = static_cast<uint16_t>(header + 2 * count);
  } else {
    RefReader in{code, header * 8, header * 8};
    std::vector<uint32_t> x(static_cast<size_t>(count) + 6, 0);  // x[i + 6] is sample i
    uint32_t weight = 0;
    int32_t a1 = 0, a2 = 0, a3 = 0;
    if (version == 21) weight = static_cast<uint32_t>(in.value(4, 0, 1));
    if (version == 22) {
      a1 = in.value(10, 0, 1) - 128;
      a2 = 128 - in.value(10, 0, 1);
      a3 = in.value(10, 0, 1) - 256;
    }
    for (int i = 0; i < count; ++i) {
      const auto e = static_cast<uint32_t>(in.sampleCode(static_cast<int>(cls)));
      const uint32_t p1 = x[i + 6 - c], p2 = x[i + 6 - 2 * c], p3 = x[i + 6 - 3 * c];
      uint32_t v;
      if (version == 20) {
        v = p1 + e;
      } else if (version == 21) {
        v = e + weight * static_cast<uint32_t>(static_cast<int32_t>(p1 - p2) >> 3) + p1;
      } else {
        const uint32_t sum = static_cast<uint32_t>(a1) * p1 + static_cast<uint32_t>(a2) * p2 +
                             static_cast<uint32_t>(a3) * p3;
        v = static_cast<uint32_t>(static_cast<int32_t>(sum) >> 8) + e;
      }
      x[i + 6] = v;
      samples[2 * i] = static_cast<uint8_t>(v);
      samples[2 * i + 1] = static_cast<uint8_t>(v >> 8);
    }
    if (in.past) {
      p.codeSize = kCodeBuffer;
      return NUBO_SIZE_MISMATCH;
    }
    p.codeSize = static_cast<uint16_t>((in.pos + 7) / 8);
  }
  if (sizeField == 4095 || p.codeSize == sizeField) return NUBO_OK;
  return NUBO_SIZE_MISMATCH;
}

// Signals that reach every width class, escapes and the extremes: random
// walks of a random step size, with occasional spikes and jumps.
std::vector<int16_t> walk(std::mt19937& rng, int n) {
  std::vector<int16_t> s(n);
  const int bits = static_cast<int>(rng() % 16);
  const int spikes = static_cast<int>(rng() % 4);
  int32_t v = static_cast<int32_t>(rng() % 65536) - 32768, slope = 0;
  for (int i = 0; i < n; ++i) {
    slope += static_cast<int32_t>(rng() % (2u << bits)) - (1 << bits);
    slope /= 2;
    v += slope;
    if (spikes && rng() % (50 * spikes) == 0) v = static_cast<int32_t>(rng() % 65536) - 32768;
    v = v > 32767 ? 32767 : v < -32768 ? -32768 : v;
    s[i] = static_cast<int16_t>(v);
  }
  return s;
}

void expectEncodeMatches(uint32_t version, const std::vector<int16_t>& s, int channels, const char* what) {
  for (bool extension : {false, true}) {
    const Bytes expected = refEncode(version, s, channels, extension);
    std::vector<uint8_t> raw = nubo::test::toBytes(s);
    raw.resize(2 * NUBO_MAX_SAMPLES);
    std::vector<uint8_t> code(kCodeBuffer, 0xA5);
    ConvertParams p{};
    p.flags = static_cast<uint16_t>(NUBO_FLAG_ENCODE | (extension ? NUBO_FLAG_COUNT_EXTENSION : 0));
    p.sampleCount = static_cast<uint16_t>(s.size());
    p.channels = static_cast<uint16_t>(channels);
    p.coderVersion = version;
    const int32_t r = NuboWaveConvert(&p, raw.data(), code.data());
    if (expected.empty()) {
      EXPECT_EQ(r, NUBO_TOO_MANY_SAMPLES) << "v" << version << " " << what;
      continue;
    }
    ASSERT_EQ(r, NUBO_OK) << "v" << version << " " << what;
    ASSERT_EQ(p.codeSize, expected.size()) << "v" << version << " " << what << " n=" << s.size();
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), code.begin()))
        << "v" << version << " " << what << " n=" << s.size() << " channels=" << channels;
    // Nothing is written past the block.
    if (expected.size() < code.size()) {
      EXPECT_EQ(code[expected.size()], 0xA5) << "v" << version << " " << what << " n=" << s.size();
    }
  }
}

TEST(EncoderMatchesReference, SignalShapesAndLengths) {
  const int lengths[] = {0, 1, 2, 3, 4, 5, 6, 7, 9, 31, 100, 1763, 1764, 2046, 2047};
  uint32_t seed = 7000;
  for (uint32_t version : {20u, 21u, 22u})
    for (auto shape : nubo::test::kAllShapes)
      for (int n : lengths)
        for (int channels = 1; channels <= 2; ++channels)
          expectEncodeMatches(version, nubo::test::makeSignal(shape, n, channels, seed++), channels,
                              nubo::test::shapeName(shape));
}

TEST(EncoderMatchesReference, RandomWalksOfEveryStepSize) {
  std::mt19937 rng(42);
  for (int round = 0; round < 150; ++round) {
    const int n = round < 100 ? 1764 : static_cast<int>(rng() % 2048);
    const auto s = walk(rng, n);
    for (uint32_t version : {20u, 21u, 22u})
      for (int channels = 1; channels <= 2; ++channels) expectEncodeMatches(version, s, channels, "walk");
  }
}

void expectDecodeMatches(uint32_t version, const std::vector<uint8_t>& code, uint16_t sampleCount, int channels) {
  ConvertParams p{}, q{};
  p.flags = q.flags = NUBO_FLAG_DECODE;
  p.sampleCount = q.sampleCount = sampleCount;
  p.channels = q.channels = static_cast<uint16_t>(channels);
  p.coderVersion = q.coderVersion = version;
  std::vector<uint8_t> got(4100, 0x5A), want(4100, 0x5A);
  std::vector<uint8_t> buffer = code;  // the library's buffer is exactly 4098 bytes
  const int32_t r = NuboWaveConvert(&p, got.data(), buffer.data());
  const int32_t expected = refDecode(version, q, want.data(), code.data());
  ASSERT_EQ(r, expected) << "v" << version;
  EXPECT_EQ(p.codeSize, q.codeSize) << "v" << version;
  EXPECT_EQ(p.decodedCount, q.decodedCount) << "v" << version;
  EXPECT_EQ(got, want) << "v" << version << " class " << (code[1] >> 4);
}

TEST(DecoderMatchesReference, ValidBlocksWithTheirBytesDamaged) {
  std::mt19937 rng(9);
  for (int round = 0; round < 60; ++round) {
    const int n = static_cast<int>(rng() % 2047);
    const int channels = 1 + round % 2;
    const auto s = walk(rng, n);
    for (uint32_t version : {20u, 21u, 22u}) {
      Bytes block = refEncode(version, s, channels, round % 3 == 0);
      block.resize(kCodeBuffer, 0);
      expectDecodeMatches(version, block, static_cast<uint16_t>(n), channels);
      for (int flip = 0; flip < 4; ++flip) {
        Bytes damaged = block;
        damaged[2 + rng() % (block.size() - 2)] ^= static_cast<uint8_t>(1u << (rng() % 8));
        expectDecodeMatches(version, damaged, static_cast<uint16_t>(n), channels);
      }
    }
  }
}

TEST(DecoderMatchesReference, ArbitraryBytesInEveryClass) {
  std::mt19937 rng(77);
  for (int round = 0; round < 200; ++round) {
    Bytes code(kCodeBuffer);
    // Bodies of long escape runs (mostly zero bits) as well as random bits.
    const int density = static_cast<int>(rng() % 4);
    for (auto& b : code) b = density == 0 ? 0 : static_cast<uint8_t>(rng() & (density == 1 ? 0x11 : 0xFF));
    const unsigned cls = round % 16;
    const unsigned size = round % 5 == 0 ? 4095 : rng() % 4095;
    code[0] = static_cast<uint8_t>(size);
    code[1] = static_cast<uint8_t>(cls << 4 | size >> 8);
    if (size == 4095) {
      const unsigned count = rng() % 2100;
      code[2] = static_cast<uint8_t>(count);
      code[3] = static_cast<uint8_t>(count >> 8);
    }
    const auto count = static_cast<uint16_t>(rng() % 2048);
    for (uint32_t version : {20u, 21u, 22u})
      for (int channels = 1; channels <= 2; ++channels) expectDecodeMatches(version, code, count, channels);
  }
}

}  // namespace
