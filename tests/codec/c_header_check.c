/* SPDX-License-Identifier: BSD-3-Clause */
/* Uses the public header from C: one encode and decode of a short block. */
#include <string.h>

#include "nubocodec.h"

int main(void) {
  ConvertParams p;
  int16_t samples[4] = {5, 7, 6, 6};
  int16_t decoded[4] = {0};
  static uint8_t code[NUBO_MAX_CODE_BLOCK_BYTES];
  memset(&p, 0, sizeof p);
  p.flags = NUBO_FLAG_ENCODE;
  p.sampleCount = 4;
  p.channels = 1;
  p.coderVersion = 20;
  if (NuboWaveConvert(&p, samples, code) != NUBO_OK || p.codeSize != 4) return 1;
  p.flags = NUBO_FLAG_DECODE;
  if (NuboWaveConvert(&p, decoded, code) != NUBO_OK) return 2;
  return memcmp(samples, decoded, sizeof samples) == 0 ? 0 : 3;
}
