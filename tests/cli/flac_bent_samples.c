/* SPDX-License-Identifier: BSD-3-Clause */
// Preloaded into nubo by the safety test: the second block of samples given
// to libFLAC's encoder reaches it with one sample changed, as a fault in the
// encoder or in memory would. The caller's own samples stay as they were, so
// the check of the FLAC output against them must fail.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

typedef int (*Process)(void* encoder, const int32_t* const buffer[], uint32_t samples);

int FLAC__stream_encoder_process(void* encoder, const int32_t* const buffer[], uint32_t samples) {
  static Process real;
  static int calls;
  if (real == NULL) real = (Process)dlsym(RTLD_NEXT, "FLAC__stream_encoder_process");
  if (++calls != 2 || samples == 0) return real(encoder, buffer, samples);
  int32_t* bent = malloc(sizeof(int32_t) * samples);
  if (bent == NULL) return 0;
  memcpy(bent, buffer[0], sizeof(int32_t) * samples);
  bent[samples / 2] ^= 1;
  const int32_t* channels[8] = {bent};
  for (int c = 1; c < 8; ++c) channels[c] = buffer[c < 2 ? c : 1];
  const int ok = real(encoder, channels, samples);
  free(bent);
  return ok;
}
