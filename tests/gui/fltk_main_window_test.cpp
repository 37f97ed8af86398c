// SPDX-License-Identifier: BSD-3-Clause
// The main window logic on the FLTK backend, on a real (virtual) display,
// with the shipped layout: the vertical scroll range fits the controls.
// GoogleTest before FLTK: an FLTK header brings in X11's None and Bool macros.
#include <gtest/gtest.h>

#include <FL/Fl.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Scrollbar.H>
#include <FL/Fl_Window.H>

#include <algorithm>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "fltk_window.h"
#include "main_window.h"

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
    // The shipped layout ends with status line 3, about 22 lines down; the
    // range covers those lines (and the two the range keeps in hand), not
    // the 40 of the whole canvas.
    EXPECT_GE(main.contentLines(), 20);
    EXPECT_LE(main.contentLines(), 24);
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

}  // namespace
}  // namespace nubo::ui
