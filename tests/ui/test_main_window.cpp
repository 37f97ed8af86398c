// SPDX-License-Identifier: BSD-3-Clause
// The main window logic on the headless backend: creation, every command
// idle and during a run, the fields, scrolling, and complete converter runs.
#ifndef _WIN32
#include <grp.h>
#include <sys/wait.h>
#endif
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <tuple>
#include <unistd.h>
#include <vector>

#include "headless_window.h"
#include "main_window.h"
#include "settings_file.h"
#include "signals.h"

namespace nubo::ui {
namespace {

namespace fs = std::filesystem;
using platform::ControlClass;
using platform::HeadlessWindow;
using platform::ScrollBar;
using platform::ScrollRequest;

// cw = 8 * 3 / 2 = 12 (not fixed pitch), lh = 16, tm = 3.
constexpr platform::TextMetrics kMetrics{8, 16, false};

constexpr const char* kBaseFile =
    "/* test definitions */\r\n"
    "#define EMPTY 62 /**/\r\n"
    "#define LANG 0 /*Language*/\r\n"
    "// 1, 0x50010000, 860, 0, 120, 14\r\n"
    "#define ENC 2 /*Encode*/\r\n"
    "// 1, 0x50030009, 60, 19, 180, 12\r\n"
    "#define VER 3 /*Verify*/\r\n"
    "// 1, 0x50010009, 240, 19, 210, 12\r\n"
    "#define RE 4 /*Re-encode*/\r\n"
    "// 1, 0x50010009, 450, 19, 290, 12\r\n"
    "#define GROUP 5 /*Job*/\r\n"
    "// 1, 0x50020007, 20, 10, 960, 30\r\n"
    "#define IB 11 /*Browse in*/\r\n"
    "// 1, 0x50010000, 840, 40, 140, 14\r\n"
    "#define IN 12 /**/\r\n"
    "// 2, 0x50810080, 130, 40, 700, 14\r\n"
    "#define SUB 13 /*Subdirectories*/\r\n"
    "// 1, 0x50010003, 130, 52, 500, 12\r\n"
    "#define INL 14 /*x*/\r\n"
    "// 0, 0x50000002, 20, 41, 100, 10\r\n"
    "#define OUTL 15 /*y*/\r\n"
    "// 0, 0x50000002, 20, 66, 100, 10\r\n"
    "#define OB 16 /*Browse out*/\r\n"
    "// 1, 0x50010000, 840, 65, 140, 14\r\n"
    "#define OUT 17 /**/\r\n"
    "// 2, 0x50810080, 130, 65, 700, 14\r\n"
    "#define OVER 18 /*Overwrite*/\r\n"
    "// 1, 0x50010003, 130, 77, 500, 12\r\n"
    "#define HINT 19 /**/\r\n"
    "// 0, 0x50000000, 130, 89, 850, 10\r\n"
    "#define START 21 /*Start*/\r\n"
    "// 1, 0x50010001, 130, 101, 140, 16\r\n"
    "#define EXIT 22 /*Exit*/\r\n"
    "// 1, 0x50010000, 290, 101, 140, 16\r\n"
    "#define CANCEL 23 /*Cancel*/\r\n"
    "// 1, 0x50010000, 450, 101, 140, 16\r\n"
    "#define S1 31 /**/\r\n"
    "// 0, 0x50800000, 20, 118, 960, 12\r\n"
    "#define S2 32 /**/\r\n"
    "// 0, 0x50800000, 20, 128, 960, 12\r\n"
    "#define S3 33 /**/\r\n"
    "// 0, 0x50800000, 20, 138, 960, 12\r\n"
    "#define LIST 34 /**/\r\n"
    "// 3, 0x50B10100, 620, 101, 360, 16\r\n"
    "#define NOCTL 42 /*no control*/\r\n"
    "// 4, 0, 0, 0, 10, 10\r\n"
    "#define M40 40 /*Input:*/\r\n"
    "#define M41 41 /*Output:*/\r\n"
    "#define M43 43 /*hint encode*/\r\n"
    "#define M44 44 /*hint re-encode*/\r\n"
    "#define M45 45 /*Stop?*/\r\n"
    "#define M47 47 /*MB re-encoded*/\r\n"
    "#define M49 49 /* % change: */\r\n"
    "#define M50 50 /*Finished.*/\r\n"
    "#define M51 51 /*No input.*/\r\n"
    "#define M53 53 /*Cancelling.*/\r\n"
    "#define M54 54 /*Refused.*/\r\n"
    "#define M55 55 /*done*/\r\n"
    "#define M56 56 /*Already cancelled.*/\r\n"
    "#define M57 57 /*Stopped.*/\r\n"
    "#define M60 60 /*Need a pattern.*/\r\n"
    "#define M64 64 /*No output.*/\r\n"
    "#define M68 68 /*skipped*/\r\n"
    "#define M27 27 /*Cancel*/\r\n"
    "#define M28 28 /*Error*/\r\n"
    "#define M29 29 /*Passed over:*/\r\n";

// A variant with the controls the window needs (in places of its own) and
// a few texts; every other entry it needs is added by withEveryShownEntry.
constexpr const char* kGermanFile =
    "#define EMPTY 62 /**/\r\n"
    "#define LANG 0 /*Sprache*/\r\n"
    "// 1, 0x50010000, 0, 0, 10, 10\r\n"
    "#define ENC 2 /*Kodieren*/\r\n"
    "#define IN 12 /*caption of the field*/\r\n"
    "// 2, 0x50810080, 0, 0, 10, 10\r\n"
    "#define OUT 17 /**/\r\n"
    "// 2, 0x50810080, 0, 20, 10, 10\r\n"
    "#define START 21 /*Los*/\r\n"
    "// 1, 0x50010001, 0, 40, 10, 10\r\n"
    "#define EXIT 22 /*Ende*/\r\n"
    "// 1, 0x50010000, 20, 40, 10, 10\r\n"
    "#define CANCEL 23 /*Abbruch*/\r\n"
    "// 1, 0x50010000, 40, 40, 10, 10\r\n"
    "#define S1 31 /**/\r\n"
    "// 0, 0x50800000, 0, 60, 10, 10\r\n"
    "#define S2 32 /**/\r\n"
    "// 0, 0x50800000, 0, 70, 10, 10\r\n"
    "#define S3 33 /**/\r\n"
    "// 0, 0x50800000, 0, 80, 10, 10\r\n"
    "#define LIST 34 /**/\r\n"
    "// 3, 0x50B10100, 0, 90, 10, 10\r\n"
    "#define M40 40 /*Eingabe:*/\r\n"
    "#define M41 41 /*Ausgabe:*/\r\n"
    "#define M44 44 /*Hinweis*/\r\n";

// `file` with a text line "m<index>" added for every entry the window shows
// that it does not define, so that the window can be built from it.
std::string withEveryShownEntry(const std::string& file) {
  Definitions d;
  d.parse(file);
  std::string out = file;
  for (const ShownEntry& entry : shownEntries()) {
    if (d.defined(entry.index)) continue;
    const std::string n = std::to_string(entry.index);
    out += "#define M" + n + " " + n + " /*m" + n + "*/\r\n";
  }
  return out;
}

void writeFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A 16-bit PCM WAVE file of `frames` stereo frames at 44100 Hz.
void writeWave(const fs::path& path, int frames, uint32_t seed) {
  const std::vector<int16_t> s = test::makeSignal(test::Shape::Music, frames * 2, 2, seed);
  std::string out = "RIFF";
  auto le = [&](uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  const uint32_t data = static_cast<uint32_t>(s.size() * 2);
  le(36 + data, 4);
  out += "WAVEfmt ";
  le(16, 4), le(1, 2), le(2, 2), le(44100, 4), le(44100 * 4, 4), le(4, 2), le(16, 2);
  out += "data";
  le(data, 4);
  for (const int16_t v : s) le(static_cast<uint16_t>(v), 2);
  writeFile(path, out);
}

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("nubo_ui_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    stem_ = (dir_ / "NUBOCONV.").string();
    writeFile(stem_ + "h", withEveryShownEntry(kBaseFile));
  }
  void TearDown() override {
    // A test that failed half way may leave a worker waiting for the UI
    // thread: release it, as the end of a real message loop does.
    if (window_) window_->closeQueue();
    main_.reset();
    window_.reset();
    std::error_code ignored;
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(dir_);
  }

  void create() {
    window_ = std::make_unique<HeadlessWindow>(kMetrics, 800, 600);
    main_ = std::make_unique<MainWindow>(*window_, stem_);
    ASSERT_TRUE(window_->create(kWindowTitle, *main_));
  }
  void writeSettingsFile(const Settings& s) { ASSERT_TRUE(writeSettings(stem_ + "ini", s)); }
  std::string field(int id) const { return window_->control(id)->text; }
  bool waitIdle() {
    const bool idle = window_->pumpUntil([&] { return !main_->running(); });
    main_->joinWorker();
    return idle;
  }

  fs::path dir_;
  std::string stem_;
  std::unique_ptr<HeadlessWindow> window_;
  std::unique_ptr<MainWindow> main_;
};

TEST_F(MainWindowTest, CreationBuildsTheControlsOfTheDefinitionFile) {
  create();
  EXPECT_EQ(window_->title().rfind("format converter ver1.2", 0), 0u);
  EXPECT_EQ(main_->charWidth(), 12);
  EXPECT_EQ(main_->lineHeight(), 16);
  EXPECT_EQ(main_->topMargin(), 3);

  const std::vector<int> ids = {0, 2, 3, 4, 5, 11, 12, 13, 14, 15, 16, 17, 18, 19, 21, 22, 23, 31, 32, 33, 34};
  EXPECT_EQ(window_->creationOrder(), ids);  // type 4 (entry 42) makes no control
  const platform::HeadlessControl* lang = window_->control(0);
  EXPECT_EQ(lang->cls, ControlClass::Button);
  EXPECT_EQ(lang->caption, "Language");
  EXPECT_EQ(lang->style, 0x50010000u);
  // left = cw*x/10, top = tm + y*lh*14/100, width = cw*w/10, height = h*lh/10
  EXPECT_EQ(lang->createdRect.x, 1032);
  EXPECT_EQ(lang->createdRect.y, 3);
  EXPECT_EQ(lang->createdRect.width, 144);
  EXPECT_EQ(lang->createdRect.height, 22);
  const platform::HeadlessControl* start = window_->control(21);
  EXPECT_EQ(start->createdRect.x, 156);
  EXPECT_EQ(start->createdRect.y, 3 + 101 * 16 * 14 / 100);
  EXPECT_EQ(window_->control(12)->cls, ControlClass::Edit);
  EXPECT_EQ(window_->control(31)->cls, ControlClass::Static);

  // Defaults: job kind 4 with slots 2 and 3, every slot "*.*".
  EXPECT_TRUE(window_->control(4)->checked);
  EXPECT_FALSE(window_->control(2)->checked);
  EXPECT_EQ(field(12), "*.*");
  EXPECT_EQ(field(17), "*.*");
  EXPECT_EQ(field(19), "hint re-encode");
  EXPECT_EQ(field(14), "Input:");
  EXPECT_EQ(field(15), "Output:");
  EXPECT_EQ(window_->statusLine(1), "");
  EXPECT_EQ(window_->control(12)->textLimit, 299);
  EXPECT_EQ(window_->control(17)->textLimit, 299);
  EXPECT_FALSE(window_->control(23)->enabled);
  EXPECT_TRUE(window_->control(22)->enabled);
  EXPECT_FALSE(window_->control(18)->checked);
}

TEST_F(MainWindowTest, SettingsAreReadAtCreationAndWrittenAtDestroy) {
  Settings s;
  s.jobKind = 2;
  s.optionA = 1;
  s.optionB = 1;
  s.slots[0] = "/in/a.wav";
  s.slots[1] = "/out/";
  s.slots[8] = "kept";
  writeSettingsFile(s);
  create();
  EXPECT_TRUE(window_->control(2)->checked);
  EXPECT_TRUE(window_->control(18)->checked);
  EXPECT_TRUE(window_->control(13)->checked);
  EXPECT_EQ(field(12), "/in/a.wav");
  EXPECT_EQ(field(17), "/out/");
  EXPECT_EQ(field(19), "hint encode");

  window_->type(12, "/edited/" + std::string(400, 'e'));
  EXPECT_EQ(field(12).size(), 299u);  // the edit limit
  window_->click(18);                 // auto check box: now clear
  window_->click(22);                 // Exit
  EXPECT_TRUE(window_->destroyed());
  EXPECT_TRUE(window_->quitRequested());
  const Settings back = readSettings(stem_ + "ini");
  EXPECT_EQ(back.jobKind, 2);
  EXPECT_EQ(back.optionA, 0);
  EXPECT_EQ(back.optionB, 1);
  EXPECT_EQ(back.slots[0], field(12));
  EXPECT_EQ(back.slots[1], "/out/");
  EXPECT_EQ(back.slots[8], "kept");
}

// NUBOCONV PATH: the path takes the place of the remembered input of the
// job kind the settings choose; the output field and the other slots stay.
TEST_F(MainWindowTest, AGivenInputStartsInTheInputField) {
  Settings s;
  s.jobKind = 2;
  s.slots[0] = "/in/a.wav";
  s.slots[1] = "/out/";
  s.slots[2] = "/old/*.NAB";
  writeSettingsFile(s);
  window_ = std::make_unique<HeadlessWindow>(kMetrics, 800, 600);
  main_ = std::make_unique<MainWindow>(*window_, stem_);
  main_->startWithInput("/media/TAKE 1.NAB");
  ASSERT_TRUE(window_->create(kWindowTitle, *main_));
  EXPECT_EQ(field(12), "/media/TAKE 1.NAB");
  EXPECT_EQ(field(17), "/out/");
  window_->click(4);  // the re-encode job shows its own remembered fields
  EXPECT_EQ(field(12), "/old/*.NAB");
  window_->click(2);
  EXPECT_EQ(field(12), "/media/TAKE 1.NAB");
  window_->click(22);
  const Settings back = readSettings(stem_ + "ini");
  EXPECT_EQ(back.slots[0], "/media/TAKE 1.NAB");
  EXPECT_EQ(back.slots[2], "/old/*.NAB");
}

TEST_F(MainWindowTest, MissingBaseFileShowsTheErrorAndQuits) {
  fs::remove(stem_ + "h");
  create();
  ASSERT_EQ(window_->messageBoxes().size(), 1u);
  EXPECT_EQ(window_->messageBoxes()[0].caption, "Error");
  EXPECT_EQ(window_->messageBoxes()[0].text, "I need " + stem_ + "h");
  EXPECT_TRUE(window_->quitRequested());
  EXPECT_TRUE(window_->creationOrder().empty());
  EXPECT_EQ(window_->run(), kExitFailed);
  window_->destroy();
  EXPECT_FALSE(fs::exists(stem_ + "ini"));  // nothing to save without controls
}

// Line (from 1) of the first occurrence of `needle` in `bytes`.
int lineOf(const std::string& bytes, const std::string& needle) {
  const std::size_t at = bytes.find(needle);
  EXPECT_NE(at, std::string::npos) << needle;
  return 1 + static_cast<int>(std::count(bytes.begin(), bytes.begin() + static_cast<long>(at), '\n'));
}

std::string replaced(std::string bytes, const std::string& from, const std::string& to) {
  const std::size_t at = bytes.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) bytes.replace(at, from.size(), to);
  return bytes;
}

// Each way the shipped file can be damaged: a message box names the file and
// the line, no control is made, nothing is saved and the program ends with
// a failure.
TEST_F(MainWindowTest, BrokenDefinitionFilesAreNamedWithTheirLine) {
  const std::string shipped = readFile(fs::path(NUBO_DATA_DIR) / "NUBOCONV.h");
  const std::string cutBeforeExit = shipped.substr(0, shipped.find("#define NUBO_EXIT 22"));
  // Cut at a line boundary after the controls: the file parses cleanly but
  // lacks the texts of the runs.
  const std::string cutBefore51 = shipped.substr(0, shipped.find("#define NUBO_MSG_NO_INPUT 51"));
  std::string noise;
  for (uint32_t i = 0, x = 12345; i < 5000; ++i) noise += static_cast<char>((x = x * 1103515245 + 12345) >> 24);
  const std::string exitLayout = "// 1, 0x50010000, 290, 112, 140, 16";
  const struct {
    const char* what;
    std::string bytes;
    int line;
    std::string named = {};  // what the message names, beyond the file and line
  } cases[] = {
      {"cut before Exit", cutBeforeExit, static_cast<int>(std::count(cutBeforeExit.begin(), cutBeforeExit.end(), '\n')),
       "control 22 (the Exit button)"},
      {"cut before entry 51", cutBefore51, static_cast<int>(std::count(cutBefore51.begin(), cutBefore51.end(), '\n')),
       "entry 51 (no input file found)"},
      {"cut inside a text", shipped.substr(0, shipped.find("version 22*/")), lineOf(shipped, "NUBO_JOB_REENCODE")},
      {"empty", "", 1},
      {"random bytes", noise, -1},
      {"over-long text", replaced(shipped, "lossless 16-bit audio", std::string(12000, 'x')), lineOf(shipped, "NUBO_HEADING")},
      {"Exit as an edit field", replaced(shipped, exitLayout, "// 2, 0x50010000, 290, 112, 140, 16"),
       lineOf(shipped, exitLayout)},
      {"Exit hidden", replaced(shipped, exitLayout, "// 1, 0x40010000, 290, 112, 140, 16"), lineOf(shipped, exitLayout)},
      {"Exit off the canvas", replaced(shipped, exitLayout, "// 1, 0x50010000, 290, 112, 1400, 16"),
       lineOf(shipped, exitLayout)},
  };
  for (const auto& c : cases) {
    writeFile(stem_ + "h", c.bytes);
    create();
    ASSERT_EQ(window_->messageBoxes().size(), 1u) << c.what;
    const platform::HeadlessMessageBox& box = window_->messageBoxes()[0];
    EXPECT_EQ(box.caption, "Error") << c.what;
    EXPECT_NE(box.text.find(stem_ + "h"), std::string::npos) << c.what << ": " << box.text;
    const std::string line = c.line > 0 ? "Line " + std::to_string(c.line) + ":" : "Line ";
    EXPECT_NE(box.text.find(line), std::string::npos) << c.what << ": " << box.text;
    EXPECT_NE(box.text.find(c.named), std::string::npos) << c.what << ": " << box.text;
    EXPECT_TRUE(window_->creationOrder().empty()) << c.what;
    EXPECT_EQ(window_->run(), kExitFailed) << c.what;
    window_->destroy();
    EXPECT_FALSE(fs::exists(stem_ + "ini")) << c.what;
    main_.reset();
    window_.reset();
  }
}

// A variant is checked as the base file is. Saved as the language, one that
// has become unusable is named and the base file builds the window (no
// lock-out); met through the language button, it is named and stepped over
// to the next language.
TEST_F(MainWindowTest, AVariantThatCannotBuildTheWindowIsNamedAndSteppedOver) {
  const std::string german = withEveryShownEntry(kGermanFile);
  const struct {
    const char* what;
    std::string bytes;
    std::string named;  // what the message names
  } variants[] = {
      {"Start removed", replaced(german, "#define START 21 /*Los*/\r\n// 1, 0x50010001, 0, 40, 10, 10\r\n", ""),
       "control 21 (the Start button)"},
      {"cut before entry 51", german.substr(0, german.find("#define M51 51")), "entry 51 (no input file found)"},
      {"a text without its end", german + "#define X 1 /*open", "no closing */"},
  };
  for (const auto& v : variants) {
    writeFile(stem_ + "h01", v.bytes);
    Settings s;
    s.languageNumber = 1;
    s.slots[2] = "/kept/";
    writeSettingsFile(s);
    create();
    ASSERT_EQ(window_->messageBoxes().size(), 1u) << v.what;
    const platform::HeadlessMessageBox& box = window_->messageBoxes()[0];
    EXPECT_EQ(box.caption, "Error") << v.what;
    EXPECT_EQ(box.text.rfind("Passed over: " + stem_ + "h01\n", 0), 0u) << v.what << ": " << box.text;
    EXPECT_NE(box.text.find(v.named), std::string::npos) << v.what << ": " << box.text;
    EXPECT_FALSE(window_->quitRequested()) << v.what;
    EXPECT_EQ(field(21), "Start") << v.what;
    EXPECT_EQ(field(12), "/kept/") << v.what;
    EXPECT_EQ(main_->settings().languageNumber, 0) << v.what;
    // The language button steps over it too: without a further variant the
    // base file stays.
    window_->type(12, "/typed/");
    window_->click(0);
    ASSERT_EQ(window_->messageBoxes().size(), 2u) << v.what;
    EXPECT_NE(window_->messageBoxes()[1].text.find(stem_ + "h01"), std::string::npos) << v.what;
    EXPECT_EQ(main_->settings().languageNumber, 0) << v.what;
    EXPECT_EQ(field(21), "Start") << v.what;
    EXPECT_EQ(field(12), "/typed/") << v.what;
    // With a good variant after it, the button goes on to that one.
    writeFile(stem_ + "h02", replaced(german, "/*Los*/", "/*Los 2*/"));
    window_->click(0);
    EXPECT_EQ(window_->messageBoxes().size(), 3u) << v.what;
    EXPECT_EQ(main_->settings().languageNumber, 2) << v.what;
    EXPECT_EQ(field(21), "Los 2") << v.what;
    window_->click(22);
    EXPECT_EQ(readSettings(stem_ + "ini").languageNumber, 2) << v.what;
    fs::remove(stem_ + "h02");
    main_.reset();
    window_.reset();
  }

  // The saved variant and the base file both unusable: the base file is
  // named and the program ends, as without a variant.
  writeFile(stem_ + "h01", variants[0].bytes);
  writeFile(stem_ + "h", std::string(kBaseFile).substr(0, std::string(kBaseFile).find("#define M51 51")));
  Settings s;
  s.languageNumber = 1;
  writeSettingsFile(s);
  create();
  ASSERT_EQ(window_->messageBoxes().size(), 1u);
  EXPECT_NE(window_->messageBoxes()[0].text.find(stem_ + "h "), std::string::npos) << window_->messageBoxes()[0].text;
  EXPECT_EQ(window_->run(), kExitFailed);
}

TEST_F(MainWindowTest, JobKindSwitchingKeepsTheSlots) {
  create();
  window_->click(2);  // from kind 4: its fields go to slots 2 and 3
  EXPECT_TRUE(window_->control(2)->checked);
  EXPECT_FALSE(window_->control(4)->checked);  // auto radio group
  window_->type(12, "wav/in/");
  window_->type(17, "nab/out/");
  window_->click(4);
  EXPECT_EQ(field(12), "*.*");
  EXPECT_EQ(field(17), "*.*");
  EXPECT_EQ(field(19), "hint re-encode");
  window_->type(12, "old/");
  window_->click(3);
  EXPECT_EQ(field(12), "wav/in/");
  EXPECT_EQ(field(17), "nab/out/");
  EXPECT_EQ(field(19), "hint encode");
  window_->click(22);
  const Settings back = readSettings(stem_ + "ini");
  EXPECT_EQ(back.jobKind, 3);
  EXPECT_EQ(back.slots[0], "wav/in/");
  EXPECT_EQ(back.slots[1], "nab/out/");
  EXPECT_EQ(back.slots[2], "old/");
}

TEST_F(MainWindowTest, IdleCommands) {
  create();
  window_->setText(32, "old error");
  window_->click(13);
  EXPECT_EQ(window_->statusLine(2), "");
  EXPECT_TRUE(window_->control(13)->checked);

  // Browse: the dialog starts from the slot; a confirmed path fills field and slot.
  window_->type(12, "/start/here.NAB");
  window_->answerFileDialog(std::string("/chosen/in.NAB"));
  window_->click(11);
  window_->answerFileDialog(std::nullopt);
  window_->click(16);
  ASSERT_EQ(window_->dialogs().size(), 2u);
  EXPECT_FALSE(window_->dialogs()[0].save);
  EXPECT_EQ(window_->dialogs()[0].initialPath, "/start/here.NAB");
  EXPECT_TRUE(window_->dialogs()[1].save);
  EXPECT_EQ(window_->dialogs()[1].initialPath, "*.*");
  EXPECT_EQ(field(12), "/chosen/in.NAB");
  EXPECT_EQ(field(17), "*.*");

  // Cancel while idle does nothing (not even the question).
  window_->command(23);
  EXPECT_TRUE(window_->messageBoxes().empty());

  // Language: the variant's captions, the typed field kept; past the last
  // variant back to the base file.
  writeFile(stem_ + "h01", withEveryShownEntry(kGermanFile));
  window_->type(17, "/typed/");
  window_->setText(31, "x");
  window_->click(0);
  EXPECT_EQ(main_->settings().languageNumber, 1);
  EXPECT_EQ(field(0), "Sprache");
  EXPECT_EQ(field(21), "Los");
  EXPECT_EQ(field(2), "Encode");  // no layout record in the variant: caption kept
  EXPECT_EQ(window_->control(21)->createdRect.x, 156);  // controls are not moved
  EXPECT_EQ(field(14), "Eingabe:");
  EXPECT_EQ(field(19), "Hinweis");
  EXPECT_EQ(field(12), "/chosen/in.NAB");
  EXPECT_EQ(field(17), "/typed/");
  EXPECT_EQ(window_->statusLine(1), "");
  window_->click(0);
  EXPECT_EQ(main_->settings().languageNumber, 0);
  EXPECT_EQ(field(21), "Start");
}

TEST_F(MainWindowTest, FieldsAreCheckedAndSplitAtStart) {
  create();
  const fs::path in = dir_ / "in";
  fs::create_directories(in);
  struct Case {
    std::string input, output;
    converter::RunInput::Kind kind;
    std::string path;
    std::string outDir;
    converter::Naming naming;
    std::string outName;
  };
  const std::string d = in.string();
  using K = converter::RunInput::Kind;
  using N = converter::Naming;
  const Case cases[] = {
      {d + "/", "/o/", K::Pattern, d + "/*.*", "/o", N::ReplaceExtension, ""},
      {d + "/a.wav", "x.dat", K::Pattern, d + "/a.wav", ".", N::Exact, "x.dat"},
      {"a?.NAB", "/o/!", K::Pattern, "a?.NAB", "/o", N::ToggleMark, ""},
      {d + "/*.NAB", "/o/b*", K::Pattern, d + "/*.NAB", "/o", N::ReplaceExtension, ""},
  };
  for (const Case& c : cases) {
    window_->type(12, c.input);
    window_->type(17, c.output);
    window_->click(21);
    ASSERT_TRUE(waitIdle()) << c.input;
    const converter::RunRequest& r = main_->runRequest();
    EXPECT_EQ(r.job, converter::Job::Reencode);
    ASSERT_EQ(r.inputs.size(), 1u);
    const converter::RunInput& i = r.inputs[0];
    EXPECT_EQ(i.kind, c.kind) << c.input;
    EXPECT_EQ(i.path, c.path) << c.input;
    EXPECT_EQ(i.output.directory, c.outDir) << c.output;
    EXPECT_EQ(i.output.naming, c.naming) << c.output;
    EXPECT_EQ(i.output.name, c.outName) << c.output;
    EXPECT_EQ(window_->statusLine(1), "No input.");  // nothing matched
  }

  // Refusals before a run: nothing starts.
  const struct {
    std::string input, output;
    int line;
    std::string text;
  } refusals[] = {{"", "x", 1, "No input."}, {"a", "", 1, "No output."}, {"*.wav", "x.dat", 3, "Need a pattern."}};
  for (const auto& r : refusals) {
    window_->type(12, r.input);
    window_->type(17, r.output);
    window_->click(21);
    EXPECT_FALSE(main_->running());
    EXPECT_EQ(window_->statusLine(r.line), r.text) << r.input << " / " << r.output;
    EXPECT_EQ(window_->pump(), 0);
  }
}

TEST_F(MainWindowTest, CommandsDuringARunAndCancel) {
  create();
  fs::create_directories(dir_ / "in");
  window_->type(12, (dir_ / "in").string() + "/");
  window_->type(17, (dir_ / "out").string() + "/");
  window_->click(21);
  // The worker now waits for its first change of the controls (the running
  // state), which only this thread carries out: the run is surely active.
  ASSERT_TRUE(main_->running());
  // Every control but Cancel, Exit and Start is refused and changes nothing:
  // not the job, not an option (their boxes show what the run started
  // with), not the language, no dialog.
  writeFile(stem_ + "h01", withEveryShownEntry(kGermanFile));
  for (const int id : {0, 13, 18, 11, 16, 2, 3}) {
    window_->setText(32, "");
    window_->answerFileDialog(std::string("/chosen"));
    window_->click(id);
    EXPECT_EQ(window_->statusLine(2), "Refused.") << id;
    EXPECT_TRUE(window_->control(4)->checked) << id;
    EXPECT_FALSE(window_->control(2)->checked) << id;
    EXPECT_FALSE(window_->control(3)->checked) << id;
    EXPECT_FALSE(window_->control(13)->checked) << id;
    EXPECT_FALSE(window_->control(18)->checked) << id;
    EXPECT_EQ(field(19), "hint re-encode") << id;
    EXPECT_EQ(field(12), (dir_ / "in").string() + "/") << id;
    EXPECT_EQ(field(21), "Start") << id;
  }
  EXPECT_TRUE(window_->dialogs().empty());
  EXPECT_EQ(main_->settings().jobKind, 4);
  EXPECT_EQ(main_->settings().languageNumber, 0);
  // And they look it: greyed, the fields read-only (typing changes nothing);
  // Start, Exit and Cancel are not greyed that way.
  for (const int id : {0, 2, 3, 4, 11, 12, 13, 16, 17, 18}) EXPECT_TRUE(window_->control(id)->inactive) << id;
  for (const int id : {21, 22, 23, 31}) EXPECT_FALSE(window_->control(id)->inactive) << id;
  window_->type(17, "");
  EXPECT_EQ(field(17), (dir_ / "out").string() + "/");
  window_->click(22);
  EXPECT_FALSE(window_->destroyed());              // Exit does nothing
  window_->click(21);
  EXPECT_TRUE(window_->control(21)->pressed);

  window_->answerYesNo(false);
  window_->command(23);
  ASSERT_EQ(window_->messageBoxes().size(), 1u);
  EXPECT_EQ(window_->messageBoxes()[0].text, "Stop?");
  EXPECT_EQ(window_->messageBoxes()[0].caption, "Cancel");
  EXPECT_FALSE(main_->cancelRequested());

  window_->answerYesNo(true);
  window_->command(23);
  EXPECT_TRUE(main_->cancelRequested());
  EXPECT_EQ(window_->statusLine(1), "Cancelling.");
  EXPECT_FALSE(window_->control(23)->enabled);
  EXPECT_TRUE(window_->control(22)->enabled);
  window_->click(21);
  EXPECT_EQ(window_->statusLine(1), "Already cancelled.");
  EXPECT_FALSE(window_->control(21)->pressed);

  ASSERT_TRUE(waitIdle());
  EXPECT_EQ(window_->statusLine(1), "Stopped.");  // the worker saw the flag
  EXPECT_NE(window_->statusLine(2), "Stopped.");
  EXPECT_EQ(window_->statusLine(3), "0 done  0 skipped  0 m86");
  EXPECT_FALSE(main_->cancelRequested());
  EXPECT_FALSE(window_->control(23)->enabled);
  EXPECT_TRUE(window_->control(22)->enabled);
  EXPECT_FALSE(window_->control(21)->pressed);
  for (const int id : {0, 2, 3, 4, 11, 12, 13, 16, 17, 18}) EXPECT_FALSE(window_->control(id)->inactive) << id;
  window_->type(17, (dir_ / "out2").string() + "/");
  EXPECT_EQ(field(17), (dir_ / "out2").string() + "/");
  // What was refused did not reach the next run either.
  window_->click(22);
  const Settings saved = readSettings(stem_ + "ini");
  EXPECT_EQ(saved.jobKind, 4);
  EXPECT_EQ(saved.optionA, 0);
  EXPECT_EQ(saved.optionB, 0);
  EXPECT_EQ(saved.languageNumber, 0);
}

// Makes a version-20 compressed file at `nab` (false when the tool is not built).
bool makeOldFile(const fs::path& dir, const fs::path& nab, uint32_t seed);

// A refusal stays on status line 2 for two seconds of the window's clock
// while the run goes on writing that line; then the run's last text for it
// shows (here when the run ends).
TEST_F(MainWindowTest, ARefusalStaysReadableWhileTheRunGoesOn) {
  for (uint32_t i = 0; i < 3; ++i) {
    if (!makeOldFile(dir_, dir_ / "in" / ("F" + std::to_string(i) + ".NAB"), 10 + i)) {
      GTEST_SKIP() << "make_old_nab is not built";
    }
  }
  create();
  // The run's thread reads the clock too (for the time left): the test's
  // time is an atomic that only the test moves on.
  std::atomic<RefusalHold::Clock::time_point> now{RefusalHold::Clock::now()};
  main_->setClock([&now] { return now.load(); });
  const auto advance = [&now](std::chrono::milliseconds by) { now.store(now.load() + by); };
  window_->type(12, (dir_ / "in").string() + "/*.NAB");
  window_->type(17, (dir_ / "out").string() + "/");
  window_->click(21);
  ASSERT_TRUE(main_->running());
  window_->click(18);
  ASSERT_EQ(window_->statusLine(2), "Refused.");
  // Two files done: each has shown its size change on line 2 meanwhile.
  advance(std::chrono::milliseconds(1900));
  ASSERT_TRUE(window_->pumpUntil([&] { return fs::exists(dir_ / "out" / "F1.NAB"); }));
  EXPECT_EQ(window_->statusLine(2), "Refused.");
  // A second refusal holds the line anew.
  window_->click(13);
  advance(std::chrono::milliseconds(1900));
  ASSERT_TRUE(window_->pumpUntil([&] { return fs::exists(dir_ / "out" / "F2.NAB"); }));
  EXPECT_EQ(window_->statusLine(2), "Refused.");
  advance(std::chrono::milliseconds(200));
  ASSERT_TRUE(waitIdle());
  EXPECT_NE(window_->statusLine(2).find("% change:"), std::string::npos) << window_->statusLine(2);
  EXPECT_EQ(window_->statusLine(3), "3 done  0 skipped  0 m86");
  EXPECT_FALSE(window_->control(13)->checked);
  EXPECT_FALSE(window_->control(18)->checked);

  // A new run starts without a hold: its texts show at once.
  window_->type(17, (dir_ / "out2").string() + "/");
  window_->click(21);
  ASSERT_TRUE(window_->pumpUntil([&] { return fs::exists(dir_ / "out2" / "F0.NAB"); }));
  ASSERT_TRUE(waitIdle());
  EXPECT_NE(window_->statusLine(2).find("% change:"), std::string::npos) << window_->statusLine(2);
}

TEST_F(MainWindowTest, StartRunsTheConverterToTheEnd) {
  const fs::path tool = fs::path(NUBO_BIN_DIR) / "make_old_nab";
  if (!fs::exists(tool)) GTEST_SKIP() << "make_old_nab is not built";
  const fs::path in = dir_ / "in";
  fs::create_directories(in / "sub");
  writeWave(dir_ / "a.wav", 30000, 1);
  writeWave(dir_ / "b.wav", 5000, 2);
  for (const auto& [wav, nab, version] : {std::tuple{"a.wav", "in/A.NAB", 20}, std::tuple{"b.wav", "in/sub/B.NAB", 21}}) {
    const std::string cmd = tool.string() + " " + (dir_ / wav).string() + " " + (dir_ / nab).string() + " " +
                            std::to_string(version);
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
  }
  writeFile(in / "notes.txt", "not a compressed file");
  Settings s;
  s.optionB = 1;
  s.slots[2] = in.string() + "/*.NAB";
  s.slots[3] = (dir_ / "out").string() + "/";
  writeSettingsFile(s);
  create();
  window_->click(21);
  ASSERT_TRUE(waitIdle());
  EXPECT_EQ(window_->statusLine(1), "Finished.");
  EXPECT_EQ(window_->statusLine(3), "2 done  0 skipped  0 m86");
  EXPECT_TRUE(fs::exists(dir_ / "out" / "A.NAB"));
  EXPECT_TRUE(fs::exists(dir_ / "out" / "sub" / "B.NAB"));
  EXPECT_FALSE(window_->control(21)->pressed);
  EXPECT_FALSE(window_->control(23)->enabled);
  EXPECT_TRUE(window_->control(22)->enabled);
  // The running state was shown while the run went on.
  bool sawRunning = false;
  for (const std::string& call : window_->calls()) sawRunning = sawRunning || call == "enable 23 1";
  EXPECT_TRUE(sawRunning);
  EXPECT_TRUE(window_->listLines(34).empty());

  // Again: every output exists. The end says so for each file, and counts them.
  window_->click(21);
  ASSERT_TRUE(waitIdle());
  EXPECT_EQ(window_->statusLine(1), "Finished.");
  EXPECT_EQ(window_->statusLine(3), "0 done  2 skipped  0 m86");
  const std::vector<std::string> skipped = window_->listLines(34);
  ASSERT_EQ(skipped.size(), 2u);
  EXPECT_EQ(skipped[0], (in / "A.NAB").string() + ": m52 " + (dir_ / "out" / "A.NAB").string());
  EXPECT_EQ(skipped[1], (in / "sub" / "B.NAB").string() + ": m52 " + (dir_ / "out" / "sub" / "B.NAB").string());
  // The list stays until the next Start, also one that the fields refuse.
  window_->click(13);
  EXPECT_EQ(window_->listLines(34).size(), 2u);
  window_->type(17, "");
  window_->click(21);
  EXPECT_EQ(window_->statusLine(1), "No output.");
  EXPECT_TRUE(window_->listLines(34).empty());
}

// Encode on a folder that holds only compressed files: no input of the
// job's kind, said so, with the count line; nothing is listed, as a file of
// another kind found in a folder is none of the run's business.
TEST_F(MainWindowTest, AFolderWithNoInputOfTheJobsKindSaysNoInputFound) {
  for (uint32_t i = 0; i < 2; ++i) {
    if (!makeOldFile(dir_, dir_ / "in" / ("F" + std::to_string(i) + ".NAB"), 20 + i)) {
      GTEST_SKIP() << "make_old_nab is not built";
    }
  }
  fs::remove(dir_ / "src20.wav");
  fs::remove(dir_ / "src21.wav");
  Settings s;
  s.jobKind = 2;
  s.slots[0] = (dir_ / "in").string() + "/";
  s.slots[1] = (dir_ / "out").string() + "/";
  writeSettingsFile(s);
  create();
  for (const std::string& input : {(dir_ / "in").string() + "/", (dir_ / "in").string() + "/*.wav"}) {
    window_->type(12, input);
    window_->click(21);
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(window_->statusLine(1), "No input.") << input;
    EXPECT_EQ(window_->statusLine(3), "0 done  0 skipped  0 m86") << input;
    EXPECT_FALSE(fs::exists(dir_ / "out")) << input;
  }
  // The folder: nothing listed. The pattern that matched nothing: named.
  const std::vector<std::string> listed = window_->listLines(34);
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].rfind((dir_ / "in").string() + "/*.wav: No input. (", 0), 0u) << listed[0];
  EXPECT_EQ(window_->statusLine(2), "");
}

