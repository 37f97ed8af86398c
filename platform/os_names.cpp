// SPDX-License-Identifier: BSD-3-Clause
#include "os_names.h"

#include <cctype>

#include "os.h"

namespace nubo::platform {

namespace {

constexpr char kRandomAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr std::size_t kAlphabetSize = sizeof(kRandomAlphabet) - 1;

bool isRandomCharacter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }

char fold(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

// The position after the character that starts at `n`: names are UTF-8,
// and '?' stands for one character, not one byte of it.
std::size_t nextCharacter(const std::string& name, std::size_t n) {
  ++n;
  while (n < name.size() && (static_cast<unsigned char>(name[n]) & 0xC0) == 0x80) ++n;
  return n;
}

// Iterative wildcard match with one backtracking point (the last '*'): linear
// in practice and without recursion depth limits on long names.
bool wildcardMatch(const std::string& pattern, const std::string& name) {
  std::size_t p = 0, n = 0;
  std::size_t starP = std::string::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '?') {
      ++p;
      n = nextCharacter(name, n);
    } else if (p < pattern.size() && pattern[p] != '*' && fold(pattern[p]) == fold(name[n])) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (starP != std::string::npos) {
      p = starP + 1;
      n = starN = nextCharacter(name, starN);
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace

namespace names {

uint64_t splitMix64(uint64_t x) {
  x += 0x9e3779b97f4a7c15ull;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
  return x ^ (x >> 31);
}

std::string randomCharacters(uint64_t bits) {
  std::string out;
  for (std::size_t i = 0; i < kRandomLength; ++i) {
    out += kRandomAlphabet[bits % kAlphabetSize];
    bits /= kAlphabetSize;
  }
  return out;
}

}  // namespace names

bool matchesPattern(const std::string& pattern, const std::string& name) {
  // The desktop platform's searches (FindFirstFileA) treat "*.*" as "every
  // name", dot or not.
  if (pattern == "*.*") return true;
  return wildcardMatch(pattern, name);
}

bool isTemporaryName(const std::string& name) {
  using namespace names;
  // "." stem "." random suffix, with a stem of at least one character.
  constexpr std::size_t kMinimum = 1 + kTemporaryDecoration;
  if (name.size() < kMinimum || name[0] != '.') return false;
  if (name.compare(name.size() - kTemporarySuffixLength, kTemporarySuffixLength, kTemporarySuffix) != 0) return false;
  const std::size_t randomStart = name.size() - kTemporarySuffixLength - kRandomLength;
  if (name[randomStart - 1] != '.') return false;
  for (std::size_t i = randomStart; i < randomStart + kRandomLength; ++i) {
    if (!isRandomCharacter(name[i])) return false;
  }
  return true;
}

}  // namespace nubo::platform
