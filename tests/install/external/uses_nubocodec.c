/* SPDX-License-Identifier: BSD-3-Clause */
/*
 * A program of someone who uses an installed libnubocodec, built outside
 * this source tree with pkg-config or with find_package(nubocodec CONFIG).
 * It round-trips a stereo block through each coder version, has the library
 * verify the code, and checks that a damaged block is caught.
 * Usage: uses_nubocodec EXPECTED_VERSION   (prints "nubocodec VERSION")
 */
#include <stdio.h>
#include <string.h>

#include <nubocodec.h>

#if NUBOCODEC_VERSION_NUMBER != \
    NUBOCODEC_VERSION_MAJOR * 10000 + NUBOCODEC_VERSION_MINOR * 100 + NUBOCODEC_VERSION_PATCH
#error "NUBOCODEC_VERSION_NUMBER disagrees with its parts"
#endif

enum { kFrames = 1000, kChannels = 2 };

static int fail(const char* what, unsigned version, int result) {
  fprintf(stderr, "uses_nubocodec: %s (coder version %u, result %d)\n", what, version, result);
  return 1;
}

int main(int argc, char** argv) {
  static int16_t samples[kFrames * kChannels];
  static int16_t decoded[kFrames * kChannels];
  static uint8_t code[NUBO_MAX_CODE_BLOCK_BYTES];
  char parts[32];
  unsigned version;

  snprintf(parts, sizeof parts, "%d.%d.%d", NUBOCODEC_VERSION_MAJOR, NUBOCODEC_VERSION_MINOR,
           NUBOCODEC_VERSION_PATCH);
  printf("nubocodec %s\n", NUBOCODEC_VERSION_STRING);
  if (strcmp(parts, NUBOCODEC_VERSION_STRING) != 0) {
    fprintf(stderr, "uses_nubocodec: version parts %s, string %s\n", parts, NUBOCODEC_VERSION_STRING);
    return 1;
  }
  if (argc > 1 && strcmp(argv[1], NUBOCODEC_VERSION_STRING) != 0) {
    fprintf(stderr, "uses_nubocodec: built against %s, expected %s\n", NUBOCODEC_VERSION_STRING, argv[1]);
    return 1;
  }

  /* A decaying square-ish wave on the left, a slow ramp on the right. */
  for (int i = 0; i < kFrames; ++i) {
    samples[kChannels * i] = (int16_t)(((i / 25) % 2 ? 1 : -1) * (9000 - 8 * i));
    samples[kChannels * i + 1] = (int16_t)(i * 13 - 6500);
  }

  for (version = 20; version <= 22; ++version) {
    ConvertParams p;
    int result;
    memset(&p, 0, sizeof p);
    p.flags = NUBO_FLAG_ENCODE | NUBO_FLAG_VERIFY;
    p.sampleCount = kFrames * kChannels;
    p.channels = kChannels;
    p.coderVersion = version;
    result = NuboWaveConvert(&p, samples, code);
    if (result != NUBO_OK) return fail("encode with verify failed", version, result);
    if (p.codeSize == 0 || p.codeSize > NUBO_MAX_CODE_BLOCK_BYTES) return fail("odd code size", version, p.codeSize);
    /* A block of this kind of signal is far smaller than its samples. */
    if (p.codeSize >= sizeof samples) return fail("the block did not compress", version, p.codeSize);

    memset(decoded, 0, sizeof decoded);
    p.flags = NUBO_FLAG_DECODE;
    result = NuboWaveConvert(&p, decoded, code);
    if (result != NUBO_OK) return fail("decode failed", version, result);
    if (p.decodedCount != kFrames * kChannels || memcmp(samples, decoded, sizeof samples) != 0) {
      return fail("decoded samples differ", version, p.decodedCount);
    }

    /* One sample changed: the library's check must notice. */
    decoded[777] ^= 0x40;
    p.flags = NUBO_FLAG_VERIFY;
    result = NuboWaveConvert(&p, decoded, code);
    if (result != NUBO_VERIFY_MISMATCH) return fail("a changed sample passed verify", version, result);
  }

  {
    ConvertParams p;
    memset(&p, 0, sizeof p);
    p.flags = NUBO_FLAG_ENCODE;
    p.sampleCount = 4;
    p.channels = 1;
    p.coderVersion = 23;
    if (NuboWaveConvert(&p, samples, code) != NUBO_UNSUPPORTED_VERSION) {
      return fail("coder version 23 was accepted", 23, 0);
    }
  }
  return 0;
}
