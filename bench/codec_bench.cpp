// SPDX-License-Identifier: BSD-3-Clause
// Throughput of NuboWaveConvert per coder version and direction, in MB/s of
// PCM, on 60 s of a CD-quality stereo music-like signal (or a raw 16-bit
// stereo PCM file given as the first argument), median of several runs.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "nubocodec.h"
#include "signals.h"

namespace {

constexpr int kBlock = 1764;  // 44100 Hz stereo block length

double medianSeconds(std::vector<double> t) {
  std::sort(t.begin(), t.end());
  return t[t.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int16_t> pcm;
  const char* what = "60 s synthetic music-like stereo, 44100 Hz";
  if (argc > 1) {
    FILE* f = std::fopen(argv[1], "rb");
    if (!f) { std::perror(argv[1]); return 1; }
    int16_t buf[4096];
    size_t got;
    while ((got = std::fread(buf, 2, 4096, f)) > 0) pcm.insert(pcm.end(), buf, buf + got);
    std::fclose(f);
    what = argv[1];
  } else {
    pcm = nubo::test::makeSignal(nubo::test::Shape::Music, 44100 * 2 * 60, 2, 12345);
  }
  const size_t blocks = pcm.size() / kBlock;
  std::vector<uint8_t> code(blocks * NUBO_MAX_CODE_BLOCK_BYTES);
  std::vector<uint16_t> sizes(blocks);
  std::vector<int16_t> out(kBlock);
  const double mb = blocks * kBlock * 2 / 1e6;
  std::printf("input: %s (%.1f MB of PCM)\n", what, mb);
  for (uint32_t version : {20u, 21u, 22u}) {
    std::vector<double> enc, dec;
    size_t total = 0;
    for (int run = 0; run < 5; ++run) {
      auto t0 = std::chrono::steady_clock::now();
      total = 0;
      for (size_t b = 0; b < blocks; ++b) {
        ConvertParams p{};
        p.flags = NUBO_FLAG_ENCODE;
        p.sampleCount = kBlock;
        p.channels = 2;
        p.coderVersion = version;
        if (NuboWaveConvert(&p, &pcm[b * kBlock], &code[b * NUBO_MAX_CODE_BLOCK_BYTES]) != 0) return 2;
        sizes[b] = p.codeSize;
        total += p.codeSize;
      }
      auto t1 = std::chrono::steady_clock::now();
      for (size_t b = 0; b < blocks; ++b) {
        ConvertParams p{};
        p.flags = NUBO_FLAG_DECODE;
        p.sampleCount = kBlock;
        p.channels = 2;
        p.coderVersion = version;
        if (NuboWaveConvert(&p, out.data(), &code[b * NUBO_MAX_CODE_BLOCK_BYTES]) != 0) return 3;
        if (run == 0 && std::memcmp(out.data(), &pcm[b * kBlock], kBlock * 2) != 0) return 4;
      }
      auto t2 = std::chrono::steady_clock::now();
      enc.push_back(std::chrono::duration<double>(t1 - t0).count());
      dec.push_back(std::chrono::duration<double>(t2 - t1).count());
    }
    std::printf("v%u: ratio %.3f  encode %.0f MB/s  decode %.0f MB/s\n", version, total / (mb * 1e6),
                mb / medianSeconds(enc), mb / medianSeconds(dec));
  }
  return 0;
}
