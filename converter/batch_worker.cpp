// SPDX-License-Identifier: BSD-3-Clause
// The batch worker: the walk of every input into the plan of the run, output
// naming, the checks that need the whole run (no output is an input, no two
// inputs write one output), one job per file, the end of the run.
#include "batch_worker.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "jobs.h"
#include "message_entries.h"
#include "nab_format.h"
#include "os.h"
#include "utf8_path.h"

namespace nubo::converter {

namespace {

// Pending subdirectories a walk may hold; beyond that the run stops.
constexpr std::size_t kMaxPendingDirectories = 1000000;

void splitPath(const std::string& path, std::string& directory, std::string& name) {
  const std::size_t slash = path.find_last_of(platform::kPathSeparators);
  if (slash == std::string::npos) {
    directory.assign(1, '.');  // (not = ".": GCC 12 warns falsely of an overlapping copy there)
    name = path;
  } else {
    directory = slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
    name = path.substr(slash + 1);
  }
}

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
  if (directory == ".") return name;
  if (!directory.empty() && platform::isPathSeparator(directory.back())) return directory + name;
  return directory + platform::kPathSeparator + name;
}

// An output path as the file it names: absolute, with the directories that
// exist resolved (links followed), so that two spellings of one output
// compare equal. Made through UTF-8 paths: on Windows a plain string would
// lose every character outside the ANSI code page.
std::string outputKey(const std::string& output) {
  try {
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(platform::pathFromUtf8(output), ec);
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(absolute, ec);
    return platform::utf8FromPath(ec ? absolute.lexically_normal() : resolved);
  } catch (const std::exception&) {
    return output;  // a name that is not UTF-8 (Windows): compared as it is
  }
}

// One file of the run, in the order of the walk.
struct PlanItem {
  std::string input;
  std::string output;
  bool explicitInput = false;
  int64_t bytes = 0;
  // Decided while planning: the file is refused with this entry (or passed
  // over silently when `silent`), and no job runs.
  int refusal = 0;
  std::string subject;
  std::string detail;       // what the file is instead
  std::string systemError;  // the system's reason
  bool silent = false;
  bool otherKind = false;   // not of the job's kind
  bool isInput = false;  // the job converts it (its header says so)
  std::pair<uint64_t, uint64_t> identity;  // device and inode of the input
};

// The walk of all inputs, and the checks that need every file of the run.
class Planner {
 public:
  Planner(const RunRequest& request, const StopFlag& stop)
      : request_(request), format_(outputFormatOf(request)), stop_(stop) {}

  // False when the run must stop (a stop request, or too many directories).
  bool walk(const RunInput& input) {
    const std::size_t firstFile = items_.size();
    switch (input.kind) {
      case RunInput::Kind::StandardInput: {
        PlanItem f;
        f.explicitInput = true;
        f.input.assign(1, '-');  // (assign: see splitPath)
        f.subject = f.input;
        f.output = outputPath(input.output, input.output.directory, f.input);
        items_.push_back(std::move(f));
        return true;
      }
      case RunInput::Kind::File:
        namedFile(input);
        return true;
      case RunInput::Kind::Directory:
        if (!walkTree(input, input.path, "*.*")) return false;
        break;
      case RunInput::Kind::Pattern: {
        std::string directory, pattern;
        splitPath(input.path, directory, pattern);
        if (!walkTree(input, directory, pattern)) return false;
        break;
      }
    }
    if (items_.size() == firstFile) unmatched_.push_back(&input);
    return true;
  }

  // The checks that need the whole run, made once every input is walked.
  void check() {
    for (PlanItem& f : items_) {
      if (f.refusal != 0) continue;
      std::string detail;
      f.isInput = isJobInput(request_.job, f.input, f.refusal, detail);
      if (f.isInput) {
        f.refusal = 0;
        inputs_.insert(f.identity);
      } else {
        f.subject = f.input;
        if (f.refusal == kEntryCannotOpenInput) f.systemError = detail; else f.detail = detail;
        // A file of another kind found in a directory is none of the run's
        // business; one named on its own is refused with its reason.
        f.otherKind = passedOverSilently(request_.job, f.refusal, f.input);
        f.silent = !f.explicitInput && f.otherKind;
      }
    }
    // Two inputs never write one output: the second is refused. Outputs are
    // compared by the directory they really go to, links followed, so that
    // two spellings or a linked directory cannot hide one from the other.
    std::map<std::string, const PlanItem*> outputs;
    for (PlanItem& f : items_) {
      if (!f.isInput || f.output.empty() || f.output == "-") continue;
      std::string key = outputKey(f.output);
      if (const auto [first, added] = outputs.emplace(key, &f); !added) {
        f.refusal = kEntrySameOutput;
        f.subject = f.output;
        f.detail = "from " + f.input + "; " + first->second->input + " writes it";
        f.isInput = false;
      }
    }
  }

