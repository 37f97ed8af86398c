// SPDX-License-Identifier: BSD-3-Clause
// The POSIX OS layer over real files: what a path names, directory searches,
// and output files that get their final name only when complete, also with
// two processes committing the same output at once.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "os.h"
#include "utf8_path.h"

namespace nubo::platform {
namespace {

namespace fs = std::filesystem;

void writeFile(const std::string& path, const std::string& content) { std::ofstream(path, std::ios::binary) << content; }

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

// True when `check` holds in a forked child running as "nobody", so that
// permissions apply also when the tests run as root.
bool holdsAsNobody(const std::function<bool()>& check) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
                             ::setresuid(65534, 65534, 65534) != 0)) {
      ::_exit(2);
    }
    ::_exit(check() ? 0 : 1);
  }
  int status = 0;
  return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A fresh directory under /tmp for each test, removed afterwards.
class Os : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/nubo-platform-XXXXXX";
    ASSERT_NE(::mkdtemp(templ), nullptr);
    dir = templ;
    ASSERT_EQ(::chmod(dir.c_str(), 0755), 0);  // "nobody" may enter
  }
  void TearDown() override { fs::remove_all(dir); }

 public:
  std::string path(const std::string& name) const { return dir + "/" + name; }

  // A completed temporary file for `finalPath` holding `content`.
  std::string temporaryWith(const std::string& finalPath, const std::string& content) {
    std::string tempPath, error;
    std::FILE* stream = nullptr;
    int errorNumber = 0;
    EXPECT_TRUE(createTemporaryFile(finalPath, tempPath, stream, errorNumber, error)) << error;
    if (stream == nullptr) return tempPath;
    std::fputs(content.c_str(), stream);
    EXPECT_TRUE(syncFile(stream, error)) << error;
    EXPECT_EQ(std::fclose(stream), 0);
    return tempPath;
  }

  std::string dir;
};

TEST_F(Os, FileStatusTellsWhatAPathNames) {
  writeFile(path("file"), "12345");
  ASSERT_EQ(::mkdir(path("sub").c_str(), 0755), 0);
  ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0644), 0);
  ASSERT_EQ(::symlink("file", path("to-file").c_str()), 0);
  ASSERT_EQ(::symlink("nowhere", path("dead").c_str()), 0);
  ASSERT_EQ(::symlink("nowhere-else", path("dead2").c_str()), 0);
  ASSERT_EQ(::symlink("loop-b", path("loop-a").c_str()), 0);
  ASSERT_EQ(::symlink("loop-a", path("loop-b").c_str()), 0);

  const FileStatus file = fileStatus(path("file"));
  struct stat st {};
  ASSERT_EQ(::stat(path("file").c_str(), &st), 0);
  EXPECT_EQ(file.kind, FileKind::Regular);
  EXPECT_EQ(file.size, 5);
  EXPECT_EQ(file.inode, static_cast<uint64_t>(st.st_ino));
  EXPECT_EQ(fileStatus(path("sub")).kind, FileKind::Directory);
  EXPECT_EQ(fileStatus(path("fifo")).kind, FileKind::Other);
  EXPECT_EQ(fileStatus(path("absent")).kind, FileKind::Missing);
  EXPECT_EQ(fileStatus(path("file/below")).kind, FileKind::Missing);
  EXPECT_TRUE(fileStatus(path("to-file")).sameFileAs(file));  // links are followed

  const FileStatus dead = fileStatus(path("dead"));
  EXPECT_EQ(dead.kind, FileKind::DanglingLink);
  EXPECT_EQ(dead.error, "No such file or directory");
  EXPECT_TRUE(dead.sameFileAs(fileStatus(path("dead"))));
  EXPECT_FALSE(dead.sameFileAs(fileStatus(path("dead2"))));
  const FileStatus loop = fileStatus(path("loop-a"));
  EXPECT_EQ(loop.kind, FileKind::Error);
  EXPECT_EQ(loop.error, "Too many levels of symbolic links");
  EXPECT_FALSE(fileStatus(path("absent")).sameFileAs(fileStatus(path("absent"))));

  EXPECT_TRUE(sameFile(path("file"), dir + "/./to-file"));
  EXPECT_FALSE(sameFile(path("file"), path("sub")));
  EXPECT_FALSE(sameFile(path("absent"), path("absent")));
  std::string error;
  EXPECT_TRUE(createDirectory(path("new"), error)) << error;
  EXPECT_FALSE(createDirectory(path("new"), error));
  EXPECT_EQ(error, "File exists");
}

