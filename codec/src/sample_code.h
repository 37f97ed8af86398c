// The sample code shared by every coder version: one width class per block,
// a short prefix for residuals up to three bits wider than the class, and a
// 21-bit escape code for the rest.
//
//   width b <= k   : 1, then (k > 0) the low k+1 bits of e     (1 or k+2 bits)
//   width b = k+j  : j zeros and a 1 (j = 1..3), then the low b bits of
//                    e (e > 0) or e-1 (e < 0)                     (k+3, k+5, k+7)
//   otherwise      : 0000, then the low 17 bits of e               (21 bits)
#pragma once

#include <bit>
#include <cstdint>

#include "bit_io.h"
#include "format.h"

namespace nubo::codec {

// Number of significant bits of |e|: the smallest w with |e| < 2^w.
inline int residualWidth(int32_t e) {
  const uint32_t magnitude = e < 0 ? 0u - static_cast<uint32_t>(e) : static_cast<uint32_t>(e);
  return 32 - std::countl_zero(magnitude);
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

}  // namespace nubo::codec
