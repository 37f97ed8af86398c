// SPDX-License-Identifier: BSD-3-Clause
// The output of one job: every rule about what may be written where, and
// the temporary file that takes the output's final name only when the job
// has succeeded. Every job that writes a file goes through it.
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <utility>

#include "file_format.h"
#include "file_io.h"
#include "jobs.h"
#include "os.h"

namespace nubo::converter {

// What the file at `path` is to `format` (OtherKind, with `error` saying
// why, when it cannot be read: what cannot be read is never replaced).
ExistingFile inspectExistingOutput(const std::string& path, const FileFormat& format, std::string& error);

// A file written beside a run rather than by a job (the report of a run):
// the same rules as every output. It is created under a temporary name in
// its directory and takes its name at the end; what is at the name already
// is replaced only with `overwrite`, only when it is a regular file that
// `isOfItsKind` accepts, never when it is an input of the run, and never
// when it changed meanwhile; a directory, a device, a FIFO is never written.
class SideOutput {
 public:
  SideOutput() = default;
  SideOutput(const SideOutput&) = delete;
  SideOutput& operator=(const SideOutput&) = delete;
  ~SideOutput();

  // Checks the name and creates the temporary file. False with `error`.
  bool begin(const std::string& path, bool overwrite, const std::function<bool(const std::string&)>& isOfItsKind,
             std::string& error);
  std::FILE* stream() const { return stream_; }
  const std::string& path() const { return path_; }
  // Flushes, closes and gives the file its name, unless that name is one of
  // `runInputs` (device and inode). False with `error`; the temporary file
  // then stays and `error` names it.
  bool commit(const std::set<std::pair<uint64_t, uint64_t>>& runInputs, std::string& error);

 private:
  std::string path_;
  std::string tempPath_;
  std::FILE* stream_ = nullptr;
  bool overwrite_ = false;
  platform::FileStatus expected_;
};

class SafeOutput {
 public:
  // An existing output is replaced (option A) only when it is of `format`.
  SafeOutput(RunState& run, const FileFormat& format) : run_(run), format_(format) {}
  SafeOutput(const SafeOutput&) = delete;
  SafeOutput& operator=(const SafeOutput&) = delete;
  // An output never committed is closed and left under its temporary name.
  ~SafeOutput() { keep(); }

  // Decides what becomes of the current output path: true when it is to be
  // written (the temporary file is open), false when `o` holds the outcome
  // (skipped, refused or stopped), already shown on the status lines.
  bool begin(FileOutcome& o);

  OutputFile& file() { return file_; }
  const std::string& temporaryPath() const { return tempPath_; }
  // Whether the output can seek back (not so on standard output, "-").
  bool seekable() const { return !toStdout_ || spool_; }

  // Completes the output: forced to the disk when the run asks for it, the
  // input's times and permission bits, closed, and given its final name.
  // False when that failed, with `o` holding the outcome, already shown.
  bool commit(FileOutcome& o);
  // After a commit that gave the output its name but then met a problem
  // (the temporary name could not be removed, or --sync could not force the
  // directory to the disk): that problem, as the warning of the outcome `o`.
  void addCommitWarning(FileOutcome& o) const;

  // Closes the temporary file and leaves it where it is. Returns its path
  // ("" when there is none).
  std::string keep();

 private:
  bool createTemporary(FileOutcome& o);

  RunState& run_;
  const FileFormat& format_;
  OutputFile file_;
  std::string tempPath_;
  platform::FileStatus expected_;  // what was at the output path when the job began
  bool committed_ = false;
  std::string commitWarning_;
  bool direct_ = false;  // the null device, written in place
  bool toStdout_ = false;  // the output is the standard output ("-")
  bool spool_ = false;  // a compressed file for standard output, gathered first so that its header is right
};

}  // namespace nubo::converter