// Makes a version-20 compressed file at `nab` (false when the tool is not built).
bool makeOldFile(const fs::path& dir, const fs::path& nab, uint32_t seed);

// Yes to Cancel while the second of three files is begun: that file is cut
// short (its partial output kept and named), the third never begun, and
// both are listed; line 1 says the stop once and line 3 keeps the count.
TEST_F(MainWindowTest, AStopListsTheFileCutShortAndThoseNotBegun) {
  for (uint32_t i = 0; i < 3; ++i) {
    if (!makeOldFile(dir_, dir_ / "in" / ("F" + std::to_string(i) + ".NAB"), 30 + i)) {
      GTEST_SKIP() << "make_old_nab is not built";
    }
  }
  create();
  window_->type(12, (dir_ / "in").string() + "/*.NAB");
  window_->type(17, (dir_ / "out").string() + "/");
  // Cancel the moment line 1 names the second file: its worker waits for
  // that line, its file begun.
  const std::string second = (dir_ / "in" / "F1.NAB").string();
  window_->whenTextSet(31, [&](const std::string& text) {
    if (text.find(second) == std::string::npos) return false;
    window_->answerYesNo(true);
    window_->command(23);
    return true;
  });
  window_->click(21);
  ASSERT_TRUE(waitIdle());
  EXPECT_EQ(window_->messageBoxes().size(), 1u);
  EXPECT_EQ(window_->statusLine(1), "Stopped.");
  EXPECT_NE(window_->statusLine(2), "Stopped.");
  // The count line after the stop counts the file cut short and the one
  // never begun as not converted.
  EXPECT_EQ(window_->statusLine(3), "1 done  0 skipped  2 m86");
  EXPECT_TRUE(fs::exists(dir_ / "out" / "F0.NAB"));
  EXPECT_FALSE(fs::exists(dir_ / "out" / "F1.NAB"));
  const std::vector<std::string> listed = window_->listLines(34);
  ASSERT_EQ(listed.size(), 2u);
  const std::string cut = (dir_ / "in" / "F1.NAB").string() + ": m30 (m85 ";
  ASSERT_EQ(listed[0].rfind(cut, 0), 0u) << listed[0];
  const fs::path partial = listed[0].substr(cut.size(), listed[0].size() - cut.size() - 1);
  EXPECT_EQ(partial.parent_path(), dir_ / "out");
  EXPECT_TRUE(fs::exists(partial)) << partial;
  EXPECT_EQ(listed[1], (dir_ / "in" / "F2.NAB").string() + ": m36");
}

