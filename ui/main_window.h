// SPDX-License-Identifier: BSD-3-Clause
// The converter's main window logic, written once against platform::Window.
#pragma once

#include <atomic>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "definition_file.h"
#include "refusal_hold.h"
#include "run_events.h"
#include "run_request.h"
#include "settings_file.h"
#include "window.h"
#include "window_definitions.h"
#include "window_presenter.h"

namespace nubo::ui {

// Title of the main window.
inline constexpr const char* kWindowTitle = "format converter ver1.2 - nubo";

// Control IDs with a role in the program.
inline constexpr int kLanguageButton = 0;
inline constexpr int kInputBrowse = 11;
inline constexpr int kInputField = 12;
inline constexpr int kOptionBCheck = 13;
inline constexpr int kInputLabel = 14;
inline constexpr int kOutputLabel = 15;
inline constexpr int kOutputBrowse = 16;
inline constexpr int kOutputField = 17;
inline constexpr int kOptionACheck = 18;
inline constexpr int kHintLabel = 19;
inline constexpr int kBestCheck = 20;  // search for the smallest version-22 blocks (nubo's --best)
inline constexpr int kStartButton = 21;
inline constexpr int kExitButton = 22;
inline constexpr int kCancelButton = 23;
inline constexpr int kStatusLine1 = 31;
inline constexpr int kStatusLine2 = 32;
inline constexpr int kStatusLine3 = 33;
// The list of the files the last run did not convert, and its caption.
inline constexpr int kNotConvertedList = 34;
inline constexpr int kNotConvertedCaption = 35;

// Exit status of the program when it cannot show its window: no definition
// file, or one that cannot give the window its controls; also when the
// settings could not be saved at the end.
inline constexpr int kExitFailed = 1;

// The virtual canvas that the controls are laid out on. The horizontal
// scroll range spans its width; the vertical one the lines down to the
// lowest control.
inline constexpr int kCanvasColumns = 100;
inline constexpr int kCanvasLines = 40;

// The main window: builds its controls from the definition file, carries out
// the commands, and shows the runs that Start begins on a worker thread. All
// WindowEvents arrive on the UI thread; the run's presenter calls the
// RunDisplay operations from the worker (or, at Start, from the UI thread),
// which reach the controls through Window::runOnUiThread.
class MainWindow : public platform::WindowEvents, public RunDisplay {
 public:
  // `definitionStem` (".../NUBOCONV.") finds the definition files,
  // `settingsStem` the settings file beside the program (empty: the same).
  MainWindow(platform::Window& window, std::string definitionStem, std::string settingsStem = {});
  // Joins the worker (after asking it to stop). REQUIRES: the window's
  // message loop has ended or the queue of UI work is otherwise served.
  ~MainWindow() override;

  // platform::WindowEvents
  void onCreate() override;
  void onDestroy() override;
  void onSize(int clientWidth, int clientHeight) override;
  void onCommand(int controlId) override;
  void onScroll(platform::ScrollBar bar, platform::ScrollRequest request, int thumbPosition) override;
  // Closing during a run asks like Cancel; on Yes the window closes (and the
  // settings are saved) when the run has stopped after its current block.
  bool onClose() override;

  // RunDisplay
  void setStatusLine(int line, const std::string& text) override;
  void addNotConverted(const std::vector<std::string>& lines) override;
  void runningState() override;
  void idleState(bool stopped) override;
  std::string text(int id) const override;
  bool cancelRequested() const { return cancel_.requested(); }

  // The clock of the refusal's hold and of the time left (tests set their
  // own). UI thread, idle.
  void setClock(RefusalHold::Now now) {
    presenter_.setClock(now);
    hold_.setClock(std::move(now));
  }

  // The window starts with `path` in the input field instead of the one
  // remembered in the settings (NUBOCONV PATH). Call before the window is
  // created. REQUIRES: at most kMaxPathChars characters.
  void startWithInput(std::string path) { initialInput_ = std::move(path); }

  // Waits for the worker of the last run to end.
  void joinWorker();

  // State for inspection.
  bool created() const { return created_; }
  bool running() const { return running_.load(); }
  const Settings& settings() const { return settings_; }
  const std::string& settingsFile() const { return settingsPath_; }
  const converter::RunRequest& runRequest() const { return request_; }
  int charWidth() const { return cw_; }
  int lineHeight() const { return lh_; }
  int topMargin() const { return tm_; }
  int scrollPosition(platform::ScrollBar bar) const { return position_[index(bar)]; }
  int scrollMaximum(platform::ScrollBar bar) const { return maximum_[index(bar)]; }
  int contentLines() const { return contentLines_; }

 private:
  static int index(platform::ScrollBar bar) { return bar == platform::ScrollBar::Horizontal ? 0 : 1; }
  int inputSlot() const { return settings_.jobKind == 2 || settings_.jobKind == 3 ? 0 : 2; }
  int outputSlot() const { return inputSlot() + 1; }
  bool loadStartTexts();
  void switchLanguage();
  void showDefinitionProblem(const std::string& path, const DefinitionProblem& problem);
  void showPassedOver(const std::string& path, const DefinitionProblem& problem);
  std::string textOr(int index, const char* fallback) const;
  void showJobKindTexts();
  void clearStatusLines();
  void refuse();
  void restoreChoices();
  void showChoicesInactive(bool inactive);
  void readControls();
  void browse(bool save);
  void start();
  bool askCancel();
  void stopRun();
  void scrollBy(platform::ScrollBar bar, int step);

  platform::Window& window_;
  const std::string stem_;
  const std::string settingsStem_;
  std::string settingsPath_;
  std::string initialInput_;
  Definitions definitions_;
  Settings settings_;
  converter::RunRequest request_;
  WindowPresenter presenter_{*this};
  bool created_ = false;
  bool closePending_ = false;  // UI thread only: close the window when the run has stopped
  int cw_ = 1;
  int lh_ = 1;
  int tm_ = 0;
  int position_[2] = {0, 0};
  int maximum_[2] = {0, 0};
  int lastSize_[2] = {0, 0};
  int contentLines_ = kCanvasLines;  // lines down to the lowest visible control
  RefusalHold hold_;  // UI thread only

  converter::StopFlag cancel_;
  std::atomic<bool> running_{false};
  std::thread worker_;
};

// Creates the main window titled "format converter ver1.2 ..." on `window`,
// runs its message loop and returns the quit code (kExitFailed when no window
// could be made). `definitionStem` is the directory of the definition files
// followed by "/NUBOCONV."; `settingsStem` the same for the program's own
// directory, where the settings file is kept when it can be written there
// (empty: the definition files' directory); `initialInput`, when not empty,
// the path that the input field starts with.
int runConverterProgram(platform::Window& window, const std::string& definitionStem,
                        const std::string& settingsStem = {}, const std::string& initialInput = {});

}  // namespace nubo::ui
