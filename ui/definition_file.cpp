// SPDX-License-Identifier: BSD-3-Clause
#include "definition_file.h"

#include <cstdio>
#include <cstdlib>
#include <iterator>

#include "os.h"

namespace nubo::ui {

namespace {

// Parser states; 2 is not used.
enum State {
  kLineStart = 0,
  kSkipLine = 1,
  kLayout = 3,
  kSlash = 4,
  kDefine = 5,  // 5..10 match the letters of "define"
  kName = 11,
  kIndex = 12,
  kBeforeText = 13,
  kText = 14,
  kEscape = 15,
  kStar = 16,
};

constexpr char kDefineWord[] = "define";

char translateEscape(int c) {
  switch (c) {
    case '\\': return '\\';
    case 'n': return '\n';
    case 'r': return '\r';
    default: return '@';
  }
}

}  // namespace

Definitions::Definitions() : pool_{}, entries_{}, controls_{}, textLines_{}, layoutLines_{} {}

int Definitions::parse(std::string_view bytes) {
  for (int i = 0; i < kTableEntries; ++i) {
    entries_[i] = 0;
    controls_[i].type = -1;
    textLines_[i] = 0;
    layoutLines_[i] = 0;
  }
  pool_[0] = '\0';
  pool_[kTextPoolBytes - 1] = '\0';
  problem_ = {};

  std::size_t in = 0;
  int line = 1;       // line of the next character
  int charLine = 1;   // line of the character `next` returned last
  auto next = [&]() -> int {
    if (in >= bytes.size()) return -1;
    const int c = static_cast<unsigned char>(bytes[in++]);
    charLine = line;
    if (c == '\n') ++line;
    return c;
  };
  auto fault = [&](int at, std::string what) {
    if (problem_.line == 0) problem_ = {at, std::move(what)};
  };

  std::size_t pos = 0;       // current pool position; pool_[pos] is the NUL of the text being built
  int current = 0;           // record that layout lines fill
  bool discard = false;      // the text line being read has an index outside 0..99
  bool layoutIgnored = false;  // layout lines after such a line are dropped with it
  int textStart = 0;         // line of the text line being read
  int state = kLineStart;

  // Keeps one character of the text being read; a text that reaches the end
  // of the pool is cut there, still terminated.
  auto keep = [&](char c) {
    if (discard) return;
    if (pos + 1 >= kTextPoolBytes) {
      fault(textStart, "the texts of the file pass " + std::to_string(kTextPoolBytes) +
                           " bytes here (a text that is too long, or a missing */)");
      return;
    }
    pool_[pos] = c;
    pool_[++pos] = '\0';
  };

  for (;;) {
    int c = next();
    if (c < 0) break;
    switch (state) {
      case kLineStart:
        state = c == '/' ? kSlash : c == '#' ? kDefine : c == '\n' ? kLineStart : kSkipLine;
        break;
      case kSkipLine:
        if (c == '\n') state = kLineStart;
        break;
      case kSlash:
        state = c == '/' ? kLayout : c == '\n' ? kLineStart : kSkipLine;
        break;
      case kLayout: {
        // `c` is the ignored character after "//"; then up to six fields,
        // each ended by a comma or by the line end (CR, or LF without a CR).
        if (c == '\n') {
          state = kLineStart;
          break;
        }
        const int at = charLine;
        int32_t* fields[6] = {&controls_[current].type, &controls_[current].style, &controls_[current].x,
                              &controls_[current].y,    &controls_[current].width, &controls_[current].height};
        int d = -1;
        for (int f = 0; f < 6; ++f) {
          char text[kMaxLayoutField + 1];
          std::size_t n = 0;
          d = next();
          while (d >= 0 && d != ',' && d != '\r' && d != '\n') {
            if (n < static_cast<std::size_t>(kMaxLayoutField)) text[n++] = static_cast<char>(d);
            d = next();
          }
          text[n] = '\0';
          if (!layoutIgnored) *fields[f] = static_cast<int32_t>(std::strtol(text, nullptr, 0));
          if (d != ',') break;  // the line end or the end of the file
        }
        if (!layoutIgnored) layoutLines_[current] = at;
        // WATCHOUT: a field ended by a bare LF has consumed the line end.
        state = d == '\n' ? kLineStart : kSkipLine;
        break;
      }
      case kName:
        if (c == '\n') {
          state = kLineStart;  // a text line cut short: nothing to store
        } else if (c != ' ') {
          while (c >= 0 && c != ' ' && c != '\n') c = next();
          if (c < 0) break;
          state = c == '\n' ? kLineStart : kIndex;
        }
        break;
      case kIndex:
        if (c == '\n') {
          state = kLineStart;
        } else if (c != ' ') {
          // The index is converted as the standard decimal conversion would
          // read the run up to the next space; the value saturates so that a
          // long run of digits is simply out of range.
          textStart = charLine;
          long index = 0;
          bool negative = false;
          bool inNumber = true;
          bool started = false;
          while (c >= 0 && c != ' ' && c != '\n') {
            if (inNumber) {
              if (!started && (c == '\t' || c == '\v' || c == '\f' || c == '\r')) {
                // leading white space other than the space that ends the run
              } else if (!started && (c == '+' || c == '-')) {
                negative = c == '-';
                started = true;
              } else if (c >= '0' && c <= '9') {
                started = true;
                if (index < 1000000) index = index * 10 + (c - '0');
              } else {
                inNumber = false;
              }
            }
            c = next();
          }
          if (negative) index = -index;
          discard = index < 0 || index >= kTableEntries;
          layoutIgnored = discard;
          if (!discard) {
            current = static_cast<int>(index);
            if (pos >= kTextPoolBytes) pos = kTextPoolBytes - 1;
            entries_[current] = pos;
            textLines_[current] = textStart;
            pool_[pos] = '\0';
          }
          if (c < 0) break;
          if (c == '\n') {
            // A line that ends after the index has an empty text of its own.
            if (!discard && pos < kTextPoolBytes) ++pos;
            discard = false;
            state = kLineStart;
          } else {
            state = kBeforeText;
          }
        }
        break;
      case kBeforeText:
        if (c == '\n') {
          state = kLineStart;
        } else if (c != ' ') {
          next();  // the second character of the "/*" opener
          state = kText;
        }
        break;
      case kText:
        if (c == '\\') {
          state = kEscape;
        } else if (c == '*') {
          state = kStar;
        } else if (c != '\n' && c != '\r') {
          keep(static_cast<char>(c));
        } else if (c == '\n' && bytes.substr(in, 7) == "#define") {
          // A text may go on over several lines, but one that runs into the
          // next text line has lost its "*/" and swallows the lines between.
          fault(textStart, "the text that begins here has no closing */ before the next #define");
        }
        break;
      case kEscape:
        keep(translateEscape(c));
        state = kText;
        break;
      case kStar:
        if (c == '/') {
          // The text is complete; the next one starts after its NUL.
          if (!discard && pos < kTextPoolBytes) ++pos;
          discard = false;
          state = kSkipLine;
        } else if (c == '\n' || c == '\r') {
          // A line break between "*" and "/" leaves the "*" pending.
        } else {
          keep('*');
          if (c == '\\') {
            state = kEscape;
          } else if (c != '*') {
            keep(static_cast<char>(c));
            state = kText;
          }
        }
        break;
      default:
        if (state >= kDefine && state <= kDefine + 5) {
          if (c == kDefineWord[state - kDefine]) {
            state = state + 1;  // after the last letter: kName
          } else {
            state = c == '\n' ? kLineStart : kSkipLine;
          }
          break;
        }
        return 999;
    }
  }
  // The end of the file ends the parse in any state; a text still open has
  // taken every line after its start.
  if ((state == kText || state == kEscape || state == kStar) && !discard) {
    fault(textStart, "the text that begins here has no closing */");
  }
  lastLine_ = !bytes.empty() && bytes.back() == '\n' ? line - 1 : line;
  return 0;
}

const char* Definitions::text(int index) const {
  if (index < 0 || index >= kTableEntries) return "";
  return pool_ + entries_[index];
}

const ControlRecord& Definitions::control(int index) const {
  static const ControlRecord kNone{};
  if (index < 0 || index >= kTableEntries) return kNone;
  return controls_[index];
}

std::string definitionPath(const std::string& stem, int languageNumber) {
  if (languageNumber <= 0) return stem + "h";
  return stem + "h" + std::to_string(languageNumber / 10) + std::to_string(languageNumber % 10);
}

namespace {
bool readFile(const std::string& path, std::string& bytes) {
  std::FILE* file = platform::openFile(path, "rb");
  if (file == nullptr) return false;
  bytes.clear();
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) bytes.append(buffer, n);
  const bool read = std::ferror(file) == 0;
  std::fclose(file);
  return read;
}
}  // namespace

int loadDefinitions(const std::string& stem, int& languageNumber, Definitions& definitions,
                    const std::function<void(const std::string& basePath)>& onMissingBase) {
  std::string bytes;
  if (languageNumber > 0 && !readFile(definitionPath(stem, languageNumber), bytes)) languageNumber = 0;
  if (languageNumber <= 0) {
    languageNumber = 0;
    const std::string base = definitionPath(stem, 0);
    if (!readFile(base, bytes)) {
      if (onMissingBase) onMissingBase(base);
      return 999;
    }
  }
  return definitions.parse(bytes);
}

}  // namespace nubo::ui
