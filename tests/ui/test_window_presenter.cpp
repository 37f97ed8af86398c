// SPDX-License-Identifier: BSD-3-Clause
// The window's presenter: the status lines that each event of a run gives,
// and the run request that the window's fields make.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "definition_file.h"
#include "field_syntax.h"
#include "message_entries.h"
#include "window_presenter.h"

namespace nubo::ui {
namespace {

using namespace nubo::converter;

// Texts are "#<id>" so that the tests check ids and layout, not wording.
class RecordingDisplay : public RunDisplay {
 public:
  void setStatusLine(int line, const std::string& text) override {
    lines[line] = text;
    history.push_back(std::to_string(line) + ":" + text);
  }
  void runningState() override { states.push_back("running"); }
  void idleState(bool stopped) override {
    if (stopped) setStatusLine(1, text(kEntryStopped));
    states.push_back(stopped ? "idle stopped" : "idle");
  }
  std::string text(int id) const override { return "#" + std::to_string(id); }

  std::string lines[4];
  std::vector<std::string> history;
  std::vector<std::string> states;
};

class Presenter : public ::testing::Test {
 protected:
  void start(Job job, bool overwrite) {
    RunRequest r;
    r.job = job;
    r.options.overwrite = overwrite;
    presenter.runStarted(r);
    RunPlan plan;
    plan.job = job;
    plan.overwrite = overwrite;
    presenter.runPlanned(plan);
  }
  static FileOutcome outcome(Outcome what, Job job, Msg reason = kEntryEmpty) {
    FileOutcome o;
    o.outcome = what;
    o.job = job;
    o.reason = reason;
    o.input = "in/take.NAB";
    o.output = "out/take.NAB";
    o.subject = reason == kEntryOutputExists ? o.output : o.input;
    return o;
  }
  RecordingDisplay display;
  WindowPresenter presenter{display};
};

TEST_F(Presenter, ConvertedFilesShowTheSizeChangeAndTheCountLine) {
  start(Job::Reencode, false);
  EXPECT_EQ(display.states, std::vector<std::string>{"running"});
  FileOutcome o = outcome(Outcome::Converted, Job::Reencode);
  o.showSizeChange = true;
  o.inputBytes = 1000;
  o.outputBytes = 980;
  o.pcmBytes = 1000;  // 2 % smaller: -2.000 right-aligned in 8 characters
  presenter.fileDone(o);
  EXPECT_EQ(display.lines[2], "  -2.000 #49out/take.NAB");
  EXPECT_EQ(display.lines[3], "1 #55  0 #68");
  presenter.fileDone(outcome(Outcome::Skipped, Job::Reencode, kEntryOutputExists));
  EXPECT_EQ(display.lines[2], "#52");
  EXPECT_EQ(display.lines[3], "out/take.NAB");
  presenter.fileDone(o);
  EXPECT_EQ(display.lines[3], "2 #55  1 #68");
  // A file of another kind found in a walk leaves no trace.
  const std::size_t shown = display.history.size();
  presenter.fileDone(outcome(Outcome::PassedOver, Job::Reencode, kEntryNotCompressed));
  presenter.fileDone(outcome(Outcome::NotBegun, Job::Reencode));
  EXPECT_EQ(display.history.size(), shown);
  RunSummary s;
  s.converted = 2;
  s.skipped = 1;
  presenter.runEnded(s);
  EXPECT_EQ(display.lines[1], "#50");
  EXPECT_EQ(display.states.back(), "idle");

  // With overwrite the count line has no skipped count; no audio, no change.
  start(Job::Encode, true);
  o = outcome(Outcome::Converted, Job::Encode);
  o.showSizeChange = true;
  presenter.fileDone(o);
  EXPECT_EQ(display.lines[2], "   0.000 #49out/take.NAB");
  EXPECT_EQ(display.lines[3], "1 #55");
}

TEST_F(Presenter, ProblemsNameTheirFileWithWhereAndWhy) {
  start(Job::Reencode, false);
  FileOutcome o = outcome(Outcome::NotConverted, Job::Reencode, kEntryDamaged);
  o.block = 4;
  o.offset = 5300;
  o.keptAs = "out/.take.NAB.x.nubo-part";
  presenter.fileDone(o);
  EXPECT_EQ(display.lines[2], "#65");
  EXPECT_EQ(display.lines[3], "in/take.NAB (#88 4, #89 5300; #85 out/.take.NAB.x.nubo-part)");
  o = outcome(Outcome::Stopped, Job::Reencode, kEntryWriteError);
  o.subject = o.output;
  o.systemError = "No space left on device";
  presenter.fileDone(o);
  EXPECT_EQ(display.lines[3], "out/take.NAB (No space left on device)");
  RunSummary s;
  s.stopped = true;
  s.stopReason = kEntryWriteError;
  presenter.runEnded(s);
  EXPECT_EQ(display.lines[1], "#57");
  EXPECT_EQ(display.states.back(), "idle stopped");

  // An incomplete input is counted, then said.
  start(Job::Reencode, true);
  o = outcome(Outcome::Incomplete, Job::Reencode, kEntryInputIncomplete);
  o.showSizeChange = true;
  o.detail = "data size 10, the file holds 8";
  presenter.fileDone(o);
  EXPECT_EQ(display.lines[2], "#84");
  EXPECT_EQ(display.lines[3], "in/take.NAB (data size 10, the file holds 8)");
  EXPECT_NE(std::find(display.history.begin(), display.history.end(), "3:1 #55"), display.history.end());
  s = RunSummary{};
  s.incomplete = 1;
  presenter.runEnded(s);
  EXPECT_EQ(display.lines[1], "#50 1 #86");

  // Too many directories: said on line 2 before the stop.
  start(Job::Reencode, false);
  s = RunSummary{};
  s.stopped = true;
  s.stopReason = kEntryTooManyDirectories;
  presenter.runEnded(s);
  EXPECT_EQ(display.lines[2], "#58");
  EXPECT_EQ(display.lines[1], "#57");
  // Nothing found.
  start(Job::Reencode, false);
  s = RunSummary{};
  s.nothingFound = true;
  presenter.runEnded(s);
  EXPECT_EQ(display.lines[1], "#51");
}

TEST_F(Presenter, ProgressNoticesAndTests) {
  start(Job::EncodeVerify, false);
  presenter.progress(Progress{0, "a.wav", 3 << 20, 0, false});
  EXPECT_EQ(display.lines[1], "3 #46 a.wav");
  presenter.progress(Progress{0, "a.wav", 1 << 20, 0, true});  // reading the output back
  EXPECT_EQ(display.lines[1], "1 #48 a.wav");
  presenter.fileNotice(FileNotice{0, kEntryWaveSizeWrong, "a.wav"});
  EXPECT_EQ(display.lines[2], "#90");
  EXPECT_EQ(display.lines[3], "a.wav");
  start(Job::Reencode, false);
  presenter.progress(Progress{0, "t.NAB", 5 << 20, 0, false});
  EXPECT_EQ(display.lines[1], "5 #47 t.NAB");
  // A test names the file it found complete, and shows no count line.
  start(Job::Test, false);
  presenter.fileDone(outcome(Outcome::Converted, Job::Test, kEntryTestOk));
  EXPECT_EQ(display.lines[2], "#92");
  EXPECT_EQ(display.lines[3], "in/take.NAB");
}

TEST(FieldSyntax, FieldsMakeTheRequestOrSayWhyNot) {
  RunRequest r;
  auto problem = requestFromFields(Job::Reencode, false, false, "", "x", r);
  ASSERT_TRUE(problem);
  EXPECT_EQ(problem->line, 1);
  EXPECT_EQ(problem->message, kEntryNothingFound);
  problem = requestFromFields(Job::Reencode, false, false, "a.NAB", "", r);
  ASSERT_TRUE(problem);
  EXPECT_EQ(problem->message, kEntryNoOutput);
  problem = requestFromFields(Job::Reencode, false, false, "*.wav", "x.dat", r);
  ASSERT_TRUE(problem);
  EXPECT_EQ(problem->line, 3);
  EXPECT_EQ(problem->message, kEntryWildcardNeedsPattern);
  problem = requestFromFields(Job::Reencode, false, false, "x?.NAB", "one.NAB", r);
  ASSERT_TRUE(problem);  // '?' selects several files as well as '*'
  EXPECT_EQ(problem->message, kEntryWildcardNeedsPattern);

  ASSERT_FALSE(requestFromFields(Job::Reencode, true, true, "snd/", "out/", r));
  ASSERT_EQ(r.inputs.size(), 1u);
  EXPECT_EQ(r.inputs[0].kind, RunInput::Kind::Pattern);
  EXPECT_EQ(r.inputs[0].path, "snd/*.*");
  EXPECT_EQ(r.inputs[0].output.directory, "out");
  EXPECT_EQ(r.inputs[0].output.naming, Naming::ReplaceExtension);
  EXPECT_TRUE(r.options.overwrite);
  EXPECT_TRUE(r.options.recursive);
  ASSERT_FALSE(requestFromFields(Job::Encode, false, false, "?.wav", "d/!", r));
  EXPECT_EQ(r.inputs[0].output.naming, Naming::ToggleMark);
  ASSERT_FALSE(requestFromFields(Job::Encode, false, false, "a.wav", "x", r));
  EXPECT_EQ(r.inputs[0].output.directory, ".");
  EXPECT_EQ(r.inputs[0].output.naming, Naming::Exact);
  EXPECT_EQ(r.inputs[0].output.name, "x");
  ASSERT_FALSE(requestFromFields(Job::Encode, false, false, "-", "-", r));
  EXPECT_EQ(r.inputs[0].kind, RunInput::Kind::StandardInput);
  EXPECT_EQ(r.inputs[0].output.kind, OutputRule::Kind::StandardOutput);

  EXPECT_EQ(jobOfControl(2), Job::Encode);
  EXPECT_EQ(jobOfControl(3), Job::EncodeVerify);
  EXPECT_EQ(jobOfControl(4), Job::Reencode);
  EXPECT_EQ(jobOfControl(5), Job::Verify);
  EXPECT_EQ(jobOfControl(7), std::nullopt);
}

// The English texts compiled into the programs are those of the English
// definition file, so that nubo says the same with or without one.
TEST(Messages, CompiledTextsAreTheDefinitionFilesTexts) {
  std::ifstream f(std::string(NUBO_DATA_DIR) + "/NUBOCONV.h", std::ios::binary);
  ASSERT_TRUE(f) << NUBO_DATA_DIR;
  std::stringstream bytes;
  bytes << f.rdbuf();
  Definitions d;
  d.parse(bytes.str());
  ASSERT_EQ(d.problem().line, 0);
  int compared = 0;
  for (int id = 0; id < kTableEntries; ++id) {
    if (*englishText(id) == '\0' && id != kEntryEmpty) continue;
    EXPECT_TRUE(d.defined(id)) << id;
    EXPECT_EQ(std::string(englishText(id)), d.text(id)) << id;
    ++compared;
  }
  EXPECT_GE(compared, 60);
}

}  // namespace
}  // namespace nubo::ui
