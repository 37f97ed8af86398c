// SPDX-License-Identifier: BSD-3-Clause
// Arbitrary bytes as a settings file: every value in range after the read,
// and what is written reads back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "settings_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace nubo::ui;
  const Settings s = parseSettings(std::string_view(reinterpret_cast<const char*>(data), size));
  if (s.jobKind < 2 || s.jobKind > 4) std::abort();
  for (const auto& slot : s.slots) {
    if (slot.empty() || slot.size() > kMaxPathChars || slot.find('\n') != std::string::npos) std::abort();
  }
  const Settings back = parseSettings(formatSettings(s));
  if (back.jobKind != s.jobKind || back.optionA != s.optionA || back.optionB != s.optionB ||
      back.languageNumber != s.languageNumber || back.slots != s.slots) {
    std::abort();
  }
  return 0;
}