  std::vector<PlanItem>& items() { return items_; }
  const std::vector<const RunInput*>& unmatched() const { return unmatched_; }
  Msg stopReason() const { return stopReason_; }
  const std::set<std::pair<uint64_t, uint64_t>>& inputs() const { return inputs_; }

 private:
  // The output path of a file named `name` whose outputs go to `directory`.
  std::string outputPath(const OutputRule& rule, const std::string& directory, const std::string& name) const {
    switch (rule.kind) {
      case OutputRule::Kind::None: return "";
      case OutputRule::Kind::StandardOutput: return "-";
      case OutputRule::Kind::Files: break;
    }
    return joinPath(directory, deriveOutputName(rule, format_, name));
  }

  // A file named on its own: taken as named, never matched as a pattern.
  void namedFile(const RunInput& input) {
    std::string directory, name;
    splitPath(input.path, directory, name);
    PlanItem f;
    f.explicitInput = true;
    f.input = input.path;
    f.subject = input.path;
    const platform::FileStatus status = platform::fileStatus(input.path);
    f.identity = {status.device, status.inode};
    f.bytes = status.size;
    f.output = outputPath(input.output, input.output.directory, name);
    if (input.output.kind == OutputRule::Kind::Files && request_.options.collisionRule) {
      applyCollisionRule(f.input, f.output);
    }
    classify(f, status);
    items_.push_back(std::move(f));
  }

  // Refusals that the status of an input decides.
  static void classify(PlanItem& f, const platform::FileStatus& status) {
    switch (status.kind) {
      case platform::FileKind::Regular:
        break;
      case platform::FileKind::Other:
      case platform::FileKind::Directory:
        // FIFOs, sockets and devices are never opened.
        f.refusal = kEntryNotRegular;
        f.silent = !f.explicitInput;
        break;
      case platform::FileKind::Missing:
        f.refusal = kEntryCannotOpenInput;
        f.systemError = platform::systemReason(ENOENT);
        break;
      default:  // a dangling link, or a file that cannot be examined
        f.refusal = kEntryCannotOpenInput;
        f.systemError = status.error;
        break;
    }
    // Paths are held to 299 characters (not bytes: a name with umlauts or
    // CJK characters takes two or three bytes a character); a longer one is
    // refused, never cut.
    const bool inputTooLong = platform::utf8Characters(f.input) > kMaxPathChars;
    if (f.refusal == 0 && (inputTooLong || platform::utf8Characters(f.output) > kMaxPathChars)) {
      f.refusal = kEntryPathTooLong;
      f.subject = inputTooLong ? f.input : f.output;
    }
  }

  // The files matching `pattern` in `top` and, when the run includes
  // subdirectories, in every directory below it. False when the run must stop.
  bool walkTree(const RunInput& input, const std::string& top, const std::string& pattern) {
    struct Slot {
      std::string input, output;
    };
    std::vector<Slot> pending{{top, input.output.directory}};
    // Directories entered, by identity: a mount or a loop never brings the
    // walk into one a second time.
    std::set<std::pair<uint64_t, uint64_t>> entered;
    bool first = true;
    while (!pending.empty()) {
      if (stop_.requested()) {
        stopReason_ = kEntryStopped;
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
        unreadableDirectory(input, slot.input, pattern, first, error);
        first = false;
        continue;
      }
      walkFiles(input, pattern, entries, slot.input, slot.output, first);
      first = false;
      if (!request_.options.recursive) continue;
      // Subdirectories are taken in the reverse of the order found (the
      // last one next), each with its whole subtree; those whose names begin
      // with a dot too, as cp -r, rsync and find take them. A symbolic link
      // to a directory (a junction on Windows) is not entered, as find and
      // rsync -r do not: it may lead out of the tree (a link to "..", to
      // another disk, to the whole file system), and the walk must not
      // convert, or write beside, files outside the tree the user named.
      for (const platform::DirectoryEntry& entry : entries) {
        if (!entry.isRealDirectory() || entry.name.empty()) continue;
        if (pending.size() >= kMaxPendingDirectories) {
          stopReason_ = kEntryTooManyDirectories;
          return false;
        }
        pending.push_back({joinPath(slot.input, entry.name), joinPath(slot.output, entry.name)});
      }
    }
    return true;
  }

