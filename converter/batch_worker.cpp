// SPDX-License-Identifier: BSD-3-Clause
// Run preparation and the batch worker: the walk of every input's
// directories into the list of files of the run, output naming, the checks
// that need the whole run (no output is an input, no two inputs write one
// output), one job per file, the end of the run.
#include <atomic>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "front_end.h"
#include "jobs.h"
#include "message_entries.h"
#include "nab_format.h"
#include "os.h"

namespace nubo::converter {

namespace {

// Pending subdirectories a walk may hold; beyond that the run stops (entry 58).
constexpr std::size_t kMaxPendingDirectories = 1000000;

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

bool hasWildcard(const std::string& pattern) { return pattern.find_first_of("*?") != std::string::npos; }

// The name collision rule: an output path equal to its input path gets the
// last capital A of its file name (never of a directory) replaced by E
// (TAKE.NAB -> TAKE.NEB).
void applyCollisionRule(const std::string& inputPath, std::string& outputPath) {
  if (outputPath != inputPath) return;
  const std::size_t slash = outputPath.find_last_of(platform::kPathSeparators);
  const std::size_t a = outputPath.find_last_of('A');
  if (a != std::string::npos && (slash == std::string::npos || a > slash)) outputPath[a] = 'E';
}

// A name without '*' or '?' matches without regard to case, as on the
// platform the files come from; where names differ only in case (possible
// here), the one spelled exactly is the file meant, so that one file name
// never selects, and overwrites, several files.
void keepExactName(const std::string& pattern, std::vector<platform::DirectoryEntry>& entries) {
  if (hasWildcard(pattern)) return;
  for (const platform::DirectoryEntry& e : entries) {
    if (e.name == pattern) {
      entries = {e};
      return;
    }
  }
}

// A name in a directory; in the current directory the name alone, as the
// user typed it ("take.NAB", not "./take.NAB").
std::string joinPath(const std::string& directory, const std::string& name) {
  return directory == "." ? name : directory + platform::kPathSeparator + name;
}

// The output path of a file; an output field "-" is the standard output.
std::string outputPath(const RunParameters& params, const std::string& directory, const std::string& name) {
  if (params.namingMode == 0 && params.outputName == "-") return "-";
  return joinPath(directory, name);
}

// One file of the run, in the order of the walk.
struct PlannedFile {
  const RunParameters* params = nullptr;
  std::string input;
  std::string output;
  bool explicitInput = false;
  // Decided while planning: the file is refused with this entry (or passed
  // over silently when `silent`), and no job runs.
  int refusal = 0;
  std::string subject;
  std::string detail;
  bool silent = false;
  bool isInput = false;  // the job converts it (its header says so)
  std::pair<uint64_t, uint64_t> identity;  // device and inode of the input
};

// The walk of all inputs, and the checks that need every file of the run.
class Planner {
 public:
  explicit Planner(FrontEnd& frontEnd) : fe_(frontEnd) {}

  // False when the run must stop (cancel, or too many directories); the
  // message has been shown.
  bool walk(const RunParameters& params) {
    struct Slot {
      std::string input, output;
    };
    const std::size_t firstFile = files_.size();
    if (params.standardInput) {
      PlannedFile f;
      f.params = &params;
      f.explicitInput = true;
      f.input = "-";
      f.subject = "-";
      if (params.jobKind != kJobTest) f.output = outputPath(params, params.outputDirectory, params.outputName);
      files_.push_back(std::move(f));
      return true;
    }
    std::vector<Slot> pending{{params.inputDirectory, params.outputDirectory}};
    // Directories entered, by identity: a link or a loop never brings the
    // walk into one a second time.
    std::set<std::pair<uint64_t, uint64_t>> entered;
    bool top = true;
    while (!pending.empty()) {
      if (fe_.cancelRequested()) {
        stopEntry_ = kEntryStopped;
        return false;
      }
      const Slot slot = std::move(pending.back());
      pending.pop_back();
      const platform::FileStatus self = platform::fileStatus(slot.input);
      if (self.kind == platform::FileKind::Directory && !entered.insert({self.device, self.inode}).second) continue;
      // One listing serves the files and the subdirectories.
      std::vector<platform::DirectoryEntry> entries;
      std::string error;
      if (!platform::findEntries(slot.input, "*.*", entries, error)) {
        unreadableDirectory(params, slot.input, top, error);
        top = false;
        continue;
      }
      walkFiles(params, entries, slot.input, slot.output, top);
      top = false;
      if (!params.optionB) continue;
      // Subdirectories are taken in the reverse of the order found (the
      // last one next), each with its whole subtree.
      for (const platform::DirectoryEntry& entry : entries) {
        if (!entry.isDirectory() || entry.name.empty() || entry.name[0] == '.') continue;
        if (pending.size() >= kMaxPendingDirectories) {
          fe_.setStatusLine(2, fe_.message(kEntryTooManyDirectories));
          stopEntry_ = kEntryTooManyDirectories;
          return false;
        }
        pending.push_back({joinPath(slot.input, entry.name), joinPath(slot.output, entry.name)});
      }
    }
    if (files_.size() == firstFile) unmatched_.push_back(&params);
    return true;
  }

