// SPDX-License-Identifier: BSD-3-Clause
// The Win32 OS layer over real files: what a path names (with either
// separator, a drive letter, a device), directory searches, directory
// creation, and output files that get their final name only when complete,
// also with several threads committing the same output at once. The same
// contracts as the POSIX layer's tests, with Windows' own kinds of files.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "data_directory.h"
#include "os.h"
#include "std_streams.h"

namespace nubo::platform {
namespace {

namespace fs = std::filesystem;

void writeFile(const std::string& path, const std::string& content) { std::ofstream(path, std::ios::binary) << content; }

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

DWORD attributesOf(const std::string& path) { return ::GetFileAttributesA(path.c_str()); }

FILETIME writeTimeOf(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data {};
  ::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
  return data.ftLastWriteTime;
}

bool sameTime(const FILETIME& a, const FILETIME& b) {
  return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

// A fresh directory under the user's temporary directory for each test, with
// its full Windows path ("C:\...\nubo-win32-1234-5"), removed afterwards.
class WinOs : public ::testing::Test {
 public:
  void SetUp() override {
    static std::atomic<int> counter{0};
    char temp[MAX_PATH + 1] = {};
    ASSERT_GT(::GetTempPathA(MAX_PATH, temp), 0u);
    dir = std::string(temp) + "nubo-win32-" + std::to_string(::GetCurrentProcessId()) + "-" +
          std::to_string(counter++);
    ASSERT_TRUE(::CreateDirectoryA(dir.c_str(), nullptr)) << dir;
  }
  void TearDown() override {
    // Read-only files cannot be removed until they may be written.
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec); it != fs::recursive_directory_iterator(); ++it) {
      ::SetFileAttributesW(it->path().c_str(), FILE_ATTRIBUTE_NORMAL);  // (names in any script)
    }
    fs::remove_all(dir, ec);
  }
  std::string path(const std::string& name) const { return dir + "\\" + name; }
  // The same path spelled with '/' separators.
  std::string forward(const std::string& name) const {
    std::string p = path(name);
    for (char& c : p) {
      if (c == '\\') c = '/';
    }
    return p;
  }
  std::vector<std::string> temporaries() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) {
      if (isTemporaryName(e.path().filename().string())) names.push_back(e.path().filename().string());
    }
    return names;
  }
  // A committed-ready temporary file beside `finalPath` holding `content`.
  std::string temporaryWith(const std::string& finalPath, const std::string& content) {
    std::string temp, error;
    std::FILE* stream = nullptr;
    int errorNumber = 0;
    EXPECT_TRUE(createTemporaryFile(finalPath, temp, stream, errorNumber, error)) << error;
    if (stream == nullptr) return temp;
    std::fwrite(content.data(), 1, content.size(), stream);
    std::fclose(stream);
    return temp;
  }
  std::string dir;
};

