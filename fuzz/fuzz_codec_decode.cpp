// SPDX-License-Identifier: BSD-3-Clause
// Arbitrary bytes as a code block, decoded with every channel count: the
// result is a known code, codeSize stays within the 4098-byte buffer, and no
// byte outside either buffer is touched (ASan watches the exact-size heap buffers).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "coders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  std::vector<uint8_t> code(NUBO_MAX_CODE_BLOCK_BYTES, 0);
  const uint16_t sampleCount = static_cast<uint16_t>((data[0] | data[1] << 8) % 2100);
  std::memcpy(code.data(), data + 2, std::min(size - 2, code.size()));
  std::vector<uint8_t> samples(2 * NUBO_MAX_SAMPLES);
  for (uint32_t version : {20u, 21u, 22u})
  for (uint16_t channels = 1; channels <= 2; ++channels) {
    ConvertParams p{};
    p.flags = NUBO_FLAG_DECODE | NUBO_FLAG_VERIFY;
    p.sampleCount = sampleCount;
    p.channels = channels;
    p.coderVersion = version;
    const auto r = static_cast<int>(nubo::codec::convert(p, samples.data(), code.data()));
    if (r != 0 && r != 2 && r != 4 && r != 8) std::abort();
    if (p.codeSize > NUBO_MAX_CODE_BLOCK_BYTES) std::abort();
  }
  return 0;
}
