// SPDX-License-Identifier: BSD-3-Clause
// The main window logic on the FLTK backend, on a real (virtual) display,
// with the shipped layout: the vertical scroll range fits the controls, and
// the end of a run (the list of files not converted, the count line, the
// progress of the run on line 1) in the real widgets, in both languages.
// GoogleTest before FLTK: an FLTK header brings in X11's None and Bool macros.
#include <gtest/gtest.h>

#include <FL/Fl.H>
#include <FL/Fl_Browser.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Scrollbar.H>
#include <FL/Fl_Window.H>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "fltk_controls.h"
#include "fltk_window.h"
#include "main_window.h"
#include "settings_file.h"
#include "signals.h"

namespace nubo::ui {
namespace {

namespace fs = std::filesystem;

void settle() {
  for (int i = 0; i < 5; ++i) Fl::wait(0.01);
}

Fl_Scrollbar* verticalBar(Fl_Group* group) {
  for (int i = 0; i < group->children(); ++i) {
    auto* bar = dynamic_cast<Fl_Scrollbar*>(group->child(i));
    if (bar != nullptr && bar->type() == FL_VERTICAL) return bar;
  }
  return nullptr;
}

// The lowest bottom edge of the visible controls (the children of the
// window's content area, its first group), in window coordinates.
int lowestControl(Fl_Window* window) {
  Fl_Group* content = nullptr;
  for (int i = 0; i < window->children() && content == nullptr; ++i) content = window->child(i)->as_group();
  if (content == nullptr) return 0;
  int bottom = 0;
  for (int i = 0; i < content->children(); ++i) {
    const Fl_Widget* w = content->child(i);
    if (w->visible() && w->w() > 0 && w->h() > 0) bottom = std::max(bottom, w->y() + w->h());
  }
  return bottom;
}

struct Seen {
  MainWindow* main = nullptr;
  platform::FltkWindow* window = nullptr;
  int clientHeight = 0;
  int maximum = -1;
  int lowestAtTop = 0;
  int lowestAtBottom = 0;
};

TEST(FltkMainWindow, TheVerticalScrollRangeFitsTheControls) {
  if (!platform::openDisplay()) GTEST_SKIP() << "no X display (run under xvfb-run)";
  const fs::path dir = fs::temp_directory_path() / ("nubo_fltk_main_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  fs::copy_file(fs::path(NUBO_DATA_DIR) / "NUBOCONV.h", dir / "NUBOCONV.h", fs::copy_options::overwrite_existing);
  {
    platform::FltkWindow window;
    MainWindow main(window, (dir / "NUBOCONV.").string());
    ASSERT_TRUE(window.create(kWindowTitle, main));
    Seen seen{&main, &window};
    Fl::add_timeout(0.05, [](void* data) {
      auto* s = static_cast<Seen*>(data);
      settle();
      Fl_Window* w = Fl::first_window();
      // A window half as high as its controls need.
      const int bar = Fl::scrollbar_size();
      w->resize(w->x(), w->y(), w->w(), s->main->contentLines() * s->main->lineHeight() / 2 + bar);
      settle();
      s->clientHeight = w->h() - bar;
      if (Fl_Scrollbar* vertical = verticalBar(w)) s->maximum = static_cast<int>(vertical->maximum());
      s->lowestAtTop = lowestControl(w);
      s->main->onScroll(platform::ScrollBar::Vertical, platform::ScrollRequest::Bottom, 0);
      settle();
      s->lowestAtBottom = lowestControl(w);
      s->window->quit(0);
    }, &seen);
    window.run();

    const int lh = main.lineHeight();
    // The shipped layout ends with the list of files not converted, about
    // 30 lines down; the range covers those lines (and the two the range
    // keeps in hand), not the 40 of the whole canvas.
    EXPECT_GE(main.contentLines(), 28);
    EXPECT_LE(main.contentLines(), 32);
    EXPECT_EQ(seen.maximum, main.contentLines() - seen.clientHeight / lh + 2);
    EXPECT_GT(seen.lowestAtTop, seen.clientHeight) << "the window was meant to be too low for its controls";
    // At the bottom of the range the lowest control is in sight, with no
    // more under it than the two spare lines and the rounding to whole
    // lines (the 40-line canvas left some 18 lines there).
    EXPECT_LE(seen.lowestAtBottom, seen.clientHeight);
    EXPECT_GE(seen.lowestAtBottom, seen.clientHeight - 4 * lh);
  }
  fs::remove_all(dir);
}

// --- a run on the real window ---------------------------------------------

// The FLTK window as it is, with every text given to a status line noted on
// the way (the UI thread's calls, in order).
class NotingWindow : public platform::Window {
 public:
  explicit NotingWindow(platform::FltkWindow& real) : real_(real) {}
  bool create(const std::string& title, platform::WindowEvents& events) override { return real_.create(title, events); }
  int run() override { return real_.run(); }
  void quit(int code) override { real_.quit(code); }
  void destroy() override { real_.destroy(); }
  platform::TextMetrics textMetrics() override { return real_.textMetrics(); }
  void createControl(int id, platform::ControlClass cls, const std::string& caption, uint32_t style,
                     const platform::Rect& rect) override {
    real_.createControl(id, cls, caption, style, rect);
  }
  bool hasControl(int id) const override { return real_.hasControl(id); }
  void setText(int id, const std::string& text) override {
    if (id >= kStatusLine1 && id <= kStatusLine3) statusTexts.push_back(std::to_string(id - 30) + ":" + text);
    real_.setText(id, text);
  }
  std::string getText(int id) override { return real_.getText(id); }
  void setTextLimit(int id, int characters) override { real_.setTextLimit(id, characters); }
  void clearList(int id) override { real_.clearList(id); }
  void addListLines(int id, const std::vector<std::string>& lines) override { real_.addListLines(id, lines); }
  std::vector<std::string> listLines(int id) override { return real_.listLines(id); }
  bool getCheck(int id) override { return real_.getCheck(id); }
  void setCheck(int id, bool checked) override { real_.setCheck(id, checked); }
  void showPressed(int id, bool pressed) override { real_.showPressed(id, pressed); }
  void enable(int id, bool enabled) override { real_.enable(id, enabled); }
  void showInactive(int id, bool inactive) override { real_.showInactive(id, inactive); }
  void focusMainWindow() override { real_.focusMainWindow(); }
  void focusControl(int id) override { real_.focusControl(id); }
  void scrollContent(int dx, int dy) override { real_.scrollContent(dx, dy); }
  void setScrollRange(platform::ScrollBar bar, int minimum, int maximum) override {
    real_.setScrollRange(bar, minimum, maximum);
  }
  void setScrollPosition(platform::ScrollBar bar, int position) override { real_.setScrollPosition(bar, position); }
  bool askYesNo(const std::string& text, const std::string& caption, const std::string& yes,
                const std::string& no) override {
    return real_.askYesNo(text, caption, yes, no);
  }
  void showError(const std::string& caption, const std::string& text) override { real_.showError(caption, text); }
  std::optional<std::string> openFileDialog(const std::string& initialPath) override {
    return real_.openFileDialog(initialPath);
  }
  std::optional<std::string> saveFileDialog(const std::string& initialPath) override {
    return real_.saveFileDialog(initialPath);
  }
  void runOnUiThread(const std::function<void()>& work) override { real_.runOnUiThread(work); }

  std::vector<std::string> statusTexts;

 private:
  platform::FltkWindow& real_;
};

// The content area's widgets of one kind, in the order they were added.
template <typename W>
std::vector<W*> widgetsOf(Fl_Window* window) {
  std::vector<W*> found;
  Fl_Group* content = nullptr;
  for (int i = 0; i < window->children() && content == nullptr; ++i) content = window->child(i)->as_group();
  if (content == nullptr) return found;
  for (int i = 0; i < content->children(); ++i) {
    if (auto* w = dynamic_cast<W*>(content->child(i))) found.push_back(w);
  }
  return found;
}

void writeWave(const fs::path& path, int frames, uint32_t seed) {
  const std::vector<int16_t> s = test::makeSignal(test::Shape::Music, frames * 2, 2, seed);
  std::string out = "RIFF";
  auto le = [&](uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  const auto data = static_cast<uint32_t>(s.size() * 2);
  le(36 + data, 4);
  out += "WAVEfmt ";
  le(16, 4), le(1, 2), le(2, 2), le(44100, 4), le(44100 * 4, 4), le(4, 2), le(16, 2);
  out += "data";
  le(data, 4);
  for (const int16_t v : s) le(static_cast<uint16_t>(v), 2);
  std::ofstream(path, std::ios::binary) << out;
}

struct RunSeen {
  MainWindow* main = nullptr;
  platform::FltkWindow* window = nullptr;
  int jobKind = 4;
  bool started = false;
  std::vector<std::string> list;    // the browser's lines
  std::string lines[4];             // the status lines as shown
  bool listVisible = false;
  int listBottom = 0;
  int clientHeight = 0;
};

// Starts the run at once, then looks every 50 ms until the window is idle
// again, and reads what the widgets show.
void watchRun(void* data) {
  auto* seen = static_cast<RunSeen*>(data);
  if (!seen->started) {
    seen->started = true;
    seen->main->onCommand(kStartButton);
  } else if (!seen->main->running()) {
    settle();
    Fl_Window* w = Fl::first_window();
    const std::vector<Fl_Browser*> browsers = widgetsOf<Fl_Browser>(w);
    if (browsers.size() == 1) {
      Fl_Browser* list = browsers.front();
      for (int i = 1; i <= list->size(); ++i) seen->list.push_back(list->text(i));
      seen->listVisible = list->visible_r() != 0;
      seen->listBottom = list->y() + list->h();
    }
    const std::vector<platform::detail::StaticText*> statics = widgetsOf<platform::detail::StaticText>(w);
    // The status lines are the statics created as controls 31 to 33.
    int line = 0;
    for (platform::detail::StaticText* t : statics) {
      if (t->box() == FL_DOWN_BOX || t->box() == FL_THIN_DOWN_BOX || t->box() == FL_BORDER_BOX) {
        if (++line <= 3) seen->lines[line] = t->shownText();
      }
    }
    seen->clientHeight = w->h() - Fl::scrollbar_size();
    seen->window->quit(0);
    return;
  }
  Fl::repeat_timeout(0.05, watchRun, data);
}

// Makes a version-20 compressed file at `nab` from a WAVE file made here.
bool makeOldFile(const fs::path& dir, const fs::path& nab, int frames, uint32_t seed) {
  const fs::path wav = dir / ("src" + std::to_string(seed) + ".wav");
  writeWave(wav, frames, seed);
  const std::string cmd = std::string(NUBO_BIN_DIR) + "/make_old_nab " + wav.string() + " " + nab.string() +
                          " 20 >/dev/null";
  return std::system(cmd.c_str()) == 0;
}

// A re-encode run over two good files and one damaged (cut inside its last
// block), in English and German: the list names the damaged file with its
// block and byte offset, line 1 says how the run ended, line 3 keeps the
// count line, and line 1 showed the share done and the time left while the
// files were converted. Then encode on that folder of compressed files:
// "No input file found." and the count line.
TEST(FltkMainWindow, TheEndOfARunIsShownInTheRealWidgets) {
  if (!platform::openDisplay()) GTEST_SKIP() << "no X display (run under xvfb-run)";
  if (!fs::exists(fs::path(NUBO_BIN_DIR) / "make_old_nab")) GTEST_SKIP() << "make_old_nab is not built";
  const fs::path dir = fs::temp_directory_path() / ("nubo_fltk_run_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir / "in");
  for (const char* name : {"NUBOCONV.h", "NUBOCONV.h01"}) {
    fs::copy_file(fs::path(NUBO_DATA_DIR) / name, dir / name, fs::copy_options::overwrite_existing);
  }
  ASSERT_TRUE(makeOldFile(dir, dir / "in" / "GOOD1.NAB", 60000, 1));
  ASSERT_TRUE(makeOldFile(dir, dir / "in" / "GOOD2.NAB", 9000, 2));
  ASSERT_TRUE(makeOldFile(dir, dir / "in" / "DAMAGED.NAB", 9000, 3));
  fs::resize_file(dir / "in" / "DAMAGED.NAB", fs::file_size(dir / "in" / "DAMAGED.NAB") - 700);

  struct Expected {
    int language;
    const char* finished;
    const char* count;
    const char* damaged;
    const char* block;
    const char* progress;
    const char* noInput;
    const char* noInputCount;
  };
  const Expected languages[] = {
      {0, "Finished. 1 file(s) not converted",
       "2 file(s) converted  0 skipped (output existed)  1 file(s) not converted", "The input file is damaged",
       ") (block ", " % - ", "No input file found.",
       "0 file(s) converted  0 skipped (output existed)  0 file(s) not converted"},
      {1, "Fertig. 1 Datei(en) nicht umgewandelt",
       "2 Datei(en) umgewandelt  0 übersprungen (Ausgabe vorhanden)  1 Datei(en) nicht umgewandelt",
       "Die Eingabedatei ist beschädigt", ") (Block ", " % - noch ", "Keine Eingabedatei gefunden.",
       "0 Datei(en) umgewandelt  0 übersprungen (Ausgabe vorhanden)  0 Datei(en) nicht umgewandelt"},
  };
  for (const Expected& e : languages) {
    for (const int jobKind : {4, 2}) {
      fs::remove_all(dir / "out");
      Settings s;
      s.jobKind = jobKind;
      s.languageNumber = e.language;
      s.slots[jobKind == 4 ? 2 : 0] = (dir / "in").string() + "/*.NAB";
      s.slots[jobKind == 4 ? 3 : 1] = (dir / "out").string() + "/";
      ASSERT_TRUE(writeSettings((dir / "NUBOCONV.ini").string(), s));
      platform::FltkWindow real;
      NotingWindow window(real);
      MainWindow main(window, (dir / "NUBOCONV.").string());
      ASSERT_TRUE(window.create(kWindowTitle, main));
      RunSeen seen;
      seen.main = &main;
      seen.window = &real;
      seen.jobKind = jobKind;
      Fl::add_timeout(0.05, watchRun, &seen);
      window.run();
      main.joinWorker();
      const std::string what = "language " + std::to_string(e.language) + ", job " + std::to_string(jobKind);

      EXPECT_TRUE(seen.listVisible) << what;
      EXPECT_LE(seen.listBottom, seen.clientHeight) << what << ": the list is not in the opened window";
      if (jobKind == 4) {
        EXPECT_EQ(seen.lines[1], e.finished) << what;
        EXPECT_EQ(seen.lines[3], e.count) << what;
        ASSERT_EQ(seen.list.size(), 1u) << what;
        const std::string& line = seen.list[0];
        EXPECT_EQ(line.rfind((dir / "in" / "DAMAGED.NAB").string() + ": " + e.damaged, 0), 0u) << line;
        EXPECT_NE(line.find(e.block), std::string::npos) << line;
        EXPECT_TRUE(fs::exists(dir / "out" / "GOOD1.NAB") && fs::exists(dir / "out" / "GOOD2.NAB")) << what;
        // Line 1 during the run: "<share> % - <time> left   <MB> MB re-encoded: <file>".
        bool sawProgress = false;
        for (const std::string& text : window.statusTexts) {
          sawProgress = sawProgress || (text.rfind("1:", 0) == 0 && text.find(e.progress) != std::string::npos &&
                                        text.find("GOOD1.NAB") != std::string::npos);
        }
        EXPECT_TRUE(sawProgress) << what;
      } else {
        EXPECT_EQ(seen.lines[1], e.noInput) << what;
        EXPECT_EQ(seen.lines[2], "") << what;
        EXPECT_EQ(seen.lines[3], e.noInputCount) << what;
        EXPECT_TRUE(seen.list.empty()) << what;
      }
    }
  }
  fs::remove_all(dir);
}

// Paths in the real fields are held to 299 characters, not bytes: a path of
// 292 characters with umlauts (more than 299 bytes) remembered in the
// settings is taken whole and converted. A longer path in the settings is not
// taken at all (a cut one would name another file or directory, here the
// folder in/ itself): the field starts empty, and Start makes no run.
TEST(FltkMainWindow, PathsAreHeldToTheirLimitInCharacters) {
  if (!platform::openDisplay()) GTEST_SKIP() << "no X display (run under xvfb-run)";
  if (!fs::exists(fs::path(NUBO_BIN_DIR) / "make_old_nab")) GTEST_SKIP() << "make_old_nab is not built";
  const fs::path dir = fs::temp_directory_path() / ("nubo_fltk_long_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir / "in");
  fs::copy_file(fs::path(NUBO_DATA_DIR) / "NUBOCONV.h", dir / "NUBOCONV.h", fs::copy_options::overwrite_existing);
  std::string folder = dir.string() + "/in/";
  for (int i = 0; i < 9; ++i) folder += "\xC3\xA4";  // ä
  folder += std::string(100, 'd') + "/";
  const std::size_t folderChars = folder.size() - 9;
  ASSERT_LT(folderChars + 10, 292u);
  const std::string name = std::string(292 - folderChars - 4, 'f') + ".NAB";
  const std::string umlautPath = folder + name;
  ASSERT_EQ(umlautPath.size(), 301u);
  fs::create_directories(fs::u8path(folder));
  ASSERT_TRUE(makeOldFile(dir, fs::u8path(umlautPath), 9000, 7));
  ASSERT_TRUE(makeOldFile(dir, dir / "in" / "OTHER.NAB", 9000, 8));
  // 1005 characters whose first 299 name the folder in/ ("in/./././...").
  std::string overlong = dir.string() + "/in/";
  while (overlong.size() < 1000) overlong += "./";
  overlong += "A.NAB";

  for (const std::string& input : {umlautPath, overlong}) {
    fs::remove_all(dir / "out");
    Settings s;
    s.slots[2] = input;
    s.slots[3] = (dir / "out").string() + "/";
    ASSERT_TRUE(writeSettings((dir / "NUBOCONV.ini").string(), s));
    platform::FltkWindow real;
    NotingWindow window(real);
    MainWindow main(window, (dir / "NUBOCONV.").string());
    ASSERT_TRUE(window.create(kWindowTitle, main));
    const std::string shown = real.getText(kInputField);
    RunSeen seen;
    seen.main = &main;
    seen.window = &real;
    Fl::add_timeout(0.05, watchRun, &seen);
    window.run();
    main.joinWorker();
    if (input == umlautPath) {
      EXPECT_EQ(shown, umlautPath);
      EXPECT_EQ(seen.lines[3], "1 file(s) converted  0 skipped (output existed)  0 file(s) not converted");
      EXPECT_TRUE(fs::exists(dir / "out" / name));
    } else {
      EXPECT_EQ(shown, "");
      EXPECT_EQ(seen.lines[1], "No input file found.");
      EXPECT_FALSE(fs::exists(dir / "out"));
    }
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace nubo::ui
