// SPDX-License-Identifier: BSD-3-Clause
// make_old_nab IN.wav OUT.NAB VERSION [--preamble TEXT]
//
// Test tool: writes a compressed file with coder VERSION (0..22; the tests use
// 20 and 21, which the converter itself never writes) from a 16-bit PCM WAVE
// file, with the library's own encoders through NuboWaveConvert. TEXT becomes
// the file's preamble. Exit status 0 on success, 1 on failure.
#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <string>

#include "nab_format.h"
#include "nubocodec.h"
#include "wave_file.h"

using namespace nubo::converter;

namespace {
int fail(const std::string& text) {
  std::fprintf(stderr, "make_old_nab: %s\n", text.c_str());
  return 1;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 && argc != 6) return fail("usage: make_old_nab IN.wav OUT.NAB VERSION [--preamble TEXT]");
  const long version = std::strtol(argv[3], nullptr, 10);
  if (version < 0 || version > 22) return fail("VERSION must be 0..22");
  const std::string preamble = argc == 6 ? argv[5] : "";
  InputFile in;
  WaveInfo wave;
  if (!in.open(argv[1]) || !readWaveHeader(in, wave)) return fail(std::string(argv[1]) + ": not a 16-bit PCM WAVE file");
  const int64_t blockLength = blockLengthOf(wave.channels, wave.sampleRate);
  if (blockLength < 1 || blockLength > NUBO_MAX_SAMPLES) return fail("block length outside 1..2047");
  OutputFile out;
  if (!out.open(argv[2])) return fail(std::string(argv[2]) + ": cannot create");
  NabHeader h;
  h.channels = wave.channels;
  h.sampleRate = static_cast<int32_t>(wave.sampleRate);
  h.byteRate = static_cast<int32_t>(wave.byteRate);
  h.blockAlign = wave.blockAlign;
  h.bitsPerSample = 16;
  h.coderVersion = static_cast<int32_t>(version);
  h.frameCount = static_cast<int32_t>(wave.dataBytes / (2 * wave.channels));
  writeHeader(out, h);
  out.writeLE(2, static_cast<uint32_t>(preamble.size()));
  out.write(reinterpret_cast<const uint8_t*>(preamble.data()), preamble.size());

  ConvertParams params{};
  params.channels = static_cast<uint16_t>(wave.channels);
  params.coderVersion = static_cast<uint32_t>(version);
  static uint8_t samples[2 * NUBO_MAX_SAMPLES];
  static uint8_t code[NUBO_MAX_CODE_BLOCK_BYTES];
  int64_t dataBytes = 2 + static_cast<int64_t>(preamble.size());
  int64_t left = wave.dataBytes & ~int64_t{1};
  for (;;) {
    const auto want = static_cast<std::size_t>(std::min<int64_t>(2 * blockLength, left));
    const std::size_t got = in.read(samples, want) & ~std::size_t{1};
    if (got == 0) break;
    left -= static_cast<int64_t>(got);
    const int n = static_cast<int>(got / 2);
    params.flags = blockEncodeFlags(n, blockLength);
    params.sampleCount = static_cast<uint16_t>(n);
    if (NuboWaveConvert(&params, samples, code) != NUBO_OK) return fail("encode failed");
    out.write(code, params.codeSize);
    dataBytes += params.codeSize;
    if (n != blockLength) break;
  }
  if (!finishCompressedFile(out, dataBytes, h.frameCount) || !out.close()) return fail(std::string(argv[2]) + ": write failed");
  return 0;
}
