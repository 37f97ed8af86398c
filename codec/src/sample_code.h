// SPDX-License-Identifier: BSD-3-Clause
// The sample code shared by every coder version: one width class per block,
// a short prefix for residuals up to three bits wider than the class, and a
// 21-bit escape code for the rest.
//
//   width b <= k   : 1, then (k > 0) the low k+1 bits of e     (1 or k+2 bits)
//   width b = k+j  : j zeros and a 1 (j = 1..3), then the low b bits of
//                    e (e > 0) or e-1 (e < 0)                     (k+3, k+5, k+7)
//   otherwise      : 0000, then the low 17 bits of e               (21 bits)
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "bit_io.h"
#include "format.h"

namespace nubo::codec {

// Number of significant bits of |e|: the smallest w with |e| < 2^w.
inline int residualWidth(int32_t e) {
  const uint32_t magnitude = e < 0 ? 0u - static_cast<uint32_t>(e) : static_cast<uint32_t>(e);
  return 32 - std::countl_zero(magnitude);
}

// residualWidth() for |e| < 2^24, in a form that compilers vectorise: the
// exponent of |e| as a float, which is exact in that range.
// REQUIRES: -2^24 < e < 2^24.
inline int smallResidualWidth(int32_t e) {
  const int32_t magnitude = e < 0 ? -e : e;
  const int32_t exponent = static_cast<int32_t>(std::bit_cast<uint32_t>(static_cast<float>(magnitude)) >> 23);
  const int32_t w = exponent - 126;  // 1.0f has exponent 127; 0.0f has 0
  return w < 0 ? 0 : w;
}

// The width histogram of n residual widths (each below kHistogramBins).
// Consecutive residuals usually share a width, so the counting goes to four
// histograms in turn: one counter would make every increment wait for the
// one before.
inline void countWidths(const uint8_t* width, int n, int32_t (&h)[kHistogramBins]) {
  int32_t counts[4][kHistogramBins] = {};
  int i = 0;
  for (; i + 4 <= n; i += 4) {
    ++counts[0][width[i]];
    ++counts[1][width[i + 1]];
    ++counts[2][width[i + 2]];
    ++counts[3][width[i + 3]];
  }
  for (; i < n; ++i) ++counts[0][width[i]];
  for (int b = 0; b < kHistogramBins; ++b) h[b] = counts[0][b] + counts[1][b] + counts[2][b] + counts[3][b];
}

// Length in bits of the code of a residual of width `width` under class `k`.
inline int sampleCodeBits(int width, int k) {
  if (width <= k) return k == 0 ? 1 : k + 2;
  switch (width - k) {
    case 1: return k + 3;
    case 2: return k + 5;
    case 3: return k + 7;
    default: return kEscapeCodeBits;
  }
}

// REQUIRES: width == residualWidth(e); width <= 16 when the escape code is used.
inline void putSampleCode(BitWriter& out, int32_t e, int width, int k) {
  const uint32_t u = static_cast<uint32_t>(e);
  if (width <= k) {
    if (k == 0) {
      out.put(1, 1);
    } else {
      out.put((1u << (k + 1)) | (u & ((1u << (k + 1)) - 1)), k + 2);
    }
    return;
  }
  const int j = width - k;
  if (j <= 3) {
    const uint32_t v = e > 0 ? u : u - 1;  // e-1 for negatives: the complement of |e|
    out.put((1u << width) | (v & ((1u << width) - 1)), j + 1 + width);
    return;
  }
  out.put(u & ((1u << kEscapeBits) - 1), kEscapeCodeBits);
}

// Reads one sample code under class `k` (0..14) and returns the residual.
inline int32_t getSampleCode(BitReader& in, int k) {
  const uint32_t top = in.peek32();
  const int zeros = std::countl_zero(top | 0x08000000u);  // at most 4 leading zeros matter
  if (zeros == 0) {
    if (k == 0) {
      in.skip(1);
      return 0;
    }
    // k+1 bits in two's complement after the 1.
    const int bits = k + 1;
    const int32_t v = static_cast<int32_t>(top << 1) >> (32 - bits);
    in.skip(bits + 1);
    return v;
  }
  if (zeros <= 3) {
    const int m = k + zeros;
    const uint32_t raw = (top << (zeros + 1)) >> (32 - m);
    in.skip(zeros + 1 + m);
    const bool positive = (raw >> (m - 1)) != 0;
    return positive ? static_cast<int32_t>(raw)
                    : static_cast<int32_t>(raw) - (int32_t{1} << m) + 1;
  }
  const int32_t v = static_cast<int32_t>(top << 4) >> (32 - kEscapeBits);
  in.skip(kEscapeCodeBits);
  return v;
}

// Total length in bits of the sample codes of a block under class `k`, from
// its width histogram. Residuals of widths k+4..18 take the escape code.
inline int64_t sampleCodeBitsForClass(const int32_t (&h)[kHistogramBins], int k) {
  int64_t shortCount = 0;
  for (int b = 0; b <= k && b < kHistogramBins; ++b) shortCount += h[b];
  int64_t escapes = 0;
  for (int b = k + 4; b <= 18; ++b) escapes += h[b];
  const int64_t shortBits = k == 0 ? 1 : k + 2;
  auto bin = [&](int b) -> int64_t { return b < kHistogramBins ? h[b] : 0; };
  return shortBits * shortCount + (k + 3) * bin(k + 1) + (k + 5) * bin(k + 2) +
         (k + 7) * bin(k + 3) + int64_t{kEscapeCodeBits} * escapes;
}

// Bytes of a coded block without count extension: the header plus the body
// of `headBits` coder bits and `codeBits` sample-code bits, rounded up.
inline int64_t codedBlockBytes(int64_t headBits, int64_t codeBits) {
  return kHeaderBytes + (headBits + codeBits + 7) / 8;
}

// The width class of a block from its histogram: the median width (the first
// bin, up to `lastBin`, at which the running count reaches n / 2) or the class
// below it when that costs no more bytes. `headBits` are the coder's own bits
// before the sample codes. found is false when the median lies past lastBin.
struct WidthClassChoice {
  bool found = false;
  int widthClass = 0;
  int64_t bytes = 0;  // coded block without count extension
};

inline WidthClassChoice chooseWidthClass(const int32_t (&h)[kHistogramBins], int n, int headBits, int lastBin) {
  const int half = n / 2;
  int32_t running = 0;
  for (int k = 0; k <= lastBin; ++k) {
    running += h[k];
    if (running < half) continue;
    WidthClassChoice c{true, k, codedBlockBytes(headBits, sampleCodeBitsForClass(h, k))};
    if (k > 0) {
      const int64_t below = codedBlockBytes(headBits, sampleCodeBitsForClass(h, k - 1));
      if (below <= c.bytes) c = {true, k - 1, below};  // a tie goes to the smaller class
    }
    return c;
  }
  return {};
}

// Branch-free forms of the sample code for the coders' inner loops. Both
// give exactly the bits of putSampleCode/getSampleCode.

// The code of every residual width under one class, so that an encoder
// forms a code with one table lookup: code = marker | ((e - adjust) & mask),
// where adjust is 1 for a negative residual in the three prefixed cases
// (their value bits are those of e - 1) and 0 otherwise.
struct SampleCodeShape {
  uint32_t marker;   // the 1 that ends the prefix, just above the value bits (0 for the escape code)
  uint32_t mask;     // the value bits
  uint8_t length;    // bits of the whole code
  uint8_t adjust;    // 1: value bits of e - 1 for e < 0
};

// Readers' view of the same code: by the first five bits of a code, where
// its value bits lie and what to add to them. Those five bits hold the
// prefix and the first value bit (the prefix is at most four bits), so the
// sign handling is settled by the table: the residual is the value bits read
// as an unsigned number plus `offset`. The code's length is kept apart
// (SampleCodeTables::lengths): it is the one field on a decoder's critical
// path.
struct SampleCodeReadRule {
  uint8_t prefix;    // bits before the value bits
  uint8_t shift;     // 32 - value bits; 32 for the 1-bit code of class 0, which has none
  int32_t offset;    // 0, -2^m (two's complement, negative) or 1 - 2^m (prefixed, negative)
};

inline constexpr int kCodeClasses = 15;  // classes 0..14 of a coded block

namespace detail {

constexpr SampleCodeShape shapeOf(int width, int k) {
  if (width <= k) {
    if (k == 0) return {1, 0, 1, 0};
    const uint32_t mask = (1u << (k + 1)) - 1;
    return {mask + 1, mask, static_cast<uint8_t>(k + 2), 0};
  }
  const int j = width - k;
  if (j <= 3) {
    const uint32_t mask = (1u << width) - 1;
    return {mask + 1, mask, static_cast<uint8_t>(j + 1 + width), 1};
  }
  return {0, (1u << kEscapeBits) - 1, static_cast<uint8_t>(kEscapeCodeBits), 0};
}

constexpr int leadingZerosOf5(uint32_t top5) {
  return top5 >= 16 ? 0 : top5 >= 8 ? 1 : top5 >= 4 ? 2 : top5 >= 2 ? 3 : 4;
}

constexpr uint8_t codeLengthOf(uint32_t top5, int k) {
  const int zeros = leadingZerosOf5(top5);
  if (zeros == 0) return static_cast<uint8_t>(k == 0 ? 1 : k + 2);
  if (zeros <= 3) return static_cast<uint8_t>(zeros + 1 + k + zeros);
  return static_cast<uint8_t>(kEscapeCodeBits);
}

constexpr SampleCodeReadRule ruleOf(uint32_t top5, int k) {
  const int zeros = leadingZerosOf5(top5);
  // The first value bit is bit (4 - prefix) of top5.
  auto firstValueBit = [top5](int prefix) { return (top5 >> (4 - prefix)) & 1u; };
  if (zeros == 0) {
    if (k == 0) return {1, 32, 0};
    const int m = k + 1;  // two's complement: a first bit of 1 weighs -2^m
    return {1, static_cast<uint8_t>(32 - m), firstValueBit(1) ? -(int32_t{1} << m) : 0};
  }
  if (zeros <= 3) {
    // A first bit of 0 marks a negative residual, whose value bits are those of e - 1.
    const int m = k + zeros;
    const int prefix = zeros + 1;
    return {static_cast<uint8_t>(prefix), static_cast<uint8_t>(32 - m),
            firstValueBit(prefix) ? 0 : 1 - (int32_t{1} << m)};
  }
  return {4, static_cast<uint8_t>(32 - kEscapeBits), firstValueBit(4) ? -(int32_t{1} << kEscapeBits) : 0};
}

struct SampleCodeTables {
  SampleCodeShape shapes[kCodeClasses][kHistogramBins];
  uint8_t lengths[kCodeClasses][32];
  SampleCodeReadRule rules[kCodeClasses][32];
};

constexpr SampleCodeTables makeSampleCodeTables() {
  SampleCodeTables t{};
  for (int k = 0; k < kCodeClasses; ++k) {
    for (int w = 0; w < kHistogramBins; ++w) t.shapes[k][w] = shapeOf(w, k);
    for (uint32_t top = 0; top < 32; ++top) {
      t.lengths[k][top] = codeLengthOf(top, k);
      t.rules[k][top] = ruleOf(top, k);
    }
  }
  return t;
}

inline constexpr SampleCodeTables kSampleCodeTables = makeSampleCodeTables();

}  // namespace detail

// Writes the codes of one class.
class SampleCodeWriter {
 public:
  // REQUIRES: 0 <= k <= 14.
  explicit SampleCodeWriter(int k) : shapes_(detail::kSampleCodeTables.shapes[k]) {}

