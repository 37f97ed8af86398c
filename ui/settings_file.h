// SPDX-License-Identifier: BSD-3-Clause
// The settings file NUBOCONV.ini beside the program: the job kind, the two
// options, the language number, ten path slots and the search setting,
// remembered from one run of the window to the next.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace nubo::ui {

inline constexpr int kSettingsVersion = 20;
inline constexpr int kPathSlots = 10;
// The longest path a field holds, in characters (not bytes).
inline constexpr std::size_t kMaxPathChars = 299;
// The most of a path line the settings file is read for: more than the
// longest path of kMaxPathChars characters takes in UTF-8, so that a longer
// line is seen to be too long rather than cut to a shorter path.
inline constexpr std::size_t kMaxPathLineBytes = 4 * kMaxPathChars + 4;
inline constexpr std::size_t kMaxVersionLineChars = 199;
inline constexpr const char* kDefaultSlot = "*.*";

// Slots 0 and 1 hold the input and output fields of job kinds 2 and 3,
// slots 2 and 3 those of job kind 4; slots 4 to 9 are kept as read.
struct Settings {
  int jobKind = 4;
  int optionA = 0;  // overwrite existing output files (check box 18)
  int optionB = 0;  // include subdirectories (check box 13)
  int languageNumber = 0;
  std::array<std::string, kPathSlots> slots;
  // Search for the smallest version-22 blocks (check box 20): the line after
  // the slots, which files written before it existed do not have (0 then).
  int best = 0;

  Settings() { slots.fill(kDefaultSlot); }
};

// Full path of the settings file beside the program for `stem`
// (".../NUBOCONV."): stem + "ini".
std::string settingsPath(const std::string& stem);

// The settings file in the user's configuration directory:
// XDG_CONFIG_HOME/nubo/NUBOCONV.ini, or HOME/.config/nubo/NUBOCONV.ini when
// XDG_CONFIG_HOME is unset, empty or not absolute. Empty when neither names
// an absolute directory.
std::string userSettingsPath(const char* xdgConfigHome, const char* home);

// The stem (".../NUBOCONV.") of the settings file of a program in
// `programDirectory` whose definition files were found in
// `definitionDirectory`. Beside the program when they are there too: the
// program's folder is the user's own (a build tree, a copied folder).
// Otherwise the program is installed (its definition files in share/nubo),
// and the settings go to the user's configuration directory, never to the
// program's directory, even for root: XDG_CONFIG_HOME/nubo/ or
// HOME/.config/nubo/ as userSettingsPath says. Empty when the program is
// installed and neither names an absolute directory.
std::string settingsStemFor(const std::string& programDirectory, const std::string& definitionDirectory,
                            const char* xdgConfigHome, const char* home);

// Whether this process may write the file at `path`: an existing file opens
// for writing, or a new one can be made there. Leaves no trace.
bool canWriteFile(const std::string& path);

// Where the settings are read and written: beside the program while that file
// can be written there, else in the user's configuration directory (an
// install to a system prefix). Pass getenv("XDG_CONFIG_HOME") and getenv("HOME").
std::string chooseSettingsPath(const std::string& stem, const char* xdgConfigHome, const char* home);

// Reads the settings from a file's bytes (text mode). Values whose lines are
// missing keep their defaults; a job kind other than 2, 3 or 4 becomes 4.
Settings parseSettings(std::string_view bytes);

// Reads the file at `path`; the defaults when it cannot be opened.
Settings readSettings(const std::string& path);

// The sixteen lines of the file: 20, job kind, option A, option B, language
// number, the ten slots, then the search setting.
std::string formatSettings(const Settings& settings);

// Creates or truncates `path` (and the directories above it) and writes the
// settings. False when the file could not be written, with the system's
// reason in `reason` when it is given.
bool writeSettings(const std::string& path, const Settings& settings, std::string* reason = nullptr);

}  // namespace nubo::ui
