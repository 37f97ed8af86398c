/* SPDX-License-Identifier: BSD-3-Clause */
// Preloaded into nubo by the safety test: fsync of a directory fails with
// EIO, as on a disk that fails after the data was written. fsync of a file
// works as usual.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stddef.h>
#include <sys/stat.h>

typedef int (*Fsync)(int fd);

int fsync(int fd) {
  static Fsync real;
  if (real == NULL) real = (Fsync)dlsym(RTLD_NEXT, "fsync");
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    errno = EIO;
    return -1;
  }
  return real(fd);
}
