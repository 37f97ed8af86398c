// SPDX-License-Identifier: BSD-3-Clause
// Where the programs find the files they ship with: the definition file
// NUBOCONV.h and its language variants.
#pragma once

#include <string>

namespace nubo::platform {

// Where an installed tree keeps those files, relative to the directory of
// the programs (bin/ beside share/, as `cmake --install` and the Debian
// packages lay them out).
inline constexpr const char* kInstalledDataDirectory = "../share/nubo";

// The directory holding `fileName` for a program in `programDirectory`: the
// program's own directory when the file is there (the build tree, or a copy
// of the programs together with their files), else the installed data
// directory when it is there. When neither holds it, the program's own
// directory, so that the message about the missing file names the first
// place looked in. A "file" that is a directory does not count.
// The result has no trailing '/'.
std::string dataDirectory(const std::string& programDirectory, const std::string& fileName);

}  // namespace nubo::platform
