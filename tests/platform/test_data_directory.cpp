// SPDX-License-Identifier: BSD-3-Clause
// Where the programs look for their data files: beside themselves first,
// then in ../share/nubo, as laid out by an install.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "data_directory.h"

namespace nubo::platform {
namespace {

namespace fs = std::filesystem;

// An installed-looking tree under /tmp: <root>/bin and <root>/share/nubo.
class DataDirectory : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/nubo-datadir-XXXXXX";
    ASSERT_NE(::mkdtemp(templ), nullptr);
    root_ = templ;
    bin_ = root_ + "/bin";
    share_ = root_ + "/share/nubo";
    fs::create_directories(bin_);
    fs::create_directories(share_);
  }
  void TearDown() override { fs::remove_all(root_); }

  static void touch(const std::string& path) { std::ofstream(path) << "x"; }

  std::string root_, bin_, share_;
};

TEST_F(DataDirectory, BesideTheProgramComesFirst) {
  touch(bin_ + "/NUBOCONV.h");
  EXPECT_EQ(dataDirectory(bin_, "NUBOCONV.h"), bin_);
  // Also when the installed directory holds the file too.
  touch(share_ + "/NUBOCONV.h");
  EXPECT_EQ(dataDirectory(bin_, "NUBOCONV.h"), bin_);
  // A link beside the program counts as the file it names.
  fs::remove(bin_ + "/NUBOCONV.h");
  fs::create_symlink(share_ + "/NUBOCONV.h", bin_ + "/NUBOCONV.h");
  EXPECT_EQ(dataDirectory(bin_, "NUBOCONV.h"), bin_);
}

TEST_F(DataDirectory, InstalledTreeWhenNothingIsBeside) {
  touch(share_ + "/NUBOCONV.h");
  // Spelled without "..", so that messages name the plain path.
  EXPECT_EQ(dataDirectory(bin_, "NUBOCONV.h"), share_);
  EXPECT_EQ(dataDirectory(bin_ + "/", "NUBOCONV.h"), share_);
  // Only the named file decides: another one beside the program does not.
  touch(bin_ + "/NUBOCONV.h01");
  EXPECT_EQ(dataDirectory(bin_, "NUBOCONV.h"), share_);
}

TEST_F(DataDirectory, OnlyRegularFilesCount) {
  touch(share_ + "/NUBOCONV.h");
  fs::create_directory(bin_ + "/NUBOCONV.h");
  EXPECT_EQ(dataDirectory(bin_, "NUBOCONV.h"), share_);
  fs::remove(bin_ + "/NUBOCONV.h");
  fs::create_symlink(bin_ + "/gone", bin_ + "/NUBOCONV.h");
  EXPECT_EQ(dataDirectory(bin_, "NUBOCONV.h"), share_);
}

TEST_F(DataDirectory, NeitherPlaceNamesTheProgramDirectory) {
  EXPECT_EQ(dataDirectory(bin_, "NUBOCONV.h"), bin_);
  // A share/nubo that is a file, not a directory, holds nothing.
  fs::remove_all(root_ + "/share");
  touch(root_ + "/share");
  EXPECT_EQ(dataDirectory(bin_, "NUBOCONV.h"), bin_);
}

}  // namespace
}  // namespace nubo::platform
