// The converter's main window logic, written once against platform::Window.
#pragma once

#include <string>

#include "window.h"

namespace nubo::ui {

// Creates the main window titled "format converter ver1.2 ..." on `window`,
// runs its message loop and returns the quit code. `programStem` is the
// program's directory followed by "/NUBOCONV." (the definition files and the
// settings file are found from it).
int runConverterProgram(platform::Window& window, const std::string& programStem);

}  // namespace nubo::ui
