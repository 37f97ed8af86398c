// SPDX-License-Identifier: BSD-3-Clause
// std::filesystem paths made from the UTF-8 text that nubo holds every name
// in, and UTF-8 text made from them. A path made from a plain std::string,
// or its string(), goes through the ANSI code page on Windows, which loses
// (or throws on) every character outside it.
#pragma once

#include <filesystem>
#include <string>

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

}  // namespace nubo::platform
