// SPDX-License-Identifier: BSD-3-Clause
// What the window needs from a definition file, in one place: the controls
// it cannot be worked without and every message table entry it shows. A
// file (the base file or a language variant) that lacks any of them cannot
// build the window; the window names the file and what is missing.
#pragma once

#include <span>

#include "definition_file.h"

namespace nubo::ui {

// A control the window cannot be worked without, with the class its role
// needs (0 static text, 1 button, 2 edit field, 3 list box).
struct RequiredControl {
  int id;
  int type;
  const char* role;
};

// A message table entry the window shows, with what it says (for the
// message that names a file lacking it).
struct ShownEntry {
  int index;
  const char* role;
};

std::span<const RequiredControl> requiredControls();
std::span<const ShownEntry> shownEntries();

// Why a definition file cannot build the main window: a fault of its parse;
// one of the required controls missing, of the wrong class, hidden, without
// size or outside the canvas; or an entry the window shows not defined.
// Line 0: none. The same check holds for the base file and every variant.
DefinitionProblem windowDefinitionProblem(const Definitions& definitions);

}  // namespace nubo::ui
