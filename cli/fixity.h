// SPDX-License-Identifier: BSD-3-Clause
// Fixity: the audio MD5 of each file checked against a record made earlier
// (the lines of `nubo test --md5`, as md5sum writes them, or a --report
// file). An observer of a test run; what differs, is missing or is not
// recorded is named when the run has ended.
#pragma once

#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "run_events.h"

namespace nubo::cli {

// One line of `nubo test --md5`: "<md5>  <file>", as md5sum writes it. A
// name that holds a control character, or a backslash (where that is no
// path separator), is written escaped (\\, \n, \r, \xHH) on a line that
// begins with a backslash, as md5sum does for \\ and \n: so every line is
// one file, and a name can neither break a line nor pass for another.
std::string sumLine(const std::string& md5, const std::string& file);
// Reads such a line back; false when it is not one.
bool readSumLine(const std::string& line, std::string& md5, std::string& file);

class FixityCheck : public converter::RunObserver {
 public:
  // Reads the record. False with `error` when it cannot be read or holds
  // no line of either form.
  bool load(const std::string& path, std::string& error);

  // The recorded paths, as inputs for a run that was given none.
  std::vector<std::string> recordedPaths() const;

  void fileDone(const converter::FileOutcome& o) override;

  // Names every file whose audio differs, every recorded file that the run
  // did not find, and (`walked`: the run was given directories or patterns)
  // every file found that the record does not list. Returns the number of
  // such files.
  long finish(bool walked, std::FILE* out, std::FILE* err);

 private:
  static std::string key(const std::string& path);

  std::string recordPath_;
  std::map<std::string, std::string> recorded_;  // normalised path -> MD5
  std::map<std::string, std::string> shownAs_;   // normalised path -> as recorded
  std::mutex mutex_;
  std::set<std::string> seen_;
  std::map<std::string, std::string> differs_;   // path -> MD5 found
  std::set<std::string> unlisted_;
  long matched_ = 0;
};

}  // namespace nubo::cli
