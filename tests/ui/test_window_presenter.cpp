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

// Texts are "#<id>" so that the tests check ids and layout, not wording;
// the progress template shows its two marks.
class RecordingDisplay : public RunDisplay {
 public:
  void setStatusLine(int line, const std::string& text) override {
    lines[line] = text;
    history.push_back(std::to_string(line) + ":" + text);
  }
  void addNotConverted(const std::vector<std::string>& added) override {
    list.insert(list.end(), added.begin(), added.end());
    history.push_back("list+" + std::to_string(added.size()));
  }
  void runningState() override { states.push_back("running"); }
  void idleState(bool stopped) override {
    if (stopped) setStatusLine(1, text(kEntryStopped));
    states.push_back(stopped ? "idle stopped" : "idle");
  }
  std::string text(int id) const override {
    return id == kEntryRunProgress ? "{share}|{time}" : "#" + std::to_string(id);
  }

  std::string lines[4];
  std::vector<std::string> list;
  std::vector<std::string> history;
  std::vector<std::string> states;
};

class Presenter : public ::testing::Test {
 protected:
  void start(Job job, bool overwrite, std::vector<PlannedFile> files = {}) {
    display.list.clear();
    RunRequest r;
    r.job = job;
    r.options.overwrite = overwrite;
    presenter.runStarted(r);
    RunPlan plan;
    plan.job = job;
    plan.overwrite = overwrite;
    plan.files = std::move(files);
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
  WindowPresenter::Clock::time_point now = WindowPresenter::Clock::now();
  WindowPresenter presenter{display, [this] { return now; }};
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
  EXPECT_EQ(display.lines[3], "1 #55  0 #68  0 #86");
  presenter.fileDone(outcome(Outcome::Skipped, Job::Reencode, kEntryOutputExists));
  EXPECT_EQ(display.lines[2], "#52");
  EXPECT_EQ(display.lines[3], "out/take.NAB");
  presenter.fileDone(o);
  EXPECT_EQ(display.lines[3], "2 #55  1 #68  0 #86");
  // A file of another kind found in a walk leaves no trace.
  const std::size_t shown = display.history.size();
  presenter.fileDone(outcome(Outcome::PassedOver, Job::Reencode, kEntryNotCompressed));
  presenter.fileDone(outcome(Outcome::NotBegun, Job::Reencode));
  EXPECT_EQ(display.history.size(), shown);
  RunSummary s;
  s.converted = 2;
  s.skipped = 1;
  presenter.runEnded(s);
  EXPECT_EQ(display.lines[1], "#50 1 #86");
  EXPECT_EQ(display.lines[3], "2 #55  1 #68  1 #86");
  // The skipped file is listed (the reason is about the output, which
  // follows it), and at the end the file not begun; each line begins with
  // its input.
  EXPECT_EQ(display.list, (std::vector<std::string>{"in/take.NAB: #52 out/take.NAB", "in/take.NAB: #36"}));
  EXPECT_EQ(display.states.back(), "idle");

  // With overwrite the count line has no skipped count; no audio, no change.
  start(Job::Encode, true);
  o = outcome(Outcome::Converted, Job::Encode);
  o.showSizeChange = true;
  presenter.fileDone(o);
  EXPECT_EQ(display.lines[2], "   0.000 #49out/take.NAB");
  EXPECT_EQ(display.lines[3], "1 #55  0 #86");
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
  EXPECT_EQ(display.lines[2], "#61 out/take.NAB (No space left on device)");
  EXPECT_EQ(display.states.back(), "idle stopped");

  // An incomplete input: its size change, then what is wrong with it.
  start(Job::Reencode, true);
  o = outcome(Outcome::Incomplete, Job::Reencode, kEntryInputIncomplete);
  o.showSizeChange = true;
  o.detail = "data size 10, the file holds 8";
  presenter.fileDone(o);
  EXPECT_EQ(display.lines[2], "#84");
  EXPECT_EQ(display.lines[3], "in/take.NAB (data size 10, the file holds 8)");
  s = RunSummary{};
  s.incomplete = 1;
  presenter.runEnded(s);
  EXPECT_EQ(display.lines[1], "#50 1 #9");
  EXPECT_EQ(display.lines[2], "#84 in/take.NAB (data size 10, the file holds 8)");

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

// The end of every run: the list names each file not converted with its
// reason, where decoding failed and the partial output kept; a stop says
// so once (line 1), and the count line is there whatever the end.
TEST_F(Presenter, TheEndListsEveryFileNotConvertedAndKeepsTheCountLine) {
  start(Job::Reencode, false);
  FileOutcome good = outcome(Outcome::Converted, Job::Reencode);
  good.showSizeChange = true;
  presenter.fileDone(good);
  FileOutcome damaged = outcome(Outcome::NotConverted, Job::Reencode, kEntryDamaged);
  damaged.block = 7;
  damaged.offset = 9100;
  damaged.keptAs = "out/.take.NAB.1.nubo-part";
  presenter.fileDone(damaged);
  EXPECT_EQ(display.list.back(), "in/take.NAB: #65 (#88 7, #89 9100; #85 out/.take.NAB.1.nubo-part)");
  // Stopped by the user during a file: listed, but line 2 keeps what it had.
  const std::string line2 = display.lines[2];
  FileOutcome stopped = outcome(Outcome::Stopped, Job::Reencode, kEntryStopped);
  stopped.input = stopped.subject = "in/b.NAB";
  stopped.keptAs = "out/.b.NAB.2.nubo-part";
  presenter.fileDone(stopped);
  EXPECT_EQ(display.lines[2], line2);
  EXPECT_EQ(display.list.back(), "in/b.NAB: #30 (#85 out/.b.NAB.2.nubo-part)");
  // The files a stop left are listed at the end, in one go.
  for (const char* name : {"in/c.NAB", "in/d.NAB"}) {
    FileOutcome unbegun = outcome(Outcome::NotBegun, Job::Reencode);
    unbegun.input = unbegun.subject = name;
    presenter.fileDone(unbegun);
  }
  EXPECT_EQ(display.list.size(), 2u);
  RunSummary s;
  s.converted = 1;
  s.notConverted = 2;
  s.notBegun = 2;
  s.stopped = true;
  s.stopReason = kEntryStopped;
  presenter.runEnded(s);
  EXPECT_EQ(display.list, (std::vector<std::string>{
                              "in/take.NAB: #65 (#88 7, #89 9100; #85 out/.take.NAB.1.nubo-part)",
                              "in/b.NAB: #30 (#85 out/.b.NAB.2.nubo-part)", "in/c.NAB: #36", "in/d.NAB: #36"}));
  EXPECT_EQ(std::count(display.history.begin(), display.history.end(), "list+2"), 1);
  EXPECT_EQ(display.lines[1], "#57");
  // "Stopped" once, not on two lines; line 2 says the last problem whole,
  // as line 3 is the count line now.
  EXPECT_EQ(display.lines[2], "#65 in/take.NAB (#88 7, #89 9100; #85 out/.take.NAB.1.nubo-part)");
  // The count line after the stop: the damaged file, the one cut short and
  // the two never begun are the four not converted.
  EXPECT_EQ(display.lines[3], "1 #55  0 #68  4 #86");
  EXPECT_EQ(display.states.back(), "idle stopped");

  // A rerun where every output existed: nothing converted, all listed, counted.
  start(Job::Reencode, false);
  EXPECT_TRUE(display.list.empty());
  for (const char* name : {"a", "b"}) {
    FileOutcome skipped = outcome(Outcome::Skipped, Job::Reencode, kEntryOutputExists);
    skipped.input = std::string("in/") + name + ".NAB";
    skipped.output = skipped.subject = std::string("out/") + name + ".NAB";
    presenter.fileDone(skipped);
  }
  s = RunSummary{};
  s.skipped = 2;
  presenter.runEnded(s);
  EXPECT_EQ(display.lines[1], "#50");
  EXPECT_EQ(display.lines[3], "0 #55  2 #68  0 #86");
  EXPECT_EQ(display.list, (std::vector<std::string>{"in/a.NAB: #52 out/a.NAB", "in/b.NAB: #52 out/b.NAB"}));
}

// Each file is counted once, as its outcome says: an incomplete input
// converted as far as it goes has a count of its own (not "converted"), on
// the first run and on a rerun, where the other file's output existed.
TEST_F(Presenter, EachFileIsCountedOnceByItsOutcome) {
  FileOutcome good = outcome(Outcome::Converted, Job::Reencode);
  good.showSizeChange = true;
  FileOutcome incomplete = outcome(Outcome::Incomplete, Job::Reencode, kEntryInputIncomplete);
  incomplete.input = incomplete.subject = "in/INC.NAB";
  incomplete.showSizeChange = true;
  incomplete.detail = "the header gives 20 blocks, the file holds 12";
  start(Job::Reencode, false);
  presenter.fileDone(incomplete);
  presenter.fileDone(good);
  RunSummary s;
  s.converted = 1;
  s.incomplete = 1;
  presenter.runEnded(s);
  EXPECT_EQ(display.lines[1], "#50 1 #9");
  EXPECT_EQ(display.lines[3], "1 #55  0 #68  0 #86  1 #9");
  EXPECT_EQ(display.list,
            std::vector<std::string>{"in/INC.NAB: #84 (the header gives 20 blocks, the file holds 12)"});

  start(Job::Reencode, false);
  presenter.fileDone(incomplete);
  presenter.fileDone(outcome(Outcome::Skipped, Job::Reencode, kEntryOutputExists));
  s = RunSummary{};
  s.skipped = 1;
  s.incomplete = 1;
  presenter.runEnded(s);
  EXPECT_EQ(display.lines[1], "#50 1 #9");
  EXPECT_EQ(display.lines[3], "0 #55  1 #68  0 #86  1 #9");
  EXPECT_EQ(display.list.size(), 2u);
}

// A file converted with a warning is listed with the warning, in the form
// of every other line, and counted as converted.
TEST_F(Presenter, FilesConvertedWithAWarningAreListed) {
  start(Job::Encode, false);
  FileOutcome cut = outcome(Outcome::Converted, Job::Encode);
  cut.input = cut.subject = "in/cut.wav";
  cut.showSizeChange = true;
  cut.warning = kEntryWaveSizeWrong;
  presenter.fileDone(cut);
  FileOutcome late = outcome(Outcome::Converted, Job::Encode);
  late.input = late.subject = "in/late.wav";
  late.warning = kEntryCommitWarning;
  late.warningSubject = "out/late.NAB";
  late.warningDetail = "Input/output error";
  presenter.fileDone(late);
  presenter.fileDone(outcome(Outcome::Converted, Job::Encode));
  RunSummary s;
  s.converted = 3;
  presenter.runEnded(s);
  EXPECT_EQ(display.lines[1], "#50");
  EXPECT_EQ(display.lines[3], "3 #55  0 #68  0 #86");
  EXPECT_EQ(display.list, (std::vector<std::string>{"in/cut.wav: #90",
                                                    "in/late.wav: #99 out/late.NAB (Input/output error)"}));
}

// One form for every line of the list, whatever the reason is about; the
// colon that would point at the file is dropped when the file leads.
TEST(NotConvertedLine, OneFormWhateverTheReasonIsAbout) {
  FileOutcome o;
  o.job = Job::Reencode;
  o.input = o.subject = "in/CUT.NAB";
  o.output = "out/CUT.NAB";
  o.outcome = Outcome::NotConverted;
  o.reason = kEntryDamaged;
  o.block = 7;
  o.offset = 9100;
  EXPECT_EQ(notConvertedLine(o, englishTextOf),
            "in/CUT.NAB: The input file is damaged (a block cannot be decoded) (block 7, byte offset 9100)");
  o.block = 0;
  o.reason = kEntryOutputExists;
  o.subject = o.output;
  EXPECT_EQ(notConvertedLine(o, englishTextOf), "in/CUT.NAB: Output file exists, not converted: out/CUT.NAB");
  o.reason = kEntryWriteError;
  o.systemError = "No space left on device";
  EXPECT_EQ(notConvertedLine(o, englishTextOf),
            "in/CUT.NAB: Cannot write the output file: out/CUT.NAB (No space left on device)");
  FileOutcome warned = o;
  warned.outcome = Outcome::Converted;
  warned.warning = kEntryWaveSizeWrong;
  EXPECT_EQ(warningLine(warned, englishTextOf),
            "in/CUT.NAB: The WAVE header's data size is wrong; the audio was read to the end of the file");
}

// No input of the job's kind: "No input file found." and the count line,
// whether nothing matched or all that matched was of another kind.
TEST_F(Presenter, NoInputOfTheJobsKindEndsWithNoInputFound) {
  start(Job::Encode, false, {{"in/a.NAB", "out/a.NAB", 5000}, {"in/b.NAB", "out/b.NAB", 7000}});
  for (const char* name : {"in/a.NAB", "in/b.NAB"}) {
    FileOutcome other = outcome(Outcome::PassedOver, Job::Encode, kEntryNotPcmWave);
    other.input = other.subject = name;
    other.otherKind = true;
    presenter.fileDone(other);
  }
  RunSummary s;
  s.passedOver = 2;
  presenter.runEnded(s);
  EXPECT_EQ(display.lines[1], "#51");
  EXPECT_EQ(display.lines[2], "");
  EXPECT_EQ(display.lines[3], "0 #55  0 #68  0 #86");
  EXPECT_TRUE(display.list.empty());
  EXPECT_EQ(display.states.back(), "idle");

  // A pattern that matched nothing: said on line 1 only, the list names it.
  display.lines[2].clear();
  start(Job::Reencode, true);
  FileOutcome none = outcome(Outcome::NotConverted, Job::Reencode, kEntryNothingFound);
  none.input = none.subject = "in/*.NAB";
  none.output.clear();
  none.detail = "no file matches";
  presenter.fileDone(none);
  s = RunSummary{};
  s.notConverted = 1;
  s.nothingFound = true;
  presenter.runEnded(s);
  EXPECT_EQ(display.lines[1], "#51");
  EXPECT_EQ(display.lines[2], "");
  EXPECT_EQ(display.lines[3], "0 #55  0 #86");
  EXPECT_EQ(display.list, std::vector<std::string>{"in/*.NAB: #51 (no file matches)"});
}

// Line 1: the share of the run's bytes done and the time left, from the
// planned sizes and the progress of the file being converted.
TEST_F(Presenter, LineOneShowsTheShareOfTheRunAndTheTimeLeft) {
  start(Job::Reencode, false, {{"in/a.NAB", "out/a.NAB", 1000}, {"in/b.NAB", "out/b.NAB", 3000}});
  presenter.fileBegun(FileBegun{0, "in/a.NAB", "out/a.NAB"});
  EXPECT_EQ(display.lines[1], "0|\u2026   0 #47 in/a.NAB");  // no rate yet: the time is not told
  now += std::chrono::seconds(2);
  FileOutcome a = outcome(Outcome::Converted, Job::Reencode);
  a.index = 0;
  presenter.fileDone(a);
  presenter.fileBegun(FileBegun{1, "in/b.NAB", "out/b.NAB"});
  // 1000 of 4000 bytes in 2 s: 3000 left take 6 s.
  EXPECT_EQ(display.lines[1], "25|0:06   0 #47 in/b.NAB");
  now += std::chrono::seconds(1);
  presenter.progress(Progress{1, "in/b.NAB", 3 << 20, 1000, false, 0});
  EXPECT_EQ(display.lines[1], "50|0:03   3 #47 in/b.NAB");
  // Read past the planned size (the file grew): never more than the whole.
  presenter.progress(Progress{1, "in/b.NAB", 9 << 20, 9000, false, 0});
  EXPECT_EQ(display.lines[1], "100|0:00   9 #47 in/b.NAB");

  // Encode and verify: each file counts twice, the second pass by the audio read back.
  start(Job::EncodeVerify, false, {{"a.wav", "a.NAB", 1000}});
  presenter.fileBegun(FileBegun{0, "a.wav", "a.NAB"});
  presenter.progress(Progress{0, "a.wav", 1 << 20, 1000, false, 0});
  EXPECT_EQ(display.lines[1].substr(0, 3), "50|");
  presenter.progress(Progress{0, "a.wav", 500, 200, true, 0});
  EXPECT_EQ(display.lines[1].substr(0, 3), "75|");
  EXPECT_NE(display.lines[1].find("#48 a.wav"), std::string::npos);

  // Nothing to measure by (the standard input): the file's line alone.
  start(Job::Encode, false, {{"-", "-", 0}});
  presenter.progress(Progress{0, "-", 2 << 20, 0, false, 0});
  EXPECT_EQ(display.lines[1], "2 #46 -");

  EXPECT_EQ(runProgressText("{share} % - {time} left", 42, 70), "42 % - 1:10 left");
  EXPECT_EQ(runProgressText("{share} % - noch {time}", 7, 3665), "7 % - noch 1:01:05");
  EXPECT_EQ(runProgressText("{share} %", 3, -1), "3 %");
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
