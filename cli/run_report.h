// SPDX-License-Identifier: BSD-3-Clause
// The report of a run: one JSON object a line (JSON Lines) for every file the
// run found, in the order of the walk, so that runs split across machines can
// be merged and checked by other tools. The report is written under a
// temporary name and takes its own name when the run ends.
#pragma once

#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <utility>

#include "outcome_text.h"
#include "run_events.h"
#include "safe_output.h"

namespace nubo::cli {

class RunReport : public converter::RunObserver {
 public:
  explicit RunReport(converter::TextOf text) : text_(std::move(text)) {}
  RunReport(const RunReport&) = delete;
  RunReport& operator=(const RunReport&) = delete;

  // Starts the report at `path` (an earlier report there is replaced only
  // with `overwrite`). False with `error` when it cannot be.
  bool open(const std::string& path, bool overwrite, std::string& error);
  bool isOpen() const { return output_.stream() != nullptr; }

  void runPlanned(const converter::RunPlan& plan) override;

  // One line for one file.
  void fileDone(const converter::FileOutcome& outcome) override;

  // Gives the report its name. False with `error` when it cannot.
  bool close(std::string& error);

 private:
  const converter::TextOf text_;
  converter::SideOutput output_;
  std::set<std::pair<uint64_t, uint64_t>> inputs_;  // of the run's plan: never replaced by the report
};

// `text` as a JSON string, quotes included. Bytes that are not UTF-8 are
// written as \udc80 + byte (and `*escaped` is set).
std::string jsonString(const std::string& text, bool* escaped = nullptr);

}  // namespace nubo::cli