// Check box 20 (when the definition file has it) makes the run search for
// the smallest blocks: the same audio in fewer bytes. Its state comes from
// the settings file and goes back to it.
TEST_F(MainWindowTest, TheSearchCheckBoxChoosesTheSearchingEncoderAndIsRemembered) {
  writeFile(stem_ + "h", withEveryShownEntry(std::string(kBaseFile) + "#define BEST 20 /*Smallest*/\r\n// 1, 0x50010003, 640, 77, 340, 12\r\n"));
  writeWave(dir_ / "a.wav", 20000, 3);
  Settings s;
  s.jobKind = 2;
  s.best = 1;
  s.slots[0] = (dir_ / "a.wav").string();
  s.slots[1] = (dir_ / "best.NAB").string();
  writeSettingsFile(s);
  create();
  ASSERT_NE(window_->control(20), nullptr);
  EXPECT_TRUE(window_->control(20)->checked);
  window_->click(21);
  ASSERT_TRUE(waitIdle());
  EXPECT_EQ(window_->statusLine(1), "Finished.");

  window_->click(20);  // auto check box: now clear
  window_->type(17, (dir_ / "plain.NAB").string());
  window_->click(21);
  ASSERT_TRUE(waitIdle());
  EXPECT_EQ(window_->statusLine(1), "Finished.");
  const auto best = fs::file_size(dir_ / "best.NAB"), plain = fs::file_size(dir_ / "plain.NAB");
  EXPECT_LT(best, plain);
  EXPECT_GT(best, plain * 8 / 10);  // the same kind of file, not an empty one

  window_->click(22);  // Exit
  EXPECT_EQ(readSettings(stem_ + "ini").best, 0);
}

