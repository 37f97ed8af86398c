/* SPDX-License-Identifier: BSD-3-Clause */
/* A slow disk for the window tests: preloaded into NUBOCONV (LD_PRELOAD),
 * every fread waits NUBO_SLOW_READ_US microseconds before it reads, so that
 * a run over a few small files lasts long enough to be interrupted by hand.
 * Without the variable it only reads. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

size_t fread(void* ptr, size_t size, size_t count, FILE* stream) {
  /* Both are set to the same values by whichever thread comes first. */
  static size_t (*real)(void*, size_t, size_t, FILE*);
  static long delay = -1;
  if (real == NULL) real = (size_t(*)(void*, size_t, size_t, FILE*))dlsym(RTLD_NEXT, "fread");
  if (delay < 0) {
    const char* value = getenv("NUBO_SLOW_READ_US");
    delay = value != NULL ? atol(value) : 0;
  }
  if (delay > 0) {
    const struct timespec wait = {delay / 1000000, (delay % 1000000) * 1000};
    nanosleep(&wait, NULL);
  }
  return real(ptr, size, count, stream);
}
