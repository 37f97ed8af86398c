// SPDX-License-Identifier: BSD-3-Clause
// The definition file: every text the converter shows and the layout of every
// control of the main window, read from NUBOCONV.h (or a numbered language
// variant) beside the program. Both front ends take their messages from it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace nubo::ui {

inline constexpr int kTableEntries = 100;
inline constexpr std::size_t kTextPoolBytes = 10000;
inline constexpr int kMaxLayoutField = 299;

struct ControlRecord {
  int32_t type = -1;  // -1 none, 0 static, 1 button, 2 edit, 3 list box, 4+ no control
  int32_t style = 0;
  int32_t x = 0;
  int32_t y = 0;
  int32_t width = 0;
  int32_t height = 0;
};

// A fault of a definition file that makes it unusable, with the line (from
// 1) where it shows.
struct DefinitionProblem {
  int line = 0;
  std::string what;
};

// The message table (100 texts in a 10,000-byte pool) and the control table.
class Definitions {
 public:
  Definitions();

  // Parses one file's bytes into the tables. Before the parse every entry
  // refers to the start of the pool and every record's type is -1. Lines may
  // end in CR LF or in LF alone. Returns 0; what makes the file unusable is
  // kept in problem().
  int parse(std::string_view bytes);

  // Text of entry `index`; an entry the file never defined shows the file's
  // first text. Out-of-range indexes yield "".
  const char* text(int index) const;
  // Whether a text line of the last parse defined entry `index`.
  bool defined(int index) const { return index >= 0 && index < kTableEntries && textLines_[index] != 0; }
  const ControlRecord& control(int index) const;

  // Lines (from 1) of the last parse: the text line that defined entry
  // `index` and the last layout line that filled its record; 0 for none.
  int textLine(int index) const { return index >= 0 && index < kTableEntries ? textLines_[index] : 0; }
  int layoutLine(int index) const { return index >= 0 && index < kTableEntries ? layoutLines_[index] : 0; }
  // The line the file ends on (1 for an empty file).
  int lastLine() const { return lastLine_; }
  // The first fault of the last parse that leaves texts cut or swallows the
  // lines after it: the texts overflowing the pool, or a text whose "*/" never
  // comes. Line 0 when there is none.
  const DefinitionProblem& problem() const { return problem_; }

 private:
  char pool_[kTextPoolBytes];
  std::size_t entries_[kTableEntries];  // offsets into pool_
  ControlRecord controls_[kTableEntries];
  int textLines_[kTableEntries];
  int layoutLines_[kTableEntries];
  int lastLine_ = 1;
  DefinitionProblem problem_;
};

// Full path of the definition file for `languageNumber` next to `stem`
// (".../NUBOCONV."): "h" for 0, then "h01", "h12", "h123" for 1, 12, 123.
std::string definitionPath(const std::string& stem, int languageNumber);

// Loads the variant of `languageNumber` (falling back to the base file and
// setting languageNumber to 0 when the variant is missing). When the base
// file is missing calls onMissingBase(base path) and returns 999; else 0.
int loadDefinitions(const std::string& stem, int& languageNumber, Definitions& definitions,
                    const std::function<void(const std::string& basePath)>& onMissingBase);

}  // namespace nubo::ui