TEST_F(WinOs, FileStatusTellsWhatAPathNamesUnderEverySpelling) {
  writeFile(path("file.NAB"), "12345");
  writeFile(path("other.NAB"), "x");
  ASSERT_TRUE(::CreateDirectoryA(path("sub").c_str(), nullptr));

  const FileStatus file = fileStatus(path("file.NAB"));
  EXPECT_EQ(file.kind, FileKind::Regular);
  EXPECT_EQ(file.size, 5);
  EXPECT_NE(file.inode, 0u);
  // Either separator, another case (Windows names are case-insensitive),
  // and a path with a drive letter all name the same file.
  EXPECT_TRUE(fileStatus(forward("file.NAB")).sameFileAs(file));
  EXPECT_TRUE(fileStatus(path("FILE.nab")).sameFileAs(file));
  ASSERT_EQ(dir[1], ':');
  EXPECT_TRUE(sameFile(path("file.NAB"), forward("sub/../file.NAB")));
  EXPECT_FALSE(fileStatus(path("other.NAB")).sameFileAs(file));
  EXPECT_FALSE(sameFile(path("file.NAB"), path("other.NAB")));

  EXPECT_EQ(fileStatus(path("sub")).kind, FileKind::Directory);
  EXPECT_EQ(fileStatus(path("sub") + "\\").kind, FileKind::Directory);
  EXPECT_EQ(fileStatus(path("missing")).kind, FileKind::Missing);
  EXPECT_EQ(fileStatus(path("missing\\deeper")).kind, FileKind::Missing);
  EXPECT_EQ(fileStatus(path("file.NAB\\inside")).kind, FileKind::Missing);
  // A name Windows cannot hold is nothing there.
  EXPECT_EQ(fileStatus(path("a?b")).kind, FileKind::Missing);
  // A bare drive is its root, the directory that "C:\name" is in.
  EXPECT_EQ(fileStatus(dir.substr(0, 2)).kind, FileKind::Directory);
  EXPECT_TRUE(fileStatus(dir.substr(0, 2)).sameFileAs(fileStatus(dir.substr(0, 3))));

  // The null device is a character device, the same by any spelling, and
  // no file.
  const FileStatus null = fileStatus("NUL");
  EXPECT_EQ(null.kind, FileKind::Other);
  EXPECT_TRUE(null.characterDevice);
  EXPECT_TRUE(sameFile("NUL", kNullDevice));
  EXPECT_TRUE(sameFile("nul", "NUL"));
  EXPECT_FALSE(sameFile(path("file.NAB"), "NUL"));
}

TEST_F(WinOs, FindEntriesMatchesWithoutCaseSortedAndFlagged) {
  for (const char* name : {"b.NAB", "A.nab", "c.wav", "noext", "take.nabx"}) writeFile(path(name), "x");
  ASSERT_TRUE(::CreateDirectoryA(path("Sub.NAB").c_str(), nullptr));
  std::vector<DirectoryEntry> entries;
  std::string error;

  ASSERT_TRUE(findEntries(dir, "*.NAB", entries, error)) << error;
  std::vector<std::string> names;
  for (const auto& e : entries) names.push_back(e.name);
  // Byte order; "take.nabx" is not matched even though the system's own
  // search would match its short name TAKE~1.NAB.
  EXPECT_EQ(names, (std::vector<std::string>{"A.nab", "Sub.NAB", "b.NAB"}));
  EXPECT_TRUE(entries[1].isDirectory());
  EXPECT_EQ(entries[0].status.kind, FileKind::Regular);
  EXPECT_TRUE(entries[0].status.sameFileAs(fileStatus(path("A.nab"))));

  // "*.*" is every name, also one without a dot; "." and ".." never come.
  ASSERT_TRUE(findEntries(forward(""), "*.*", entries, error)) << error;
  EXPECT_EQ(entries.size(), 6u);
  for (const auto& e : entries) EXPECT_TRUE(e.name != "." && e.name != "..");
  ASSERT_TRUE(findEntries(dir + "\\", "?.wav", entries, error));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, "c.wav");

  // An empty directory lists nothing and succeeds; a missing one and a file
  // fail with the system's reason.
  ASSERT_TRUE(::CreateDirectoryA(path("empty").c_str(), nullptr));
  EXPECT_TRUE(findEntries(path("empty"), "*.*", entries, error));
  EXPECT_TRUE(entries.empty());
  error.clear();
  EXPECT_FALSE(findEntries(path("missing"), "*.*", entries, error));
  EXPECT_FALSE(error.empty());
  error.clear();
  EXPECT_FALSE(findEntries(path("c.wav"), "*.*", entries, error));
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(entries.empty());
}

TEST_F(WinOs, DirectoriesAreMadeOnceAndOnlyUnderAnExistingOne) {
  std::string error;
  EXPECT_TRUE(createDirectory(path("new"), error));
  EXPECT_EQ(fileStatus(path("new")).kind, FileKind::Directory);
  EXPECT_FALSE(createDirectory(path("new"), error));
  EXPECT_FALSE(error.empty());
  error.clear();
  EXPECT_FALSE(createDirectory(forward("absent/child"), error));
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(createDirectory(forward("new/child"), error)) << error;
}