// The texts a run shows, from the definition files that ship with the
// program: every file that is not converted says why in the status lines,
// and the end of the run says how many there were.
TEST_F(MainWindowTest, RefusalsAndFailuresShowInTheStatusLinesInEveryLanguage) {
  const fs::path tool = fs::path(NUBO_BIN_DIR) / "make_old_nab";
  if (!fs::exists(tool)) GTEST_SKIP() << "make_old_nab is not built";
  for (const char* variant : {"h", "h01"}) {
    fs::copy_file(fs::path(NUBO_DATA_DIR) / (std::string("NUBOCONV.") + variant), stem_ + variant,
                  fs::copy_options::overwrite_existing);
  }
  const fs::path in = dir_ / "in";
  fs::create_directories(in);
  fs::create_directories(dir_ / "out");
  writeWave(dir_ / "a.wav", 9000, 3);
  for (const char* nab : {"in/GOOD.NAB", "in/CUT.NAB", "in/OLDOUT.NAB", "out/OLDOUT.NAB"}) {
    const std::string cmd = tool.string() + " " + (dir_ / "a.wav").string() + " " + (dir_ / nab).string() + " 20";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
  }
  fs::resize_file(in / "CUT.NAB", fs::file_size(in / "CUT.NAB") - 700);  // ends inside its last block
  Settings s;
  s.optionA = 1;  // even with overwrite, an old compressed file is never replaced
  s.slots[2] = in.string() + "/*.NAB";
  s.slots[3] = (dir_ / "out").string() + "/";
  for (int language : {0, 1}) {
    s.languageNumber = language;
    writeSettingsFile(s);
    fs::remove(dir_ / "out" / "GOOD.NAB");
    create();
    window_->click(21);
    ASSERT_TRUE(waitIdle());
    std::vector<std::string> shown;
    for (const std::string& call : window_->calls()) {
      if (call.rfind("setText 32 ", 0) == 0 || call.rfind("setText 33 ", 0) == 0) shown.push_back(call.substr(11));
    }
    auto sawLine = [&](const std::string& start) {
      for (const std::string& text : shown) {
        if (text.rfind(start, 0) == 0) return true;
      }
      return false;
    };
    const bool german = language == 1;
    EXPECT_TRUE(sawLine(german ? "Die Eingabedatei ist beschädigt" : "The input file is damaged")) << language;
    EXPECT_TRUE(sawLine((in / "CUT.NAB").string() + (german ? " (Block " : " (block "))) << language;
    EXPECT_TRUE(sawLine(german ? "Die vorhandene Ausgabe ist keine komprimierte Datei der Version 22"
                               : "The existing output is not a version-22 compressed file"))
        << language;
    EXPECT_EQ(window_->statusLine(1), german ? "Fertig. 2 Datei(en) nicht umgewandelt" : "Finished. 2 file(s) not converted")
        << language;
    EXPECT_EQ(window_->statusLine(3), german ? "1 Datei(en) umgewandelt  2 Datei(en) nicht umgewandelt"
                                             : "1 file(s) converted  2 file(s) not converted")
        << language;
    // The list names both, in the words of the language, each line led by its input.
    const std::vector<std::string> listed = window_->listLines(34);
    ASSERT_EQ(listed.size(), 2u) << language;
    EXPECT_EQ(listed[0].rfind((in / "CUT.NAB").string() + ": " +
                                  (german ? "Die Eingabedatei ist beschädigt" : "The input file is damaged"),
                              0),
              0u)
        << listed[0];
    EXPECT_NE(listed[0].find(german ? ") (Block " : ") (block "), std::string::npos) << listed[0];
    EXPECT_NE(listed[0].find(german ? ", Byte-Position " : ", byte offset "), std::string::npos) << listed[0];
    EXPECT_EQ(listed[1].rfind((in / "OLDOUT.NAB").string() + ": " +
                                  (german ? "Die vorhandene Ausgabe" : "The existing output"), 0),
              0u)
        << listed[1];
    // Line 1 showed the run's share done and the time left while it went on.
    bool sawProgress = false;
    for (const std::string& call : window_->calls()) {
      sawProgress = sawProgress || (call.rfind("setText 31 ", 0) == 0 &&
                                    call.find(german ? " % - noch " : " % - ") != std::string::npos &&
                                    call.find(german ? "MB neu kodiert" : "MB re-encoded") != std::string::npos);
    }
    EXPECT_TRUE(sawProgress) << language;
    EXPECT_TRUE(fs::exists(dir_ / "out" / "GOOD.NAB")) << language;
    window_->click(22);
    main_.reset();
    window_.reset();
  }
}

