// SPDX-License-Identifier: BSD-3-Clause
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

#include "settings_file.h"

namespace nubo::ui {
namespace {

std::string lines(std::initializer_list<std::string> values) {
  std::string out;
  for (const auto& v : values) out += v + "\n";
  return out;
}

TEST(SettingsRead, VersionSelectsTheLayout) {
  // Version 15: no option B or language lines; ten path lines follow option A.
  Settings s = parseSettings(lines({"15", "2", "1", "p0", "p1", "p2", "p3", "p4", "p5", "p6", "p7", "p8", "p9"}));
  EXPECT_EQ(s.jobKind, 2);
  EXPECT_EQ(s.optionA, 1);
  EXPECT_EQ(s.optionB, 0);
  EXPECT_EQ(s.languageNumber, 0);
  EXPECT_EQ(s.slots[0], "p0");
  EXPECT_EQ(s.slots[9], "p9");

  s = parseSettings(lines({"20", "3", "0", "1", "2", "in/", "", "c", "d"}));
  EXPECT_EQ(s.jobKind, 3);
  EXPECT_EQ(s.optionB, 1);
  EXPECT_EQ(s.languageNumber, 2);
  EXPECT_EQ(s.slots[0], "in/");
  EXPECT_EQ(s.slots[1], "*");    // an empty path line
  EXPECT_EQ(s.slots[3], "d");
  EXPECT_EQ(s.slots[4], "*.*");  // missing lines keep their defaults

  for (const char* version : {"7", "35", "", "x"}) {
    s = parseSettings(lines({version, "3", "1", "1", "5", "a", "b"}));
    EXPECT_EQ(s.jobKind, 3) << version;
    EXPECT_EQ(s.optionA, 1) << version;
    EXPECT_EQ(s.optionB, 0) << version;
    EXPECT_EQ(s.languageNumber, 0) << version;
    EXPECT_EQ(s.slots[0], "*.*") << version;
  }
}

TEST(SettingsRead, JobKindOutsideTwoToFourBecomesFour) {
  for (const char* kind : {"5", "0", "-3", "99999999999999999999"}) {
    EXPECT_EQ(parseSettings(lines({"20", kind})).jobKind, 4) << kind;
  }
  EXPECT_EQ(parseSettings("").jobKind, 4);
  EXPECT_EQ(parseSettings("20\n").slots[2], "*.*");
}

// A path longer than 299 characters is not taken (nor cut to another path):
// its slot is empty. The limit counts characters, not bytes.
TEST(SettingsRead, OverlongPathLinesAreNotTakenNorSpill) {
  const std::string exact(299, 'x');
  const std::string longer = std::string(299, 'y') + "REST";
  const std::string far(5000, 'z');  // longer than the line is read for
  Settings s = parseSettings(lines({"20", "4", "0", "0", "0", exact, longer, far, "next"}) + "last");
  EXPECT_EQ(s.slots[0], exact);            // keeps its last character
  EXPECT_EQ(s.slots[1], "");
  EXPECT_EQ(s.slots[2], "");
  EXPECT_EQ(s.slots[3], "next");           // the rest of the long line is skipped
  EXPECT_EQ(s.slots[4], "last");           // no line feed at the end: nothing is removed
  // 292 characters in 301 bytes (nine umlauts), 299 CJK characters in 897
  // bytes: taken whole; 300 CJK characters: too long.
  std::string umlauts = "/tmp/";
  for (int i = 0; i < 9; ++i) umlauts += "\xC3\xA4";
  umlauts += std::string(292 - 5 - 9, 'u');
  ASSERT_EQ(umlauts.size(), 301u);
  std::string cjk = "/";
  for (int i = 0; i < 298; ++i) cjk += "\xE9\x9F\xB3";  // 音
  const std::string cjkLonger = cjk + "\xE5\xA3\xB0";   // 声
  s = parseSettings(lines({"20", "4", "0", "0", "0", umlauts, cjk, cjkLonger, "x"}));
  EXPECT_EQ(s.slots[0], umlauts);
  EXPECT_EQ(s.slots[1], cjk);
  EXPECT_EQ(s.slots[2], "");
  EXPECT_EQ(s.slots[3], "x");
  // Written back whole, and read back the same; the slot not taken as an
  // empty field is ("*").
  const Settings back = parseSettings(formatSettings(s));
  EXPECT_EQ(back.slots[0], umlauts);
  EXPECT_EQ(back.slots[1], cjk);
  EXPECT_EQ(back.slots[2], "*");
}

// The search setting is the line after the slots: files written before it
// existed (fifteen lines) read as before, with the search off; older
// versions never have it.
TEST(SettingsRead, TheSearchSettingFollowsTheSlots) {
  const std::string fifteen =
      lines({"20", "2", "1", "1", "3", "p0", "p1", "p2", "p3", "p4", "p5", "p6", "p7", "p8", "p9"});
  Settings s = parseSettings(fifteen);
  EXPECT_EQ(s.jobKind, 2);
  EXPECT_EQ(s.optionA, 1);
  EXPECT_EQ(s.optionB, 1);
  EXPECT_EQ(s.languageNumber, 3);
  EXPECT_EQ(s.slots[9], "p9");
  EXPECT_EQ(s.best, 0);
  EXPECT_EQ(parseSettings(fifteen + "1\n").best, 1);
  EXPECT_EQ(parseSettings(fifteen + "7\n").best, 1);  // any other number than 0 turns it on
  EXPECT_EQ(parseSettings(fifteen + "0\n").best, 0);
  EXPECT_EQ(parseSettings(fifteen + "\n").best, 0);
  // A short file ends before it: the slots that are there, the search off.
  s = parseSettings(lines({"20", "4", "0", "0", "0", "only"}));
  EXPECT_EQ(s.slots[0], "only");
  EXPECT_EQ(s.slots[1], "*.*");
  EXPECT_EQ(s.best, 0);
  // Version 15 has no such line: the line after its slots is not read.
  EXPECT_EQ(parseSettings(lines({"15", "2", "1", "p0", "p1", "p2", "p3", "p4", "p5", "p6", "p7", "p8", "p9", "1"})).best, 0);
  // Written and read again.
  Settings on;
  on.best = 1;
  EXPECT_EQ(parseSettings(formatSettings(on)).best, 1);
  EXPECT_EQ(parseSettings(formatSettings(Settings{})).best, 0);
}

TEST(SettingsFile, RoundTripAndMissingFile) {
  const auto dir = std::filesystem::temp_directory_path() / ("nubo_settings_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string path = settingsPath((dir / "NUBOCONV.").string());
  EXPECT_EQ(path, (dir / "NUBOCONV.ini").string());
  EXPECT_EQ(readSettings(path).slots[5], "*.*");

  Settings s;
  s.jobKind = 2;
  s.optionA = 1;
  s.optionB = 1;
  s.languageNumber = 12;
  for (int i = 0; i < kPathSlots; ++i) s.slots[i] = "/dir " + std::to_string(i) + "/*.NAB";
  s.slots[7] = std::string(299, 'z');
  s.best = 1;
  ASSERT_TRUE(writeSettings(path, s));

  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  in.close();  // (Windows removes no file that is open)
  int count = 0;
  for (char c : text.str()) count += c == '\n';
  EXPECT_EQ(count, 16);
  EXPECT_EQ(text.str().substr(0, 3), "20\n");
  EXPECT_EQ(text.str().substr(text.str().size() - 2), "1\n");  // the search setting closes the file

  const Settings back = readSettings(path);
  EXPECT_EQ(back.jobKind, 2);
  EXPECT_EQ(back.optionA, 1);
  EXPECT_EQ(back.optionB, 1);
  EXPECT_EQ(back.languageNumber, 12);
  EXPECT_EQ(back.slots, s.slots);
  EXPECT_EQ(back.best, 1);

  // A slot with a line break cannot shift the later lines.
  s.slots[0] = "two\nlines";
  EXPECT_EQ(parseSettings(formatSettings(s)).slots[1], s.slots[1]);
  // Missing directories are made; one that cannot be made gives the reason.
  EXPECT_TRUE(writeSettings((dir / "made" / "nubo" / "NUBOCONV.ini").string(), s));
  EXPECT_EQ(readSettings((dir / "made" / "nubo" / "NUBOCONV.ini").string()).slots[9], s.slots[9]);
  std::string reason;
  EXPECT_FALSE(writeSettings(path + "/under-a-file/NUBOCONV.ini", s, &reason));
  EXPECT_FALSE(reason.empty());
  std::filesystem::remove_all(dir);
}

TEST(SettingsRead, CrLfLineEndsLeaveNoCarriageReturn) {
  const Settings s = parseSettings("20\r\n2\r\n1\r\n1\r\n1\r\n/in/\r\n\r\n/x/*.NAB\r\nout\r");
  EXPECT_EQ(s.jobKind, 2);
  EXPECT_EQ(s.languageNumber, 1);
  EXPECT_EQ(s.slots[0], "/in/");
  EXPECT_EQ(s.slots[1], "*");  // an empty line
  EXPECT_EQ(s.slots[2], "/x/*.NAB");
  EXPECT_EQ(s.slots[3], "out");
  // The limit counts the path, not its line end.
  const std::string exact(299, 'x');
  EXPECT_EQ(parseSettings("20\r\n4\r\n0\r\n0\r\n0\r\n" + exact + "\r\n").slots[0], exact);
}

// What is read is what is written back: carriage returns at the end of a
// line (also those beyond the limit) and what follows a NUL byte are not
// part of a path.
TEST(SettingsRead, WhatIsReadWritesBackTheSame) {
  using namespace std::string_literals;
  const std::string cut = std::string(297, 'p') + "\r\r\r\r";
  const Settings s = parseSettings("20\n3\n0\n0\n0\n/a\r\r\r\n"s + "b\0c\r\n"s + cut + "\n" + "\r\r\0\r\r"s);
  EXPECT_EQ(s.slots[0], "/a");
  EXPECT_EQ(s.slots[1], "b");
  EXPECT_EQ(s.slots[2], std::string(297, 'p'));
  EXPECT_EQ(s.slots[3], "*");
  const Settings back = parseSettings(formatSettings(s));
  EXPECT_EQ(back.slots, s.slots);
}

TEST(SettingsLocation, BesideTheProgramElseTheUserConfigurationDirectory) {
  EXPECT_EQ(userSettingsPath("/x/cfg", "/home/u"), "/x/cfg/nubo/NUBOCONV.ini");
  EXPECT_EQ(userSettingsPath(nullptr, "/home/u"), "/home/u/.config/nubo/NUBOCONV.ini");
  EXPECT_EQ(userSettingsPath("", "/home/u"), "/home/u/.config/nubo/NUBOCONV.ini");
  EXPECT_EQ(userSettingsPath("relative", "/home/u"), "/home/u/.config/nubo/NUBOCONV.ini");
  EXPECT_EQ(userSettingsPath(nullptr, nullptr), "");

  const auto dir = std::filesystem::temp_directory_path() / ("nubo_location_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir / "prog");
  const std::string stem = (dir / "prog" / "NUBOCONV.").string();
  EXPECT_EQ(chooseSettingsPath(stem, "/x/cfg", "/home/u"), stem + "ini");
  EXPECT_FALSE(std::filesystem::exists(stem + "ini")) << "the probe left a file";
  // A settings "file" that cannot be written there (here a directory; for a
  // user other than root also a read-only program directory).
  std::filesystem::create_directories(stem + "ini");
  EXPECT_EQ(chooseSettingsPath(stem, "/x/cfg", "/home/u"), "/x/cfg/nubo/NUBOCONV.ini");
  EXPECT_EQ(chooseSettingsPath(stem, nullptr, nullptr), stem + "ini");  // nowhere else to go
  std::filesystem::remove_all(dir);
}

TEST(SettingsLocation, AnInstalledProgramKeepsThemInTheUserConfigurationDirectory) {
  // Definition files beside the program: its folder is the user's own.
  EXPECT_EQ(settingsStemFor("/opt/x/bin", "/opt/x/bin", "/x/cfg", "/home/u"), "/opt/x/bin/NUBOCONV.");
  // Installed (definition files in ../share/nubo): never the program's
  // directory, whoever runs it and whether or not it could be written.
  EXPECT_EQ(settingsStemFor("/usr/bin", "/usr/share/nubo", "/x/cfg", "/root"), "/x/cfg/nubo/NUBOCONV.");
  EXPECT_EQ(settingsStemFor("/usr/bin", "/usr/share/nubo", nullptr, "/root"), "/root/.config/nubo/NUBOCONV.");
  EXPECT_EQ(settingsStemFor("/usr/bin", "/usr/share/nubo", "relative", nullptr), "");
  EXPECT_EQ(settingsStemFor("/usr/bin", "/usr/share/nubo", nullptr, nullptr), "");
}

}  // namespace
}  // namespace nubo::ui
