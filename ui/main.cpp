// SPDX-License-Identifier: BSD-3-Clause
// NUBOCONV, the converter's window program. It takes no arguments: every
// choice comes from the window, from NUBOCONV.ini and from the definition
// files (beside the program, or in ../share/nubo in an installed tree).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "data_directory.h"
#include "fltk_window.h"
#include "main_window.h"
#include "os.h"

namespace {

// Exit code when there is no window system to show the window on.
constexpr int kNoDisplayExit = 3;

}  // namespace

int main() {
  // WATCHOUT: checked before FLTK opens the display itself, which would print
  // a terse "Can't open display" and exit(1) from wherever it first needs it.
  if (!nubo::platform::openDisplay()) {
    const char* display = std::getenv("DISPLAY");
    if (display != nullptr && *display != '\0') {
      std::fprintf(stderr, "NUBOCONV: cannot open the X display \"%s\"; the converter needs a window system.\n",
                   display);
    } else {
      std::fprintf(stderr, "NUBOCONV: cannot open an X display (DISPLAY is not set); the converter needs a window system.\n");
    }
    return kNoDisplayExit;
  }
  nubo::platform::FltkWindow window;
  const std::string programDirectory = nubo::platform::programDirectory();
  // The settings stay with the program (or in the user's configuration
  // directory), never among the installed definition files.
  return nubo::ui::runConverterProgram(window,
                                       nubo::platform::dataDirectory(programDirectory, "NUBOCONV.h") + "/NUBOCONV.",
                                       programDirectory + "/NUBOCONV.");
}
