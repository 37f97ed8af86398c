// SPDX-License-Identifier: BSD-3-Clause
// The words of outcomes, for front ends: the window's presenter and nubo's
// terminal and report form their lines with these, from the texts they
// show (a definition file's, or the English ones). The jobs never call them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "run_events.h"

namespace nubo::converter {

// The text of a message id, as a front end shows it.
using TextOf = std::function<std::string(int id)>;

// The English texts compiled into the programs.
std::string englishTextOf(int id);

// The progress entry of a job ("MB re-encoded:"); `verifying` for the
// second half of encode-and-verify.
Msg progressEntry(Job job, bool verifying);

// The text of `reason` as `job` tells it. A reason ends in what became of
// the file, after its last ';' ("; not converted:"); test and verify
// convert nothing, so for them that clause is left out.
std::string reasonText(const TextOf& text, int reason, Job job);

// "block 12, byte offset 34567"
std::string blockPosition(const TextOf& text, int64_t block, int64_t offset);

// What a problem's path is followed by, in parentheses: what disagrees, the
// system's reason or where decoding failed, and the name of a partial output.
std::string outcomeNote(const FileOutcome& o, const TextOf& text);

// The subject of an outcome with its note: "take.NAB (No such file or directory)".
std::string subjectWithNote(const FileOutcome& o, const TextOf& text);

// "<reason text> <subject> (<note>)", the line a problem is told in.
std::string problemText(const FileOutcome& o, const TextOf& text);

// `text` as a terminal may be shown it: each control character (which a
// name may hold) as \xHH, so that it cannot act on the terminal.
std::string escapeControls(const std::string& text);

// "  -4.812  % size change: out/take.NAB"; `counted`: by the window's count
// of the input (see FileOutcome::countedInputBytes).
std::string sizeChangeLine(const FileOutcome& o, const TextOf& text, bool counted = false);

}  // namespace nubo::converter
