// SPDX-License-Identifier: BSD-3-Clause
// The rules every window backend shares: a status line too long for its
// control, the tooltip's lines, the order in which controls are seen.
#include "window_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace nubo::platform {
namespace {

// One pixel a letter: the UTF-8 sequences, "…" among them, count one each.
int letters(const std::string& s) {
  return static_cast<int>(std::count_if(s.begin(), s.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

TEST(FitText, PathsLoseTheMiddleOfTheirDirectoriesFirst) {
  const auto bytes = letters;
  EXPECT_EQ(fitText("/short/TAKE.NAB", 40, bytes), "/short/TAKE.NAB");
  const std::string path = "/srv/archive/2021/live/TAKE.NAB";
  const std::string fitted = fitText(path, 29, bytes);
  EXPECT_EQ(fitted, "/srv/arch\xE2\x80\xA6/2021/live/TAKE.NAB");
  // A message around the path and a note after it stay whole.
  const std::string line = "Cannot open: /data/projects/tape/TAKE.NAB (No such file)";
  const std::string shortLine = fitText(line, 50, bytes);
  EXPECT_EQ(shortLine.rfind("Cannot open: /", 0), 0u) << shortLine;
  EXPECT_NE(shortLine.find("/TAKE.NAB (No such file)"), std::string::npos) << shortLine;
  EXPECT_LE(bytes(shortLine), 50);
  // Of two paths the longer directory part goes first.
  const std::string two = "/a/b/F.NAB (kept as /long/long/long/long/.F.part)";
  EXPECT_EQ(fitText(two, static_cast<int>(two.size()) - 4, bytes).rfind("/a/b/F.NAB (kept as /long", 0), 0u);
  // A letter of two bytes is never split.
  const std::string umlaut = "/\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4/x/F.NAB";
  for (int width = 8; width < bytes(umlaut); ++width) {
    const std::string u = fitText(umlaut, width, bytes);
    for (std::size_t i = 0; i + 1 < u.size(); ++i) {
      if (static_cast<unsigned char>(u[i]) == 0xC3) {
        EXPECT_EQ(static_cast<unsigned char>(u[i + 1]) & 0xC0, 0x80) << u;
      }
    }
    EXPECT_NE(u.find("/F.NAB"), std::string::npos) << width << ": " << u;
    EXPECT_LE(bytes(u), width) << u;
  }
  // Tooltip lines break after '/' or a space, a name longer than a line
  // between letters.
  EXPECT_EQ(wrapText("/srv/archive/2021/TAKE.NAB", 13, bytes), "/srv/archive/\n2021/TAKE.NAB");
  EXPECT_EQ(wrapText("/a/abcdefghij.NAB x", 6, bytes), "/a/\nabcdef\nghij.N\nAB x");
  EXPECT_EQ(wrapText("short", 60, bytes), "short");
  // A file name too long for the line loses its middle once the
  // directories are down to their "…": the reason after it stays.
  const std::string longName = "Cannot write: /data/arch/" + std::string(100, 'e') + ".NAB (File name too long)";
  const std::string named = fitText(longName, 60, bytes);
  EXPECT_EQ(named.rfind("Cannot write: /\xE2\x80\xA6/e", 0), 0u) << named;
  EXPECT_TRUE(named.ends_with("e.NAB (File name too long)")) << named;
  EXPECT_LE(bytes(named), 60) << named;
  // When even that is too wide, the end goes.
  EXPECT_EQ(fitText("no path in this text at all", 10, bytes), "no path i\xE2\x80\xA6");
}

#ifdef _WIN32
TEST(FitText, WindowsPathsWithDrivesAndBackslashes) {
  // A drive's path loses the middle of its directories; the reason after it stays.
  const std::string line = "C:\\Aufnahmen\\Archiv\\2021\\live\\\xE9\x9F\xB3\xE5\xA3\xB0.NAB (File name is too long)";
  const std::string fitted = fitText(line, letters(line) - 6, letters);
  EXPECT_EQ(fitted.rfind("C:\\Auf", 0), 0u) << fitted;
  EXPECT_NE(fitted.find("\xE2\x80\xA6"), std::string::npos) << fitted;
  EXPECT_NE(fitted.find("\\\xE9\x9F\xB3\xE5\xA3\xB0.NAB (File name is too long)"), std::string::npos) << fitted;
  // Both separators, and a UNC share.
  const std::string unc = fitText("\\\\server\\share\\long\\dir\\F.NAB", 20, letters);
  EXPECT_EQ(unc.rfind("\\\\", 0), 0u) << unc;
  EXPECT_EQ(unc.substr(unc.size() - 6), "\\F.NAB") << unc;
  EXPECT_LE(letters(unc), 20) << unc;
  EXPECT_EQ(wrapText("C:\\snd/archive\\T.NAB", 9, letters), "C:\\snd/\narchive\\\nT.NAB");
}
#endif

TEST(ReadingOrder, RowsFromTheTopEachFromTheLeft) {
  // The converter's rows: a field before its Browse button; a label whose
  // middle lies within the row's first control joins that row.
  const std::vector<std::pair<int, Rect>> controls = {
      {11, {840, 40, 140, 14}}, {12, {130, 40, 700, 14}}, {13, {130, 52, 500, 12}}, {14, {20, 41, 100, 10}},
      {2, {60, 19, 180, 12}},   {4, {450, 19, 290, 12}},  {3, {240, 19, 210, 12}},  {0, {860, 0, 120, 14}}};
  EXPECT_EQ(readingOrder(controls), (std::vector<int>{0, 2, 3, 4, 14, 12, 11, 13}));
  // Controls in one place keep their given order.
  EXPECT_EQ(readingOrder({{5, {0, 0, 10, 10}}, {1, {0, 0, 10, 10}}}), (std::vector<int>{5, 1}));
  EXPECT_TRUE(readingOrder({}).empty());
}

}  // namespace
}  // namespace nubo::platform
