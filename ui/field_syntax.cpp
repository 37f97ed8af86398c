// SPDX-License-Identifier: BSD-3-Clause
#include "field_syntax.h"

#include "nab_format.h"
#include "os.h"
#include "utf8_path.h"

namespace nubo::ui {

using converter::Job;
using converter::Naming;
using converter::OutputRule;
using converter::RunInput;

namespace {

void splitField(const std::string& field, std::string& directory, std::string& name) {
  const std::size_t slash = field.find_last_of(platform::kPathSeparators);
  if (slash == std::string::npos) {
    directory.assign(1, '.');  // (not = ".": GCC 12 warns falsely of an overlapping copy there)
    name = field;
  } else {
    directory = field.substr(0, slash);
    name = field.substr(slash + 1);
  }
}

}  // namespace

std::optional<Job> jobOfControl(int jobKind) {
  switch (jobKind) {
    case 2: return Job::Encode;
    case 3: return Job::EncodeVerify;
    case 4: return Job::Reencode;
    case 5: return Job::Verify;
    default: return std::nullopt;
  }
}

std::optional<FieldProblem> requestFromFields(Job job, bool overwrite, bool subdirectories,
                                              const std::string& inputField, const std::string& outputField,
                                              converter::RunRequest& request) {
  request = converter::RunRequest{};
  request.job = job;
  request.options.overwrite = overwrite;
  request.options.recursive = subdirectories;
  request.options.collisionRule = true;
  if (inputField.empty()) return FieldProblem{1, converter::kEntryNothingFound, {}};
  for (const std::string* field : {&inputField, &outputField}) {
    if (platform::utf8Characters(*field) > converter::kMaxPathChars) {
      return FieldProblem{1, converter::kEntryPathTooLong, *field};
    }
  }
  RunInput input;
  std::string pattern;
  if (inputField == "-") {
    input.kind = RunInput::Kind::StandardInput;
    input.path = inputField;
  } else {
    // A field ending in a separator is every file of that directory.
    std::string field = inputField;
    if (platform::isPathSeparator(field.back())) field += "*.*";
    std::string directory;
    splitField(field, directory, pattern);
    input.kind = RunInput::Kind::Pattern;
    input.path = field;
  }
  std::string output = outputField;
  if (output.empty() && job == Job::Test) output.assign(1, '*');  // a test writes nothing
  if (output.empty()) return FieldProblem{1, converter::kEntryNoOutput, {}};
  if (platform::isPathSeparator(output.back())) output += "*";
  OutputRule& rule = input.output;
  std::string name;
  splitField(output, rule.directory, name);
  const char last = name.back();
  if (!converter::writesOutput(job) && job != Job::Verify) {
    rule.kind = OutputRule::Kind::None;
  } else if (last == '*') {
    rule.naming = Naming::ReplaceExtension;
  } else if (last == '!') {
    rule.naming = Naming::ToggleMark;
  } else if (name == "-" && rule.directory == ".") {
    rule.kind = OutputRule::Kind::StandardOutput;
  } else {
    rule.naming = Naming::Exact;
    rule.name = name;
  }
  const bool wildcard = converter::hasWildcard(pattern);
  const bool oneOutput = rule.kind == OutputRule::Kind::StandardOutput ||
                         (rule.kind == OutputRule::Kind::Files && rule.naming == Naming::Exact);
  if (wildcard && oneOutput && job != Job::Verify && job != Job::Test) {
    return FieldProblem{3, converter::kEntryWildcardNeedsPattern, {}};
  }
  request.inputs.push_back(std::move(input));
  return std::nullopt;
}

}  // namespace nubo::ui
