// SPDX-License-Identifier: BSD-3-Clause
#include "run_report.h"

#include "os.h"

namespace nubo::cli {

namespace {

// The result of a file in the words of its job: a test converts nothing,
// its files are complete or failed.
const char* resultName(converter::Outcome outcome, converter::Job job) {
  const bool test = job == converter::Job::Test;
  switch (outcome) {
    case converter::Outcome::Converted: return test ? "complete" : "converted";
    case converter::Outcome::Skipped: return "skipped";
    case converter::Outcome::Incomplete: return "incomplete";
    case converter::Outcome::NotConverted: return test ? "failed" : "not converted";
    case converter::Outcome::Stopped: return "stopped";
    case converter::Outcome::PassedOver: return "passed over";
    case converter::Outcome::NotBegun: return "not begun";
  }
  return "?";
}

}  // namespace

namespace {

// The length of the UTF-8 sequence at `at` (1 to 4), or 0 when the bytes
// there are not one (a stray byte, an overlong form, a surrogate, past U+10FFFF).
std::size_t utf8Length(const std::string& text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u; };
  const unsigned c = byte(at);
  const auto cont = [&](std::size_t i) { return (byte(i) & 0xC0u) == 0x80u; };
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) return cont(at + 1) ? 2 : 0;
  if (c >= 0xE0 && c <= 0xEF) {
    const unsigned c1 = byte(at + 1);
    if ((c == 0xE0 && c1 < 0xA0) || (c == 0xED && c1 >= 0xA0)) return 0;
    return cont(at + 1) && cont(at + 2) ? 3 : 0;
  }
  if (c >= 0xF0 && c <= 0xF4) {
    const unsigned c1 = byte(at + 1);
    if ((c == 0xF0 && c1 < 0x90) || (c == 0xF4 && c1 >= 0x90)) return 0;
    return cont(at + 1) && cont(at + 2) && cont(at + 3) ? 4 : 0;
  }
  return 0;
}

}  // namespace

std::string jsonString(const std::string& text, bool* escaped) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t n = utf8Length(text, i);
    char buffer[8];
    if (n == 0) {
      // A byte that is no part of UTF-8 (a name from another encoding) is
      // written as the lone surrogate U+DC80 + byte, as Python's
      // surrogateescape reads it, so that the line stays valid JSON and the
      // byte can be recovered.
      std::snprintf(buffer, sizeof buffer, "\\udc%02x", c);
      out += buffer;
      if (escaped != nullptr) *escaped = true;
      ++i;
      continue;
    }
    if (n > 1) {
      out.append(text, i, n);
      i += n;
      continue;
    }
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
          out += buffer;
        } else {
          out += static_cast<char>(c);
        }
    }
    ++i;
  }
  return out + "\"";
}

bool RunReport::open(const std::string& path, bool overwrite, std::string& error) {
  // Only an earlier report is replaced: a file of JSON lines such as these.
  const auto isReport = [](const std::string& existing) {
    std::FILE* f = platform::openFile(existing, "rb");
    if (f == nullptr) return false;
    static constexpr char kStart[] = "{\"input\":";
    char start[sizeof kStart - 1] = {};
    const std::size_t n = std::fread(start, 1, sizeof start, f);
    std::fclose(f);
    return n == 0 || (n == sizeof start && std::string(start, n) == kStart);
  };
  return output_.begin(path, overwrite, isReport, error);
}

void RunReport::runPlanned(const converter::RunPlan& plan) {
  for (const converter::PlannedFile& f : plan.files) {
    const platform::FileStatus status = platform::fileStatus(f.input);
    if (status.kind == platform::FileKind::Regular) inputs_.insert({status.device, status.inode});
  }
}

void RunReport::fileDone(const converter::FileOutcome& o) {
  std::FILE* stream = output_.stream();
  if (stream == nullptr) return;
  std::string reason;
  const bool problem = o.outcome != converter::Outcome::Converted && o.outcome != converter::Outcome::Skipped &&
                       o.outcome != converter::Outcome::NotBegun;
  if (problem && o.reason != converter::kEntryEmpty) reason = converter::problemText(o, text_);
  bool escaped = false;
  const std::string input = jsonString(o.input, &escaped);
  const std::string output = o.output.empty() ? "null" : jsonString(o.output, &escaped);
  const std::string why = reason.empty() ? "null" : jsonString(reason, &escaped);
  // A file converted with something to say about it (chunks not kept, a
  // wrong data size): the line the terminal shows, without its prefix.
  std::string warning = "null";
  if (o.warning != converter::kEntryEmpty) {
    converter::FileOutcome warned;
    warned.reason = o.warning;
    warned.subject = o.warningSubject.empty() ? o.input : o.warningSubject;
    warned.systemError = o.warningDetail;
    warning = jsonString(converter::problemText(warned, text_), &escaped);
  }
  // The sizes of the files (null for a stream or a file not written).
  const auto size = [](int64_t bytes) { return bytes < 0 ? std::string("null") : std::to_string(bytes); };
  std::fprintf(stream,
               "{\"input\":%s,\"output\":%s,\"result\":\"%s\",\"reason\":%s,\"warning\":%s,\"input_bytes\":%s,\"output_bytes\":%s,"
               "\"frames\":%lld,\"seconds\":%.3f,\"md5\":%s,\"names_escaped\":%s}\n",
               input.c_str(), output.c_str(), resultName(o.outcome, o.job), why.c_str(), warning.c_str(), size(o.inputFileBytes).c_str(),
               size(o.outputFileBytes).c_str(), static_cast<long long>(o.frames), o.seconds,
               o.md5.empty() ? "null" : jsonString(o.md5).c_str(), escaped ? "true" : "false");
}

bool RunReport::close(std::string& error) { return output_.commit(inputs_, error); }

}  // namespace nubo::cli