  // The code of residual e of width `width` as (bits, length).
  // REQUIRES: width == residualWidth(e) <= 16 when it takes the escape code.
  uint32_t code(int32_t e, int width) const {
    const SampleCodeShape& s = shapes_[width];
    const uint32_t negative = static_cast<uint32_t>(e) >> 31;
    return s.marker | ((static_cast<uint32_t>(e) - (negative & s.adjust)) & s.mask);
  }
  int length(int width) const { return shapes_[width].length; }

 private:
  const SampleCodeShape* shapes_;
};

// Reads the codes of one class without branches on the bits.
class SampleCodeReader {
 public:
  // REQUIRES: 0 <= k <= 14.
  explicit SampleCodeReader(int k)
      : lengths_(detail::kSampleCodeTables.lengths[k]), rules_(detail::kSampleCodeTables.rules[k]) {}

  // REQUIRES: at least 21 bits buffered in `in` (BitReader::refill() leaves
  // room for two codes).
  int32_t get(BitReader& in) const { return get(in, in.peekBuffered5()); }

  // The same with the code's first five bits already taken, which an
  // unrolled loop does before a refill so that the refill's OR stays off
  // the chain from one code to the next.
  // REQUIRES: top5 == the first five bits of the next code; at least 21 bits buffered.
  int32_t get(BitReader& in, uint32_t top5) const {
    const uint32_t top = in.peekBuffered32();
    in.skip(lengths_[top5]);
    const SampleCodeReadRule& r = rules_[top5];
    // The shift runs in 64 bits so that a shift of 32 (no value bits) gives 0.
    const uint64_t value = uint64_t{static_cast<uint32_t>(top << r.prefix)} >> r.shift;
    return static_cast<int32_t>(static_cast<uint32_t>(value) + static_cast<uint32_t>(r.offset));
  }

