// SPDX-License-Identifier: BSD-3-Clause
// The report of a run: one JSON object a line (JSON Lines) for every file the
// run found, in the order of the walk, so that runs split across machines can
// be merged and checked by other tools. The report is written under a
// temporary name and takes its own name when the run ends.
#pragma once

#include <cstdio>
#include <string>

#include "front_end.h"

namespace nubo::cli {

class RunReport {
 public:
  RunReport() = default;
  RunReport(const RunReport&) = delete;
  RunReport& operator=(const RunReport&) = delete;
  ~RunReport();

  // Starts the report at `path`. False with `error` when it cannot be created.
  bool open(const std::string& path, std::string& error);
  bool isOpen() const { return stream_ != nullptr; }

  // One line for one file; `reason` is the text of its problem, if any.
  void add(const converter::FileOutcome& outcome, const std::string& reason);

  // Gives the report its name. False with `error` when it cannot.
  bool close(std::string& error);

 private:
  std::string path_;
  std::string tempPath_;
  std::FILE* stream_ = nullptr;
  bool failed_ = false;
};

// `text` as a JSON string, quotes included.
std::string jsonString(const std::string& text);

}  // namespace nubo::cli
