// SPDX-License-Identifier: BSD-3-Clause
// Sample codes formed eight at a time with AVX2 and joined in pairs, so that
// an encoder's bit writer takes two codes per step with one shift and one OR.
// For the encoders' inner loops on machines that have AVX2; callers choose
// this at run time and keep SampleCodeWriter's plain loop for the others.
#pragma once

#include <cstdint>

#include "bit_io.h"
#include "format.h"

#if defined(__SSE2__) && defined(__GNUC__)
#include <immintrin.h>
#define NUBO_HAVE_PAIRED_CODES 1

namespace nubo::codec::detail {

// The codes of one class in vector form. They are SampleCodeWriter's:
//   width <= k       : the class's short code (a lone 1 bit for class 0)
//   k < width <= k+3 : 1 << width | (e, or e - 1 when negative) & (2^width - 1),
//                      2 * width - k + 1 bits
//   wider            : the escape code, e & (2^17 - 1), 21 bits
struct PairedCodeClass {
  __m256i k, shortLimit, prefixLimit, shortMarker, shortMask, shortLength;
};

__attribute__((target("avx2"))) inline PairedCodeClass pairedCodeClass(int k) {
  return {_mm256_set1_epi32(k),
          _mm256_set1_epi32(k + 1),
          _mm256_set1_epi32(k + 3),
          _mm256_set1_epi32(k == 0 ? 1 : 1 << (k + 1)),
          _mm256_set1_epi32(k == 0 ? 0 : (1 << (k + 1)) - 1),
          _mm256_set1_epi32(k == 0 ? 1 : k + 2)};
}

// The codes of eight residuals e of widths w (32-bit lanes, in sample
// order), joined in pairs: pairs[j] is the code of residual 2j followed by
// that of residual 2j+1 (at most 42 bits), lengths[j] their total length.
// REQUIRES: every width below 17.
__attribute__((target("avx2"))) inline void pairedCodes8(const PairedCodeClass& c, __m256i e, __m256i w,
                                                         uint64_t* pairs, uint32_t* lengths) {
  const __m256i one = _mm256_set1_epi32(1);
  const __m256i isShort = _mm256_cmpgt_epi32(c.shortLimit, w);
  const __m256i isEscape = _mm256_cmpgt_epi32(w, c.prefixLimit);
  const __m256i marker = _mm256_sllv_epi32(one, w);
  const __m256i value = _mm256_add_epi32(e, _mm256_srai_epi32(e, 31));  // e - 1 for negatives
  __m256i code = _mm256_or_si256(marker, _mm256_and_si256(value, _mm256_sub_epi32(marker, one)));
  __m256i bits = _mm256_sub_epi32(_mm256_add_epi32(_mm256_add_epi32(w, w), one), c.k);
  code = _mm256_blendv_epi8(code, _mm256_or_si256(c.shortMarker, _mm256_and_si256(e, c.shortMask)), isShort);
  bits = _mm256_blendv_epi8(bits, c.shortLength, isShort);
  code = _mm256_blendv_epi8(code, _mm256_and_si256(e, _mm256_set1_epi32((1 << kEscapeBits) - 1)), isEscape);
  bits = _mm256_blendv_epi8(bits, _mm256_set1_epi32(kEscapeCodeBits), isEscape);
  // Each 64-bit lane holds an even code (low half) and the odd code after it.
  const __m256i oddBits = _mm256_srli_epi64(bits, 32);
  const __m256i joined = _mm256_or_si256(
      _mm256_sllv_epi64(_mm256_and_si256(code, _mm256_set1_epi64x(0xFFFFFFFF)), oddBits), _mm256_srli_epi64(code, 32));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(pairs), joined);
  const __m256i total = _mm256_permutevar8x32_epi32(_mm256_add_epi32(bits, oddBits), _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(lengths), _mm256_castsi256_si128(total));
}

}  // namespace nubo::codec::detail

#endif

namespace nubo::codec::detail {

// Writes the pairs of codes from sample i on (i even, pairs[j] holding
// samples 2j and 2j+1) while 8 bytes of the body remain before `end`;
// returns the first sample not written, from which the caller goes on with
// single codes.
inline int putPairedCodes(BitWriter& out, const uint8_t* end, const uint64_t* pairs, const uint32_t* lengths, int i,
                          int n) {
  if (out.roomFor(end) < 8) return i;
  if (out.pending() >= 8) out.flushWords();  // fewer than 8 bits pending: room for a pair of codes per step
  int j = i / 2;
  for (const int whole = n / 2; j < whole && out.roomFor(end) >= 8; ++j) {
    out.appendWide(pairs[j], static_cast<int>(lengths[j]));
    out.flushWords();
  }
  return 2 * j;
}

}  // namespace nubo::codec::detail