TEST_F(WinOs, TemporaryFilesAreFreshBesideTheFinalAndHeldWhileWritten) {
  const std::string final = path("out.NAB");
  std::string a, b, error;
  std::FILE* sa = nullptr;
  std::FILE* sb = nullptr;
  int errorNumber = 0;
  ASSERT_TRUE(createTemporaryFile(final, a, sa, errorNumber, error)) << error;
  ASSERT_TRUE(createTemporaryFile(forward("out.NAB"), b, sb, errorNumber, error)) << error;
  EXPECT_NE(fs::path(a).filename(), fs::path(b).filename());
  EXPECT_EQ(fs::path(a).parent_path(), fs::path(final).parent_path());
  const std::string name = fs::path(a).filename().string();
  EXPECT_TRUE(isTemporaryName(name)) << name;
  EXPECT_EQ(name.rfind(".out.NAB.", 0), 0u) << name;
  EXPECT_EQ(fileStatus(final).kind, FileKind::Missing);

  // While it is written nobody else may write it, but it can be read (the
  // verify pass reads an output back before it is committed).
  ASSERT_EQ(std::fputs("data", sa), 0);
  ASSERT_EQ(std::fflush(sa), 0);
  HANDLE writer = ::CreateFileA(a.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
  if (writer != INVALID_HANDLE_VALUE) ::CloseHandle(writer);
  std::FILE* reader = nullptr;
  ASSERT_TRUE(openRegularFile(a, reader, errorNumber, error)) << error;
  char got[5] = {};
  EXPECT_EQ(std::fread(got, 1, 4, reader), 4u);
  EXPECT_STREQ(got, "data");
  EXPECT_EQ(regularFileSize(reader), 4);
  std::fclose(reader);
  std::fclose(sa);
  std::fclose(sb);

  // A final name that would make the temporary path longer than the ANSI
  // functions take gets a shortened stem, and the file is still made.
  const std::string longName = std::string(240 - std::min<size_t>(dir.size(), 200), 'n') + ".NAB";
  std::string c;
  std::FILE* sc = nullptr;
  ASSERT_TRUE(createTemporaryFile(path(longName), c, sc, errorNumber, error)) << error;
  std::fclose(sc);
  EXPECT_LT(c.size(), static_cast<size_t>(MAX_PATH));
  EXPECT_TRUE(isTemporaryName(fs::path(c).filename().string()));

  // A path that is a directory has no name to write.
  EXPECT_FALSE(createTemporaryFile(dir + "\\", c, sc, errorNumber, error));
  EXPECT_EQ(errorNumber, EISDIR);
}

TEST_F(WinOs, CommitWithoutReplaceNeverReplaces) {
  const std::string final = path("out.NAB");
  std::string error;
  const std::string first = temporaryWith(final, "first");
  EXPECT_EQ(commitFile(first, final, false, FileStatus{}, false, error), CommitResult::Committed);
  EXPECT_EQ(readFile(final), "first");
  EXPECT_EQ(fileStatus(first).kind, FileKind::Missing);

  const std::string second = temporaryWith(forward("out.NAB"), "second");
  EXPECT_EQ(commitFile(second, forward("OUT.NAB"), false, FileStatus{}, false, error), CommitResult::OutputExists);
  EXPECT_EQ(readFile(final), "first");
  EXPECT_EQ(readFile(second), "second");  // left where it is
  // With sync, the rename is written through to the disk.
  EXPECT_EQ(commitFile(second, path("synced.NAB"), false, FileStatus{}, true, error), CommitResult::Committed)
      << error;
  EXPECT_EQ(readFile(path("synced.NAB")), "second");
}

TEST_F(WinOs, CommitWithReplaceReplacesOnlyTheExpectedFile) {
  const std::string final = path("out.NAB");
  writeFile(final, "old");
  const FileStatus expected = fileStatus(final);
  std::string error;

  // Still the file that was there when the job began: replaced.
  const std::string t1 = temporaryWith(final, "new");
  EXPECT_EQ(commitFile(t1, final, true, expected, false, error), CommitResult::Committed) << error;
  EXPECT_EQ(readFile(final), "new");

  // Another file took the name meanwhile: not replaced.
  const FileStatus replaced = fileStatus(final);
  ASSERT_TRUE(::DeleteFileA(final.c_str()));
  writeFile(final, "someone else's");
  const std::string t2 = temporaryWith(final, "mine");
  EXPECT_EQ(commitFile(t2, final, true, replaced, false, error), CommitResult::OutputChanged);
  EXPECT_EQ(readFile(final), "someone else's");
  EXPECT_EQ(readFile(t2), "mine");

  // Nothing was expected, but a file appeared: not replaced either.
  EXPECT_EQ(commitFile(t2, final, true, FileStatus{}, false, error), CommitResult::OutputChanged);
  EXPECT_EQ(readFile(final), "someone else's");

  // A read-only output is never replaced (Windows itself refuses; the layer
  // refuses under Wine too, which would replace it): it stays, and so does
  // the temporary file.
  const FileStatus current = fileStatus(final);
  ASSERT_TRUE(::SetFileAttributesA(final.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(commitFile(t2, final, true, current, false, error), CommitResult::Failed);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(readFile(final), "someone else's");
  EXPECT_EQ(readFile(t2), "mine");
}

// Several committers of one output at once: exactly one succeeds, and the
// output is whole (one of theirs, never a mix).
void raceCommits(WinOs& t, bool replace, bool existing) {
  const std::string final = t.path("race.NAB");
  if (existing) writeFile(final, "old");
  const FileStatus expected = fileStatus(final);
  constexpr int kCommitters = 8;
  std::vector<std::string> temps;
  for (int i = 0; i < kCommitters; ++i) temps.push_back(t.temporaryWith(final, "content " + std::to_string(i)));
  std::atomic<int> committed{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int i = 0; i < kCommitters; ++i) {
    threads.emplace_back([&, i] {
      while (!go) std::this_thread::yield();
      std::string error;
      if (commitFile(temps[i], final, replace, expected, false, error) == CommitResult::Committed) ++committed;
    });
  }
  go = true;
  for (auto& th : threads) th.join();
  EXPECT_EQ(committed.load(), 1);
  EXPECT_EQ(readFile(final).rfind("content ", 0), 0u);
  EXPECT_EQ(t.temporaries().size(), static_cast<size_t>(kCommitters - 1));
}

TEST_F(WinOs, OfSeveralCommittingWithoutReplaceOneWins) { raceCommits(*this, false, false); }
TEST_F(WinOs, OfSeveralReplacingNothingOneWins) { raceCommits(*this, true, false); }
TEST_F(WinOs, OfSeveralReplacingOneFileOneWins) { raceCommits(*this, true, true); }

TEST_F(WinOs, TimesAndAttributesOfTheInputGoThroughTheCommit) {
  const std::string input = path("in.wav");
  writeFile(input, "audio");
  // An old recording: twenty years back.
  HANDLE h = ::CreateFileA(input.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  FILETIME old {};
  SYSTEMTIME st {2005, 6, 0, 15, 12, 30, 0, 0};
  ASSERT_TRUE(::SystemTimeToFileTime(&st, &old));
  ASSERT_TRUE(::SetFileTime(h, &old, &old, &old));
  ::CloseHandle(h);
  ASSERT_TRUE(::SetFileAttributesA(input.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));

  const std::string final = path("out.NAB");
  std::string temp, error;
  std::FILE* stream = nullptr;
  int errorNumber = 0;
  ASSERT_TRUE(createTemporaryFile(final, temp, stream, errorNumber, error)) << error;
  std::fputs("compressed", stream);
  ASSERT_TRUE(syncFile(stream, error)) << error;
  ASSERT_TRUE(copyTimesAndMode(stream, input, error)) << error;
  std::fclose(stream);
  ASSERT_EQ(commitFile(temp, final, false, FileStatus{}, false, error), CommitResult::Committed) << error;
  EXPECT_EQ(readFile(final), "compressed");
  EXPECT_TRUE(sameTime(writeTimeOf(final), old));
  EXPECT_NE(attributesOf(final) & FILE_ATTRIBUTE_READONLY, 0u);

  // An output without an input gets a new file's attributes.
  const std::string plain = path("plain.wav");
  ASSERT_TRUE(createTemporaryFile(plain, temp, stream, errorNumber, error)) << error;
  ASSERT_TRUE(copyTimesAndMode(stream, input, error));
  ASSERT_TRUE(giveDefaultMode(stream, error)) << error;
  std::fclose(stream);
  // (Judged on the committed file: Wine shows every name that begins with a
  // dot, as the temporary names do, as hidden.)
  ASSERT_EQ(commitFile(temp, plain, false, FileStatus{}, false, error), CommitResult::Committed) << error;
  EXPECT_EQ(attributesOf(plain) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM), 0u);
  // A missing input: no times to take, and the reason says so.
  ASSERT_TRUE(createTemporaryFile(plain, temp, stream, errorNumber, error));
  error.clear();
  EXPECT_FALSE(copyTimesAndMode(stream, path("gone.wav"), error));
  EXPECT_FALSE(error.empty());
  std::fclose(stream);
}

TEST_F(WinOs, OnlyRegularFilesAreOpenedForReading) {
  writeFile(path("in.NAB"), "abc");
  std::FILE* stream = nullptr;
  int errorNumber = -1;
  std::string error;
  ASSERT_TRUE(openRegularFile(forward("in.NAB"), stream, errorNumber, error)) << error;
  EXPECT_EQ(std::fgetc(stream), 'a');
  // Another program may still rename the file being read, as on POSIX.
  EXPECT_TRUE(::MoveFileA(path("in.NAB").c_str(), path("moved.NAB").c_str()));
  std::fclose(stream);

  EXPECT_FALSE(openRegularFile(dir, stream, errorNumber, error));
  EXPECT_EQ(errorNumber, 0);
  EXPECT_EQ(error, "not a regular file");
  errorNumber = -1;
  EXPECT_FALSE(openRegularFile("NUL", stream, errorNumber, error));
  EXPECT_EQ(errorNumber, 0);
  EXPECT_FALSE(openRegularFile(path("in.NAB"), stream, errorNumber, error));
  EXPECT_EQ(errorNumber, ENOENT);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(regularFileSize(nullptr), -1);
}

// The UTF-16 spelling of a UTF-8 text, for checks through the system's own wide functions.
std::wstring utf16(const std::string& text) {
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), w.data(), n);
  return w;
}

TEST_F(WinOs, NamesInAnyScriptWorkThroughEveryFunction) {
  // UTF-8 names outside every ANSI code page: Japanese, German, and a
  // character beyond the first plane (a surrogate pair in UTF-16).
  const std::string folder = path("Aufnahmen Gr\xC3\xB6\xC3\x9F""e \xE7\x9B\xAE\xE5\xBD\x95");
  const std::string name = "\xE9\x9F\xB3\xE5\xA3\xB0\xF0\x9F\x8E\xB5.NAB";  // 音声🎵.NAB
  std::string error;
  ASSERT_TRUE(createDirectory(folder, error)) << error;
  EXPECT_NE(::GetFileAttributesW(utf16(folder).c_str()), INVALID_FILE_ATTRIBUTES) << "not the UTF-16 name on disk";
  EXPECT_EQ(fileStatus(folder).kind, FileKind::Directory);

  const std::string final = folder + "\\" + name;
  std::string temp;
  std::FILE* stream = nullptr;
  int errorNumber = 0;
  ASSERT_TRUE(createTemporaryFile(final, temp, stream, errorNumber, error)) << error;
  ASSERT_EQ(std::fputs("audio", stream), 0);
  std::fclose(stream);
  EXPECT_EQ(commitFile(temp, final, false, FileStatus{}, false, error), CommitResult::Committed) << error;
  EXPECT_NE(::GetFileAttributesW(utf16(final).c_str()), INVALID_FILE_ATTRIBUTES);
  const FileStatus status = fileStatus(final);
  EXPECT_EQ(status.kind, FileKind::Regular);
  EXPECT_EQ(status.size, 5);
  EXPECT_TRUE(sameFile(final, forward("Aufnahmen Gr\xC3\xB6\xC3\x9F""e \xE7\x9B\xAE\xE5\xBD\x95/") + name));

  // The search gives the name back in UTF-8, and matches it without regard to case.
  std::vector<DirectoryEntry> entries;
  ASSERT_TRUE(findEntries(folder, "\xE9\x9F\xB3*.nab", entries, error)) << error;
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, name);
  EXPECT_EQ(entries[0].status.kind, FileKind::Regular);
  // '?' stands for one character, however many bytes it has.
  EXPECT_TRUE(matchesPattern("??\xF0\x9F\x8E\xB5.NAB", name));
  EXPECT_TRUE(matchesPattern("*?.nab", name));
  EXPECT_TRUE(matchesPattern("???.NAB", name));
  EXPECT_FALSE(matchesPattern("????.NAB", name));
  EXPECT_FALSE(matchesPattern("??.NAB", name));
  ASSERT_TRUE(findEntries(dir, "*", entries, error)) << error;
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, "Aufnahmen Gr\xC3\xB6\xC3\x9F""e \xE7\x9B\xAE\xE5\xBD\x95");
  EXPECT_TRUE(entries[0].isDirectory());

  ASSERT_TRUE(openRegularFile(final, stream, errorNumber, error)) << error;
  char got[6] = {};
  EXPECT_EQ(std::fread(got, 1, 5, stream), 5u);
  EXPECT_STREQ(got, "audio");
  std::fclose(stream);
  stream = openFile(final, "rb");
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(std::fgetc(stream), 'a');
  std::fclose(stream);
  stream = openFile(folder + "\\Einstellungen \xC3\xA4.ini", "w");
  ASSERT_NE(stream, nullptr);
  std::fclose(stream);
  EXPECT_TRUE(removeFile(folder + "\\Einstellungen \xC3\xA4.ini"));
  EXPECT_FALSE(removeFile(folder + "\\Einstellungen \xC3\xA4.ini"));

  // A second commit finds the name taken; the output with the input's times.
  const std::string again = temporaryWith(final, "again");
  EXPECT_EQ(commitFile(again, final, false, FileStatus{}, false, error), CommitResult::OutputExists);
  stream = nullptr;
  ASSERT_TRUE(createTemporaryFile(final + ".copy", temp, stream, errorNumber, error)) << error;
  EXPECT_TRUE(copyTimesAndMode(stream, final, error)) << error;
  std::fclose(stream);
}

