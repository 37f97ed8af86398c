// SPDX-License-Identifier: BSD-3-Clause
// Prints the text metrics of the FLTK backend as "averageCharWidth height
// fixedPitch", so that the window tests can find each control from the layout
// lines of the definition file, as the window itself places them.
#include <cstdio>

#include "fltk_window.h"

int main() {
  if (!nubo::platform::openDisplay()) {
    std::fprintf(stderr, "nubo_gui_metrics: no X display\n");
    return 3;
  }
  const nubo::platform::TextMetrics metrics = nubo::platform::fltkTextMetrics();
  std::printf("%d %d %d\n", metrics.averageCharWidth, metrics.height, metrics.fixedPitch ? 1 : 0);
  return 0;
}