// Makes a version-20 compressed file at `nab` (false when the tool is not built).
bool makeOldFile(const fs::path& dir, const fs::path& nab, uint32_t seed) {
  const fs::path tool = fs::path(NUBO_BIN_DIR) / "make_old_nab";
  if (!fs::exists(tool)) return false;
  const fs::path wav = dir / ("src" + std::to_string(seed) + ".wav");
  writeWave(wav, 9000, seed);
  fs::create_directories(nab.parent_path());
  const std::string cmd = tool.string() + " " + wav.string() + " " + nab.string() + " 20 >/dev/null";
  return std::system(cmd.c_str()) == 0;
}

// An incomplete input (its header gives more frames than its blocks hold)
// beside a good one, re-encoded into a folder, then again: each file is
// counted once, as the run says, in the words of the shipped definition
// file; the incomplete one is not "converted" and is listed with its reason
// both times, the good one is converted, then skipped.
TEST_F(MainWindowTest, AnIncompleteInputIsCountedOnceAndListed) {
  if (!makeOldFile(dir_, dir_ / "in" / "OK.NAB", 41) || !makeOldFile(dir_, dir_ / "in" / "INC.NAB", 42)) {
    GTEST_SKIP() << "make_old_nab is not built";
  }
  fs::copy_file(fs::path(NUBO_DATA_DIR) / "NUBOCONV.h", stem_ + "h", fs::copy_options::overwrite_existing);
  std::string inc = readFile(dir_ / "in" / "INC.NAB");
  for (int i = 0; i < 4; ++i) inc[54 + i] = static_cast<char>((999999u >> (8 * i)) & 0xFF);  // the fact count
  writeFile(dir_ / "in" / "INC.NAB", inc);
  create();
  window_->type(12, (dir_ / "in").string() + "/*.NAB");
  window_->type(17, (dir_ / "out").string() + "/");
  // The first run converts it as far as it goes; the rerun finds it incomplete again.
  const std::string listedInc = (dir_ / "in" / "INC.NAB").string() + ": The ";
  for (const char* count : {"1 file(s) converted  0 skipped (output existed)  0 file(s) not converted  1 file(s) incomplete",
                            "0 file(s) converted  1 skipped (output existed)  0 file(s) not converted  1 file(s) incomplete"}) {
    window_->click(21);
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(window_->statusLine(1), "Finished. 1 file(s) incomplete");
    EXPECT_EQ(window_->statusLine(3), count);
    const std::vector<std::string> listed = window_->listLines(34);
    EXPECT_EQ(std::count_if(listed.begin(), listed.end(),
                            [&](const std::string& line) {
                              return line.rfind(listedInc, 0) == 0 && line.find(" is incomplete (") != std::string::npos;
                            }),
              1)
        << ::testing::PrintToString(listed);
    EXPECT_TRUE(fs::exists(dir_ / "out" / "OK.NAB"));
  }
}