 private:
  const uint8_t* lengths_;
  const SampleCodeReadRule* rules_;
};

// Reads the n sample codes of a body in order and hands the residuals on:
// pair(i, e_i, e_i+1) for each pair from the start, then last(n - 1, e) when
// n is odd. Two codes per refill (a code is at most 21 bits, a refill leaves
// 56). While the buffer holds 8 bytes past the load position the refill is
// the unchecked one, and the first code's table lookup is done before it, so
// the refill's OR stays off the chain from one code's position to the next.
template <typename Pair, typename Last>
inline void readSampleCodes(BitReader& in, const SampleCodeReader& codes, int n, Pair&& pair, Last&& last) {
  int i = 0;
  for (;;) {
    const std::size_t pairs = static_cast<std::size_t>((n - i) / 2);
    const std::size_t unchecked = std::min(pairs, in.uncheckedRefills());
    if (unchecked == 0) break;
    for (const int end = i + 2 * static_cast<int>(unchecked); i < end; i += 2) {
      const uint32_t top5 = in.peekBuffered5();
      in.refillUnchecked();
      const int32_t e0 = codes.get(in, top5);
      const int32_t e1 = codes.get(in);
      pair(i, e0, e1);
    }
  }
  // Near the end of the buffer (only a damaged body gets there).
  for (; i + 2 <= n; i += 2) {
    in.refill();
    const int32_t e0 = codes.get(in);
    const int32_t e1 = codes.get(in);
    pair(i, e0, e1);
  }
  if (i < n) {
    in.refill();
    last(i, codes.get(in));
  }
}

}  // namespace nubo::codec
