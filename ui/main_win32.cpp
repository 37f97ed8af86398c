// SPDX-License-Identifier: BSD-3-Clause
// NUBOCONV.exe, the converter's window program on Windows: the main window
// logic on the native Win32 backend. It takes no arguments: every choice
// comes from the window, from NUBOCONV.ini and from the definition files
// beside the program (or in ..\share\nubo in an installed tree).
#include <string>

#include "data_directory.h"
#include "main_window.h"
#include "os.h"
#include "win32_window.h"

int main() {
  nubo::platform::Win32Window window;
  std::string directory = nubo::platform::dataDirectory(nubo::platform::programDirectory(), "NUBOCONV.h");
  if (!nubo::platform::isPathSeparator(directory.back())) directory += nubo::platform::kPathSeparator;
  return nubo::ui::runConverterProgram(window, directory + "NUBOCONV.");
}
