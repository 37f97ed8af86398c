// SPDX-License-Identifier: BSD-3-Clause
// What the system needs of the operating system: its own directory, directory
// searches with the pattern rules of the desktop platform the file formats
// come from, directory creation, the worker thread, and output files that
// appear under their final name only when they are complete.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace nubo::platform {

// Path separators. On Windows both the backslash and '/' separate path
// components, and the backslash is the one written when a path is joined;
// elsewhere only '/'.
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
inline constexpr const char* kPathSeparators = "\\/";
// The device that swallows what is written to it.
inline constexpr const char* kNullDevice = "NUL";
#else
inline constexpr char kPathSeparator = '/';
inline constexpr const char* kPathSeparators = "/";
inline constexpr const char* kNullDevice = "/dev/null";
#endif
inline bool isPathSeparator(char c) {
  for (const char* s = kPathSeparators; *s != '\0'; ++s) {
    if (c == *s) return true;
  }
  return false;
}

// Paths and texts are UTF-8 everywhere; on Windows the OS layer converts
// them to UTF-16 for the system and back.

// Directory of the running executable (from /proc/self/exe; on Windows from
// GetModuleFileNameW), no trailing separator unless it is a root ("/", or a
// drive's root on Windows).
std::string programDirectory();

// What a path names, links followed.
enum class FileKind {
  Missing,       // nothing there (ENOENT, or a path through a non-directory)
  Regular,       // a regular file
  Directory,
  Other,         // a FIFO, socket or device: never opened by the converter
  DanglingLink,  // a symbolic link whose target does not exist
  Error,         // it cannot be examined (permission, loop of links, ...): see `error`
};

struct FileStatus {
  FileKind kind = FileKind::Missing;
  // With `inode`, the identity of the file (links followed; for a
  // DanglingLink, of the link itself). Zero for Missing and Error.
  uint64_t device = 0;
  uint64_t inode = 0;
  int64_t size = 0;
  bool characterDevice = false;  // an Other that is a character device (/dev/null)
  std::string error;  // the system's reason for Error and DanglingLink ("Permission denied")
  // Two statuses of existing files (or of dangling links) that name the same
  // file: same kind, same identity.
  bool sameFileAs(const FileStatus& other) const {
    return kind != FileKind::Missing && kind != FileKind::Error && kind == other.kind && device == other.device &&
           inode == other.inode;
  }
};

// The status of `path`, following links.
FileStatus fileStatus(const std::string& path);

struct DirectoryEntry {
  std::string name;  // the entry's own name, no directory part
  FileStatus status;  // of what the entry names, links followed
  // The entry itself is a symbolic link (on Windows also a junction or
  // another reparse point that stands for a name elsewhere), dangling or not.
  bool link = false;
  bool isDirectory() const { return status.kind == FileKind::Directory; }
  // A directory that the walk enters: a real one, never a link to one, so
  // that a walk stays inside the tree it was given.
  bool isRealDirectory() const { return isDirectory() && !link; }
};

// Case-insensitive match with '*' (any run, also empty) and '?' (any one
// character); "*.*" matches every name, also names without a dot.
bool matchesPattern(const std::string& pattern, const std::string& name);

// The entries of `directory` whose names match `pattern`, sorted by name
// (byte order) so that runs are repeatable. "." and ".." are never returned.
// False, with the system's reason in `error`, when the directory cannot be
// read; a missing directory is such a failure too.
bool findEntries(const std::string& directory, const std::string& pattern, std::vector<DirectoryEntry>& entries,
                 std::string& error);

// Creates one directory. False when it could not be created, also when it
// exists already; `error` then holds the system's reason.
bool createDirectory(const std::string& path, std::string& error);

// True when both paths name the same existing file (by any spelling or link).
bool sameFile(const std::string& a, const std::string& b);

// The text of a system error number ("No space left on device").
std::string systemReason(int errorNumber);

