// SPDX-License-Identifier: BSD-3-Clause
#include "safe_output.h"

#include <cerrno>

#include "message_entries.h"

namespace nubo::converter {

namespace {

std::string directoryOf(const std::string& path) {
  const std::size_t slash = path.find_last_of(platform::kPathSeparators);
  if (slash == std::string::npos) return ".";
  if (slash == 0) return std::string(1, path[0]);
  return path.substr(0, slash);
}

// Creates a missing output directory: every prefix that ends before a separator
// (failures are harmless: drive-like prefixes and existing directories),
// then the directory itself, whose failure counts.
bool makeDirectories(const std::string& directory, std::string& error) {
  std::string ignored;
  for (std::size_t i = 1; i < directory.size(); ++i) {
    if (platform::isPathSeparator(directory[i])) platform::createDirectory(directory.substr(0, i), ignored);
  }
  // Another worker (or process) may have made it meanwhile: that is no failure.
  return platform::createDirectory(directory, error) ||
         platform::fileStatus(directory).kind == platform::FileKind::Directory;
}

}  // namespace

ExistingFile inspectExistingOutput(const std::string& path, const FileFormat& format, std::string& error) {
  InputFile in;
  if (!in.open(path)) {
    error = in.error();
    return ExistingFile::OtherKind;
  }
  return format.inspectExisting(in);
}

// Whether a failure to create an output is about its name alone (too long,
// a character the file system refuses), so that the next file may well
// succeed: the run goes on. Any other failure (a full or read-only disk, no
// permission) would repeat, and stops the run.
static bool failsForTheNameAlone(int errorNumber) {
  return errorNumber == ENAMETOOLONG || errorNumber == EILSEQ || errorNumber == EINVAL;
}
// The same, from the system's reason where only that is kept.
static bool failsForTheNameAlone(const std::string& reason) {
  return reason == platform::systemReason(ENAMETOOLONG) || reason == platform::systemReason(EILSEQ);
}

bool SafeOutput::begin(FileOutcome& o) {
  const std::string& out = run_.outputPath;
  if (out == "-") {
    // The standard output. Decoded audio goes straight to it; a compressed
    // file is gathered in an unnamed temporary file first, because its
    // header holds sizes known only at the end, and a pipe cannot seek back.
    toStdout_ = true;
    direct_ = true;
    spool_ = format_.needsSeekableOutput();
    std::FILE* stream = spool_ ? std::tmpfile() : run_.streams->output();
    if (stream == nullptr) {
      o = makeOutcome(run_, Outcome::Stopped, kEntryCannotCreate, out, "", platform::systemReason(errno));
      return false;
    }
    file_.adopt(stream);
    return true;
  }
  if (out == run_.inputPath || platform::sameFile(out, run_.inputPath)) {
    o = makeOutcome(run_, Outcome::NotConverted, kEntryOutputIsInput, out);
    return false;
  }
  expected_ = platform::fileStatus(out);
  if (expected_.kind == platform::FileKind::Regular && run_.runInputs != nullptr &&
      run_.runInputs->count({expected_.device, expected_.inode}) != 0) {
    o = makeOutcome(run_, Outcome::NotConverted, kEntryOutputIsRunInput, out);
    return false;
  }
  const int otherKind = format_.otherKindEntry();
  switch (expected_.kind) {
    case platform::FileKind::Missing:
      break;
    case platform::FileKind::Other:
      // The null device holds no file that could be left partial: it is
      // written directly (a decode to /dev/null tests a file's audio). No
      // other device, FIFO or socket is ever opened: a FIFO would block the
      // run, and a device is nothing a conversion should write into.
      if (expected_.characterDevice && platform::sameFile(out, platform::kNullDevice)) {
        direct_ = true;
        if (file_.open(out)) return true;
        o = makeOutcome(run_, Outcome::Stopped, kEntryCannotCreate, out, "", file_.error());
        return false;
      }
      // Nothing that is not a file is written into.
      o = makeOutcome(run_, Outcome::NotConverted, kEntryNotRegular, out);
      return false;
    case platform::FileKind::Directory:
      // A directory named as the output file: an output into it is named
      // with a slash at the end.
      o = makeOutcome(run_, Outcome::NotConverted, kEntryCannotCreate, out, "",
                      "it is a directory; end the name with a slash to write into it");
      return false;
    case platform::FileKind::DanglingLink:
      o = makeOutcome(run_, Outcome::NotConverted, otherKind, out, "", expected_.error);
      return false;
    case platform::FileKind::Error:
      o = makeOutcome(run_, failsForTheNameAlone(expected_.error) ? Outcome::NotConverted : Outcome::Stopped,
                      kEntryCannotCreate, out, "", expected_.error);
      return false;
    case platform::FileKind::Regular: {
      std::string unreadable;
      const ExistingFile existing = inspectExistingOutput(out, format_, unreadable);
      if (existing == ExistingFile::OtherKind) {
        o = makeOutcome(run_, Outcome::NotConverted, otherKind, out, "", unreadable);
        return false;
      }
      if (!run_.request.options.overwrite) {
        if (existing == ExistingFile::Complete) {
          o = makeOutcome(run_, Outcome::Skipped, kEntryOutputExists, out);
        } else {
          o = makeOutcome(run_, Outcome::NotConverted, kEntryExistingIncomplete, out);
        }
        return false;
      }
      break;  // replaced when the job succeeds, if it is still this file
    }
  }
  return createTemporary(o);
}

bool SafeOutput::createTemporary(FileOutcome& o) {
  const std::string directory = directoryOf(run_.outputPath);
  std::string error;
  if (platform::fileStatus(directory).kind == platform::FileKind::Missing) {
    errno = 0;
    if (!makeDirectories(directory, error)) {
      const Outcome outcome = failsForTheNameAlone(errno) ? Outcome::NotConverted : Outcome::Stopped;
      o = makeOutcome(run_, outcome, kEntryCannotMakeDirectory, directory, "", error);
      return false;
    }
  }
  std::FILE* stream = nullptr;
  int errorNumber = 0;
  if (!platform::createTemporaryFile(run_.outputPath, tempPath_, stream, errorNumber, error)) {
    tempPath_.clear();
    const Outcome outcome = failsForTheNameAlone(errorNumber) ? Outcome::NotConverted : Outcome::Stopped;
    o = makeOutcome(run_, outcome, kEntryCannotCreate, run_.outputPath, "", error);
    return false;
  }
  file_.adopt(stream);
  return true;
}

bool SafeOutput::commit(FileOutcome& o) {
  std::string error;
  if (spool_) {
    // The gathered compressed file, now complete, goes to standard output.
    std::FILE* stdoutStream = run_.streams->output();
    std::FILE* spool = file_.stream();
    bool copied = stdoutStream != nullptr && file_.flush() && std::fseek(spool, 0, SEEK_SET) == 0;
    uint8_t chunk[1 << 16];
    for (std::size_t n; copied && (n = std::fread(chunk, 1, sizeof chunk, spool)) > 0;) {
      copied = std::fwrite(chunk, 1, n, stdoutStream) == n;
    }
    const std::string reason = platform::systemReason(errno);
    copied = stdoutStream != nullptr && std::fclose(stdoutStream) == 0 && copied;
    file_.close();
    if (copied) return committed_ = true;
    o = makeOutcome(run_, Outcome::Stopped, kEntryWriteError, run_.outputPath, "", reason);
    return false;
  }
  if (direct_) {
    if (file_.close()) return committed_ = true;
    o = makeOutcome(run_, Outcome::Stopped, kEntryWriteError, run_.outputPath, "", file_.error());
    return false;
  }
  const bool written = file_.flush() && (!run_.request.options.sync || platform::syncFile(file_.stream(), error));
  if (!written) {
    if (error.empty()) error = file_.error();
    o = makeOutcome(run_, Outcome::Stopped, kEntryWriteError, run_.outputPath, "", error, keep());
    return false;
  }
  // Times and permission bits are kept where the file system allows; an
  // output is not refused for a file system that keeps no modes.
  std::string ignored;
  // (An output of the standard input has no file to take them from.)
  if (run_.inputPath == "-") {
    platform::giveDefaultMode(file_.stream(), ignored);
  } else {
    platform::copyTimesAndMode(file_.stream(), run_.inputPath, ignored);
  }
  if (!file_.close()) {
    o = makeOutcome(run_, Outcome::Stopped, kEntryWriteError, run_.outputPath, "", file_.error(), keep());
    return false;
  }
  const bool replace = run_.request.options.overwrite && expected_.kind != platform::FileKind::Missing;
  switch (platform::commitFile(tempPath_, run_.outputPath, replace, expected_, run_.request.options.sync, error)) {
    case platform::CommitResult::Committed:
      committed_ = true;
      commitWarning_ = error;
      return true;
    case platform::CommitResult::OutputExists:
    case platform::CommitResult::OutputChanged:
      o = makeOutcome(run_, Outcome::NotConverted, kEntryOutputChanged, run_.outputPath, "", "", keep());
      return false;
    case platform::CommitResult::Failed:
      break;
  }
  o = makeOutcome(run_, failsForTheNameAlone(error) ? Outcome::NotConverted : Outcome::Stopped, kEntryWriteError,
                  run_.outputPath, "", error, keep());
  return false;
}

void SafeOutput::addCommitWarning(FileOutcome& o) const {
  if (commitWarning_.empty()) return;
  o.warning = kEntryCommitWarning;
  o.warningSubject = run_.outputPath;
  o.warningDetail = commitWarning_;
}

std::string SafeOutput::keep() {
  if (file_.isOpen()) file_.close();
  return committed_ ? std::string() : tempPath_;
}

SideOutput::~SideOutput() {
  if (stream_ != nullptr) std::fclose(stream_);
}

bool SideOutput::begin(const std::string& path, bool overwrite,
                       const std::function<bool(const std::string&)>& isOfItsKind, std::string& error) {
  path_ = path;
  overwrite_ = overwrite;
  if (path.empty()) {
    error = "no file name given";
    return false;
  }
  expected_ = platform::fileStatus(path);
  switch (expected_.kind) {
    case platform::FileKind::Missing:
      break;
    case platform::FileKind::Regular:
      if (!overwrite) {
        error = path + " exists; it is not replaced (-f replaces an earlier report)";
        return false;
      }
      if (!isOfItsKind(path)) {
        error = path + " is not a file of the kind written here; it is not replaced";
        return false;
      }
      break;
    case platform::FileKind::Error:
      error = path + ": " + expected_.error;
      return false;
    default:
      error = path + " is not a regular file (a directory, a device, a FIFO or a dangling link); nothing is "
                     "written there";
      return false;
  }
  const std::string directory = directoryOf(path);
  if (platform::fileStatus(directory).kind == platform::FileKind::Missing && !makeDirectories(directory, error)) {
    error = directory + ": " + error;
    return false;
  }
  int errorNumber = 0;
  if (!platform::createTemporaryFile(path, tempPath_, stream_, errorNumber, error)) {
    error = path + ": " + error;
    return false;
  }
  return true;
}

bool SideOutput::commit(const std::set<std::pair<uint64_t, uint64_t>>& runInputs, std::string& error) {
  if (stream_ == nullptr) return true;
  std::string ignored;
  platform::giveDefaultMode(stream_, ignored);  // the temporary file was the owner's only
  const bool written = std::fflush(stream_) == 0 && std::ferror(stream_) == 0;
  const std::string reason = platform::systemReason(errno);
  const bool closed = std::fclose(stream_) == 0;
  stream_ = nullptr;
  if (!written || !closed) {
    error = "cannot write " + tempPath_ + " (" + reason + ")";
    return false;
  }
  if (expected_.kind == platform::FileKind::Regular && runInputs.count({expected_.device, expected_.inode}) != 0) {
    error = path_ + " is an input of this run; it is not replaced (the file written is " + tempPath_ + ")";
    return false;
  }
  const bool replace = overwrite_ && expected_.kind != platform::FileKind::Missing;
  switch (platform::commitFile(tempPath_, path_, replace, expected_, false, error)) {
    case platform::CommitResult::Committed:
      return true;
    case platform::CommitResult::OutputExists:
    case platform::CommitResult::OutputChanged:
      error = path_ + " appeared or changed during the run; it is not replaced (the file written is " + tempPath_ + ")";
      return false;
    case platform::CommitResult::Failed:
      break;
  }
  error = path_ + ": " + error + " (the file written is " + tempPath_ + ")";
  return false;
}

}  // namespace nubo::converter
