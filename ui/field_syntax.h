// SPDX-License-Identifier: BSD-3-Clause
// The window's two fields, read into a run request. The input field is a
// file name or pattern in a directory ("dir/*.NAB", "dir/" for every file,
// "-" for the standard input); the output field a file ("out/x.NAB"), a
// directory ("out/", names from the inputs with the extension replaced),
// "name*" (the same) or "name!" (a '!' toggled into each input's name).
#pragma once

#include <optional>
#include <string>

#include "run_request.h"

namespace nubo::ui {

// A field that cannot make a run: the message and the status line it goes on.
struct FieldProblem {
  int line = 1;
  converter::Msg message = converter::kEntryEmpty;
  std::string subject;  // what the message is about, shown after it (empty: nothing)
};

// The job of a job button's control ID (2 encode, 3 encode and verify,
// 4 re-encode, 5 verify); nothing for any other number.
std::optional<converter::Job> jobOfControl(int jobKind);

// Fills `request` (job, one input with its output rule, overwrite and
// subdirectories) from the fields. Nothing, or the problem to show. A field
// longer than the longest path (in characters) makes no run: a run of
// it would only refuse each file, after a walk of whatever it names.
std::optional<FieldProblem> requestFromFields(converter::Job job, bool overwrite, bool subdirectories,
                                              const std::string& inputField, const std::string& outputField,
                                              converter::RunRequest& request);

}  // namespace nubo::ui
