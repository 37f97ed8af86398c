// SPDX-License-Identifier: BSD-3-Clause
#include "window_text.h"

#include <algorithm>
#include <cctype>

#include "os.h"

namespace nubo::platform {

namespace {

constexpr const char* kEllipsis = "\xE2\x80\xA6";  // U+2026 in UTF-8

bool continuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Where the path that may start at `i` has its first separator: `i` itself,
// or after a drive on Windows ("C:\"); npos when no path starts there.
std::size_t rootSeparator(const std::string& text, std::size_t i) {
  if (isPathSeparator(text[i])) return i;
#ifdef _WIN32
  if (i + 2 < text.size() && std::isalpha(static_cast<unsigned char>(text[i])) && text[i + 1] == ':' &&
      isPathSeparator(text[i + 2])) {
    return i + 2;
  }
#endif
  return std::string::npos;
}

// A part of a path that may lose its middle: a directory part (between the
// path's first and last separator), which keeps whole directories at its
// end, or a file name (after the last separator).
struct Span {
  std::size_t begin, end;  // [begin, end) of the text
  bool directories;
};

// The directory parts of the paths in `text`, then their file names: the
// order in which they give up characters.
std::vector<Span> shortenableParts(const std::string& text) {
  std::vector<Span> directories;
  std::vector<Span> names;
  std::size_t i = 0;
  while (i < text.size()) {
    const bool canStart = i == 0 || text[i - 1] == ' ' || text[i - 1] == '(';
    const std::size_t root = canStart ? rootSeparator(text, i) : std::string::npos;
    if (root == std::string::npos) {
      ++i;
      continue;
    }
    std::size_t end = text.size();
    for (const char* stop : {" (", ")", "; "}) end = std::min(end, text.find(stop, root));
    const std::size_t last = text.find_last_of(kPathSeparators, end - 1);
    if (last != std::string::npos && last > root + 1) directories.push_back({root + 1, last, true});
    if (last != std::string::npos && end > last + 1) names.push_back({last + 1, end, false});
    i = std::max(end, root + 1);
  }
  directories.insert(directories.end(), names.begin(), names.end());
  return directories;
}

}  // namespace

std::string fitText(const std::string& text, int width, const std::function<int(const std::string&)>& measure) {
  if (measure(text) <= width) return text;
  // Each part keeps `kept[k]` bytes, half from its start and half from its
  // end, around one ellipsis. The directory parts give up characters first,
  // longest first; only when they are all down to their ellipsis do the
  // file names, so that a note after a path (the system's reason) stays.
  std::vector<Span> parts = shortenableParts(text);
  std::vector<std::size_t> kept;
  for (const Span& p : parts) kept.push_back(p.end - p.begin);
  // compose() writes the parts in the order of the text.
  std::vector<std::size_t> inTextOrder(parts.size());
  for (std::size_t k = 0; k < parts.size(); ++k) inTextOrder[k] = k;
  std::sort(inTextOrder.begin(), inTextOrder.end(),
            [&](std::size_t a, std::size_t b) { return parts[a].begin < parts[b].begin; });
  auto compose = [&] {
    std::string out;
    std::size_t at = 0;
    for (const std::size_t k : inTextOrder) {
      const Span& p = parts[k];
      out.append(text, at, p.begin - at);
      const std::size_t length = p.end - p.begin;
      if (kept[k] >= length) {
        out.append(text, p.begin, length);
      } else {
        std::size_t head = p.begin + kept[k] / 2;
        while (head > p.begin && continuationByte(text[head])) --head;
        std::size_t tail = p.end - (kept[k] - kept[k] / 2);
        if (p.directories) {
          // The end keeps whole directories: it starts at a separator, the
          // one before its first kept byte (the measure decides whether that
          // is too much), or else the next one.
          std::size_t slash = text.find_last_of(kPathSeparators, tail);
          if (slash == std::string::npos || slash < head) slash = text.find_first_of(kPathSeparators, tail);
          tail = slash == std::string::npos || slash > p.end ? p.end : slash;
        } else {
          while (tail < p.end && continuationByte(text[tail])) ++tail;
        }
        out.append(text, p.begin, head - p.begin);
        out += kEllipsis;
        out.append(text, tail, p.end - tail);
      }
      at = p.end;
    }
    out.append(text, at, std::string::npos);
    return out;
  };
  for (;;) {
    // The longest directory part with something left, else the longest name.
    std::size_t longest = parts.size();
    for (const bool directories : {true, false}) {
      for (std::size_t k = 0; k < parts.size(); ++k) {
        if (parts[k].directories == directories && kept[k] > 0 &&
            (longest == parts.size() || kept[k] > kept[longest])) {
          longest = k;
        }
      }
      if (longest != parts.size()) break;
    }
    if (longest == parts.size()) break;  // every part is down to its ellipsis
    --kept[longest];
    const std::string shortened = compose();
    if (measure(shortened) <= width) return shortened;
  }
  // Still too wide: cut the shortened text at its end.
  const std::string shortened = compose();
  std::size_t n = shortened.size();
  while (n > 0) {
    --n;
    while (n > 0 && continuationByte(shortened[n])) --n;
    const std::string cut = shortened.substr(0, n) + kEllipsis;
    if (measure(cut) <= width) return cut;
  }
  return kEllipsis;
}

std::string wrapText(const std::string& text, int width, const std::function<int(const std::string&)>& measure) {
  const std::string breaks = std::string(kPathSeparators) + " ";
  std::string out;
  std::string line;
  std::size_t i = 0;
  while (i < text.size()) {
    // The next piece: up to and including the next separator or space.
    std::size_t end = text.find_first_of(breaks, i);
    end = end == std::string::npos ? text.size() : end + 1;
    std::string piece = text.substr(i, end - i);
    i = end;
    if (measure(line + piece) <= width) {
      line += piece;
      continue;
    }
    if (!line.empty()) {
      out += line + '\n';
      line.clear();
    }
    // A piece wider than a whole line is broken between letters.
    while (measure(piece) > width) {
      std::size_t n = 1;
      while (n < piece.size() && continuationByte(piece[n])) ++n;
      for (std::size_t next = n; next < piece.size();) {
        std::size_t after = next + 1;
        while (after < piece.size() && continuationByte(piece[after])) ++after;
        if (measure(piece.substr(0, after)) > width) break;
        n = next = after;
      }
      out += piece.substr(0, n) + '\n';
      piece.erase(0, n);
    }
    line = piece;
  }
  return out + line;
}

std::vector<int> readingOrder(const std::vector<std::pair<int, Rect>>& controls) {
  std::vector<std::pair<int, Rect>> items = controls;
  const auto middle = [](const std::pair<int, Rect>& c) { return c.second.y + c.second.height / 2; };
  std::stable_sort(items.begin(), items.end(), [&](const auto& a, const auto& b) { return middle(a) < middle(b); });
  std::vector<int> ordered;
  for (std::size_t rowStart = 0; rowStart < items.size();) {
    const Rect& first = items[rowStart].second;
    std::size_t rowEnd = rowStart + 1;
    while (rowEnd < items.size() && middle(items[rowEnd]) < first.y + std::max(1, first.height)) ++rowEnd;
    std::stable_sort(items.begin() + rowStart, items.begin() + rowEnd,
                     [](const auto& a, const auto& b) { return a.second.x < b.second.x; });
    for (std::size_t k = rowStart; k < rowEnd; ++k) ordered.push_back(items[k].first);
    rowStart = rowEnd;
  }
  return ordered;
}

}  // namespace nubo::platform
