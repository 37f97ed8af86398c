// SPDX-License-Identifier: BSD-3-Clause
#include "run_report.h"

#include "os.h"

namespace nubo::cli {

namespace {

const char* resultName(converter::Outcome outcome) {
  switch (outcome) {
    case converter::Outcome::Converted: return "converted";
    case converter::Outcome::Skipped: return "skipped";
    case converter::Outcome::Incomplete: return "incomplete";
    case converter::Outcome::NotConverted: return "not converted";
    case converter::Outcome::Stopped: return "stopped";
    case converter::Outcome::PassedOver: return "passed over";
    case converter::Outcome::NotBegun: return "not begun";
  }
  return "?";
}

}  // namespace

std::string jsonString(const std::string& text) {
  std::string out = "\"";
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
          out += escaped;
        } else {
          out += ch;  // UTF-8 passes through; other bytes are kept as they are in the name
        }
    }
  }
  return out + "\"";
}

RunReport::~RunReport() {
  if (stream_ != nullptr) std::fclose(stream_);
}

bool RunReport::open(const std::string& path, std::string& error) {
  path_ = path;
  int errorNumber = 0;
  return platform::createTemporaryFile(path, tempPath_, stream_, errorNumber, error);
}

void RunReport::fileDone(const converter::FileOutcome& o) {
  if (stream_ == nullptr) return;
  std::string reason;
  const bool problem = o.outcome != converter::Outcome::Converted && o.outcome != converter::Outcome::Skipped &&
                       o.outcome != converter::Outcome::NotBegun;
  if (problem && o.reason != converter::kEntryEmpty) reason = converter::problemText(o, text_);
  const int n = std::fprintf(
      stream_,
      "{\"input\":%s,\"output\":%s,\"result\":\"%s\",\"reason\":%s,\"input_bytes\":%lld,\"output_bytes\":%lld,"
      "\"frames\":%lld,\"seconds\":%.3f,\"md5\":%s}\n",
      jsonString(o.input).c_str(), o.output.empty() ? "null" : jsonString(o.output).c_str(), resultName(o.outcome),
      reason.empty() ? "null" : jsonString(reason).c_str(), static_cast<long long>(o.inputBytes),
      static_cast<long long>(o.outputBytes), static_cast<long long>(o.frames), o.seconds,
      o.md5.empty() ? "null" : jsonString(o.md5).c_str());
  if (n < 0) failed_ = true;
}

bool RunReport::close(std::string& error) {
  if (stream_ == nullptr) return true;
  std::string ignored;
  platform::giveDefaultMode(stream_, ignored);  // the temporary file was the owner's only
  const bool written = std::fflush(stream_) == 0 && !failed_;
  std::fclose(stream_);
  stream_ = nullptr;
  if (!written) {
    error = "cannot write the report " + tempPath_;
    return false;
  }
  // The report replaces an earlier report of the same name.
  const platform::FileStatus existing = platform::fileStatus(path_);
  if (platform::commitFile(tempPath_, path_, existing.kind != platform::FileKind::Missing, existing, false, error) !=
      platform::CommitResult::Committed) {
    if (error.empty()) error = path_ + " changed while the run went on; the report is " + tempPath_;
    return false;
  }
  return true;
}

}  // namespace nubo::cli