// A WAVE input whose header's data size is wrong is encoded, and the end of
// the run lists it with the warning; it counts as converted.
TEST_F(MainWindowTest, AFileConvertedWithAWarningIsListed) {
  fs::copy_file(fs::path(NUBO_DATA_DIR) / "NUBOCONV.h", stem_ + "h", fs::copy_options::overwrite_existing);
  fs::create_directories(dir_ / "in");
  writeWave(dir_ / "in" / "cut.wav", 30000, 5);
  fs::resize_file(dir_ / "in" / "cut.wav", 60000);  // the header still gives the whole data size
  writeWave(dir_ / "in" / "whole.wav", 3000, 6);
  Settings s;
  s.jobKind = 2;
  s.slots[0] = (dir_ / "in").string() + "/";
  s.slots[1] = (dir_ / "out").string() + "/";
  writeSettingsFile(s);
  create();
  window_->click(21);
  ASSERT_TRUE(waitIdle());
  EXPECT_EQ(window_->statusLine(1), "Finished.");
  EXPECT_EQ(window_->statusLine(3), "2 file(s) converted  0 skipped (output existed)  0 file(s) not converted");
  EXPECT_EQ(window_->listLines(34),
            std::vector<std::string>{(dir_ / "in" / "cut.wav").string() +
                                     ": The WAVE header's data size is wrong; the audio was read to the end of the file"});
  EXPECT_TRUE(fs::exists(dir_ / "out" / "cut.NAB"));
}