  // The checks that need the whole run, made once every input is walked.
  void check() {
    for (PlannedFile& f : files_) {
      if (f.refusal != 0) continue;
      f.isInput = isJobInput(f.params->jobKind, f.input, f.refusal, f.detail);
      if (f.isInput) {
        f.refusal = 0;
        inputs_.insert(f.identity);
      } else {
        f.subject = f.input;
        // A file of another kind found in a directory is none of the run's
        // business; one named on its own is refused with its reason.
        f.silent = !f.explicitInput && isNotOfTheKind(f.refusal);
      }
    }
    // Two inputs never write one output: the second is refused. Outputs are
    // compared by the directory they really go to, links followed, so that
    // two spellings or a linked directory cannot hide one from the other.
    std::map<std::string, const PlannedFile*> outputs;
    for (PlannedFile& f : files_) {
      if (!f.isInput || f.output.empty()) continue;
      std::error_code ec;
      std::string key = std::filesystem::weakly_canonical(std::filesystem::absolute(f.output, ec), ec).string();
      if (ec) key = std::filesystem::absolute(f.output, ec).lexically_normal().string();
      if (!outputs.emplace(key, &f).second) {
        f.refusal = kEntrySameOutput;
        f.subject = f.output;
        f.isInput = false;
      }
    }
  }

  std::vector<PlannedFile>& files() { return files_; }
  const std::vector<const RunParameters*>& unmatched() const { return unmatched_; }
  int stopEntry() const { return stopEntry_; }
  const std::set<std::pair<uint64_t, uint64_t>>& inputs() const { return inputs_; }

 private:
  void unreadableDirectory(const RunParameters& params, const std::string& directory, bool top,
                           const std::string& error) {
    const bool named = !hasWildcard(params.inputPattern);
    PlannedFile f;
    f.params = &params;
    // A file named on its own in a directory that cannot be read is the
    // file that cannot be opened.
    f.refusal = top && named ? kEntryCannotOpenInput : kEntryCannotReadDirectory;
    f.subject = top && named ? joinPath(directory, params.inputPattern) : directory;
    f.input = f.subject;
    f.detail = error;
    files_.push_back(std::move(f));
  }

  // The files of one directory that match the input pattern.
  void walkFiles(const RunParameters& params, const std::vector<platform::DirectoryEntry>& all,
                 const std::string& inDirectory, const std::string& outDirectory, bool top) {
    const bool named = !hasWildcard(params.inputPattern);
    std::vector<platform::DirectoryEntry> entries;
    for (const platform::DirectoryEntry& entry : all) {
      if (platform::matchesPattern(params.inputPattern, entry.name)) entries.push_back(entry);
    }
    keepExactName(params.inputPattern, entries);
    for (const platform::DirectoryEntry& entry : entries) {
      if (entry.isDirectory() || platform::isTemporaryName(entry.name)) continue;
      PlannedFile f;
      f.params = &params;
      f.explicitInput = top && named;
      f.identity = {entry.status.device, entry.status.inode};
      f.input = joinPath(inDirectory, entry.name);
      if (params.jobKind != kJobTest) {
        f.output = outputPath(params, outDirectory, deriveOutputName(params, entry.name));
        applyCollisionRule(f.input, f.output);
      } else {
        f.output.clear();
      }
      switch (entry.status.kind) {
        case platform::FileKind::Regular:
          break;
        case platform::FileKind::Other:
          // FIFOs, sockets and devices are never opened.
          f.refusal = kEntryNotRegular;
          f.silent = !f.explicitInput;
          break;
        default:  // a dangling link, or a file that cannot be examined
          f.refusal = kEntryCannotOpenInput;
          f.detail = entry.status.error;
          break;
      }
      // Paths are held to 299 characters; a longer one is refused, never cut.
      if (f.refusal == 0 && (f.input.size() > kMaxPathChars || f.output.size() > kMaxPathChars)) {
        f.refusal = kEntryPathTooLong;
        f.subject = f.input.size() > kMaxPathChars ? f.input : f.output;
      }
      if (f.subject.empty()) f.subject = f.input;
      files_.push_back(std::move(f));
    }
  }

