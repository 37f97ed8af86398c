// The OS layer on POSIX: /proc/self/exe, opendir/readdir, mkdir, stat.
#include "os.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <utility>

namespace nubo::platform {

std::string programDirectory() {
  char buffer[PATH_MAX + 1];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, PATH_MAX);
  if (n <= 0) return ".";
  const std::string path(buffer, static_cast<size_t>(n));
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

namespace {

char fold(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

// Iterative wildcard match with one backtracking point (the last '*'): linear
// in practice and without recursion depth limits on long names.
bool wildcardMatch(const std::string& pattern, const std::string& name) {
  size_t p = 0, n = 0;
  size_t starP = std::string::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || (pattern[p] != '*' && fold(pattern[p]) == fold(name[n])))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (starP != std::string::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace

bool matchesPattern(const std::string& pattern, const std::string& name) {
  // The desktop platform's searches treat "*.*" as "every name", dot or not.
  if (pattern == "*.*") return true;
  return wildcardMatch(pattern, name);
}

std::vector<DirectoryEntry> findEntries(const std::string& directory, const std::string& pattern) {
  std::vector<DirectoryEntry> entries;
  DIR* dir = ::opendir(directory.empty() ? "/" : directory.c_str());
  if (dir == nullptr) return entries;
  while (const dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    if (!matchesPattern(pattern, name)) continue;
    DirectoryEntry entry;
    entry.name = name;
    // stat follows links, so a link to a directory counts as a directory.
    struct stat st {};
    const std::string full = (directory.empty() || directory.back() == '/') ? directory + name : directory + "/" + name;
    if (::stat(full.c_str(), &st) == 0) entry.isDirectory = S_ISDIR(st.st_mode);
    entries.push_back(std::move(entry));
  }
  ::closedir(dir);
  std::sort(entries.begin(), entries.end(),
            [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });
  return entries;
}

bool createDirectory(const std::string& path) { return ::mkdir(path.c_str(), 0777) == 0; }

bool sameFile(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::thread startThread(std::function<void()> work) { return std::thread(std::move(work)); }

}  // namespace nubo::platform