TEST_F(WinOs, ALongNameInAnyScriptIsCutAtACharacterForItsTemporaryName) {
  // Names of characters of three bytes (one UTF-16 unit) and of four bytes
  // (two units), in a directory with room to spare and in one where the
  // path is the limit: the temporary path stays within MAX_PATH UTF-16
  // units and its name within 255 bytes, the cut never splits a character,
  // and it cuts no more than it must.
  std::string error;
  const std::string deep = path(std::string(std::max<int>(10, 200 - static_cast<int>(dir.size())), 'd'));
  ASSERT_TRUE(createDirectory(deep, error)) << error;
  constexpr size_t kDecoration = 1 + 1 + 6 + 10;  // "." stem "." random ".nubo-part"
  for (const std::string& where : {dir, deep}) {
    for (const std::string& letter : {std::string("\xE9\x9F\xB3"), std::string("\xF0\x9F\x8E\xB5")}) {
      const size_t unitsPerLetter = letter.size() == 4 ? 2 : 1;
      std::string name;
      for (int k = 0; k < 120; ++k) name += letter;
      std::string temp;
      std::FILE* stream = nullptr;
      int errorNumber = 0;
      ASSERT_TRUE(createTemporaryFile(where + "\\" + name, temp, stream, errorNumber, error)) << error;
      std::fclose(stream);
      const std::wstring wideTemp = utf16(temp);
      EXPECT_LT(wideTemp.size(), static_cast<size_t>(MAX_PATH)) << temp;
      EXPECT_NE(::GetFileAttributesW(wideTemp.c_str()), INVALID_FILE_ATTRIBUTES);
      const std::string tempName = temp.substr(where.size() + 1);
      EXPECT_TRUE(isTemporaryName(tempName)) << tempName;
      EXPECT_LE(tempName.size(), 255u);
      const std::string letters = tempName.substr(1, tempName.find('.', 1) - 1);
      ASSERT_EQ(letters.size() % letter.size(), 0u) << temp;
      for (size_t k = 0; k < letters.size(); k += letter.size()) EXPECT_EQ(letters.substr(k, letter.size()), letter);
      const size_t unitsLeft = MAX_PATH - 1 - (utf16(where).size() + 1) - kDecoration;
      const size_t expected = std::min(unitsLeft / unitsPerLetter, (255 - kDecoration) / letter.size());
      EXPECT_EQ(letters.size() / letter.size(), expected) << temp;
    }
  }
}

