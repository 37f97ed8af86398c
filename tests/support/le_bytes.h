// SPDX-License-Identifier: BSD-3-Clause
// Little-endian fields of test files built and read back byte by byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace nubo::test {

inline void putLE(std::vector<uint8_t>& out, uint32_t v, int n) {
  for (int i = 0; i < n; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

inline uint32_t getLE(const std::vector<uint8_t>& b, std::size_t at, int n) {
  uint32_t v = 0;
  for (int i = 0; i < n; ++i) v |= static_cast<uint32_t>(b.at(at + i)) << (8 * i);
  return v;
}

}  // namespace nubo::test
