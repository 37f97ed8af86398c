// SPDX-License-Identifier: BSD-3-Clause
// The parts of the OS layer that are the same on every system: the pattern
// rules of directory searches and the form of temporary output names. Each
// backend (posix/, win32/) uses them; nothing outside platform/ needs this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace nubo::platform::names {

// A temporary name is "." stem "." six random letters or digits ".nubo-part".
inline constexpr char kTemporarySuffix[] = ".nubo-part";
inline constexpr std::size_t kTemporarySuffixLength = sizeof(kTemporarySuffix) - 1;
inline constexpr std::size_t kRandomLength = 6;
// What a temporary name adds to its stem.
inline constexpr std::size_t kTemporaryDecoration = 1 + 1 + kRandomLength + kTemporarySuffixLength;

// A well-mixed 64-bit value of x (SplitMix64), for seeds that are not random.
uint64_t splitMix64(uint64_t x);

// The six random characters of a temporary name, from 64 random bits.
std::string randomCharacters(uint64_t bits);

}  // namespace nubo::platform::names
