// SPDX-License-Identifier: BSD-3-Clause
#include "window_definitions.h"

#include <cstdint>
#include <string>
#include <string_view>

#include "main_window.h"
#include "message_entries.h"
#include "window_presenter.h"

namespace nubo::ui {

namespace {

using namespace nubo::converter;  // the kEntry indexes

constexpr RequiredControl kRequiredControls[] = {
    {kInputField, 2, "the input field"},   {kOutputField, 2, "the output field"},
    {kStartButton, 1, "the Start button"}, {kExitButton, 1, "the Exit button"},
    {kCancelButton, 1, "the Cancel button"}, {kStatusLine1, 0, "status line 1"},
    {kStatusLine2, 0, "status line 2"},    {kStatusLine3, 0, "status line 3"},
    {kNotConvertedList, 3, "the list of files not converted"},
};

// Every entry a window and its runs show. Entries that only the command-line
// tool's decode, test and verify commands show (72, 81, 92 to 98) are not
// needed by the window and left out.
constexpr ShownEntry kShownEntries[] = {
    {kEntryYes, "the Yes button of the Cancel question"},
    {kEntryNo, "the No button of the Cancel question"},
    {kEntrySettingsNotSaved, "the settings could not be saved"},
    {kEntryQuestionTitle, "the title of the Cancel question"},
    {kEntryErrorTitle, "the title of error messages"},
    {kEntryVariantPassedOver, "a language file is passed over"},
    {kEntryInputLabel, "the input label"},
    {kEntryOutputLabel, "the output label"},
    {kEntryHintEncode, "the hint for encoding"},
    {kEntryHintReencode, "the hint for re-encoding"},
    {kEntryCancelQuestion, "the Cancel question"},
    {kEntryProgressEncode, "the progress of encoding"},
    {kEntryProgressReencode, "the progress of re-encoding"},
    {kEntryProgressVerify, "the progress of verifying"},
    {kEntrySizeChange, "the size change"},
    {kEntryFinished, "the end of a run"},
    {kEntryNothingFound, "no input file found"},
    {kEntryOutputExists, "the output exists"},
    {kEntryCancelled, "stopping after the current block"},
    {kEntryRefused, "not possible while a conversion is running"},
    {kEntryCountDone, "the count of files converted"},
    {kEntryAlreadyCancelled, "already stopping"},
    {kEntryStopped, "the conversion stopped"},
    {kEntryTooManyDirectories, "too many subdirectories"},
    {kEntryCannotCreate, "the output cannot be created"},
    {kEntryWildcardNeedsPattern, "several inputs need an output pattern"},
    {kEntryWriteError, "the output cannot be written"},
    {kEntryEmpty, "the empty status line"},
    {kEntryCannotMakeDirectory, "the output directory cannot be created"},
    {kEntryNoOutput, "no output given"},
    {kEntryDamaged, "a damaged input"},
    {kEntryOutputIsInput, "the output would overwrite the input"},
    {kEntryVerifyFailed, "verify failed"},
    {kEntryCountSkipped, "the count of files skipped"},
    {kEntryPathTooLong, "a path too long"},
    {kEntryUnsupportedRate, "an unsupported sample rate"},
    {kEntryTooLarge, "an output past 4 GiB"},
    {kEntryNotRegular, "not a regular file"},
    {kEntryCannotReadDirectory, "a directory cannot be read"},
    {kEntryCannotOpenInput, "the input cannot be opened"},
    {kEntryAlreadyVersion22, "already version 22"},
    {kEntryNotCompressed, "not a compressed file"},
    {kEntryNotPcmWave, "not a PCM WAVE file"},
    {kEntryOutputIsRunInput, "the output is an input of the run"},
    {kEntryExistingNotVersion22, "the existing output is not version 22"},
    {kEntrySameOutput, "two inputs write the same output"},
    {kEntryExistingIncomplete, "the existing output is incomplete"},
    {kEntryInputIncomplete, "the input is incomplete"},
    {kEntryPartialKept, "a partial output kept"},
    {kEntryCountFailed, "the count of files not converted"},
    {kEntryCountIncomplete, "the count of incomplete files"},
    {kEntryOutputChanged, "the output changed during the conversion"},
    {kEntryWordBlock, "the word for a block"},
    {kEntryWordOffset, "the word for a byte offset"},
    {kEntryWaveSizeWrong, "a wrong WAVE data size"},
    {kEntryFormatDiffers, "the WAVE format differs"},
    {kEntryCommitWarning, "a warning after the output took its name"},
    {kEntryChunksNotKept, "chunks of the input not kept"},
    {kEntryChunksDamaged, "damaged chunks of the input not kept"},
    {kEntryNotBegun, "a file not begun"},
    {kEntryRunProgress, "the progress of the run"},
    {kEntryStoppedDuring, "a file stopped during its conversion"},
};

constexpr const char* kTypeNames[] = {"a static text", "a button", "an edit field", "a list box"};

// The canvas in layout units: x and width in tenths of a column, y in units
// of 0.14 line, height in tenths of a line.
constexpr int64_t kCanvasTenthColumns = int64_t{kCanvasColumns} * 10;
constexpr int64_t kCanvasHundredthLines = int64_t{kCanvasLines} * 100;

DefinitionProblem controlProblem(const Definitions& d, const RequiredControl& required) {
  const ControlRecord& r = d.control(required.id);
  const std::string name = "control " + std::to_string(required.id) + " (" + required.role + ")";
  if (r.type < 0) {
    if (d.textLine(required.id) != 0) return {d.textLine(required.id), name + " has no layout line after its text"};
    return {d.lastLine(), "the file ends without defining " + name};
  }
  const int line = d.layoutLine(required.id);
  if (r.type != required.type) {
    return {line, name + " has type " + std::to_string(r.type) + "; it must be " + std::to_string(required.type) +
                      ", " + kTypeNames[required.type]};
  }
  if ((static_cast<uint32_t>(r.style) & platform::style::kVisible) == 0) {
    return {line, name + " is not visible (its style lacks 0x10000000)"};
  }
  const bool inside = r.x >= 0 && r.y >= 0 && r.width > 0 && r.height > 0 &&
                      int64_t{r.x} + r.width <= kCanvasTenthColumns &&
                      int64_t{r.y} * 14 + int64_t{r.height} * 10 <= kCanvasHundredthLines;
  if (!inside) return {line, name + " has no size or lies outside the window's 100 x 40 canvas"};
  // A button says what it does: a caption of blanks alone says nothing.
  if (required.type == 1 && std::string_view(d.text(required.id)).find_first_not_of(" \t") == std::string_view::npos) {
    return {d.textLine(required.id), name + " has no caption"};
  }
  return {};
}

// Whether two controls' rectangles share any point of the canvas.
bool overlap(const ControlRecord& a, const ControlRecord& b) {
  const auto top = [](const ControlRecord& r) { return int64_t{r.y} * 14; };
  const auto bottom = [&top](const ControlRecord& r) { return top(r) + int64_t{r.height} * 10; };
  return int64_t{a.x} < int64_t{b.x} + b.width && int64_t{b.x} < int64_t{a.x} + a.width && top(a) < bottom(b) &&
         top(b) < bottom(a);
}

}  // namespace

std::span<const RequiredControl> requiredControls() { return kRequiredControls; }
std::span<const ShownEntry> shownEntries() { return kShownEntries; }

DefinitionProblem windowDefinitionProblem(const Definitions& d) {
  if (d.problem().line != 0) return d.problem();
  for (const RequiredControl& required : kRequiredControls) {
    if (DefinitionProblem problem = controlProblem(d, required); problem.line != 0) return problem;
  }
  // No control the window needs lies over another (Start over a status
  // line would be hidden, or take its clicks): named at the later line.
  for (const RequiredControl& a : kRequiredControls) {
    for (const RequiredControl& b : kRequiredControls) {
      if (&a == &b || d.layoutLine(a.id) > d.layoutLine(b.id) ||
          (d.layoutLine(a.id) == d.layoutLine(b.id) && &a > &b) || !overlap(d.control(a.id), d.control(b.id))) {
        continue;
      }
      // Either may be the one out of place: both are named with their lines.
      return {d.layoutLine(b.id), "control " + std::to_string(b.id) + " (" + b.role + ", line " +
                                      std::to_string(d.layoutLine(b.id)) + ") lies over control " +
                                      std::to_string(a.id) + " (" + a.role + ", line " +
                                      std::to_string(d.layoutLine(a.id)) + ")"};
    }
  }
  // A file cut at a line boundary parses cleanly; what it lost shows here.
  for (const ShownEntry& entry : kShownEntries) {
    if (!d.defined(entry.index)) {
      return {d.lastLine(), "the file ends without defining entry " + std::to_string(entry.index) + " (" +
                                entry.role + ")"};
    }
  }
  return {};
}

}  // namespace nubo::ui
