// SPDX-License-Identifier: BSD-3-Clause
#include "flac_tags.h"

#include <cstdlib>

#include "foreign_chunks.h"

namespace nubo::converter {

std::string toHex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (const char c : bytes) {
    out += digits[(static_cast<unsigned char>(c) >> 4) & 15];
    out += digits[static_cast<unsigned char>(c) & 15];
  }
  return out;
}

bool fromHex(const std::string& hex, std::string& bytes) {
  auto value = [](char c) {
    return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
  };
  if (hex.size() % 2 != 0) return false;
  bytes.clear();
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int hi = value(hex[i]), lo = value(hex[i + 1]);
    if (hi < 0 || lo < 0) return false;
    bytes += static_cast<char>(hi << 4 | lo);
  }
  return true;
}

std::vector<std::pair<std::string, std::string>> carriedTags(const CarriedFields& carried) {
  std::vector<std::pair<std::string, std::string>> tags;
  // A preamble of WAVE chunks travels as the chunks themselves ("riff"
  // APPLICATION blocks), from which encode lays it out again byte for byte.
  if (ForeignChunks chunks; !chunksOfPreamble(carried.preamble, chunks)) {
    tags.emplace_back("NUBO_PREAMBLE", toHex(carried.preamble));
  }
  tags.emplace_back("NUBO_CODER_PARAMETER", std::to_string(carried.coderParameter));
  tags.emplace_back("NUBO_CODER_VERSION", std::to_string(carried.coderVersion));
  return tags;
}

void applyCarriedTag(const std::string& name, const std::string& value, CarriedFields& carried) {
  if (name == "NUBO_PREAMBLE" && fromHex(value, carried.preamble)) carried.present = true;
  if (name == "NUBO_CODER_PARAMETER") {
    carried.coderParameter = static_cast<int32_t>(std::strtol(value.c_str(), nullptr, 10));
    carried.present = true;
  }
  if (name == "NUBO_CODER_VERSION") carried.coderVersion = static_cast<int32_t>(std::strtol(value.c_str(), nullptr, 10));
}

}  // namespace nubo::converter