TEST_F(Os, FindEntriesListsMatchesSortedWithTheirStatus) {
  for (const char* name : {"b.wav", "a.nab", "A.NAB"}) writeFile(path(name), name);
  ASSERT_EQ(::mkdir(path("sub").c_str(), 0755), 0);
  ASSERT_EQ(::symlink("sub", path("to-sub").c_str()), 0);
  ASSERT_EQ(::symlink("nowhere", path("dead").c_str()), 0);
  ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0644), 0);

  std::vector<DirectoryEntry> entries;
  std::string error;
  ASSERT_TRUE(findEntries(dir, "*.*", entries, error)) << error;
  std::vector<std::string> names;
  for (const DirectoryEntry& e : entries) names.push_back(e.name);
  ASSERT_EQ(names, (std::vector<std::string>{"A.NAB", "a.nab", "b.wav", "dead", "fifo", "sub", "to-sub"}));
  EXPECT_EQ(entries[2].status.size, 5);
  EXPECT_EQ(entries[3].status.kind, FileKind::DanglingLink);
  EXPECT_EQ(entries[4].status.kind, FileKind::Other);
  EXPECT_TRUE(entries[5].isDirectory());
  EXPECT_TRUE(entries[6].isDirectory());  // a link to a directory counts as one
  // ... and is marked as a link, which a walk does not enter.
  EXPECT_TRUE(entries[6].link);
  EXPECT_FALSE(entries[6].isRealDirectory());
  EXPECT_TRUE(entries[5].isRealDirectory());
  EXPECT_TRUE(entries[3].link);  // dangling
  EXPECT_FALSE(entries[2].link);
  EXPECT_FALSE(entries[4].link);

  ASSERT_TRUE(findEntries(dir + "/", "*.nab", entries, error)) << error;
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1].name, "a.nab");
}

TEST(Utf8Text, CharactersAreCountedNotBytes) {
  EXPECT_EQ(utf8Characters(""), 0u);
  EXPECT_EQ(utf8Characters("take.NAB"), 8u);
  EXPECT_EQ(utf8Characters("\xC3\xA4\xC3\xB6\xC3\xBC"), 3u);        // äöü
  EXPECT_EQ(utf8Characters("\xE9\x9F\xB3\xE5\xA3\xB0.wav"), 6u);    // 音声.wav
  EXPECT_EQ(utf8Characters("\xF0\x9F\x8E\xB5"), 1u);                // one character in four bytes
  // Bytes that begin no well-formed character count one each: a stray
  // continuation byte, a lead byte cut short, a byte never used in UTF-8.
  EXPECT_EQ(utf8Characters("a\x80" "b"), 3u);
  EXPECT_EQ(utf8Characters("\xE9\x9F"), 2u);
  EXPECT_EQ(utf8Characters("\xE9\x9Fx"), 3u);
  EXPECT_EQ(utf8Characters("\xFF\xC0\xAF"), 3u);
}