  void unreadableDirectory(const RunInput& input, const std::string& directory, const std::string& pattern, bool top,
                           const std::string& error) {
    const bool named = input.kind == RunInput::Kind::Pattern && !hasWildcard(pattern);
    PlanItem f;
    // A file named on its own in a directory that cannot be read is the
    // file that cannot be opened.
    f.refusal = top && named ? kEntryCannotOpenInput : kEntryCannotReadDirectory;
    f.subject = top && named ? joinPath(directory, pattern) : directory;
    f.input = f.subject;
    f.systemError = error;
    items_.push_back(std::move(f));
  }

  // The files of one directory that match the input pattern.
  void walkFiles(const RunInput& input, const std::string& pattern, const std::vector<platform::DirectoryEntry>& all,
                 const std::string& inDirectory, const std::string& outDirectory, bool top) {
    const bool named = input.kind == RunInput::Kind::Pattern && !hasWildcard(pattern);
    std::vector<platform::DirectoryEntry> entries;
    for (const platform::DirectoryEntry& entry : all) {
      if (platform::matchesPattern(pattern, entry.name)) entries.push_back(entry);
    }
    keepExactName(pattern, entries);
    for (const platform::DirectoryEntry& entry : entries) {
      if (entry.isDirectory() || platform::isTemporaryName(entry.name)) continue;
      PlanItem f;
      f.explicitInput = top && named;
      f.identity = {entry.status.device, entry.status.inode};
      f.bytes = entry.status.size;
      f.input = joinPath(inDirectory, entry.name);
      f.output = outputPath(input.output, outDirectory, entry.name);
      if (input.output.kind == OutputRule::Kind::Files && request_.options.collisionRule) {
        applyCollisionRule(f.input, f.output);
      }
      classify(f, entry.status);
      if (f.subject.empty()) f.subject = f.input;
      items_.push_back(std::move(f));
    }
  }

  const RunRequest& request_;
  const OutputFormat format_;
  const StopFlag& stop_;
  std::vector<PlanItem> items_;
  std::vector<const RunInput*> unmatched_;
  Msg stopReason_ = kEntryEmpty;
  std::set<std::pair<uint64_t, uint64_t>> inputs_;
};

// The size of the regular file at `path`; -1 for anything else, and for
// "-", the standard input or output.
int64_t sizeOnDisk(const std::string& path) {
  if (path.empty() || path == "-") return -1;
  const platform::FileStatus status = platform::fileStatus(path);
  return status.kind == platform::FileKind::Regular ? status.size : -1;
}

// One planned file: its refusal, or its job. Times the job.
FileOutcome runPlanned(const PlanItem& f, std::size_t index, RunState& run) {
  run.index = index;
  run.inputPath = f.input;
  run.outputPath = f.output;
  run.explicitInput = f.explicitInput;
  if (f.refusal != 0) {
    FileOutcome o = makeOutcome(run, f.silent ? Outcome::PassedOver : Outcome::NotConverted, f.refusal, f.subject,
                                f.detail, f.systemError);
    o.otherKind = f.otherKind;
    if (f.silent) o.output.clear();
    return o;
  }
  run.observer.fileBegun(FileBegun{index, f.input, f.output});
  const auto start = std::chrono::steady_clock::now();
  FileOutcome o = runJob(run);
  o.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  o.inputFileBytes = sizeOnDisk(f.input);
  if (o.outcome == Outcome::Converted || o.outcome == Outcome::Incomplete || o.outcome == Outcome::Skipped) {
    o.outputFileBytes = sizeOnDisk(o.output);
  }
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
    case Outcome::NotBegun: ++summary.notBegun; break;
    case Outcome::Stopped:
      ++summary.notConverted;
      if (summary.stopReason == kEntryEmpty) summary.stopReason = o.reason;
      summary.stopped = true;
      return false;
  }
  return true;
}

// The outcome of a planned file that a stop left unbegun.
FileOutcome notBegun(const RunRequest& request, const PlanItem& f, std::size_t index) {
  FileOutcome o;
  o.index = index;
  o.outcome = Outcome::NotBegun;
  o.job = request.job;
  o.input = f.input;
  o.output = f.output;
  o.subject = f.input;
  return o;
}