  FrontEnd& fe_;
  std::vector<PlannedFile> files_;
  std::vector<const RunParameters*> unmatched_;
  int stopEntry_ = 0;
  std::set<std::pair<uint64_t, uint64_t>> inputs_;
};

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
  params.standardInput = input == "-";
  if (platform::isPathSeparator(input.back())) input += "*.*";
  splitField(input, params.inputDirectory, params.inputPattern);
  // A '?' selects several files as well as a '*' does.
  params.wildcard = hasWildcard(params.inputPattern);
  std::string output = outputField;
  if (output.empty() && jobKind == kJobTest) output.assign(1, '*');  // a test writes nothing
  if (output.empty()) {
    frontEnd.setStatusLine(1, frontEnd.message(kEntryNoOutput));
    return 999;
  }
  if (platform::isPathSeparator(output.back())) output += "*";
  splitField(output, params.outputDirectory, params.outputName);
  const char last = params.outputName.empty() ? '\0' : params.outputName.back();
  params.namingMode = last == '*' ? 1 : last == '!' ? 2 : 0;
  params.replacementExtension.assign(jobKind == kJobDecode ? ".wav" : ".NAB", 4);  // (assign: see splitField)
  // A decode to a name ending in .flac writes FLAC.
  std::string lower = params.outputName;
  for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  if (jobKind == kJobDecode && lower.size() > 5 && lower.compare(lower.size() - 5, 5, ".flac") == 0) params.flac = true;
  if (params.wildcard && params.namingMode == 0 && jobKind != kJobVerify && jobKind != kJobTest) {
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

namespace {

// One planned file: its refusal, or its job. Times the job.
FileOutcome runPlanned(const PlannedFile& f, RunState& run, int jobKind) {
  run.params = f.params;
  run.inputPath = f.input;
  run.outputPath = f.output;
  run.explicitInput = f.explicitInput;
  if (f.refusal != 0 && f.silent) {
    FileOutcome o;
    o.outcome = Outcome::PassedOver;
    o.input = f.input;
    o.entry = f.refusal;
    return o;
  }
  if (f.refusal != 0) return showOutcome(run, Outcome::NotConverted, f.refusal, f.subject, f.detail);
  const auto start = std::chrono::steady_clock::now();
  FileOutcome o = runJob(run, jobKind);
  o.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return o;
}

// Adds an outcome to the counts; false when it stops the run.
bool countOutcome(RunSummary& summary, const FileOutcome& o) {
  switch (o.outcome) {
    case Outcome::Converted: ++summary.converted; break;
    case Outcome::Skipped: ++summary.skipped; break;
    case Outcome::Incomplete: ++summary.incomplete; break;
    case Outcome::NotConverted: ++summary.notConverted; break;
    case Outcome::PassedOver: ++summary.passedOver; break;
    case Outcome::Stopped:
      ++summary.notConverted;
      if (summary.stopEntry == 0) summary.stopEntry = o.entry;
      summary.stopped = true;
      return false;
  }
  return true;
}

// The front end of one worker of a parallel run: progress goes through,
// the other status lines (which several files would share) do not, and a
// stop of the run reaches every job at its next block.
class WorkerFrontEnd : public FrontEnd {
 public:
  WorkerFrontEnd(FrontEnd& base, const std::atomic<bool>& stop) : base_(base), stop_(stop) {}
  void setStatusLine(int line, const std::string& text) override {
    if (line == 1) base_.setStatusLine(line, text);
  }
  void runningState() override {}
  void idleState(int) override {}
  std::string message(int index) const override { return base_.message(index); }
  bool cancelRequested() const override { return stop_.load() || base_.cancelRequested(); }

 private:
  FrontEnd& base_;
  const std::atomic<bool>& stop_;
};

// Converts the planned files on `workers` threads. Outcomes are handed to
// the front end in the order of the list as soon as all before them are in;
// after a stop, the files already started are still reported, in order.
void runParallel(const std::vector<PlannedFile>& files, const RunParameters& first,
                 const std::set<std::pair<uint64_t, uint64_t>>& runInputs, int jobKind, int workers,
                 FrontEnd& frontEnd, RunSummary& summary) {
  std::vector<std::optional<FileOutcome>> done(files.size());
  std::atomic<std::size_t> next{0};
  std::atomic<bool> stop{false};
  std::mutex mutex;
  std::size_t emitted = 0;
  auto emitReady = [&] {
    while (emitted < done.size() && done[emitted]) {
      frontEnd.fileDone(*done[emitted]);
      countOutcome(summary, *done[emitted]);
      ++emitted;
    }
  };
  auto work = [&] {
    WorkerFrontEnd fe(frontEnd, stop);
    RunState run(first, fe);
    run.runInputs = &runInputs;
    while (!stop.load() && !frontEnd.cancelRequested()) {
      const std::size_t i = next++;
      if (i >= files.size()) break;
      FileOutcome o = runPlanned(files[i], run, jobKind);
      const std::lock_guard<std::mutex> lock(mutex);
      if (o.outcome == Outcome::Stopped) stop = true;
      done[i] = std::move(o);
      emitReady();
    }
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < workers; ++t) threads.push_back(platform::startThread(work));
  for (std::thread& t : threads) t.join();
  // What is left after a stop: the files that had started, in order.
  for (; emitted < done.size(); ++emitted) {
    if (!done[emitted]) continue;
    frontEnd.fileDone(*done[emitted]);
    countOutcome(summary, *done[emitted]);
  }
  if (frontEnd.cancelRequested() && next.load() < files.size()) summary.stopped = true;
}

}  // namespace

int runBatch(const std::vector<RunParameters>& inputs, FrontEnd& frontEnd, int workers) {
  frontEnd.runningState();
  RunSummary summary;
  if (inputs.empty()) {
    summary.nothingFound = true;
    frontEnd.setStatusLine(1, frontEnd.message(kEntryNothingFound));
    frontEnd.runEnded(summary);
    frontEnd.idleState(0);
    return 0;
  }
  RunState run(inputs.front(), frontEnd);
  const int jobKind = inputs.front().jobKind;
  Planner planner(frontEnd);
  auto stop = [&] {
    summary.stopped = true;
    if (summary.stopEntry == 0) summary.stopEntry = planner.stopEntry();
    frontEnd.runEnded(summary);
    frontEnd.idleState(999);
    return 999;
  };

  for (const RunParameters& params : inputs) {
    if (!planner.walk(params)) return stop();
  }
  planner.check();
  run.runInputs = &planner.inputs();

  // An input that matched nothing is named; a run in which no input
  // matched anything ends with entry 51 on status line 1 as well.
  for (const RunParameters* params : planner.unmatched()) {
    run.params = params;
    run.inputPath = joinPath(params->inputDirectory, params->inputPattern);
    run.outputPath.clear();
    frontEnd.fileDone(showOutcome(run, Outcome::NotConverted, kEntryNothingFound, run.inputPath));
    ++summary.notConverted;
  }

  if (workers > 1 && planner.files().size() > 1) {
    runParallel(planner.files(), inputs.front(), planner.inputs(), jobKind, workers, frontEnd, summary);
    if (summary.stopped) return stop();
  } else {
    for (const PlannedFile& f : planner.files()) {
      if (frontEnd.cancelRequested()) return stop();
      const FileOutcome o = runPlanned(f, run, jobKind);
      frontEnd.fileDone(o);
      if (!countOutcome(summary, o)) return stop();
    }
  }

  const long failures = summary.notConverted + summary.incomplete;
  summary.nothingFound = planner.files().empty();
  if (summary.nothingFound) {
    frontEnd.setStatusLine(1, frontEnd.message(kEntryNothingFound));
  } else if (failures > 0) {
    frontEnd.setStatusLine(1, frontEnd.message(kEntryFinished) + " " + std::to_string(failures) + " " +
                                  frontEnd.message(kEntryCountFailed));
  } else {
    frontEnd.setStatusLine(1, frontEnd.message(kEntryFinished));
  }
  frontEnd.runEnded(summary);
  frontEnd.idleState(0);
  return 0;
}

}  // namespace nubo::converter
