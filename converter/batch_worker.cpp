// Run preparation and the batch worker: the directory walk, output naming,
// one job per matching file, the end of the run.
#include <vector>

#include "front_end.h"
#include "jobs.h"
#include "message_entries.h"
#include "nab_format.h"
#include "os.h"

namespace nubo::converter {

namespace {

constexpr int kStackSlots = 1500;

void splitField(const std::string& field, std::string& directory, std::string& name) {
  const std::size_t slash = field.find_last_of('/');
  if (slash == std::string::npos) {
    directory.assign(1, '.');  // (not = ".": GCC 12 warns falsely of an overlapping copy there)
    name = field;
  } else {
    directory = field.substr(0, slash);
    name = field.substr(slash + 1);
  }
}

// The name collision rule: an output path equal to its input path gets its
// last capital A replaced by E (TAKE.NAB -> TAKE.NEB).
void applyCollisionRule(const std::string& inputPath, std::string& outputPath) {
  if (outputPath != inputPath) return;
  const std::size_t a = outputPath.find_last_of('A');
  if (a != std::string::npos) outputPath[a] = 'E';
}

// A name without '*' or '?' matches without regard to case, as on the
// platform the files come from; where names differ only in case (possible
// here), the one spelled exactly is the file meant, so that one file name
// never selects, and overwrites, several files.
void keepExactName(const std::string& pattern, std::vector<platform::DirectoryEntry>& entries) {
  if (pattern.find_first_of("*?") != std::string::npos) return;
  for (const platform::DirectoryEntry& e : entries) {
    if (e.name == pattern) {
      entries = {e};
      return;
    }
  }
}

}  // namespace

int prepareRun(int jobKind, bool optionA, bool optionB, const std::string& inputField,
               const std::string& outputField, FrontEnd& frontEnd, RunParameters& params) {
  params.jobKind = jobKind;
  params.optionA = optionA;
  params.optionB = optionB;
  std::string input = inputField;
  if (input.empty()) {
    frontEnd.setStatusLine(1, frontEnd.message(kEntryNothingFound));
    return 999;
  }
  if (input.back() == '/') input += "*.*";
  splitField(input, params.inputDirectory, params.inputPattern);
  params.wildcard = params.inputPattern.find('*') != std::string::npos;
  std::string output = outputField;
  if (output.empty()) {
    frontEnd.setStatusLine(1, frontEnd.message(kEntryNoOutput));
    return 999;
  }
  if (output.back() == '/') output += "*";
  splitField(output, params.outputDirectory, params.outputName);
  const char last = params.outputName.empty() ? '\0' : params.outputName.back();
  params.namingMode = last == '*' ? 1 : last == '!' ? 2 : 0;
  params.replacementExtension = ".NAB";
  if (params.wildcard && params.namingMode == 0) {
    frontEnd.setStatusLine(3, frontEnd.message(kEntryWildcardNeedsPattern));
    return 999;
  }
  return 0;
}

std::string deriveOutputName(const RunParameters& params, const std::string& name) {
  if (params.namingMode == 1) {
    const std::size_t dot = name.find_last_of('.');
    return (dot == std::string::npos ? name : name.substr(0, dot)) + params.replacementExtension;
  }
  if (params.namingMode == 2) {
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
  return params.outputName;
}

int runBatch(const RunParameters& params, FrontEnd& frontEnd) {
  frontEnd.runningState();
  RunState run(params, frontEnd);
  struct Slot {
    std::string input, output;
  };
  // Slot 0 is never used and the last slot never filled.
  std::vector<Slot> stack(kStackSlots);
  int index = 1;
  stack[1] = {params.inputDirectory, params.outputDirectory};
  while (index > 0) {
    if (frontEnd.cancelRequested()) {
      frontEnd.idleState(999);
      return 999;
    }
    const Slot slot = stack[index];
    const std::string inDir = slot.input + "/";
    const std::string outDir = slot.output + "/";
    run.outputDirectory = slot.output;
    std::vector<platform::DirectoryEntry> entries = platform::findEntries(slot.input, params.inputPattern);
    keepExactName(params.inputPattern, entries);
    for (const platform::DirectoryEntry& entry : entries) {
      if (entry.isDirectory) continue;
      run.inputPath = inDir + entry.name;
      run.outputPath = outDir + deriveOutputName(params, entry.name);
      applyCollisionRule(run.inputPath, run.outputPath);
      // Paths are held to 299 characters; a longer one is refused, never cut.
      const std::string* tooLong = run.inputPath.size() > kMaxPathChars    ? &run.inputPath
                                   : run.outputPath.size() > kMaxPathChars ? &run.outputPath
                                                                           : nullptr;
      if (tooLong != nullptr) {
        frontEnd.setStatusLine(2, frontEnd.message(kEntryPathTooLong));
        frontEnd.setStatusLine(3, *tooLong);
        continue;
      }
      if (runJob(run, params.jobKind) == JobResult::StopBatch) return 999;
    }
    if (params.optionB) {
      // The first subdirectory overwrites the slot just processed; the last
      // one found is processed next (depth-first, siblings in reverse).
      for (const platform::DirectoryEntry& entry : platform::findEntries(slot.input, "*.*")) {
        if (!entry.isDirectory || entry.name.empty() || entry.name[0] == '.') continue;
        if (index >= kStackSlots - 1) {
          frontEnd.setStatusLine(2, frontEnd.message(kEntryTooManyDirectories));
          frontEnd.idleState(999);
          return 999;
        }
        stack[index] = {inDir + entry.name, outDir + entry.name};
        ++index;
      }
    }
    --index;
  }
  frontEnd.setStatusLine(1, frontEnd.message(run.doneCount + run.skippedCount != 0 ? kEntryFinished : kEntryNothingFound));
  frontEnd.idleState(0);
  return 0;
}

}  // namespace nubo::converter