// Converts the planned files on `workers` threads. Outcomes are handed to
// the observer in the order of the plan as soon as all before them are in;
// after a stop, the files already started are still reported, in order, and
// the rest as not begun.
void runParallel(const std::vector<PlanItem>& files, const RunRequest& request,
                 const std::set<std::pair<uint64_t, uint64_t>>& runInputs, int workers, RunObserver& observer,
                 const StopFlag& stopFlag, RunSummary& summary) {
  std::vector<std::optional<FileOutcome>> done(files.size());
  std::atomic<std::size_t> next{0};
  std::atomic<bool> stop{false};
  std::mutex mutex;
  std::size_t emitted = 0;
  auto emitReady = [&] {
    while (emitted < done.size() && done[emitted]) {
      observer.fileDone(*done[emitted]);
      countOutcome(summary, *done[emitted]);
      ++emitted;
    }
  };
  auto work = [&] {
    RunState run(request, observer, stopFlag);
    run.runStop = &stop;
    run.runInputs = &runInputs;
    while (!stop.load() && !stopFlag.requested()) {
      const std::size_t i = next++;
      if (i >= files.size()) break;
      FileOutcome o = runPlanned(files[i], i, run);
      const std::lock_guard<std::mutex> lock(mutex);
      if (o.outcome == Outcome::Stopped) stop = true;
      done[i] = std::move(o);
      emitReady();
    }
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < workers; ++t) threads.push_back(platform::startThread(work));
  for (std::thread& t : threads) t.join();
  // What is left after a stop: the files that had started, in order, and
  // those that had not.
  for (; emitted < done.size(); ++emitted) {
    const FileOutcome o = done[emitted] ? *done[emitted] : notBegun(request, files[emitted], emitted);
    observer.fileDone(o);
    countOutcome(summary, o);
  }
  if (stopFlag.requested() && next.load() < files.size()) {
    summary.stopped = true;
    if (summary.stopReason == kEntryEmpty) summary.stopReason = kEntryStopped;
  }
}

}  // namespace

RunSummary runBatch(const RunRequest& request, RunObserver& observer, const StopFlag& stopFlag) {
  observer.runStarted(request);
  RunSummary summary;
  Planner planner(request, stopFlag);
  auto end = [&] {
    observer.runEnded(summary);
    return summary;
  };
  for (const RunInput& input : request.inputs) {
    if (!planner.walk(input)) {
      summary.stopped = true;
      summary.stopReason = planner.stopReason();
      return end();
    }
  }
  planner.check();

  RunPlan plan;
  plan.job = request.job;
  plan.overwrite = request.options.overwrite;
  for (const PlanItem& f : planner.items()) plan.files.push_back(PlannedFile{f.input, f.output, f.bytes});
  observer.runPlanned(plan);

  RunState run(request, observer, stopFlag);
  run.runInputs = &planner.inputs();

  // An input that matched nothing is named.
  for (const RunInput* input : planner.unmatched()) {
    run.index = plan.files.size();
    run.inputPath = input->kind == RunInput::Kind::Directory ? joinPath(input->path, "*.*") : input->path;
    run.outputPath.clear();
    // Why nothing was found: the directory is not there, or nothing in it matches.
    std::string directory, pattern, why;
    if (input->kind == RunInput::Kind::File) {
      directory = input->path;
    } else if (input->kind == RunInput::Kind::Directory) {
      directory = input->path;
    } else {
      splitPath(input->path, directory, pattern);
    }
    const platform::FileStatus status = platform::fileStatus(directory);
    if (status.kind == platform::FileKind::Missing) {
      why = platform::systemReason(ENOENT);
    } else if (status.kind == platform::FileKind::Error) {
      why = status.error;
    }
    FileOutcome o = makeOutcome(run, Outcome::NotConverted, kEntryNothingFound, run.inputPath, "", why);
    if (why.empty()) o.detail = hasWildcard(pattern) ? "no file matches" : "no file of that name";
    observer.fileDone(o);
    ++summary.notConverted;
  }

  const std::vector<PlanItem>& files = planner.items();
  const int workers = request.options.workers;
  if (workers > 1 && files.size() > 1) {
    runParallel(files, request, planner.inputs(), workers, observer, stopFlag, summary);
  } else {
    for (std::size_t i = 0; i < files.size(); ++i) {
      if (stopFlag.requested()) {
        summary.stopped = true;
        if (summary.stopReason == kEntryEmpty) summary.stopReason = kEntryStopped;
      }
      const FileOutcome o = summary.stopped ? notBegun(request, files[i], i) : runPlanned(files[i], i, run);
      observer.fileDone(o);
      countOutcome(summary, o);
    }
  }
  summary.nothingFound = files.empty();
  return end();
}

}  // namespace nubo::converter
