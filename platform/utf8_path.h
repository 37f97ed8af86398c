// SPDX-License-Identifier: BSD-3-Clause
// std::filesystem paths made from the UTF-8 text that nubo holds every name
// in, and UTF-8 text made from them. A path made from a plain std::string,
// or its string(), goes through the ANSI code page on Windows, which loses
// (or throws on) every character outside it.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace nubo::platform {

inline std::filesystem::path pathFromUtf8(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

inline std::string utf8FromPath(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// The same with '/' between the parts on every system.
inline std::string genericUtf8FromPath(const std::filesystem::path& path) {
  const std::u8string text = path.generic_u8string();
  return std::string(text.begin(), text.end());
}

// The number of characters of UTF-8 text (code points, not bytes: "Ä" is
// one). A byte that does not begin a well-formed sequence (a name that is
// not UTF-8) counts as one character of its own.
inline std::size_t utf8Characters(std::string_view text) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < text.size(); ++count) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 1;
    std::size_t n = 1;
    while (n < length && i + n < text.size() && (static_cast<unsigned char>(text[i + n]) & 0xC0) == 0x80) ++n;
    i += n == length ? length : 1;
  }
  return count;
}

}  // namespace nubo::platform
