// SPDX-License-Identifier: BSD-3-Clause
// Arbitrary bytes as a settings file: every value in range after the read,
// and what is written reads back the same (a slot emptied because its line
// was too long is written as an empty line, which reads back as "*").
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "settings_file.h"
#include "utf8_path.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace nubo::ui;
  const Settings s = parseSettings(std::string_view(reinterpret_cast<const char*>(data), size));
  if (s.jobKind < 2 || s.jobKind > 4) std::abort();
  for (const auto& slot : s.slots) {
    if (nubo::platform::utf8Characters(slot) > kMaxPathChars || slot.find('\n') != std::string::npos) std::abort();
  }
  const Settings back = parseSettings(formatSettings(s));
  if (back.jobKind != s.jobKind || back.optionA != s.optionA || back.optionB != s.optionB ||
      back.languageNumber != s.languageNumber) {
    std::abort();
  }
  for (std::size_t i = 0; i < s.slots.size(); ++i) {
    if (back.slots[i] != (s.slots[i].empty() ? "*" : s.slots[i])) std::abort();
  }
  return 0;
}
