// SPDX-License-Identifier: BSD-3-Clause
#include "fixity.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <vector>

#include "file_formats.h"
#include "os.h"
#include "outcome_text.h"
#include "utf8_path.h"

namespace nubo::cli {

namespace {

bool isMd5(const std::string& text) {
  if (text.size() != 32) return false;
  for (const char c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

// The string value of "field":"..." in a line of a report (JSON escapes
// undone for what a path holds: \" \\ \/ and the \udcXX of bytes that are
// not UTF-8). False when the line has no such field.
bool jsonField(const std::string& line, const std::string& field, std::string& value) {
  const std::string start = "\"" + field + "\":\"";
  std::size_t at = line.find(start);
  if (at == std::string::npos) return false;
  value.clear();
  for (at += start.size(); at < line.size(); ++at) {
    const char c = line[at];
    if (c == '"') return true;
    if (c != '\\' || at + 1 >= line.size()) {
      value += c;
      continue;
    }
    const char e = line[++at];
    if (e == 'u' && at + 4 < line.size()) {
      const unsigned code = static_cast<unsigned>(std::stoul(line.substr(at + 1, 4), nullptr, 16));
      at += 4;
      if (code >= 0xDC80 && code <= 0xDCFF) {
        value += static_cast<char>(code - 0xDC00);
      } else if (code < 0x80) {
        value += static_cast<char>(code);
      }
      continue;
    }
    value += e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e;
  }
  return false;
}

// What a name in a line of `test --md5` is written escaped for: control
// characters, and a backslash where it is not the path separator (on
// Windows it is, and names hold no control characters).
bool needsEscape(unsigned char c) {
  return c < 0x20 || c == 0x7F || (c == '\\' && !platform::isPathSeparator('\\'));
}
// Within an escaped line every backslash is escaped too.
bool isEscaped(unsigned char c) { return c < 0x20 || c == 0x7F || c == '\\'; }

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string sumLine(const std::string& md5, const std::string& file) {
  bool escape = false;
  for (const char c : file) escape = escape || needsEscape(static_cast<unsigned char>(c));
  if (!escape) return md5 + "  " + file;
  std::string line = "\\" + md5 + "  ";
  for (const char ch : file) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '\\') {
      line += "\\\\";
    } else if (c == '\n') {
      line += "\\n";
    } else if (c == '\r') {
      line += "\\r";
    } else if (isEscaped(c)) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      line += hex;
    } else {
      line += ch;
    }
  }
  return line;
}

bool readSumLine(const std::string& line, std::string& md5, std::string& file) {
  const bool escaped = !line.empty() && line[0] == '\\';
  const std::size_t at = escaped ? 1 : 0;
  if (line.size() <= at + 34 || !isMd5(line.substr(at, 32)) || line.compare(at + 32, 2, "  ") != 0) return false;
  md5 = line.substr(at, 32);
  file.clear();
  for (std::size_t i = at + 34; i < line.size(); ++i) {
    const char c = line[i];
    if (!escaped || c != '\\') {
      file += c;
      continue;
    }
    if (++i == line.size()) return false;
    const char e = line[i];
    if (e == '\\') {
      file += '\\';
    } else if (e == 'n') {
      file += '\n';
    } else if (e == 'r') {
      file += '\r';
    } else if (e == 'x' && i + 2 < line.size() && hexValue(line[i + 1]) >= 0 && hexValue(line[i + 2]) >= 0) {
      file += static_cast<char>(hexValue(line[i + 1]) * 16 + hexValue(line[i + 2]));
      i += 2;
    } else {
      return false;
    }
  }
  return true;
}

std::string FixityCheck::key(const std::string& path) {
  try {
    return platform::genericUtf8FromPath(platform::pathFromUtf8(path).lexically_normal());
  } catch (const std::exception&) {
    return path;  // a name that is not UTF-8 (Windows): compared as it is
  }
}

namespace {

// Whether nothing is at `path` any more.
bool gone(const std::string& path) { return platform::fileStatus(path).kind == platform::FileKind::Missing; }

// The next line of `in` without its line feed; false at the end.
bool readLine(std::FILE* in, std::string& line) {
  line.clear();
  int c;
  while ((c = std::getc(in)) != EOF && c != '\n') line += static_cast<char>(c);
  return c != EOF || !line.empty();
}

}  // namespace

bool FixityCheck::load(const std::string& path, std::string& error) {
  recordPath_ = path;
  std::FILE* in = platform::openFile(path, "rb");
  if (in == nullptr) {
    error = path + ": cannot be read (" + platform::systemReason(errno) + ")";
    return false;
  }
  std::string line;
  long number = 0;
  std::string bad;
  while (readLine(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    std::string file, md5;
    if (line[0] == '{') {
      // A report: the MD5 is the audio's, recorded for the compressed file
      // of the line (the output of encode and upgrade, the input of the
      // others). A file with no MD5 (not converted) records nothing.
      std::string input, output;
      if (!jsonField(line, "input", input)) {
        bad.append(1, ' ').append(std::to_string(number));
        continue;
      }
      jsonField(line, "output", output);
      if (!jsonField(line, "md5", md5)) continue;
      const auto compressed = [](const std::string& name) {
        return converter::formatByExtension(name) == converter::OutputFormat::Nab;
      };
      file = compressed(output) && !compressed(input) ? output : input;
    } else if (!readSumLine(line, md5, file)) {
      md5.clear();
    }
    if (!isMd5(md5)) {
      // A line that records nothing readable: a record cut or edited. Said,
      // never passed over, so that no recorded file goes unchecked.
      bad.append(1, ' ').append(std::to_string(number));
      continue;
    }
    for (char& c : md5) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    recorded_[key(file)] = md5;
    shownAs_[key(file)] = file;
  }
  const bool readFailed = std::ferror(in) != 0;
  std::fclose(in);
  if (readFailed) {
    error = path + ": cannot be read to its end";
    return false;
  }
  if (!bad.empty()) {
    error = path + ": lines that record no MD5 and file (" + bad.substr(1) +
            "): each line is \"<md5>  <file>\" as nubo test --md5 writes it, or a line of a --report file";
    return false;
  }
  if (recorded_.empty()) {
    error = path + ": no line of `nubo test --md5` or of a --report file with an MD5";
    return false;
  }
  return true;
}

std::vector<std::string> FixityCheck::recordedPaths() const {
  // Those that are gone are named as missing at the end, not tested.
  std::vector<std::string> paths;
  for (const auto& [k, shown] : shownAs_) {
    if (!gone(shown)) paths.push_back(shown);
  }
  return paths;
}

// A name as a terminal may be shown it.
std::string shown(const std::string& name) { return converter::escapeControls(name); }

void FixityCheck::fileDone(const converter::FileOutcome& o) {
  if (o.outcome == converter::Outcome::PassedOver || o.outcome == converter::Outcome::NotBegun) return;
  const std::lock_guard<std::mutex> lock(mutex_);
  const std::string k = key(o.input);
  const auto recorded = recorded_.find(k);
  if (recorded == recorded_.end()) {
    // A file found that the record does not hold; one that failed its test
    // is named by the test already.
    if (o.outcome == converter::Outcome::Converted) unlisted_.insert(o.input);
    return;
  }
  seen_.insert(k);
  if (o.md5.empty()) return;  // damaged: the test says so
  if (o.md5 == recorded->second) {
    ++matched_;
  } else {
    differs_[o.input] = o.md5;
  }
}

long FixityCheck::finish(bool walked, std::FILE* out, std::FILE* err) {
  const std::lock_guard<std::mutex> lock(mutex_);
  long missing = 0;
  for (const auto& [path, md5] : differs_) {
    std::fprintf(err, "nubo: the audio differs from the record %s: %s (recorded %s, now %s)\n",
                 shown(recordPath_).c_str(), shown(path).c_str(), recorded_[key(path)].c_str(), md5.c_str());
  }
  for (const auto& [k, md5] : recorded_) {
    if (seen_.count(k) != 0) continue;
    // Recorded, but not found by this run: missing when it is gone (a file
    // that is there was merely not among those the run was given).
    if (!gone(shownAs_[k])) continue;
    std::fprintf(err, "nubo: missing, recorded in %s: %s\n", shown(recordPath_).c_str(), shown(shownAs_[k]).c_str());
    ++missing;
  }
  long unlisted = 0;
  if (walked) {
    for (const std::string& path : unlisted_) {
      std::fprintf(err, "nubo: not in the record %s: %s\n", shown(recordPath_).c_str(), shown(path).c_str());
      ++unlisted;
    }
  }
  const long differ = static_cast<long>(differs_.size());
  const std::string notRecorded = walked ? "  " + std::to_string(unlisted) + " not recorded" : "";
  std::fprintf(out, "%ld file(s) hold the audio recorded  %ld differ  %ld missing%s\n", matched_, differ, missing,
               notRecorded.c_str());
  std::fflush(out);
  return differ + missing + unlisted;
}

}  // namespace nubo::cli
