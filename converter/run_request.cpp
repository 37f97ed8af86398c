// SPDX-License-Identifier: BSD-3-Clause
#include "run_request.h"

#include "os.h"

namespace nubo::converter {

bool hasWildcard(const std::string& pattern) { return pattern.find_first_of("*?") != std::string::npos; }

OutputFormat outputFormatOf(const RunRequest& request) {
  return request.job == Job::Decode ? request.options.decodeFormat : OutputFormat::Nab;
}

std::string replacementExtension(OutputFormat format) { return fileFormat(format).replacementExtension(); }

std::string deriveOutputName(const OutputRule& rule, OutputFormat format, const std::string& name) {
  if (rule.naming == Naming::ReplaceExtension) {
    const std::size_t dot = name.find_last_of('.');
    return rule.prefix + (dot == std::string::npos ? name : name.substr(0, dot)) +
           (rule.suffix.empty() ? replacementExtension(format) : rule.suffix);
  }
  if (rule.naming == Naming::ToggleMark) {
    const std::size_t dot = name.find_last_of('.');
    if (dot != std::string::npos) {
      if (dot >= 1) {
        const std::size_t mark = name.find_last_of('!', dot - 1);
        if (mark != std::string::npos && mark >= 1) return name.substr(0, mark) + name.substr(mark + 1);
      }
      return name.substr(0, dot) + "!" + name.substr(dot);
    }
    return name + "!";
  }
  return rule.name;
}

std::optional<Msg> requestProblem(const RunRequest& request) {
  if (!writesOutput(request.job)) return std::nullopt;
  std::size_t exactOutputs = 0;
  for (const RunInput& in : request.inputs) {
    if (in.output.kind == OutputRule::Kind::None) continue;
    const bool one = in.output.kind == OutputRule::Kind::StandardOutput || in.output.naming == Naming::Exact;
    if (!one) continue;
    ++exactOutputs;
    // A directory, or a pattern with '*' or '?', selects several files.
    const std::size_t slash = in.path.find_last_of(platform::kPathSeparators);
    const std::string last = slash == std::string::npos ? in.path : in.path.substr(slash + 1);
    if (in.kind == RunInput::Kind::Directory || (in.kind == RunInput::Kind::Pattern && hasWildcard(last))) {
      return kEntryWildcardNeedsPattern;
    }
  }
  // Several inputs into one output file would overwrite one another.
  if (exactOutputs > 1) return kEntryWildcardNeedsPattern;
  return std::nullopt;
}

}  // namespace nubo::converter
