/* SPDX-License-Identifier: BSD-3-Clause */
/* A slow disk for the window tests: preloaded into NUBOCONV (LD_PRELOAD),
 * every fread waits NUBO_SLOW_READ_US microseconds before it reads, so that
 * a run over a few small files lasts long enough to be interrupted by hand.
 * With NUBO_READ_GATE naming a file, the reads of every thread but the
 * main (UI) thread wait for as long as that file exists: a run holds still
 * until the test removes it. The first read held creates the file named
 * NUBO_READ_GATE with ".held" added, so that the test knows the run is
 * there. Without the variables it only reads. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

static void pause_us(long us) {
  const struct timespec wait = {us / 1000000, (us % 1000000) * 1000};
  nanosleep(&wait, NULL);
}

size_t fread(void* ptr, size_t size, size_t count, FILE* stream) {
  /* Set to the same values by whichever thread comes first. */
  static size_t (*real)(void*, size_t, size_t, FILE*);
  static long delay = -1;
  static const char* gate;
  if (real == NULL) real = (size_t(*)(void*, size_t, size_t, FILE*))dlsym(RTLD_NEXT, "fread");
  if (delay < 0) {
    const char* value = getenv("NUBO_SLOW_READ_US");
    gate = getenv("NUBO_READ_GATE");
    delay = value != NULL ? atol(value) : 0;
  }
  if (gate != NULL && syscall(SYS_gettid) != getpid() && access(gate, F_OK) == 0) {
    char held[4096];
    snprintf(held, sizeof held, "%s.held", gate);
    const int fd = open(held, O_WRONLY | O_CREAT, 0644);
    if (fd >= 0) close(fd);
    while (access(gate, F_OK) == 0) pause_us(20000);
  }
  if (delay > 0) pause_us(delay);
  return real(ptr, size, count, stream);
}