// Yes to the Cancel question after the run has ended by itself changes
// nothing: no stale stop hangs over the next run.
TEST_F(MainWindowTest, YesAfterTheRunEndedLeavesNoStopForTheNextRun) {
  if (!makeOldFile(dir_, dir_ / "in" / "A.NAB", 1)) GTEST_SKIP() << "make_old_nab is not built";
  create();
  window_->type(12, (dir_ / "in").string() + "/");
  window_->type(17, (dir_ / "out").string() + "/");
  window_->click(21);
  ASSERT_TRUE(main_->running());
  // The run ends while the question is open.
  window_->answerYesNo(true, [&] { window_->pumpUntil([&] { return !main_->running(); }); });
  window_->command(23);
  ASSERT_EQ(window_->messageBoxes().size(), 1u);
  EXPECT_FALSE(main_->running());
  EXPECT_FALSE(main_->cancelRequested());
  EXPECT_EQ(window_->statusLine(1), "Finished.");
  EXPECT_FALSE(window_->control(23)->enabled);
  EXPECT_TRUE(window_->control(22)->enabled);
  main_->joinWorker();

  window_->type(17, (dir_ / "out2").string() + "/");
  window_->click(21);
  ASSERT_TRUE(waitIdle());
  EXPECT_EQ(window_->statusLine(1), "Finished.");
  EXPECT_EQ(window_->statusLine(3), "1 done  0 skipped  0 m86");
  EXPECT_TRUE(fs::exists(dir_ / "out2" / "A.NAB"));
}

// The close box during a run asks like Cancel; on Yes the window closes,
// with the settings saved, once the run has stopped.
TEST_F(MainWindowTest, ClosingDuringARunAsksStopsThenCloses) {
  create();
  window_->close();  // idle: closes at once, without a question
  EXPECT_TRUE(window_->destroyed());
  EXPECT_TRUE(window_->messageBoxes().empty());
  main_.reset();
  window_.reset();

  fs::create_directories(dir_ / "in");
  for (const bool viaExit : {false, true}) {
    fs::remove(stem_ + "ini");
    create();
    window_->type(12, (dir_ / "in").string() + "/");
    window_->type(17, (dir_ / "out").string() + "/");
    window_->click(21);
    ASSERT_TRUE(main_->running());
    window_->answerYesNo(false);
    window_->close();
    ASSERT_EQ(window_->messageBoxes().size(), 1u);
    EXPECT_EQ(window_->messageBoxes()[0].caption, "Cancel");
    EXPECT_EQ(window_->messageBoxes()[0].text, "Stop?");
    EXPECT_FALSE(window_->destroyed());
    EXPECT_FALSE(main_->cancelRequested());

    if (viaExit) {
      window_->answerYesNo(true);
      window_->command(23);  // Cancel, then Exit (enabled again) while the run stops
      EXPECT_TRUE(window_->click(22));
    } else {
      window_->answerYesNo(true);
      window_->close();
      EXPECT_EQ(window_->statusLine(1), "Cancelling.");
      window_->close();  // no second question
    }
    EXPECT_EQ(window_->messageBoxes().size(), 2u);
    EXPECT_TRUE(main_->cancelRequested());
    EXPECT_FALSE(window_->destroyed()) << "closed before the run had stopped";
    EXPECT_FALSE(fs::exists(stem_ + "ini"));

    ASSERT_TRUE(window_->pumpUntil([&] { return window_->destroyed(); }));
    EXPECT_FALSE(main_->running());
    EXPECT_EQ(window_->statusLine(1), "Stopped.");
    EXPECT_TRUE(window_->quitRequested());
    EXPECT_EQ(window_->quitCode(), 0);
    EXPECT_EQ(readSettings(stem_ + "ini").slots[2], (dir_ / "in").string() + "/");
    main_->joinWorker();
    main_.reset();
    window_.reset();
  }
}

TEST_F(MainWindowTest, FocusStartsInTheInputFieldAndStartTakesIt) {
  create();
  EXPECT_EQ(window_->focusedControl(), 12);
  window_->click(17);
  window_->type(17, "");  // an empty output: the run is refused
  window_->command(21);   // Enter in the field presses the default button
  EXPECT_EQ(window_->focusedControl(), platform::kHeadlessMainWindowFocus);
  EXPECT_EQ(window_->statusLine(1), "No output.");
}

TEST_F(MainWindowTest, TheCancelQuestionComesFromTheDefinitionFile) {
  for (const char* variant : {"h", "h01"}) {
    fs::copy_file(fs::path(NUBO_DATA_DIR) / (std::string("NUBOCONV.") + variant), stem_ + variant,
                  fs::copy_options::overwrite_existing);
  }
  fs::create_directories(dir_ / "in");
  const struct {
    int language;
    const char* title;
    const char* yes;
    const char* no;
  } cases[] = {{0, "Cancel", "Yes", "No"}, {1, "Abbrechen", "Ja", "Nein"}};
  for (const auto& c : cases) {
    Settings s;
    s.languageNumber = c.language;
    s.slots[2] = (dir_ / "in").string() + "/";
    s.slots[3] = (dir_ / "out").string() + "/";
    writeSettingsFile(s);
    create();
    window_->click(21);
    window_->answerYesNo(false);
    window_->command(23);
    ASSERT_EQ(window_->messageBoxes().size(), 1u);
    EXPECT_EQ(window_->messageBoxes()[0].caption, c.title);
    EXPECT_EQ(window_->messageBoxes()[0].yes, c.yes);
    EXPECT_EQ(window_->messageBoxes()[0].no, c.no);
    ASSERT_TRUE(waitIdle());
    main_.reset();
    window_.reset();
  }
}

TEST_F(MainWindowTest, SettingsWithCrLfLineEndsFindTheirFiles) {
  if (!makeOldFile(dir_, dir_ / "in" / "A.NAB", 2)) GTEST_SKIP() << "make_old_nab is not built";
  writeFile(stem_ + "ini", "20\r\n4\r\n0\r\n0\r\n0\r\n*.*\r\n*.*\r\n" + (dir_ / "in").string() +
                               "/*.NAB\r\n" + (dir_ / "out").string() + "/\r\n*.*\r\n*.*\r\n*.*\r\n*.*\r\n*.*\r\n*.*\r\n");
  create();
  EXPECT_EQ(field(12), (dir_ / "in").string() + "/*.NAB");
  window_->click(21);
  ASSERT_TRUE(waitIdle());
  EXPECT_EQ(window_->statusLine(3), "1 done  0 skipped  0 m86");
  EXPECT_TRUE(fs::exists(dir_ / "out" / "A.NAB"));
}

#ifndef _WIN32  // users, permissions and directory links of POSIX
// Runs `body` as a user other than root (root may write anywhere), in a
// child process when this one is root. Returns the body's report: empty
// when it found nothing wrong.
std::string runUnprivileged(const std::function<std::string()>& body) {
  if (::geteuid() != 0) return body();
  int fds[2];
  if (::pipe(fds) != 0) return "no pipe";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    std::string report;
    if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) {
      report = "cannot become an unprivileged user";
    } else {
      report = body();
    }
    if (::write(fds[1], report.data(), report.size()) < 0) ::_exit(2);
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string report;
  char buffer[512];
  for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) report.append(buffer, static_cast<std::size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) report += " (the child failed)";
  return report;
}

