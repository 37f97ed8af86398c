// SPDX-License-Identifier: BSD-3-Clause
// The data directory on Windows: beside the program (the zip keeps every
// file in one folder), else ..\share\nubo (a `cmake --install` tree).
#include "data_directory.h"

#include <string>

#include "os.h"

namespace nubo::platform {

std::string dataDirectory(const std::string& programDirectory, const std::string& fileName) {
  const std::string prefix = isPathSeparator(programDirectory.back()) ? programDirectory : programDirectory + "\\";
  if (fileStatus(prefix + fileName).kind == FileKind::Regular) return programDirectory;
  // GetModuleFileNameA gives a full path, so taking ".." away by spelling
  // gives the directory the system would; it keeps its drive or share.
  std::string parent = programDirectory;
  while (parent.size() > 1 && isPathSeparator(parent.back())) parent.pop_back();
  const std::size_t slash = parent.find_last_of(kPathSeparators);
  if (slash != std::string::npos && slash > 0) {
    std::string installed = parent.substr(0, slash) + "\\share\\nubo";
    if (fileStatus(installed + "\\" + fileName).kind == FileKind::Regular) return installed;
  }
  return programDirectory;
}

}  // namespace nubo::platform
