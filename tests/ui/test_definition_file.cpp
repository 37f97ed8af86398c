// SPDX-License-Identifier: BSD-3-Clause
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <tuple>
#include <unistd.h>

#include "definition_file.h"
#include "window_definitions.h"

namespace nubo::ui {
namespace {

Definitions parsed(const std::string& bytes) {
  Definitions d;
  EXPECT_EQ(d.parse(bytes), 0);
  return d;
}

TEST(DefinitionTexts, FirstTextShowsForUndefinedEntriesAndLaterIndexWins) {
  const Definitions d = parsed("#define A 5 /*A*/\r\n#define B 7 /*first*/\r\n#define C 7 /*second*/\r\n");
  EXPECT_STREQ(d.text(5), "A");
  EXPECT_STREQ(d.text(0), "A");
  EXPECT_STREQ(d.text(99), "A");
  EXPECT_STREQ(d.text(7), "second");
  EXPECT_STREQ(d.text(100), "");
  EXPECT_STREQ(d.text(-1), "");
}

TEST(DefinitionTexts, EscapesStarsAndJoinedLines) {
  const Definitions d = parsed(
      "#define A 1 /*a\\nb*/\r\n"
      "#define B 2 /*x\\qy*/\r\n"
      "#define C 3 /*2*3*/\r\n"
      "#define D 4 /*one\r\ntwo*/\r\n"
      "#define E 6 /*back\\\\slash\\r*/\r\n"
      "#define F 8 /*a**/\r\n"
      "#define G 9 /*end*\r\n/ tail*/\r\n"
      "#define H   10    /*spaced*/\r\n");
  EXPECT_STREQ(d.text(1), "a\nb");
  EXPECT_STREQ(d.text(2), "x@y");
  EXPECT_STREQ(d.text(3), "2*3");
  EXPECT_STREQ(d.text(4), "onetwo");
  EXPECT_STREQ(d.text(6), "back\\slash\r");
  EXPECT_STREQ(d.text(8), "a*");
  EXPECT_STREQ(d.text(9), "end");  // "*" line break "/" closes like "*/"
  EXPECT_STREQ(d.text(10), "spaced");
}

TEST(DefinitionTexts, OtherLinesAreSkipped) {
  const Definitions d = parsed(
      "/* a comment */\r\n#include x 3 /*no*/\r\n#defined 4 /*odd*/\r\n\n/x 1, 2\r\n#define OK 12 /*yes*/\r\n");
  EXPECT_STREQ(d.text(12), "yes");
  // "#defined" is read as "#define" followed by the name "d": index 4.
  EXPECT_STREQ(d.text(4), "odd");
  EXPECT_STREQ(d.text(3), "odd");  // never defined: the first text of the file
  EXPECT_EQ(d.control(0).type, -1);
}

TEST(DefinitionLayout, RecordsFollowTheirTextLine) {
  Definitions d;
  d.parse("// 1, 0x50010000, 860, 0, 120, 14\r\n#define A 21 /*Start*/\r\n// 2, 010, 3, 4, 5, 6\r\n");
  EXPECT_EQ(d.control(0).type, 1);
  EXPECT_EQ(d.control(0).style, 0x50010000);
  EXPECT_EQ(d.control(0).height, 14);
  const ControlRecord& r = d.control(21);
  EXPECT_EQ(r.type, 2);
  EXPECT_EQ(r.style, 8);  // octal
  EXPECT_EQ(r.x, 3);
  EXPECT_EQ(r.width, 5);
  EXPECT_EQ(r.height, 6);
  EXPECT_EQ(d.control(22).type, -1);

  // A reload sets every type to -1; two values leave the other four as they were.
  d.parse("#define A 21 /*Start*/\r\n// 1, 7\r\n");
  EXPECT_EQ(d.control(0).type, -1);
  EXPECT_EQ(d.control(0).x, 860);
  EXPECT_EQ(r.type, 1);
  EXPECT_EQ(r.style, 7);
  EXPECT_EQ(r.x, 3);
  EXPECT_EQ(r.y, 4);
  EXPECT_EQ(r.width, 5);
  EXPECT_EQ(r.height, 6);
}

TEST(DefinitionLimits, IndexOutsideTheTableIsSkippedWhole) {
  const Definitions d = parsed(
      "#define A 3 /*three*/\r\n// 1, 2, 3, 4, 5, 6\r\n"
      "#define B 100 /*hundred*/\r\n// 9, 9, 9, 9, 9, 9\r\n"
      "#define C -1 /*minus*/\r\n"
      "#define D 99999999999999999999999 /*huge*/\r\n"
      "#define E 4 /*four*/\r\n");
  EXPECT_STREQ(d.text(3), "three");
  EXPECT_STREQ(d.text(4), "four");
  EXPECT_STREQ(d.text(0), "three");
  EXPECT_EQ(d.control(3).type, 1);  // the skipped line's layout does not land on record 3
  EXPECT_EQ(d.control(3).height, 6);
  EXPECT_EQ(std::string(d.text(4)).find("hundred"), std::string::npos);
}

TEST(DefinitionLimits, PoolOverflowIsCutAndTerminated) {
  std::string file = "#define A 1 /*" + std::string(6000, 'a') + "*/\r\n";
  file += "#define B 2 /*" + std::string(6000, 'b') + "*/\r\n";
  file += "#define C 3 /*after*/\r\n";
  const Definitions d = parsed(file);
  EXPECT_EQ(std::strlen(d.text(1)), 6000u);
  const std::size_t b = std::strlen(d.text(2));
  EXPECT_EQ(b, kTextPoolBytes - 6001 - 1);  // up to the pool's last byte, which holds the NUL
  EXPECT_EQ(std::string(d.text(2)), std::string(b, 'b'));
  EXPECT_STREQ(d.text(3), "");
  EXPECT_EQ(d.problem().line, 2);  // the text that did not fit
}

TEST(DefinitionLimits, OverlongAndMalformedInput) {
  // A layout field longer than 299 characters is cut to its first 299.
  std::string file = "#define A 1 /*x*/\r\n// " + std::string(298, ' ') + "42" + std::string(5000, '7') +
                     ", 5\r\n";
  Definitions d = parsed(file);
  EXPECT_EQ(d.control(1).type, 4);  // the 299th character is the "4"
  EXPECT_EQ(d.control(1).style, 5);
  // Files that end anywhere leave terminated texts and never fail.
  const std::string full = "#define NAME 12 /*text with \\n and * and more*/\r\n// 1, 2, 3";
  for (std::size_t n = 0; n <= full.size(); ++n) {
    Definitions cut;
    EXPECT_EQ(cut.parse(full.substr(0, n)), 0);
    EXPECT_LE(std::strlen(cut.text(12)), 40u);
  }
  // Arbitrary bytes, including NULs and lone CRs.
  std::string noise;
  for (int i = 0; i < 20000; ++i) noise += static_cast<char>((i * 7919) % 256);
  EXPECT_EQ(d.parse(noise), 0);
  EXPECT_EQ(d.parse(std::string(20000, '#')), 0);
}

std::string readBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string withoutCarriageReturns(std::string bytes) {
  bytes.erase(std::remove(bytes.begin(), bytes.end(), '\r'), bytes.end());
  return bytes;
}

// The shipped files parse to the same tables with LF line ends as with CR LF
// (an editor or a checkout may convert them).
TEST(DefinitionLineEnds, LineFeedsAloneGiveTheSameTables) {
  for (const char* name : {"NUBOCONV.h", "NUBOCONV.h01"}) {
    const std::string crlf = readBytes(std::filesystem::path(NUBO_DATA_DIR) / name);
    ASSERT_NE(crlf.find("\r\n"), std::string::npos) << name;
    const Definitions a = parsed(crlf);
    const Definitions b = parsed(withoutCarriageReturns(crlf));
    EXPECT_EQ(a.problem().line, 0) << name << ": " << a.problem().what;
    EXPECT_EQ(b.problem().line, 0) << name << ": " << b.problem().what;
    int records = 0;
    for (int i = 0; i < kTableEntries; ++i) {
      EXPECT_STREQ(a.text(i), b.text(i)) << name << " entry " << i;
      const ControlRecord &ra = a.control(i), &rb = b.control(i);
      EXPECT_EQ(std::tie(ra.type, ra.style, ra.x, ra.y, ra.width, ra.height),
                std::tie(rb.type, rb.style, rb.x, rb.y, rb.width, rb.height))
          << name << " record " << i;
      records += ra.type >= 0;
      EXPECT_EQ(a.layoutLine(i), b.layoutLine(i)) << name << " record " << i;
    }
    EXPECT_GE(records, 20) << name;
  }
  // A layout line ended by a bare LF leaves the next line to be read.
  const Definitions d = parsed("#define A 21 /*Start*/\n// 1, 2, 3, 4, 5, 6\n#define B 22 /*Exit*/\n// 1, 7\n");
  EXPECT_EQ(d.control(21).height, 6);
  EXPECT_STREQ(d.text(22), "Exit");
  EXPECT_EQ(d.control(22).style, 7);
  EXPECT_EQ(d.layoutLine(22), 4);
}

TEST(DefinitionProblems, LinesOfTextsLayoutsAndFaults) {
  Definitions d = parsed("/* c */\r\n#define A 12 /*x*/\r\n// 2, 0\r\n\r\n#define B 21 /*y*/\r\n");
  EXPECT_EQ(d.problem().line, 0);
  EXPECT_TRUE(d.defined(12));
  EXPECT_FALSE(d.defined(13));
  EXPECT_EQ(d.textLine(12), 2);
  EXPECT_EQ(d.layoutLine(12), 3);
  EXPECT_EQ(d.textLine(21), 5);
  EXPECT_EQ(d.layoutLine(21), 0);
  EXPECT_EQ(d.lastLine(), 5);
  d.parse("");
  EXPECT_EQ(d.lastLine(), 1);
  EXPECT_FALSE(d.defined(12));  // a parse forgets the last one
  // A text whose "*/" is missing swallows the lines up to the next one.
  d.parse("#define A 1 /*a*/\n#define B 2 /*open\n#define C 21 /*Start*/\n// 1, 0, 1, 1, 1, 1\n");
  EXPECT_EQ(d.problem().line, 2);
  EXPECT_NE(d.problem().what.find("*/"), std::string::npos);
  EXPECT_FALSE(d.defined(21));
  d.parse("#define A 1 /*a*/\r\n#define B 2 /*two\r\nlines*/\r\n#define C 3 /*open at the end");
  EXPECT_STREQ(d.text(2), "twolines");
  EXPECT_EQ(d.problem().line, 4);
  // A line cut short after the name or the index defines nothing further.
  d.parse("#define NAME\n#define B 21\n// 1, 5\n#define C 22 /*Exit*/\n");
  EXPECT_EQ(d.problem().line, 0);
  EXPECT_STREQ(d.text(21), "");
  EXPECT_EQ(d.control(21).style, 5);
  EXPECT_STREQ(d.text(22), "Exit");
}

// The shipped files give the window everything it needs, and each entry the
// window shows is missed by the check when its line is gone.
TEST(WindowDefinitions, TheShippedFilesHaveEveryEntryAndEachOneIsMissed) {
  for (const char* name : {"NUBOCONV.h", "NUBOCONV.h01"}) {
    const std::string file = readBytes(std::filesystem::path(NUBO_DATA_DIR) / name);
    const DefinitionProblem whole = windowDefinitionProblem(parsed(file));
    EXPECT_EQ(whole.line, 0) << name << ": " << whole.what;
    for (const ShownEntry& entry : shownEntries()) {
      const Definitions full = parsed(file);
      const int line = full.textLine(entry.index);
      ASSERT_GT(line, 0) << name << " entry " << entry.index;
      // The file without that line.
      std::size_t begin = 0;
      for (int l = 1; l < line; ++l) begin = file.find('\n', begin) + 1;
      const std::string without = file.substr(0, begin) + file.substr(file.find('\n', begin) + 1);
      const DefinitionProblem problem = windowDefinitionProblem(parsed(without));
      EXPECT_NE(problem.what.find("entry " + std::to_string(entry.index) + " ("), std::string::npos)
          << name << ": " << problem.what;
      EXPECT_EQ(problem.line, parsed(without).lastLine()) << name << " entry " << entry.index;
    }
    for (const RequiredControl& control : requiredControls()) {
      // Each required control's layout line moved off the canvas is named.
      std::string moved = file;
      const Definitions full = parsed(file);
      const int line = full.layoutLine(control.id);
      ASSERT_GT(line, 0) << name << " control " << control.id;
      std::size_t begin = 0;
      for (int l = 1; l < line; ++l) begin = moved.find('\n', begin) + 1;
      moved.replace(begin, moved.find('\r', begin) - begin,
                    "// " + std::to_string(control.type) + ", 0x50000000, 0, 300, 10, 10");
      const DefinitionProblem problem = windowDefinitionProblem(parsed(moved));
      EXPECT_EQ(problem.line, line) << name << ": " << problem.what;
      EXPECT_NE(problem.what.find("control " + std::to_string(control.id) + " ("), std::string::npos)
          << name << ": " << problem.what;
    }
    // A button without its caption, or with blanks alone.
    for (const RequiredControl& control : requiredControls()) {
      if (control.type != 1) continue;
      for (const char* caption : {"/**/", "/* \t */"}) {
        const Definitions full = parsed(file);
        const int line = full.textLine(control.id);
        std::string blank = file;
        std::size_t begin = 0;
        for (int l = 1; l < line; ++l) begin = blank.find('\n', begin) + 1;
        const std::size_t open = blank.find("/*", begin);
        blank.replace(open, blank.find("*/", open) + 2 - open, caption);
        const DefinitionProblem problem = windowDefinitionProblem(parsed(blank));
        EXPECT_EQ(problem.line, line) << name << ": " << problem.what;
        EXPECT_NE(problem.what.find("control " + std::to_string(control.id) + " (the"), std::string::npos)
            << name << ": " << problem.what;
        EXPECT_NE(problem.what.find("no caption"), std::string::npos) << name << ": " << problem.what;
      }
    }
    // Each required control laid over the next one (the last over the
    // first) is named with both, at the later of their layout lines.
    const auto controls = requiredControls();
    for (std::size_t i = 0; i < controls.size(); ++i) {
      const RequiredControl& moving = controls[i];
      const RequiredControl& under = controls[(i + 1) % controls.size()];
      const Definitions full = parsed(file);
      const ControlRecord& target = full.control(under.id);
      std::string moved = file;
      const int line = full.layoutLine(moving.id);
      std::size_t begin = 0;
      for (int l = 1; l < line; ++l) begin = moved.find('\n', begin) + 1;
      moved.replace(begin, moved.find('\r', begin) - begin,
                    "// " + std::to_string(moving.type) + ", 0x50010000, " + std::to_string(target.x + 1) + ", " +
                        std::to_string(target.y) + ", 20, 10");
      const DefinitionProblem problem = windowDefinitionProblem(parsed(moved));
      EXPECT_EQ(problem.line, std::max(line, full.layoutLine(under.id))) << name << ": " << problem.what;
      EXPECT_NE(problem.what.find("control " + std::to_string(moving.id) + " ("), std::string::npos)
          << name << ": " << problem.what;
      EXPECT_NE(problem.what.find("control " + std::to_string(under.id) + " ("), std::string::npos)
          << name << ": " << problem.what;
      // Both lines are named: either control may be the one out of place.
      for (const int named : {line, full.layoutLine(under.id)}) {
        EXPECT_NE(problem.what.find("line " + std::to_string(named) + ")"), std::string::npos)
            << name << ": " << problem.what;
      }
    }
  }
}

// The two languages are one window: the same controls in the same places
// (the list of files not converted among them, below the status lines and
// overlapping none of the other controls), and the same entries defined.
TEST(WindowDefinitions, TheShippedFilesAgree) {
  const Definitions en = parsed(readBytes(std::filesystem::path(NUBO_DATA_DIR) / "NUBOCONV.h"));
  const Definitions de = parsed(readBytes(std::filesystem::path(NUBO_DATA_DIR) / "NUBOCONV.h01"));
  for (int i = 0; i < kTableEntries; ++i) {
    EXPECT_EQ(en.defined(i), de.defined(i)) << "entry " << i;
    const ControlRecord& a = en.control(i);
    const ControlRecord& b = de.control(i);
    EXPECT_EQ(std::tie(a.type, a.style, a.x, a.y, a.width, a.height),
              std::tie(b.type, b.style, b.x, b.y, b.width, b.height))
        << "control " << i;
  }
  // No index is defined twice (the later text would hide the earlier).
  for (const char* name : {"NUBOCONV.h", "NUBOCONV.h01"}) {
    const std::string file = readBytes(std::filesystem::path(NUBO_DATA_DIR) / name);
    std::set<int> seen;
    for (std::size_t at = file.find("\n#define "); at != std::string::npos; at = file.find("\n#define ", at + 1)) {
      const std::size_t space = file.find(' ', at + 9);
      const int index = std::atoi(file.c_str() + space + 1);
      EXPECT_TRUE(seen.insert(index).second) << name << ": entry " << index << " is defined twice";
    }
    EXPECT_GT(seen.size(), 80u) << name;
  }
  const ControlRecord& list = en.control(34);
  EXPECT_EQ(list.type, 3);
  EXPECT_GE(list.y * 14, (en.control(33).y * 14 + en.control(33).height * 10));
  for (int i = 0; i < kTableEntries; ++i) {
    const ControlRecord& c = en.control(i);
    if (i == 34 || c.type < 0 || c.type > 3 || (c.style & 0x10000000) == 0 || (c.style & 0x0F) == 7) continue;
    // Rectangles in tenths of a column and hundredths of a line.
    const bool apart = c.x + c.width <= list.x || list.x + list.width <= c.x ||
                       c.y * 14 + c.height * 10 <= list.y * 14 || list.y * 14 + list.height * 10 <= c.y * 14;
    EXPECT_TRUE(apart) << "control " << i << " overlaps the list";
  }
}

TEST(DefinitionFiles, VariantNamesAndFallBack) {
  EXPECT_EQ(definitionPath("/p/NUBOCONV.", 0), "/p/NUBOCONV.h");
  EXPECT_EQ(definitionPath("/p/NUBOCONV.", 1), "/p/NUBOCONV.h01");
  EXPECT_EQ(definitionPath("/p/NUBOCONV.", 12), "/p/NUBOCONV.h12");
  EXPECT_EQ(definitionPath("/p/NUBOCONV.", 123), "/p/NUBOCONV.h123");

  const auto dir = std::filesystem::temp_directory_path() / ("nubo_defs_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string stem = (dir / "NUBOCONV.").string();
  Definitions d;
  int language = 3;
  std::string missing;
  EXPECT_EQ(loadDefinitions(stem, language, d, [&](const std::string& p) { missing = p; }), 999);
  EXPECT_EQ(missing, stem + "h");

  std::ofstream(stem + "h", std::ios::binary) << "#define A 0 /*base*/\r\n";
  std::ofstream(stem + "h01", std::ios::binary) << "#define A 0 /*variant*/\r\n";
  missing.clear();
  language = 3;
  EXPECT_EQ(loadDefinitions(stem, language, d, [&](const std::string& p) { missing = p; }), 0);
  EXPECT_EQ(language, 0);
  EXPECT_STREQ(d.text(0), "base");
  language = 1;
  EXPECT_EQ(loadDefinitions(stem, language, d, nullptr), 0);
  EXPECT_EQ(language, 1);
  EXPECT_STREQ(d.text(0), "variant");
  EXPECT_TRUE(missing.empty());
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace nubo::ui
