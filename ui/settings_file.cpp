// SPDX-License-Identifier: BSD-3-Clause
#include "settings_file.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <cstdlib>
#include <iterator>

#include "os.h"
#include "utf8_path.h"

namespace nubo::ui {

namespace {

// Delivers the file's lines one at a time. A line is everything up to its
// line feed; the line feed itself is not part of it, nor the carriage
// returns before it (a file written or edited on the desktop platform ends
// its lines in CR LF; no path or number ends in a carriage return, so all of
// them go, and what is written reads back the same). A line longer than the reader's limit is cut there and the rest
// of it is skipped, so that an overlong line never spills into the next value.
class LineReader {
 public:
  explicit LineReader(std::string_view bytes) : bytes_(bytes) {}

  // False at the end of the file.
  bool next(std::size_t limit, std::string& line) {
    if (pos_ >= bytes_.size()) return false;
    std::size_t end = bytes_.find('\n', pos_);
    if (end == std::string_view::npos) end = bytes_.size();
    std::string_view text = bytes_.substr(pos_, end - pos_);
    // No path holds a NUL byte: what follows one is not read, as the text
    // written back ends there too.
    text = text.substr(0, text.find('\0'));
    // Carriage returns at the end go, also those that a cut at the limit leaves there.
    text = text.substr(0, limit);
    while (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    line.assign(text);
    pos_ = end + 1;
    return true;
  }

 private:
  std::string_view bytes_;
  std::size_t pos_ = 0;
};

// The decimal value of a line as the standard conversion reads it (0 when it
// holds no number), clamped to the range of int.
int decimal(const std::string& line) {
  const long value = std::strtol(line.c_str(), nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

void readNumber(LineReader& reader, int& value) {
  std::string line;
  if (reader.next(kMaxVersionLineChars, line)) value = decimal(line);
}

void readSlots(LineReader& reader, Settings& settings) {
  std::string line;
  for (std::string& slot : settings.slots) {
    if (!reader.next(kMaxPathLineBytes, line)) return;
    // An empty line stands for "*" (a field that was left empty). A path
    // longer than a field holds is not taken, nor cut (a path cut short names
    // another file or directory, which a run would then walk): the field
    // starts empty, and makes no run until a path is typed or chosen.
    slot = line.empty() ? "*" : platform::utf8Characters(line) > kMaxPathChars ? "" : line;
  }
}

}  // namespace

std::string settingsPath(const std::string& stem) { return stem + "ini"; }

std::string userSettingsPath(const char* xdgConfigHome, const char* home) {
  // Only an absolute XDG_CONFIG_HOME counts: a relative one would depend on
  // the directory the program was started in, so it is ignored.
  if (xdgConfigHome != nullptr && xdgConfigHome[0] == '/') return std::string(xdgConfigHome) + "/nubo/NUBOCONV.ini";
  if (home != nullptr && home[0] == '/') return std::string(home) + "/.config/nubo/NUBOCONV.ini";
  return {};
}

std::string settingsStemFor(const std::string& programDirectory, const std::string& definitionDirectory,
                            const char* xdgConfigHome, const char* home) {
  if (definitionDirectory == programDirectory) return programDirectory + "/NUBOCONV.";
  std::string user = userSettingsPath(xdgConfigHome, home);
  if (user.empty()) return {};
  user.resize(user.size() - std::strlen("ini"));
  return user;
}

bool canWriteFile(const std::string& path) {
  // Opening for update changes nothing in an existing file; a missing one is
  // made exclusively (never one another process just made) and removed again.
  if (std::FILE* file = platform::openFile(path, "r+")) {
    std::fclose(file);
    return true;
  }
  if (std::FILE* file = platform::openFile(path, "wx")) {
    std::fclose(file);
    platform::removeFile(path);
    return true;
  }
  return false;
}

std::string chooseSettingsPath(const std::string& stem, const char* xdgConfigHome, const char* home) {
  const std::string beside = settingsPath(stem);
  if (canWriteFile(beside)) return beside;
  const std::string user = userSettingsPath(xdgConfigHome, home);
  return user.empty() ? beside : user;
}

Settings parseSettings(std::string_view bytes) {
  Settings settings;
  LineReader reader(bytes);
  std::string line;
  int version = -1;  // unrecognised unless line 1 holds a number
  if (reader.next(kMaxVersionLineChars, line) && !line.empty()) version = decimal(line);
  readNumber(reader, settings.jobKind);
  readNumber(reader, settings.optionA);
  if (version >= 10 && version <= 19) {
    settings.optionB = 0;
    settings.languageNumber = 0;
    readSlots(reader, settings);
  } else if (version >= 20 && version <= 29) {
    readNumber(reader, settings.optionB);
    readNumber(reader, settings.languageNumber);
    readSlots(reader, settings);
    readNumber(reader, settings.best);
    settings.best = settings.best != 0 ? 1 : 0;
  }
  if (settings.jobKind < 2 || settings.jobKind > 4) settings.jobKind = 4;
  return settings;
}

Settings readSettings(const std::string& path) {
  std::FILE* file = platform::openFile(path, "rb");
  if (file == nullptr) return Settings{};
  std::string bytes;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) bytes.append(buffer, n);
  std::fclose(file);
  return parseSettings(bytes);
}

std::string formatSettings(const Settings& settings) {
  std::string out;
  for (const int value : {kSettingsVersion, settings.jobKind, settings.optionA, settings.optionB,
                          settings.languageNumber}) {
    out += std::to_string(value);
    out += '\n';
  }
  for (const std::string& slot : settings.slots) {
    // WATCHOUT: a slot is one line of the file; a line feed inside it (or
    // more than the line limit) would shift every later value when read back.
    std::string line = slot.substr(0, std::min(slot.find('\n'), kMaxPathLineBytes));
    out += line;
    out += '\n';
  }
  out += std::to_string(settings.best);
  out += '\n';
  return out;
}

bool writeSettings(const std::string& path, const Settings& settings, std::string* reason) {
  auto failed = [&](int error) {
    if (reason != nullptr) *reason = std::strerror(error);
    return false;
  };
  // The user's configuration directory may not exist yet.
  // (A path made from UTF-8 text: on Windows std::filesystem would read a
  // plain string in another code page.)
  const std::filesystem::path parent = std::filesystem::path(std::u8string(path.begin(), path.end())).parent_path();
  std::error_code made;
  if (!parent.empty()) std::filesystem::create_directories(parent, made);
  std::FILE* file = platform::openFile(path, "w");
  if (file == nullptr) return failed(made ? made.value() : errno);
  const std::string text = formatSettings(settings);
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  const int writeError = errno;
  if (std::fclose(file) != 0) return failed(errno);
  if (!written) return failed(writeError);
  return true;
}

}  // namespace nubo::ui
