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

// The message table (100 texts in a 10,000-byte pool) and the control table.
class Definitions {
 public:
  Definitions();

  // Parses one file's bytes into the tables. Before the parse every entry
  // refers to the start of the pool and every record's type is -1. Returns 0.
  int parse(std::string_view bytes);

  // Text of entry `index`; an entry the file never defined shows the file's
  // first text. Out-of-range indexes yield "".
  const char* text(int index) const;
  const ControlRecord& control(int index) const;

 private:
  char pool_[kTextPoolBytes];
  std::size_t entries_[kTableEntries];  // offsets into pool_
  ControlRecord controls_[kTableEntries];
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
