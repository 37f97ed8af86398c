// SPDX-License-Identifier: BSD-3-Clause
// Opening files on POSIX (inputs without ever blocking on a FIFO or a
// device), and the program's arguments as they are.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "os.h"
#include "std_streams.h"

namespace nubo::platform {

bool openRegularFile(const std::string& path, std::FILE*& stream, int& errorNumber, std::string& error) {
  stream = nullptr;
  // O_NONBLOCK makes the open of a FIFO return at once; the kind is then
  // checked on the open descriptor, so a file swapped for a FIFO after an
  // earlier check is still refused.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    errorNumber = errno;
    error = systemReason(errorNumber);
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    errorNumber = errno;
    error = systemReason(errorNumber);
    ::close(fd);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    errorNumber = 0;
    error = "not a regular file";
    ::close(fd);
    return false;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  stream = ::fdopen(fd, "rb");
  if (stream == nullptr) {
    errorNumber = errno;
    error = systemReason(errorNumber);
    ::close(fd);
    return false;
  }
  return true;
}

std::FILE* openFile(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

bool removeFile(const std::string& path) { return std::remove(path.c_str()) == 0; }

std::vector<std::string> programArguments(int argc, char** argv) { return std::vector<std::string>(argv, argv + argc); }

std::FILE* duplicateStandardStream(bool output) {
  const int fd = ::fcntl(output ? STDOUT_FILENO : STDIN_FILENO, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) return nullptr;
#ifdef F_SETPIPE_SZ
  // A pipe of 64 KiB (Linux's default) makes the two processes take turns
  // every 64 KiB; 1 MiB lets each run longer. Where the system refuses (a
  // limit for unprivileged users), the pipe stays as it was.
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode)) ::fcntl(fd, F_SETPIPE_SZ, 1 << 20);
#endif
  std::FILE* stream = ::fdopen(fd, output ? "wb" : "rb");
  if (stream == nullptr) ::close(fd);
  return stream;
}

int64_t regularFileSize(std::FILE* stream) {
  struct stat st {};
  if (stream == nullptr || ::fstat(::fileno(stream), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return st.st_size;
}

}  // namespace nubo::platform
