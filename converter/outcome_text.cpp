// SPDX-License-Identifier: BSD-3-Clause
#include "outcome_text.h"

#include <cstdio>

namespace nubo::converter {

std::string englishTextOf(int id) { return englishText(id); }

Msg progressEntry(Job job, bool verifying) {
  if (verifying) return kEntryProgressVerify;
  switch (job) {
    case Job::Encode:
    case Job::EncodeVerify: return kEntryProgressEncode;
    case Job::Reencode: return kEntryProgressReencode;
    case Job::Decode: return kEntryProgressDecode;
    case Job::Verify:
    case Job::Test: break;
  }
  return kEntryProgressVerify;
}

std::string reasonText(const TextOf& text, int reason, Job job) {
  std::string t = text(reason);
  if (writesOutput(job)) return t;
  const std::size_t semicolon = t.find_last_of(';');
  if (semicolon == std::string::npos) return t;
  const bool colon = !t.empty() && t.back() == ':';
  t.erase(semicolon);
  if (colon) t += ':';
  return t;
}

std::string blockPosition(const TextOf& text, int64_t block, int64_t offset) {
  return text(kEntryWordBlock) + " " + std::to_string(block) + ", " + text(kEntryWordOffset) + " " +
         std::to_string(offset);
}

std::string outcomeNote(const FileOutcome& o, const TextOf& text) {
  std::string note = o.detail;
  const auto add = [&note](const std::string& part) {
    if (part.empty()) return;
    if (!note.empty()) note += "; ";
    note += part;
  };
  add(o.systemError);
  if (o.block > 0) add(blockPosition(text, o.block, o.offset));
  if (!o.keptAs.empty()) add(text(kEntryPartialKept) + " " + o.keptAs);
  return note;
}

std::string subjectWithNote(const FileOutcome& o, const TextOf& text) {
  const std::string note = outcomeNote(o, text);
  // "-" is the standard input or output; said so.
  std::string subject = o.subject;
  if (subject == "-") subject = o.output == "-" && o.input != "-" ? "(the standard output)" : "(the standard input)";
  if (note.empty()) return subject;
  return subject.empty() ? "(" + note + ")" : subject + " (" + note + ")";
}

std::string problemText(const FileOutcome& o, const TextOf& text) {
  std::string line = reasonText(text, o.reason, o.job);
  const std::string rest = subjectWithNote(o, text);
  if (!rest.empty()) line += " " + rest;
  return line;
}

std::string sizeChangeLine(const FileOutcome& o, const TextOf& text, bool counted) {
  char change[64];
  std::snprintf(change, sizeof change, "%8.3f ", sizeChange(o, counted));
  return change + text(kEntrySizeChange) + o.output;
}

std::string escapeControls(const std::string& text) {
  std::string shown;
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
      shown += escaped;
    } else {
      shown += ch;
    }
  }
  return shown;
}

double sizeChange(const FileOutcome& o, bool counted) {
  // No audio at all: no change rather than a division by zero.
  if (o.pcmBytes == 0) return 0.0;
  const int64_t in = counted && o.countedInputBytes >= 0 ? o.countedInputBytes : o.inputBytes;
  return static_cast<double>(o.outputBytes - in) / static_cast<double>(o.pcmBytes) * 100.0;
}

}  // namespace nubo::converter
