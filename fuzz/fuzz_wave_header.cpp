// SPDX-License-Identifier: BSD-3-Clause
// Arbitrary bytes as a WAVE or RF64 file read from memory: what is taken is
// 16-bit PCM of 1 or 2 channels whose audio lies inside the file, what is
// refused says what it is, and the source gives exactly the audio it claims.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "file_io.h"
#include "file_formats.h"
#include "wave_file.h"

using namespace nubo::converter;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size >= 4 && std::memcmp(data, "fLaC", 4) == 0) return 0;  // the FLAC target's
  MemorySource in({data, size});
  WaveInfo info;
  if (!readWaveHeader(in, info)) {
    if (info.whatItIs.empty()) std::abort();
    return 0;
  }
  if ((info.channels != 1 && info.channels != 2) || info.bitsPerSample != 16 || info.formatTag != 1) std::abort();
  if (info.dataBytes < 0 || info.dataBytes > static_cast<int64_t>(size) - in.position()) std::abort();
  if (info.sizeFieldWrong && info.dataBytes % (2 * info.channels) != 0) std::abort();

  std::unique_ptr<PcmSource> source;
  std::string detail;
  if (openPcmSource(std::make_unique<MemorySource>(std::span<const uint8_t>(data, size)), source, detail) != 0) {
    std::abort();  // the header was taken above
  }
  uint8_t buffer[4096];
  int64_t total = 0;
  for (std::size_t got; (got = source->read(buffer, sizeof buffer)) > 0;) {
    if (got % 2 != 0) std::abort();
    total += static_cast<int64_t>(got);
  }
  if (total != (info.dataBytes & ~int64_t{1})) std::abort();
  return 0;
}
