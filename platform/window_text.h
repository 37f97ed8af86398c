// SPDX-License-Identifier: BSD-3-Clause
// Rules every window backend shares, so that the windows on Linux and on
// Windows show texts and take the keyboard alike: how a status line too long
// for its control is shortened, how its whole text is broken into lines for
// the tooltip, and the order in which the controls are seen (the Tab order).
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "window.h"

namespace nubo::platform {

// `text` shortened to `width` pixels as `measure` gives them: unchanged when
// it fits. Otherwise characters go from the middle of the directory parts of
// the paths in it, longest part first, each shortened part showing one "…"
// and the whole directories at its end, so that file names stay whole
// ("/srv/arch…/2021/live/TAKE.NAB"); only when every directory part is down
// to its "…" do the file names lose their middle too, so that a note after a
// path (the system's reason in parentheses) stays in sight. A path starts
// with a separator (on Windows also with a drive, "C:\") at the start of the
// text or after a space or '(' and runs to " (", ")", "; " or the end. If
// that is not enough the text is cut at its end with "…". UTF-8 sequences
// are never split.
std::string fitText(const std::string& text, int width, const std::function<int(const std::string&)>& measure);

// `text` broken into lines ('\n') of at most `width` pixels, after a path
// separator or a space where it can, else between letters: a path has no
// spaces for a tooltip to wrap at, and would run off the screen in one line.
std::string wrapText(const std::string& text, int width, const std::function<int(const std::string&)>& measure);

// The IDs of `controls` in the order they are seen: row by row from the top,
// each row from the left (a control joins a row when its middle lies within
// the height of the row's first control). Controls in one place keep their
// order in `controls`.
std::vector<int> readingOrder(const std::vector<std::pair<int, Rect>>& controls);

}  // namespace nubo::platform