// A program directory that cannot be written (an install to a system
// prefix): the settings go to the user's configuration directory, and come
// back from there; when no place takes them, the user is told.
TEST_F(MainWindowTest, SettingsGoToTheUserConfigurationWhenTheProgramDirectoryIsReadOnly) {
  const fs::path config = dir_ / "config";
  const fs::path locked = dir_ / "locked";
  fs::create_directories(config);
  fs::create_directories(locked);
  fs::permissions(config, fs::perms::all);
  fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                              fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
  fs::permissions(dir_, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  const std::string stem = stem_;
  const std::string report = runUnprivileged([&] {
    std::string problems;
    auto check = [&](bool ok, const std::string& what) {
      if (!ok) problems += what + "; ";
    };
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    const std::string expected = (config / "nubo" / "NUBOCONV.ini").string();
    for (int round = 0; round < 2; ++round) {
      HeadlessWindow window(kMetrics);
      MainWindow main(window, stem);
      window.create(kWindowTitle, main);
      check(main.settingsFile() == expected, "settings file " + main.settingsFile());
      if (round == 0) {
        window.type(12, "/typed/in/");
      } else {
        check(window.control(12)->text == "/typed/in/", "not read back: " + window.control(12)->text);
      }
      window.click(22);
      check(window.messageBoxes().empty(), "a message box at Exit");
      check(window.quitCode() == 0, "quit code");
    }
    check(!fs::exists(stem + "ini"), "written beside the program");
    ::setenv("XDG_CONFIG_HOME", locked.c_str(), 1);
    HeadlessWindow window(kMetrics);
    MainWindow main(window, stem);
    window.create(kWindowTitle, main);
    window.click(22);
    check(window.messageBoxes().size() == 1 && window.messageBoxes()[0].caption == "Error" &&
              window.messageBoxes()[0].text.find((locked / "nubo" / "NUBOCONV.ini").string()) != std::string::npos,
          "no message naming the file that could not be written");
    check(window.quitCode() == kExitFailed, "quit code after a failed save");
    return problems;
  });
  fs::permissions(dir_, fs::perms::owner_write, fs::perm_options::add);
  fs::permissions(locked, fs::perms::owner_write, fs::perm_options::add);
  EXPECT_EQ(report, "");
  EXPECT_EQ(readSettings((config / "nubo" / "NUBOCONV.ini").string()).slots[2], "/typed/in/");
}

// Installed, the definition files lie apart from the program: the settings
// stay with the program.
TEST_F(MainWindowTest, SettingsStayWithTheProgramWhenTheDefinitionsLieElsewhere) {
  fs::create_directories(dir_ / "bin");
  const std::string programStem = (dir_ / "bin" / "NUBOCONV.").string();
  window_ = std::make_unique<HeadlessWindow>(kMetrics, 800, 600);
  main_ = std::make_unique<MainWindow>(*window_, stem_, programStem);
  ASSERT_TRUE(window_->create(kWindowTitle, *main_));
  EXPECT_EQ(main_->settingsFile(), programStem + "ini");
  window_->type(12, "/in/");
  window_->click(22);
  EXPECT_EQ(readSettings(programStem + "ini").slots[2], "/in/");
  EXPECT_FALSE(fs::exists(stem_ + "ini"));
}

// With subdirectories included, a directory link back up the tree is
// entered once: each file is converted once and the run ends.
TEST_F(MainWindowTest, ADirectoryLinkLoopIsWalkedOnce) {
  const fs::path in = dir_ / "in";
  if (!makeOldFile(dir_, in / "A.NAB", 3) || !makeOldFile(dir_, in / "sub" / "B.NAB", 4)) {
    GTEST_SKIP() << "make_old_nab is not built";
  }
  fs::create_directory_symlink("..", in / "sub" / "loop");
  Settings s;
  s.optionB = 1;
  s.slots[2] = in.string() + "/*.NAB";
  s.slots[3] = (dir_ / "out").string() + "/";
  writeSettingsFile(s);
  create();
  window_->click(21);
  ASSERT_TRUE(waitIdle());
  EXPECT_EQ(window_->statusLine(1).rfind("Finished.", 0), 0u) << window_->statusLine(1);
  EXPECT_EQ(window_->statusLine(3), "2 done  0 skipped  0 m86");
  std::vector<std::string> outputs;
  for (const auto& e : fs::recursive_directory_iterator(dir_ / "out")) {
    if (e.is_regular_file()) outputs.push_back(fs::relative(e.path(), dir_ / "out").string());
  }
  std::sort(outputs.begin(), outputs.end());
  EXPECT_EQ(outputs, (std::vector<std::string>{"A.NAB", "sub/B.NAB"}));
}

#endif  // _WIN32

TEST_F(MainWindowTest, ScrollAndResizeArithmetic) {
  create();  // 800 x 600: 66 columns, 37 lines
  EXPECT_EQ(window_->scrollMaximum(ScrollBar::Horizontal), 102 - 800 / 12);
  // The controls reach down to status line 3: 3 + 138 * 16 * 14 / 100 + 19 =
  // 331 pixels, 21 lines; a client 600 pixels high holds them all.
  EXPECT_EQ(main_->contentLines(), 21);
  EXPECT_EQ(window_->scrollMaximum(ScrollBar::Vertical), 0);
  EXPECT_EQ(window_->scrollPosition(ScrollBar::Horizontal), 0);

  window_->scroll(ScrollBar::Horizontal, ScrollRequest::PageDown);
  EXPECT_EQ(window_->scrollPosition(ScrollBar::Horizontal), 8);
  EXPECT_EQ(window_->contentOffsetX(), -96);
  EXPECT_EQ(window_->control(0)->rect.x, 1032 - 96);
  window_->scroll(ScrollBar::Horizontal, ScrollRequest::LineUp);
  EXPECT_EQ(window_->scrollPosition(ScrollBar::Horizontal), 7);
  window_->scroll(ScrollBar::Horizontal, ScrollRequest::ThumbTrack, 500);
  EXPECT_EQ(window_->scrollPosition(ScrollBar::Horizontal), 36);  // limited to the maximum
  window_->scroll(ScrollBar::Horizontal, ScrollRequest::Top);      // no top for this bar
  EXPECT_EQ(window_->scrollPosition(ScrollBar::Horizontal), 36);
  EXPECT_EQ(window_->contentOffsetX(), -36 * 12);

  // Wider by 400 pixels: d = -400/12 - 1 = -34; maximum 100 - 1200/12 + 2 = 2.
  window_->resize(1200, 600);
  EXPECT_EQ(window_->scrollPosition(ScrollBar::Horizontal), 2);
  EXPECT_EQ(window_->contentOffsetX(), -2 * 12);
  EXPECT_EQ(window_->scrollMaximum(ScrollBar::Horizontal), 2);
  // The same width again: d = -1.
  window_->resize(1200, 600);
  EXPECT_EQ(window_->scrollPosition(ScrollBar::Horizontal), 1);
  window_->resize(2000, 600);
  EXPECT_EQ(window_->scrollMaximum(ScrollBar::Horizontal), 0);
  EXPECT_EQ(window_->scrollPosition(ScrollBar::Horizontal), 0);
  EXPECT_EQ(window_->contentOffsetX(), 0);
  // Narrower never scrolls by itself.
  window_->scroll(ScrollBar::Horizontal, ScrollRequest::LineDown);
  window_->resize(400, 600);
  EXPECT_EQ(window_->scrollMaximum(ScrollBar::Horizontal), 102 - 400 / 12);
  EXPECT_EQ(window_->scrollPosition(ScrollBar::Horizontal), 0);

  // Vertical: 100 pixels = 6 lines; maximum 21 - 6 + 2 = 17, page 6.
  window_->resize(400, 100);
  EXPECT_EQ(window_->scrollMaximum(ScrollBar::Vertical), 17);
  window_->scroll(ScrollBar::Vertical, ScrollRequest::PageDown);
  EXPECT_EQ(window_->scrollPosition(ScrollBar::Vertical), 6);
  EXPECT_EQ(window_->contentOffsetY(), -6 * 16);
  window_->scroll(ScrollBar::Vertical, ScrollRequest::Bottom);
  EXPECT_EQ(window_->scrollPosition(ScrollBar::Vertical), 17);
  // At the bottom the last control is in sight with two lines to spare.
  const int bottom = window_->control(33)->rect.y + window_->control(33)->rect.height;
  EXPECT_LE(bottom, 100);
  EXPECT_GE(bottom, 100 - 3 * 16);
  window_->scroll(ScrollBar::Vertical, ScrollRequest::LineDown);
  EXPECT_EQ(window_->scrollPosition(ScrollBar::Vertical), 17);
  window_->scroll(ScrollBar::Vertical, ScrollRequest::PageUp);
  EXPECT_EQ(window_->scrollPosition(ScrollBar::Vertical), 11);
  window_->scroll(ScrollBar::Vertical, ScrollRequest::ThumbTrack, 5);
  EXPECT_EQ(window_->scrollPosition(ScrollBar::Vertical), 5);
  window_->scroll(ScrollBar::Vertical, ScrollRequest::Top);
  EXPECT_EQ(window_->scrollPosition(ScrollBar::Vertical), 0);
  EXPECT_EQ(window_->contentOffsetY(), 0);
  // A client just as high as the content keeps the two lines in hand.
  window_->resize(400, 21 * 16);
  EXPECT_EQ(window_->scrollMaximum(ScrollBar::Vertical), 2);
  // A client lower than one line still pages by one line.
  window_->resize(400, 10);
  window_->scroll(ScrollBar::Vertical, ScrollRequest::PageDown);
  EXPECT_EQ(window_->scrollPosition(ScrollBar::Vertical), 1);
}

}  // namespace
}  // namespace nubo::ui