TEST(WinOsProgram, ArgumentsAreTheWideCommandLineInUtf8) {
  char dummy[] = "ignored";
  char* argv[] = {dummy, nullptr};
  const std::vector<std::string> arguments = programArguments(1, argv);
  int n = 0;
  wchar_t** wideArguments = ::CommandLineToArgvW(::GetCommandLineW(), &n);
  ASSERT_NE(wideArguments, nullptr);
  ASSERT_EQ(arguments.size(), static_cast<size_t>(n));
  EXPECT_EQ(utf16(arguments[0]), std::wstring(wideArguments[0]));
  ::LocalFree(wideArguments);
}

TEST(WinOsProgram, ProgramDirectoryHoldsThisProgram) {
  char self[MAX_PATH + 1] = {};
  ASSERT_GT(::GetModuleFileNameA(nullptr, self, MAX_PATH), 0u);
  const std::string directory = programDirectory();
  EXPECT_EQ(fs::path(self).parent_path().string(), directory);
  EXPECT_EQ(fileStatus(directory).kind, FileKind::Directory);
  EXPECT_FALSE(systemReason(ENOENT).empty());
  EXPECT_GE(onlineProcessors(), 1);
  int ran = 0;
  startThread([&] { ran = 1; }).join();
  EXPECT_EQ(ran, 1);
}