// --- Output files that appear only when complete -------------------------------
//
// A job writes its output under a temporary name in the output's own
// directory and gives it its final name only when it has succeeded, so that
// no process that stops or is killed leaves a partial file under a final
// name. A stopped job leaves its temporary file in place (nothing is deleted).

// True for a name that createTemporaryFile makes (the directory walk passes
// such files over: they are partial outputs, never inputs).
bool isTemporaryName(const std::string& name);

// Creates a new, empty file for writing under a fresh temporary name in the
// directory of `finalPath` ("<dir>/.<final name>.<random>.nubo-part"),
// exclusively (a leftover of an earlier run is never reused, and never
// blocks this one) and readable by the owner only until it is completed.
// On success `tempPath` names it and `stream` is open for binary writing.
// False with the system's reason (and errno-derived `errorNumber`) otherwise.
bool createTemporaryFile(const std::string& finalPath, std::string& tempPath, std::FILE*& stream, int& errorNumber,
                         std::string& error);

// Flushes the stream and forces the file's data to the disk.
bool syncFile(std::FILE* stream, std::string& error);

// Gives the file open in `stream` the modification and access times and the
// permission bits (rwx for user, group, other) of the file at `source`.
// Flushes the stream first, so later writes would change the time again:
// call it after the last write.
bool copyTimesAndMode(std::FILE* stream, const std::string& source, std::string& error);

// Gives the file open in `stream` the permission bits of a newly created
// file (0666 less the umask), for an output that has no input to take them from.
bool giveDefaultMode(std::FILE* stream, std::string& error);

enum class CommitResult {
  Committed,      // the temporary file now has the final name
  OutputExists,   // replace was false and a file with the final name exists
  OutputChanged,  // replace was true, but the file at the final name is not the one expected
  Failed,         // the system refused (see `error`); the temporary file is still there
};

// Gives the closed temporary file its final name.
// replace false: never replaces anything, even a file that appeared while the
//   job ran (an atomic link-then-unlink, or a rename that refuses to replace;
//   on a file system with neither, a check and rename under the directory lock).
// replace true: replaces the file at `finalPath` only when it is still
//   `expected` (what fileStatus said before the job wrote anything; Missing
//   when there was none), so that of two processes writing the same output
//   at once only one can succeed. The check and the rename are made under an
//   exclusive lock on the directory. With `expected` Missing, the commit is the
//   never-replacing one of replace false, a refusal reported as OutputChanged.
// With `sync`, the directory is forced to the disk after the rename.
// Committed with a non-empty `error` means the output has its final name but
// something after the rename went wrong (the temporary name could not be
// removed, or the directory could not be forced to the disk): worth a warning.
CommitResult commitFile(const std::string& tempPath, const std::string& finalPath, bool replace,
                        const FileStatus& expected, bool sync, std::string& error);

// Opens an existing regular file for binary reading. Anything else (a FIFO,
// a device, a directory) is refused without waiting on it: EINVAL-like
// failures give `errorNumber` 0 and the reason "not a regular file".
bool openRegularFile(const std::string& path, std::FILE*& stream, int& errorNumber, std::string& error);

// Opens `path` with fopen's `mode`; on Windows through _wfopen, so that any
// name opens whatever the system's code page. nullptr with errno set when
// it cannot be opened.
std::FILE* openFile(const std::string& path, const char* mode);

// Removes the file at `path`; false when it could not be removed.
bool removeFile(const std::string& path);

// The program's arguments, argv[0] first, as UTF-8. Elsewhere argv as it
// is; on Windows from the wide command line (main's argv is in the ANSI
// code page, where a name such as 音声.wav is already "??.wav"), and a
// console the program writes to shows UTF-8 until the program ends.
std::vector<std::string> programArguments(int argc, char** argv);

// How many processors are online (at least 1).
int onlineProcessors();

// Starts `work` on a new thread.
std::thread startThread(std::function<void()> work);

}  // namespace nubo::platform
