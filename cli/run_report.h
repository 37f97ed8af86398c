// SPDX-License-Identifier: BSD-3-Clause
// The report of a run: one JSON object a line (JSON Lines) for every file the
// run found, in the order of the walk, so that runs split across machines can
// be merged and checked by other tools. The report is written under a
// temporary name and takes its own name when the run ends.
#pragma once

#include <cstdio>
#include <string>

#include "outcome_text.h"
#include "run_events.h"

namespace nubo::cli {

class RunReport : public converter::RunObserver {
 public:
  explicit RunReport(converter::TextOf text) : text_(std::move(text)) {}
  RunReport(const RunReport&) = delete;
  RunReport& operator=(const RunReport&) = delete;
  ~RunReport() override;

  // Starts the report at `path`. False with `error` when it cannot be created.
  bool open(const std::string& path, std::string& error);
  bool isOpen() const { return stream_ != nullptr; }

  // One line for one file.
  void fileDone(const converter::FileOutcome& outcome) override;

  // Gives the report its name. False with `error` when it cannot.
  bool close(std::string& error);

 private:
  const converter::TextOf text_;
  std::string path_;
  std::string tempPath_;
  std::FILE* stream_ = nullptr;
  bool failed_ = false;
};

// `text` as a JSON string, quotes included.
std::string jsonString(const std::string& text);

}  // namespace nubo::cli
