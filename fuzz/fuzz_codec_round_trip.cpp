// SPDX-License-Identifier: BSD-3-Clause
// Arbitrary bytes as samples: every version, with and without the count
// extension, must decode back to the same samples with the encoder's code
// size, and no block may exceed the stored size bound.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "coders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint16_t channels = (data[0] & 1) + 1;
  const size_t n = std::min<size_t>((size - 1) / 2, NUBO_MAX_SAMPLES);
  std::vector<uint8_t> samples(2 * NUBO_MAX_SAMPLES, 0);
  std::memcpy(samples.data(), data + 1, 2 * n);
  std::vector<uint8_t> code(NUBO_MAX_CODE_BLOCK_BYTES);
  std::vector<uint8_t> decoded(2 * NUBO_MAX_SAMPLES);
  for (uint32_t version : {20u, 21u, 22u}) {
    for (uint16_t extension : {uint16_t{0}, uint16_t{NUBO_FLAG_COUNT_EXTENSION}}) {
      ConvertParams p{};
      p.flags = NUBO_FLAG_ENCODE | extension;
      p.sampleCount = static_cast<uint16_t>(n);
      p.channels = channels;
      p.coderVersion = version;
      const auto r = static_cast<int>(nubo::codec::convert(p, samples.data(), code.data()));
      if (r == 4 && n == NUBO_MAX_SAMPLES && !extension) continue;  // cannot be framed
      if (r != 0) std::abort();
      const uint16_t codeSize = p.codeSize;
      if (codeSize > 2 * n + 2 + (extension ? 2 : 0)) std::abort();
      p.flags = NUBO_FLAG_DECODE;
      p.sampleCount = static_cast<uint16_t>(n);
      if (static_cast<int>(nubo::codec::convert(p, decoded.data(), code.data())) != 0) std::abort();
      if (p.codeSize != codeSize || p.decodedCount != n) std::abort();
      if (std::memcmp(decoded.data(), samples.data(), 2 * n) != 0) std::abort();
    }
  }
  return 0;
}