TEST_F(WinOs, DefinitionFilesBesideTheProgramElseInShareNubo) {
  const std::string bin = path("bin");
  ASSERT_TRUE(::CreateDirectoryA(bin.c_str(), nullptr));
  ASSERT_TRUE(::CreateDirectoryA(path("share").c_str(), nullptr));
  ASSERT_TRUE(::CreateDirectoryA(path("share\\nubo").c_str(), nullptr));
  // Neither place holds it: the program's directory is named.
  EXPECT_EQ(dataDirectory(bin, "NUBOCONV.h"), bin);
  writeFile(path("share\\nubo\\NUBOCONV.h"), "x");
  EXPECT_EQ(dataDirectory(bin, "NUBOCONV.h"), path("share\\nubo"));
  EXPECT_EQ(dataDirectory(bin + "\\", "NUBOCONV.h"), path("share\\nubo"));
  // A directory of that name does not count; a file beside the program comes first.
  ASSERT_TRUE(::CreateDirectoryA((bin + "\\NUBOCONV.h").c_str(), nullptr));
  EXPECT_EQ(dataDirectory(bin, "NUBOCONV.h"), path("share\\nubo"));
  ASSERT_TRUE(::RemoveDirectoryA((bin + "\\NUBOCONV.h").c_str()));
  writeFile(bin + "\\NUBOCONV.h", "x");
  EXPECT_EQ(dataDirectory(bin, "NUBOCONV.h"), bin);
}

}  // namespace
}  // namespace nubo::platform
