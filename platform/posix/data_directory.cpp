// SPDX-License-Identifier: BSD-3-Clause
// The data directory on POSIX: beside the program, else ../share/nubo.
#include "data_directory.h"

#include <filesystem>

#include "os.h"

namespace nubo::platform {

std::string dataDirectory(const std::string& programDirectory, const std::string& fileName) {
  if (fileStatus(programDirectory + "/" + fileName).kind == FileKind::Regular) return programDirectory;
  // programDirectory comes from /proc/self/exe with every link resolved, so
  // taking ".." away by spelling gives the same directory as the system would.
  std::string installed =
      (std::filesystem::path(programDirectory) / kInstalledDataDirectory).lexically_normal().string();
  while (installed.size() > 1 && installed.back() == '/') installed.pop_back();
  if (fileStatus(installed + "/" + fileName).kind == FileKind::Regular) return installed;
  return programDirectory;
}

}  // namespace nubo::platform
