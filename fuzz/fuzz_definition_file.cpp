// SPDX-License-Identifier: BSD-3-Clause
// Arbitrary bytes as a definition file: the parse must succeed, stay inside
// its buffers and leave every text NUL-terminated within the pool.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "definition_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static nubo::ui::Definitions definitions;
  if (definitions.parse(std::string_view(reinterpret_cast<const char*>(data), size)) != 0) std::abort();
  for (int i = 0; i < nubo::ui::kTableEntries; ++i) {
    if (std::strlen(definitions.text(i)) >= nubo::ui::kTextPoolBytes) std::abort();
    (void)definitions.control(i);
  }
  return 0;
}
