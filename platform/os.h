// What the system needs of the operating system: its own directory, directory
// searches with the pattern rules of the desktop platform the file formats
// come from, directory creation and the worker thread.
#pragma once

#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace nubo::platform {

// Directory of the running executable (from /proc/self/exe), no trailing '/'.
std::string programDirectory();

struct DirectoryEntry {
  std::string name;       // the entry's own name, no directory part
  bool isDirectory = false;
};

// Case-insensitive match with '*' (any run, also empty) and '?' (any one
// character); "*.*" matches every name, also names without a dot.
bool matchesPattern(const std::string& pattern, const std::string& name);

// The entries of `directory` whose names match `pattern`, sorted by name
// (byte order) so that runs are repeatable. "." and ".." are never returned.
// An unreadable or missing directory yields no entries.
std::vector<DirectoryEntry> findEntries(const std::string& directory, const std::string& pattern);

// Creates one directory. False when it could not be created, also when it
// exists already.
bool createDirectory(const std::string& path);

// True when both paths name the same existing file (by any spelling or link).
bool sameFile(const std::string& a, const std::string& b);

// Starts `work` on a new thread.
std::thread startThread(std::function<void()> work);

}  // namespace nubo::platform