TEST_F(Os, FindEntriesFailsOnUnreadableAndMissingDirectories) {
  std::vector<DirectoryEntry> entries{DirectoryEntry{"stale", {}}};
  std::string error;
  EXPECT_FALSE(findEntries(path("absent"), "*.*", entries, error));
  EXPECT_EQ(error, "No such file or directory");
  EXPECT_TRUE(entries.empty());

  ASSERT_EQ(::mkdir(path("locked").c_str(), 0700), 0);
  writeFile(path("locked/inside.nab"), "x");
  const std::string locked = path("locked");
  EXPECT_TRUE(holdsAsNobody([&] {
    std::vector<DirectoryEntry> found;
    std::string why;
    const FileStatus inside = fileStatus(locked + "/inside.nab");
    return !findEntries(locked, "*.*", found, why) && why == "Permission denied" && inside.kind == FileKind::Error &&
           inside.error == "Permission denied";
  }));
}

TEST_F(Os, TemporaryFilesAreFreshPrivateAndBesideTheFinal) {
  std::set<std::string> seen;
  for (int i = 0; i < 20; ++i) {
    const std::string temp = temporaryWith(path("take one.wav"), "data");
    EXPECT_TRUE(seen.insert(temp).second) << temp;
    EXPECT_EQ(fs::path(temp).parent_path(), fs::path(dir));
    const std::string name = fs::path(temp).filename().string();
    EXPECT_EQ(name.rfind(".take one.wav.", 0), 0u) << name;
    EXPECT_TRUE(isTemporaryName(name)) << name;
    struct stat st {};
    ASSERT_EQ(::stat(temp.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(readFile(temp), "data");
  }
  EXPECT_FALSE(exists(path("take one.wav")));

  // A final name at the length limit still gets a temporary name that the
  // file system takes, cut at a character boundary.
  std::string longName;
  while (longName.size() < 250) longName += "\xC3\xA9";
  const std::string name = fs::path(temporaryWith(path(longName + ".wav"), "x")).filename().string();
  EXPECT_LE(name.size(), 255u);
  EXPECT_TRUE(isTemporaryName(name)) << name;
  EXPECT_EQ(name.substr(name.size() - 19, 3), "\xC3\xA9.");

  std::string tempPath, error;
  std::FILE* stream = nullptr;
  int errorNumber = 0;
  EXPECT_FALSE(createTemporaryFile(path("absent/x.wav"), tempPath, stream, errorNumber, error));
  EXPECT_EQ(errorNumber, ENOENT);
  EXPECT_EQ(error, "No such file or directory");
}

TEST(Pattern, QuestionMarkIsOneCharacterOfAUtf8Name) {
  const std::string name = "\xE9\x9F\xB3\xE5\xA3\xB0 Gr\xC3\xB6\xC3\x9F""e.wav";  // 音声 Größe.wav
  EXPECT_TRUE(matchesPattern("?? Gr??e.WAV", name));
  EXPECT_TRUE(matchesPattern("*??e.wav", name));
  EXPECT_TRUE(matchesPattern("\xE9\x9F\xB3*", name));
  EXPECT_FALSE(matchesPattern("? Gr??e.wav", name));
  EXPECT_FALSE(matchesPattern("?? Gr?e.wav", name));
  // A name that is not UTF-8 still matches byte by byte.
  EXPECT_TRUE(matchesPattern("Caf?.NAB", "Caf\xE9.NAB"));
}

TEST(TemporaryName, OnlyTheNamesThisLayerMakes) {
  EXPECT_TRUE(isTemporaryName(".x.abcDE9.nubo-part"));
  EXPECT_TRUE(isTemporaryName(".take.wav.Zz09aQ.nubo-part"));
  // Hidden files, other extensions, and near misses: a random part of the
  // wrong length or alphabet, no name before it, another suffix.
  for (const char* ordinary : {".hidden", "take.nubo-part", "x.NAB", "x.abcdef.nubo-part", ".x.abcde.nubo-part",
                               ".x.abcdefg.nubo-part", ".x.abc_ef.nubo-part", "..abcdef.nubo-part",
                               ".x.abcdef.nubo-part~", ".x.abcdef.NUBO-PART"}) {
    EXPECT_FALSE(isTemporaryName(ordinary)) << ordinary;
  }
}

TEST_F(Os, CommitWithoutReplaceNeverReplaces) {
  std::string error;
  const std::string out = path("out.wav");
  const std::string temp = temporaryWith(out, "new");
  EXPECT_EQ(commitFile(temp, out, false, FileStatus{}, true, error), CommitResult::Committed) << error;
  EXPECT_EQ(error, "");
  EXPECT_EQ(readFile(out), "new");
  EXPECT_FALSE(exists(temp));

  const std::string second = temporaryWith(out, "second");
  EXPECT_EQ(commitFile(second, out, false, FileStatus{}, false, error), CommitResult::OutputExists);
  EXPECT_EQ(readFile(out), "new");
  EXPECT_EQ(readFile(second), "second");

  // A dangling link at the final name is something there too.
  ASSERT_EQ(::symlink("nowhere", path("linked.wav").c_str()), 0);
  const std::string third = temporaryWith(path("linked.wav"), "third");
  EXPECT_EQ(commitFile(third, path("linked.wav"), false, FileStatus{}, false, error), CommitResult::OutputExists);
  EXPECT_EQ(fileStatus(path("linked.wav")).kind, FileKind::DanglingLink);
  EXPECT_EQ(readFile(third), "third");
}

TEST_F(Os, CommitWithReplaceReplacesOnlyTheExpectedFile) {
  std::string error;
  const std::string out = path("out.wav");
  writeFile(out, "old");
  std::string temp = temporaryWith(out, "new");
  EXPECT_EQ(commitFile(temp, out, true, fileStatus(out), true, error), CommitResult::Committed) << error;
  EXPECT_EQ(readFile(out), "new");
  EXPECT_FALSE(exists(temp));

  // Another file took the final name while the job ran (made while the old
  // one still existed, so it cannot have the old one's inode).
  const FileStatus expected = fileStatus(out);
  temp = temporaryWith(out, "mine");
  writeFile(path("theirs"), "theirs");
  ASSERT_EQ(::rename(path("theirs").c_str(), out.c_str()), 0);
  EXPECT_EQ(commitFile(temp, out, true, expected, false, error), CommitResult::OutputChanged);
  EXPECT_EQ(readFile(out), "theirs");
  EXPECT_EQ(readFile(temp), "mine");

  // There was no file, but one appeared.
  temp = temporaryWith(path("fresh.wav"), "mine");
  writeFile(path("fresh.wav"), "appeared");
  EXPECT_EQ(commitFile(temp, path("fresh.wav"), true, FileStatus{}, false, error), CommitResult::OutputChanged);
  EXPECT_EQ(readFile(path("fresh.wav")), "appeared");
  EXPECT_EQ(readFile(temp), "mine");

  // The system refuses (a directory at the final name): the temporary file stays.
  ASSERT_EQ(::mkdir(path("dir.wav").c_str(), 0755), 0);
  temp = temporaryWith(path("dir.wav"), "mine");
  EXPECT_EQ(commitFile(temp, path("dir.wav"), true, fileStatus(path("dir.wav")), false, error), CommitResult::Failed);
  EXPECT_EQ(error, "Is a directory");
  EXPECT_EQ(readFile(temp), "mine");
}

// Two processes commit their own temporary files to one final name at the
// same moment, many times over: each time exactly one wins, the final holds
// its data and the loser's temporary file is intact. With `existing`, both
// expect to replace the same earlier file.
void raceCommits(Os& os, const std::string& out, bool replace, bool existing) {
  for (int round = 0; round < 100; ++round) {
    FileStatus expected;
    if (existing) {
      writeFile(out, "earlier");
      expected = fileStatus(out);
    }
    const std::string contents[2] = {"first", "second"};
    const std::string temps[2] = {os.temporaryWith(out, contents[0]), os.temporaryWith(out, contents[1])};
    int gate[2];
    ASSERT_EQ(::pipe(gate), 0);
    pid_t pids[2];
    for (int i = 0; i < 2; ++i) {
      if ((pids[i] = ::fork()) == 0) {
        ::close(gate[1]);
        char c;
        while (::read(gate[0], &c, 1) > 0) {
        }
        std::string error;
        ::_exit(static_cast<int>(commitFile(temps[i], out, replace, expected, false, error)));
      }
    }
    ::close(gate[0]);
    ::close(gate[1]);  // both children go now
    CommitResult results[2];
    for (int i = 0; i < 2; ++i) {
      int status = 0;
      ASSERT_EQ(::waitpid(pids[i], &status, 0), pids[i]);
      results[i] = static_cast<CommitResult>(WEXITSTATUS(status));
    }
    const int winner = results[0] == CommitResult::Committed ? 0 : 1;
    ASSERT_EQ(results[winner], CommitResult::Committed) << "round " << round;
    ASSERT_EQ(results[1 - winner], replace ? CommitResult::OutputChanged : CommitResult::OutputExists);
    ASSERT_EQ(readFile(out), contents[winner]);
    ASSERT_FALSE(exists(temps[winner]));
    ASSERT_EQ(readFile(temps[1 - winner]), contents[1 - winner]);
    ASSERT_EQ(::unlink(out.c_str()), 0);
    ASSERT_EQ(::unlink(temps[1 - winner].c_str()), 0);
  }
}

TEST_F(Os, OfTwoProcessesCommittingWithoutReplaceOneWins) { raceCommits(*this, path("out.wav"), false, false); }
TEST_F(Os, OfTwoProcessesReplacingNothingOneWins) { raceCommits(*this, path("out.wav"), true, false); }
TEST_F(Os, OfTwoProcessesReplacingOneFileOneWins) { raceCommits(*this, path("out.wav"), true, true); }

TEST_F(Os, CopyTimesAndModeCarriesTheInputsThroughTheCommit) {
  const timespec times[2] = {{999999999, 987654321}, {1000000000, 123456789}};  // September 2001
  const std::string source = path("in.nab");
  const std::string out = path("out.wav");
  writeFile(source, "input");
  ASSERT_EQ(::utimensat(AT_FDCWD, source.c_str(), times, 0), 0);
  for (const mode_t mode : {mode_t{0640}, mode_t{0604}}) {
    ASSERT_EQ(::chmod(source.c_str(), mode), 0);
    std::string tempPath, error;
    std::FILE* stream = nullptr;
    int errorNumber = 0;
    ASSERT_TRUE(createTemporaryFile(out, tempPath, stream, errorNumber, error)) << error;
    std::fputs("output", stream);  // still buffered: the copy flushes it first
    ASSERT_TRUE(copyTimesAndMode(stream, source, error)) << error;
    ASSERT_EQ(std::fclose(stream), 0);
    ASSERT_EQ(commitFile(tempPath, out, false, FileStatus{}, true, error), CommitResult::Committed) << error;

    struct stat st {};
    ASSERT_EQ(::stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, mode);
    EXPECT_EQ(st.st_mtim.tv_sec, times[1].tv_sec);
    EXPECT_EQ(st.st_mtim.tv_nsec, times[1].tv_nsec);
    EXPECT_EQ(st.st_atim.tv_nsec, times[0].tv_nsec);
    EXPECT_EQ(readFile(out), "output");
    ASSERT_EQ(::unlink(out.c_str()), 0);
  }

  std::string error;
  std::FILE* stream = std::fopen(path("other").c_str(), "wb");
  ASSERT_NE(stream, nullptr);
  EXPECT_FALSE(copyTimesAndMode(stream, path("absent.nab"), error));
  EXPECT_EQ(error, "No such file or directory");
  std::fclose(stream);
}

}  // namespace
}  // namespace nubo::platform
