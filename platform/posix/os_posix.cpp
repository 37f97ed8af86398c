// SPDX-License-Identifier: BSD-3-Clause
// The OS layer on POSIX (Linux): /proc/self/exe, opendir/readdir, mkdir,
// stat, and output files that are written under a temporary name and given
// their final name by link, renameat2 or a locked rename.
#include "os.h"
#include "os_names.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <utility>

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

namespace nubo::platform {

std::string programDirectory() {
  char buffer[PATH_MAX + 1];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, PATH_MAX);
  if (n <= 0) return ".";
  const std::string path(buffer, static_cast<size_t>(n));
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

namespace {

// strerror_r comes in two shapes: the GNU one returns the text, the XSI one
// fills the buffer and returns 0. Overloads pick whichever the C library has.
[[maybe_unused]] std::string reasonText(const char* text, const char*, int) { return text; }
[[maybe_unused]] std::string reasonText(int result, const char* buffer, int errorNumber) {
  if (result == 0) return buffer;
  return "Unknown error " + std::to_string(errorNumber);
}

// The status of `name` relative to the directory open as `dirFd` (AT_FDCWD:
// the working directory), links followed.
FileStatus statusAt(int dirFd, const char* name) {
  FileStatus status;
  struct stat st {};
  if (::fstatat(dirFd, name, &st, 0) != 0) {
    const int statError = errno;
    if (statError == ENOENT || statError == ENOTDIR) {
      struct stat link {};
      if (::fstatat(dirFd, name, &link, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(link.st_mode)) {
        // The link itself is what there is: its identity lets a caller tell
        // whether the same link is still there later.
        status.kind = FileKind::DanglingLink;
        status.device = static_cast<uint64_t>(link.st_dev);
        status.inode = static_cast<uint64_t>(link.st_ino);
        status.error = systemReason(statError);
      }
      return status;  // Missing unless it is a dangling link
    }
    status.kind = FileKind::Error;
    status.error = systemReason(statError);
    return status;
  }
  status.kind = S_ISREG(st.st_mode) ? FileKind::Regular : S_ISDIR(st.st_mode) ? FileKind::Directory : FileKind::Other;
  status.characterDevice = S_ISCHR(st.st_mode);
  status.device = static_cast<uint64_t>(st.st_dev);
  status.inode = static_cast<uint64_t>(st.st_ino);
  status.size = static_cast<int64_t>(st.st_size);
  return status;
}

// Where a file's temporary sibling goes: the directory to open (for the lock
// and the directory sync), the prefix that joins a name onto it, and the
// file's own name.
struct PathParts {
  std::string directory;
  std::string prefix;
  std::string name;
};

PathParts splitPath(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return {".", "", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(0, slash + 1), path.substr(slash + 1)};
}

using names::kTemporaryDecoration;
using names::kTemporarySuffix;
using names::splitMix64;

// 64 unpredictable bits for a temporary name. getrandom gives different
// values in every process (also in children forked from one parent); when it
// is unavailable the process id, the clock and a counter stand in. A clash
// costs only a retry: the file is created exclusively.
uint64_t randomBits() {
  uint64_t value = 0;
  if (::getrandom(&value, sizeof value, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof value)) return value;
  static std::atomic<uint64_t> counter{0};
  timespec now {};
  ::clock_gettime(CLOCK_REALTIME, &now);
  const uint64_t seed = (static_cast<uint64_t>(::getpid()) << 40) ^ static_cast<uint64_t>(now.tv_sec) * 1000000007ull ^
                        static_cast<uint64_t>(now.tv_nsec);
  return splitMix64(seed + counter.fetch_add(1) * 0x9e3779b97f4a7c15ull);
}

// The part of the final name that goes into the temporary name: all of it
// when the result fits in one name component, else a prefix cut at a UTF-8
// character boundary (the temporary name only has to be unique, and the
// random part sees to that).
std::string temporaryStem(const std::string& name) {
  constexpr size_t kDecoration = kTemporaryDecoration;
  constexpr size_t kMaxStem = NAME_MAX - kDecoration;
  if (name.size() <= kMaxStem) return name;
  size_t cut = kMaxStem;
  while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
  return name.substr(0, cut);
}

// Link errors that mean "this file system has no hard links", not "no".
bool linkUnsupported(int e) {
  return e == EPERM || e == EOPNOTSUPP || e == ENOTSUP || e == EMLINK || e == EXDEV || e == ENOSYS;
}

// The output directory, open for the lock and for the directory sync.
class DirectoryHandle {
 public:
  explicit DirectoryHandle(const std::string& path)
      : fd_(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)), openError_(fd_ < 0 ? errno : 0) {}
  ~DirectoryHandle() {
    if (locked_) ::flock(fd_, LOCK_UN);
    if (fd_ >= 0) ::close(fd_);
  }
  DirectoryHandle(const DirectoryHandle&) = delete;
  DirectoryHandle& operator=(const DirectoryHandle&) = delete;

  bool isOpen() const { return fd_ >= 0; }
  int openError() const { return openError_; }

  // Takes the exclusive lock that orders commits into this directory. When
  // the directory cannot be opened or the file system has no flock (some
  // network and FUSE file systems), the commit goes on without it: the check
  // and the rename are still right for one process, only two of this
  // program's processes writing the same output at the same moment could
  // then both pass the check, and refusing every replacement on such file
  // systems would be worse.
  void lock() {
    if (fd_ < 0 || locked_) return;
    int rc;
    do {
      rc = ::flock(fd_, LOCK_EX);
    } while (rc != 0 && errno == EINTR);
    locked_ = rc == 0;
  }

  // 0 when the directory's entries are on the disk, else the error number.
  int sync() const {
    if (fd_ < 0) return openError_;
    if (::fsync(fd_) == 0) return 0;
    // EINVAL: the file system cannot sync directories; nothing more can be done.
    return errno == EINVAL ? 0 : errno;
  }

 private:
  int fd_;
  int openError_;
  bool locked_ = false;
};

enum class Step { Done, Exists, Unsupported, Failed };

// Gives `tempPath` the name `finalPath` unless that name exists: a hard link
// and the removal of the temporary name, or where hard links are not
// supported a rename that refuses to replace. Both are atomic: a file that
// appears at the final name at any moment is never replaced.
Step renameNoReplace(const std::string& tempPath, const std::string& finalPath, std::string& error,
                     std::string& warning) {
  if (::link(tempPath.c_str(), finalPath.c_str()) == 0) {
    if (::unlink(tempPath.c_str()) != 0) {
      warning = "the temporary name " + tempPath + " could not be removed: " + systemReason(errno);
    }
    return Step::Done;
  }
  const int linkError = errno;
  if (linkError == EEXIST) return Step::Exists;
  if (!linkUnsupported(linkError)) {
    error = systemReason(linkError);
    return Step::Failed;
  }
#ifdef SYS_renameat2
  if (::syscall(SYS_renameat2, AT_FDCWD, tempPath.c_str(), AT_FDCWD, finalPath.c_str(), RENAME_NOREPLACE) == 0) {
    return Step::Done;
  }
  const int renameError = errno;
  if (renameError == EEXIST) return Step::Exists;
  if (renameError != EINVAL && renameError != ENOSYS) {
    error = systemReason(renameError);
    return Step::Failed;
  }
#endif
  return Step::Unsupported;
}

// Renames `tempPath` to `finalPath` when what is at the final name is still
// `expected`. The caller holds the directory lock.
Step checkAndRename(const std::string& tempPath, const std::string& finalPath, const FileStatus& expected,
                    std::string& error) {
  const FileStatus now = fileStatus(finalPath);
  if (now.kind == FileKind::Error) {
    error = now.error;
    return Step::Failed;
  }
  const bool unchanged = expected.kind == FileKind::Missing ? now.kind == FileKind::Missing : now.sameFileAs(expected);
  if (!unchanged) return Step::Exists;
  if (::rename(tempPath.c_str(), finalPath.c_str()) != 0) {
    error = systemReason(errno);
    return Step::Failed;
  }
  return Step::Done;
}

}  // namespace

FileStatus fileStatus(const std::string& path) { return statusAt(AT_FDCWD, path.c_str()); }

bool findEntries(const std::string& directory, const std::string& pattern, std::vector<DirectoryEntry>& entries,
                 std::string& error) {
  entries.clear();
  DIR* dir = ::opendir(directory.c_str());
  if (dir == nullptr) {
    error = systemReason(errno);
    return false;
  }
  const int dirFd = ::dirfd(dir);
  for (;;) {
    errno = 0;
    const dirent* e = ::readdir(dir);
    if (e == nullptr) {
      if (errno != 0) {
        error = systemReason(errno);
        ::closedir(dir);
        entries.clear();
        return false;
      }
      break;
    }
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    if (!matchesPattern(pattern, name)) continue;
    // Relative to the open directory, links followed: a link to a directory
    // counts as a directory, and is marked as a link.
    DirectoryEntry entry{name, statusAt(dirFd, e->d_name)};
    if (e->d_type == DT_LNK) {
      entry.link = true;
    } else if (e->d_type == DT_UNKNOWN) {  // a file system that does not say: ask
      struct stat own {};
      entry.link = ::fstatat(dirFd, e->d_name, &own, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(own.st_mode);
    }
    entries.push_back(std::move(entry));
  }
  ::closedir(dir);
  std::sort(entries.begin(), entries.end(),
            [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });
  return true;
}

bool createDirectory(const std::string& path, std::string& error) {
  if (::mkdir(path.c_str(), 0777) == 0) return true;
  error = systemReason(errno);
  return false;
}

bool sameFile(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::string systemReason(int errorNumber) {
  char buffer[256] = {};
  return reasonText(::strerror_r(errorNumber, buffer, sizeof buffer), buffer, errorNumber);
}

bool createTemporaryFile(const std::string& finalPath, std::string& tempPath, std::FILE*& stream, int& errorNumber,
                         std::string& error) {
  stream = nullptr;
  const PathParts parts = splitPath(finalPath);
  if (parts.name.empty()) {
    errorNumber = EISDIR;
    error = systemReason(errorNumber);
    return false;
  }
  const std::string stem = temporaryStem(parts.name);
  // Each attempt draws fresh random characters; EEXIST (a leftover of an
  // earlier run, or another process's file) only means "try another name".
  constexpr int kAttempts = 100;
  int fd = -1;
  std::string candidate;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    candidate = parts.prefix + "." + stem + "." + names::randomCharacters(randomBits()) + kTemporarySuffix;
    fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0 || errno != EEXIST) break;
  }
  if (fd < 0) {
    errorNumber = errno;
    error = systemReason(errorNumber);
    return false;
  }
  stream = ::fdopen(fd, "wb");
  if (stream == nullptr) {
    errorNumber = errno;
    error = systemReason(errorNumber);
    ::close(fd);
    ::unlink(candidate.c_str());  // the empty file this call just made
    return false;
  }
  tempPath = candidate;
  return true;
}

bool syncFile(std::FILE* stream, std::string& error) {
  if (std::fflush(stream) != 0 || ::fsync(::fileno(stream)) != 0) {
    error = systemReason(errno);
    return false;
  }
  return true;
}

bool copyTimesAndMode(std::FILE* stream, const std::string& source, std::string& error) {
  if (std::fflush(stream) != 0) {
    error = systemReason(errno);
    return false;
  }
  struct stat st {};
  if (::stat(source.c_str(), &st) != 0) {
    error = systemReason(errno);
    return false;
  }
  const int fd = ::fileno(stream);
  const timespec times[2] = {st.st_atim, st.st_mtim};
  if (::fchmod(fd, st.st_mode & 0777) != 0 || ::futimens(fd, times) != 0) {
    error = systemReason(errno);
    return false;
  }
  return true;
}

CommitResult commitFile(const std::string& tempPath, const std::string& finalPath, bool replace,
                        const FileStatus& expected, bool sync, std::string& error) {
  error.clear();
  DirectoryHandle directory(splitPath(finalPath).directory);
  if (sync && !directory.isOpen()) {
    // Without the directory open its new entry could not be forced to the
    // disk; better to stop now, with the temporary file untouched.
    error = systemReason(directory.openError());
    return CommitResult::Failed;
  }

  std::string warning;
  Step step;
  if (!replace || expected.kind == FileKind::Missing) {
    // Nothing may be replaced. The lock orders this commit against locked
    // replacements by other processes; the link or renameat2 itself is atomic
    // against everything else.
    if (replace) directory.lock();
    step = renameNoReplace(tempPath, finalPath, error, warning);
    if (step == Step::Unsupported) {
      directory.lock();
      step = checkAndRename(tempPath, finalPath, FileStatus{}, error);
    }
  } else {
    directory.lock();
    step = checkAndRename(tempPath, finalPath, expected, error);
  }

  switch (step) {
    case Step::Exists: return replace ? CommitResult::OutputChanged : CommitResult::OutputExists;
    case Step::Unsupported:  // not returned by checkAndRename
    case Step::Failed: return CommitResult::Failed;
    case Step::Done: break;
  }
  if (sync) {
    if (const int syncError = directory.sync(); syncError != 0) {
      if (!warning.empty()) warning += "; ";
      warning += "the directory could not be forced to the disk: " + systemReason(syncError);
    }
  }
  error = warning;
  return CommitResult::Committed;
}

bool giveDefaultMode(std::FILE* stream, std::string& error) {
  // umask can only be read by setting it; it is set back at once.
  const mode_t mask = ::umask(022);
  ::umask(mask);
  if (::fchmod(::fileno(stream), 0666 & ~mask) != 0) {
    error = systemReason(errno);
    return false;
  }
  return true;
}

int onlineProcessors() {
  const long n = ::sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<int>(n) : 1;
}

std::thread startThread(std::function<void()> work) { return std::thread(std::move(work)); }

}  // namespace nubo::platform
