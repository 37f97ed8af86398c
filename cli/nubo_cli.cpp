// SPDX-License-Identifier: BSD-3-Clause
// nubo: the command-line front end of the converter. It builds a run
// request from its arguments and runs the same batch worker as the NUBOCONV
// window; the terminal and the report observe the run. Its texts are the
// English ones compiled in, or those of NUBOCONV.h when one is installed
// beside the program.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "batch_worker.h"
#include "data_directory.h"
#include "audio_md5.h"
#include "definition_file.h"
#include "fixity.h"
#include "describe_file.h"
#include "message_entries.h"
#include "os.h"
#include "outcome_text.h"
#include "file_formats.h"
#include "run_report.h"
#include "run_request.h"
#include "terminal_observer.h"

namespace nubo::cli {
namespace {

using converter::Job;
using converter::Naming;
using converter::OutputRule;
using converter::RunInput;

converter::StopFlag gStop;

// Ctrl-C, SIGTERM and SIGHUP ask the run to stop after its current block
// (the partial output stays under its temporary name); a second signal ends
// the program at once, which leaves no partial file under a final name either.
extern "C" void onStopSignal(int signalNumber) {
  gStop.request();
  std::signal(signalNumber, SIG_DFL);
}

// The directory part of a path ("." when it has none; a root stays itself).
std::string directoryOf(const std::string& path) {
  const std::size_t slash = path.find_last_of(platform::kPathSeparators);
  if (slash == std::string::npos) return ".";
  return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

struct Options {
  bool quiet = false;
  bool recursive = false;
  bool overwrite = false;
  bool sync = false;
  bool verifyAfterEncode = false;
  int workers = 0;  // 0: one per online processor
  std::vector<std::string> inputs;
  std::string output;
  bool outputGiven = false;  // -o was given (also as "")
  std::string filesFrom;  // a list of input paths, "-" for stdin
  bool nullSeparated = false;
  bool flac = false;
  int flacLevel = 5;
  bool md5 = false;
  std::string check;  // test --check: the record of MD5s to compare with
  bool best = false;  // encode and upgrade: the searching encoder
  bool reportGiven = false;
  bool filesFromGiven = false;
  std::string report;
  std::string nab, wav;  // verify
  std::vector<std::string> infoFiles;
};

// The paths of a --files-from list: one a line (a CR before the line feed is
// dropped), or NUL-separated; empty entries are skipped.
bool readFileList(const std::string& source, bool nullSeparated, std::vector<std::string>& paths,
                  std::string& error) {
  std::FILE* f = source == "-" ? stdin : platform::openFile(source, "rb");
  if (f == nullptr) {
    error = source + ": " + platform::systemReason(errno);
    return false;
  }
  const int separator = nullSeparated ? '\0' : '\n';
  std::string path;
  for (int c; (c = std::getc(f)) != EOF;) {
    if (c != separator) {
      path += static_cast<char>(c);
      continue;
    }
    if (!nullSeparated && !path.empty() && path.back() == '\r') path.pop_back();
    if (!path.empty()) paths.push_back(path);
    path.clear();
  }
  if (!nullSeparated && !path.empty() && path.back() == '\r') path.pop_back();
  if (!path.empty()) paths.push_back(path);
  const bool failed = std::ferror(f) != 0;
  if (f != stdin) std::fclose(f);
  if (failed) error = source + ": " + platform::systemReason(EIO);
  return !failed;
}

// The directory part of a listed path that may be mirrored below an output
// directory: a relative path that stays below where it starts ("./" dropped).
std::string mirroredDirectory(const std::string& path) {
  // (Paths made from UTF-8 text and back: on Windows std::filesystem would
  // read a plain string in another code page.)
  std::filesystem::path dir = std::filesystem::path(std::u8string(path.begin(), path.end())).parent_path().lexically_normal();
  if (dir.empty() || dir == "." || dir.is_absolute()) return "";
  for (const auto& part : dir) {
    if (part == "..") return "";
  }
  const std::u8string text = dir.make_preferred().u8string();
  return std::string(text.begin(), text.end()) + platform::kPathSeparator;
}

// What a command-line input names: a directory, an existing file (taken as
// named, whatever characters its name holds), or, when nothing of that name
// exists, a pattern ('*' and '?', without regard to case). A name from a
// --files-from list is never a pattern.
RunInput::Kind inputKind(const std::string& input, bool listed) {
  if (input == "-" && !listed) return RunInput::Kind::StandardInput;
  const platform::FileStatus status = platform::fileStatus(input);
  if (status.kind == platform::FileKind::Directory) return RunInput::Kind::Directory;
  if (listed || status.kind != platform::FileKind::Missing) return RunInput::Kind::File;
  return RunInput::Kind::Pattern;
}

// The output rule of one input. `defaultNaming` applies beside the input
// when no -o was given; inputs from a --files-from list keep their relative
// directories below an output directory, so that a tree split into lists
// comes out as one tree.
OutputRule outputRule(Job job, const Options& o, const RunInput& input, bool listed, Naming defaultNaming) {
  OutputRule rule;
  if (job == Job::Test) {
    rule.kind = OutputRule::Kind::None;
    return rule;
  }
  if (o.output.empty()) {
    rule.directory = input.kind == RunInput::Kind::Directory ? input.path : directoryOf(input.path);
    rule.naming = defaultNaming;
    return rule;
  }
  if (o.output == "-") {
    rule.kind = OutputRule::Kind::StandardOutput;
    return rule;
  }
  std::string field = o.output;
  if (platform::fileStatus(field).kind == platform::FileKind::Directory && !platform::isPathSeparator(field.back())) {
    field += platform::kPathSeparator;
  }
  const char last = field.back();
  if (platform::isPathSeparator(last)) {
    rule.directory = field.size() == 1 ? field : field.substr(0, field.size() - 1);
    rule.naming = Naming::ReplaceExtension;
  } else {
    rule.directory = directoryOf(field);
    const std::string name = field.substr(field.find_last_of(platform::kPathSeparators) + 1);
    const std::size_t star = name.find('*');
    if (star != std::string::npos) {
      // The input's name (without its extension) stands where the '*' is.
      rule.naming = Naming::ReplaceExtension;
      rule.prefix = name.substr(0, star);
      rule.suffix = name.substr(star + 1);
    } else if (last == '!') {
      rule.naming = Naming::ToggleMark;
    } else {
      rule.naming = Naming::Exact;
      rule.name = name;
    }
  }
  if (listed && rule.naming != Naming::Exact) {
    const std::string mirrored = mirroredDirectory(input.path);
    if (!mirrored.empty()) {
      rule.directory = rule.directory == "." ? mirrored.substr(0, mirrored.size() - 1)
                                             : rule.directory + platform::kPathSeparator +
                                                   mirrored.substr(0, mirrored.size() - 1);
    }
  }
  return rule;
}

// Whether `job` writes files of `format`: decode one of PCM audio, the others compressed files.
bool writes(Job job, const converter::FileFormat& format) {
  return job == Job::Decode ? format.carriesPcm() : &format == &converter::fileFormat(converter::OutputFormat::Nab);
}

// The extensions of what `job` writes, as a sentence says them (".wav or .flac").
std::string writtenExtensions(Job job) {
  std::string list;
  for (const converter::FileFormat* format : converter::fileFormats()) {
    if (!writes(job, *format)) continue;
    if (!list.empty()) list += " or ";
    list += format->replacementExtension();
  }
  return list;
}

// Why an -o value cannot name the outputs of `job` ("" when it can): one
// '*' at most, what follows it ending in an extension of the format
// written, and a '!' toggled into the name only where the output is of the
// input's kind (upgrade).
std::string outputProblem(Job job, const std::string& output) {
  if (output.empty()) return "-o needs a file, a directory/, a name with '*' or '!'";
  const std::size_t slash = output.find_last_of(platform::kPathSeparators);
  const std::string name = slash == std::string::npos ? output : output.substr(slash + 1);
  const std::size_t star = name.find('*');
  if (star != std::string::npos) {
    if (name.find('*', star + 1) != std::string::npos) return "-o " + output + ": one '*' at most";
    const std::string suffix = name.substr(star + 1);
    if (suffix.empty()) return "";
    const auto& formats = converter::fileFormats();
    const bool fits = std::any_of(formats.begin(), formats.end(), [&](const converter::FileFormat* format) {
      return writes(job, *format) && converter::hasExtensionOf(suffix, *format);
    });
    if (!fits) {
      return "-o " + output + ": the name after '*' must end in " + writtenExtensions(job) +
             ", the kind of file this command writes";
    }
    return "";
  }
  if (name == "!" && job != Job::Reencode) {
    return "-o " + output + ": a '!' toggled into the input's name keeps its extension; only upgrade writes "
           "files of its input's kind";
  }
  if (!name.empty() && name.back() == '!' && name != "!") {
    return "-o " + output + ": use '!' alone (or dir/!) to toggle a '!' into each input's name";
  }
  return "";
}

// Runs `request`, observed by the terminal and, when asked for, the report.
int runRequest(const converter::RunRequest& request, const std::string& reportPath, bool overwrite,
               TerminalObserver& terminal, FixityCheck* fixity = nullptr) {
  converter::ObserverList observers;
  observers.add(terminal);
  if (fixity != nullptr) observers.add(*fixity);
  RunReport report(terminal.text());
  if (!reportPath.empty()) {
    std::string error;
    if (!report.open(reportPath, overwrite, error)) {
      terminal.reportError("--report " + error);
      return kExitUsage;
    }
    observers.add(report);
  }
  converter::runBatch(request, observers, gStop);
  int status = terminal.finish(request.job);
  if (fixity != nullptr) {
    bool walked = false;
    for (const RunInput& input : request.inputs) walked = walked || input.kind != RunInput::Kind::File;
    if (fixity->finish(walked, stdout, stderr) > 0) status = kExitFailed;
  }
  if (report.isOpen()) {
    std::string error;
    if (!report.close(error)) {
      terminal.reportError(error);
      status = kExitFailed;
    }
  }
  return status;
}

// Runs one job over every input. `defaultNaming` names the output beside an
// input when no -o was given.
int runInputs(Job job, Options o, Naming defaultNaming, TerminalObserver& fe) {
  if (o.reportGiven && (o.report.empty() || o.report == "-" || platform::isPathSeparator(o.report.back()))) {
    fe.reportError("--report needs a file name (not \"" + o.report + "\")");
    return kExitUsage;
  }
  if (o.filesFromGiven && o.filesFrom.empty()) {
    fe.reportError("--files-from needs a file name, or - for the standard input");
    return kExitUsage;
  }
  if (o.nullSeparated && o.filesFrom.empty()) {
    fe.reportError("--null separates the names of a --files-from list; there is none");
    return kExitUsage;
  }
  // The report never replaces a file the run reads.
  for (const std::string& read : {o.check, o.filesFrom}) {
    if (!o.report.empty() && !read.empty() && read != "-" &&
        (read == o.report || platform::sameFile(read, o.report))) {
      fe.reportError("--report " + o.report + " is a file this run reads; it is not replaced");
      return kExitUsage;
    }
  }
  if (!o.report.empty() && !o.output.empty() && o.output != "-" &&
      (o.output == o.report || platform::sameFile(o.output, o.report))) {
    fe.reportError("--report " + o.report + " is the output of this run");
    return kExitUsage;
  }
  FixityCheck fixity;
  bool fromRecord = false;
  if (!o.check.empty()) {
    std::string error;
    if (!fixity.load(o.check, error)) {
      fe.reportError("--check " + error);
      return kExitUsage;
    }
    // Without inputs, the files the record lists.
    if (o.inputs.empty() && o.filesFrom.empty()) {
      o.inputs = fixity.recordedPaths();
      fromRecord = true;
    }
  }
  if ((o.md5 || !o.check.empty()) && !converter::AudioMd5::available()) {
    fe.reportError("this build of nubo has no MD5: --md5 and --check cannot be done");
    return kExitUsage;
  }
  const std::size_t named = fromRecord ? 0 : o.inputs.size();
  if (o.inputs.empty() && o.filesFrom.empty()) {
    fe.reportError("no input given (INPUT... or --files-from FILE; see nubo --help)");
    return kExitUsage;
  }
  if (!o.filesFrom.empty()) {
    std::string error;
    if (!readFileList(o.filesFrom, o.nullSeparated, o.inputs, error)) {
      fe.reportError(error);
      return kExitFailed;
    }
  }
  if (o.inputs.empty()) {
    fe.reportError(fe.text()(converter::kEntryNothingFound));
    return kExitFailed;
  }
  converter::RunRequest request;
  request.job = job;
  request.options.overwrite = o.overwrite;
  request.options.recursive = o.recursive;
  request.options.sync = o.sync;
  request.options.workers = o.workers > 0 ? o.workers : platform::onlineProcessors();
  request.options.level = o.flacLevel;
  request.options.md5 = o.md5 || !o.report.empty() || !o.check.empty();
  request.options.best = o.best;
  if (job != Job::Test && (o.outputGiven || !o.output.empty())) {
    if (const std::string why = outputProblem(job, o.output); !why.empty()) {
      fe.reportError(why);
      return kExitUsage;
    }
  }
  // A decode writes WAVE, or the PCM format named by --flac or by the output's extension.
  const std::optional<converter::OutputFormat> byName =
      o.output != "-" ? converter::formatByExtension(o.output) : std::nullopt;
  request.options.decodeFormat = o.flac ? converter::OutputFormat::Flac
                                 : byName && converter::fileFormat(*byName).carriesPcm() ? *byName
                                                                                           : converter::OutputFormat::Wave;
  if (job == Job::Decode && o.flac && o.output != "-") {
    const converter::FileFormat& flac = converter::fileFormat(converter::OutputFormat::Flac);
    for (const converter::FileFormat* named : converter::fileFormats()) {
      if (named != &flac && named->carriesPcm() && converter::hasExtensionOf(o.output, *named)) {
        fe.reportError("--flac writes " + std::string(flac.name()) + ", but -o " + o.output + " names " +
                       std::string(named->name()) + " files");
        return kExitUsage;
      }
    }
  }
  if (const converter::FileFormat& written = converter::fileFormat(request.options.decodeFormat);
      job == Job::Decode && !written.available()) {
    fe.reportError("this build of nubo was made without " + std::string(written.library()) + ": it writes no " +
                   std::string(written.name()));
    return kExitUsage;
  }
  const bool outputIsOneFile = !o.output.empty() && o.output != "-" &&
                               platform::fileStatus(o.output).kind != platform::FileKind::Directory &&
                               !platform::isPathSeparator(o.output.back()) &&
                               o.output.find('*') == std::string::npos && o.output.back() != '!';
  for (std::size_t i = 0; i < o.inputs.size(); ++i) {
    const std::string& path = o.inputs[i];
    const bool listed = i >= named;
    if (path.empty()) {
      fe.reportError(fe.text()(converter::kEntryNothingFound));
      return kExitUsage;
    }
    if (path == "-" && !listed && job != Job::Test) {
      // The standard input has no name to derive an output's from, and
      // cannot be read a second time for a verify.
      if (!outputIsOneFile && o.output != "-") {
        fe.reportError("the standard input (-) needs an output file: -o FILE, or -o - for the standard output");
        return kExitUsage;
      }
      if (job == Job::EncodeVerify) {
        fe.reportError("--verify cannot read the standard input a second time; encode a file to verify it");
        return kExitUsage;
      }
    }
    if (job == Job::EncodeVerify &&
        (o.output == "-" || (!o.output.empty() && platform::sameFile(o.output, platform::kNullDevice)))) {
      fe.reportError("--verify reads each output back: it needs an output file, not " + o.output);
      return kExitUsage;
    }
    RunInput input;
    input.kind = inputKind(path, listed);
    // A listed "-" is the file of that name, never the standard input.
    input.path = listed && path == "-" ? std::string(".") + platform::kPathSeparator + path : path;
    input.output = outputRule(job, o, input, listed, defaultNaming);
    request.inputs.push_back(std::move(input));
  }
  if (const std::optional<converter::Msg> problem = converter::requestProblem(request)) {
    fe.reportError(fe.text()(*problem));
    return kExitUsage;
  }
  return runRequest(request, o.report, o.overwrite, fe, o.check.empty() ? nullptr : &fixity);
}

int commandVerify(const Options& o, TerminalObserver& fe) {
  converter::RunRequest request;
  request.job = Job::Verify;
  request.options.overwrite = true;
  RunInput input;
  input.kind = inputKind(o.nab, false);
  input.path = o.nab;
  input.output.directory = directoryOf(o.wav);
  input.output.naming = Naming::Exact;
  input.output.name = o.wav.substr(o.wav.find_last_of(platform::kPathSeparators) + 1);
  request.inputs.push_back(std::move(input));
  return runRequest(request, "", false, fe);
}

// The description is what info is asked for: -q does not hold it back.
int commandInfo(const std::string& path, TerminalObserver& fe) {
  converter::FileDescription d;
  std::string error;
  if (!converter::describeFile(path, d, error)) {
    fe.reportError(path + ": " + error);
    return kExitFailed;
  }
  std::printf("file               %s\n", path.c_str());
  std::printf("file size          %lld bytes\n", static_cast<long long>(d.fileSize));
  std::printf("format tag         0x%04X\n", static_cast<unsigned>(d.formatTag));
  std::printf("channels           %d\n", d.channels);
  std::printf("sample rate        %d Hz\n", d.sampleRate);
  std::printf("byte rate          %d\n", d.byteRate);
  std::printf("block align        %d\n", d.blockAlign);
  std::printf("bits per sample    %d\n", d.bitsPerSample);
  std::printf("coder version      %d\n", d.coderVersion);
  std::printf("coder parameter    %d\n", d.coderParameter);
  std::printf("sample frames      %u (fact chunk)\n", static_cast<unsigned>(d.frameCount));
  std::printf("RIFF size          %u\n", static_cast<unsigned>(d.riffSize));
  std::printf("data chunk size    %u\n", static_cast<unsigned>(d.dataSize));
  std::printf("preamble length    %lld bytes\n", static_cast<long long>(d.preambleLength));
  if (!d.chunks.empty()) std::printf("WAVE chunks        %s\n", d.chunks.c_str());
  if (d.chunksDamaged) std::printf("remark             the WAVE chunks kept in the preamble are damaged and cannot be read\n");
  std::printf("block length       %lld samples\n", static_cast<long long>(d.blockLength));
  std::printf("blocks             %lld%s\n", static_cast<long long>(d.blocks),
              d.lastBlockHasCountExtension ? " (the last with a count extension)" : "");
  std::printf("code bytes         %lld\n", static_cast<long long>(d.codeBytes));
  std::printf("decoded samples    %lld (%lld frames)\n", static_cast<long long>(d.samples),
              static_cast<long long>(d.channels > 0 ? d.samples / d.channels : 0));
  if (d.samples > 0) {
    std::printf("ratio              %.3f of the PCM size\n",
                static_cast<double>(d.codeBytes) / static_cast<double>(2 * d.samples));
  }
  if (!d.md5.empty() && !d.damaged) std::printf("audio MD5          %s\n", d.md5.c_str());
  std::fflush(stdout);
  if (d.unreadable) {
    fe.reportError(path + ": " + d.problem);
    return kExitFailed;
  }
  if (d.damaged || d.incomplete) {
    converter::FileOutcome problem;
    problem.reason = d.damaged ? converter::kEntryDamaged : converter::kEntryFileIncomplete;
    problem.subject = path;
    problem.block = d.damaged ? d.damagedBlock : 0;
    problem.offset = d.damagedOffset;
    if (problem.block == 0) problem.detail = d.problem;
    fe.reportError(converter::problemText(problem, fe.text()));
    return kExitFailed;
  }
  return kExitOk;
}

constexpr const char* kCommands[] = {"upgrade", "encode", "decode", "verify", "test", "info"};

// A first argument that is neither an option nor a command is named in the
// error, with the commands there are.
bool unknownCommand(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.empty() || a[0] == '-') continue;
    for (const char* c : kCommands) {
      if (a == c) return false;
    }
    std::fprintf(stderr, "nubo: unknown command '%s' (commands: upgrade, encode, decode, verify, test, info; see nubo --help)\n",
                 a.c_str());
    return true;
  }
  return false;
}

int run(int argc, char** argv) {
#ifdef _WIN32
  // cmd.exe knows double quotes only (and expands no pattern itself).
  CLI::App app{"nubo: lossless 16-bit PCM audio compression and upgrade of old .NAB files.\n"
               "Patterns (\"dir\\*.NAB\") are expanded by nubo; quote those that hold spaces."};
#else
  CLI::App app{"nubo: lossless 16-bit PCM audio compression and upgrade of old .NAB files.\n"
               "Quote patterns ('dir/*.NAB') so that nubo, not the shell, expands them."};
#endif
  // Usage lines name the program as users type it, not by its full path.
  app.name("nubo");
  app.require_subcommand(1);
  // An argument that starts with '/' is a path, also on Windows
  // (nubo.exe encode /data/take.wav); the subcommands inherit this.
  app.allow_windows_style_options(false);
  Options o;
  std::vector<CLI::Option*> outputOptions, reportOptions, listOptions;
  app.add_flag("-q,--quiet", o.quiet, "Print nothing but problems (on stderr) and what was asked for (info fields, MD5 sums)");
  app.set_version_flag("--version", "nubo " NUBO_VERSION);

  auto addQuiet = [&](CLI::App* sub) { sub->add_flag("-q,--quiet", o.quiet, "Print nothing but problems (on stderr) and what was asked for (info fields, MD5 sums)"); };
  auto addBatch = [&](CLI::App* sub) {
    sub->add_option("-j,--jobs", o.workers, "Files worked on at once (default: one per online processor)")
        ->check(CLI::Range(1, 1024));
    listOptions.push_back(sub->add_option(
        "--files-from", o.filesFrom,
        "Also take the inputs listed in FILE, one a line ('-': standard input), each a literal path; with an "
        "output directory their relative directories are kept below it"));
    sub->add_flag("--null", o.nullSeparated, "The --files-from list is separated by NUL bytes");
    reportOptions.push_back(sub->add_option(
        "--report", o.report, "Write one JSON line per file of the run to FILE (JSON Lines); -f replaces an earlier one"));
  };
  auto addWriting = [&](CLI::App* sub) {
    addBatch(sub);
    outputOptions.push_back(sub->add_option("-o,--output", o.output,
                    "Output: a file (one input only); directory/; a name with '*' where each input's name goes, its "
                    "extension replaced ('out/*', 'pre_*', '*.flac'); or '!' toggled into each input's name (upgrade)"));
    sub->add_flag("-r,--recursive", o.recursive, "Include subdirectories");
    sub->add_flag("-f,--overwrite", o.overwrite,
                  "Replace existing outputs (only files of the kind written: never an input, never an old file)");
    sub->add_flag("--sync", o.sync, "Force each output and its directory to the disk before it takes its name");
    addQuiet(sub);
  };

  constexpr const char* kBestHelp =
      "Search each block for its smallest version-22 form (slower; every version-22 decoder reads it)";
  CLI::App* upgrade = app.add_subcommand(
      "upgrade", "Re-encode version-20/21 .NAB files to version 22 (files, directories or quoted patterns)");
  upgrade->add_option("INPUT", o.inputs, "Files, directories, or quoted patterns such as 'dir/*.NAB'");
  addWriting(upgrade);
  upgrade->add_flag("--best", o.best, kBestHelp);
  upgrade->footer("Default output: beside each input with a '!' toggled into the name (TAKE.NAB -> TAKE!.NAB).");

  CLI::App* encode = app.add_subcommand("encode", "Compress 16-bit PCM WAVE files to version-22 .NAB files");
  encode->add_option("INPUT", o.inputs, "WAVE files, directories, or quoted patterns such as 'dir/*.wav'");
  encode->add_flag("--verify", o.verifyAfterEncode, "Decode every output again and compare it with its input");
  addWriting(encode);
  encode->add_flag("--best", o.best, kBestHelp);
  encode->footer("Default output: beside each input with the extension .NAB.");

  CLI::App* decode = app.add_subcommand("decode", "Decode .NAB files (any coder version) to 16-bit PCM WAVE files");
  decode->add_option("NAB", o.inputs, "Compressed files, directories, or quoted patterns");
  addWriting(decode);
  decode->add_flag("--flac", o.flac, "Write FLAC (also chosen by an output name ending in .flac)");
  decode->add_option("--flac-level", o.flacLevel, "FLAC compression level, 0 (fastest) to 8 (smallest)")
      ->check(CLI::Range(0, 8));
  decode->footer("Default output: beside each input with the extension .wav (.flac with --flac); "
                 "-o - writes to the standard output.");

  CLI::App* verify = app.add_subcommand("verify", "Check that a .NAB file decodes to exactly a WAVE file's audio");
  verify->add_option("NAB", o.nab, "Compressed file")->required();
  verify->add_option("WAV", o.wav, "PCM WAVE file to compare with")->required();
  addQuiet(verify);

  CLI::App* test = app.add_subcommand("test", "Check .NAB files: header, every block, and the counts agree");
  test->add_option("FILE", o.inputs, "Compressed files, directories, or quoted patterns");
  test->add_flag("-r,--recursive", o.recursive, "Include subdirectories");
  test->add_flag("-f,--overwrite", o.overwrite, "Replace an earlier --report file of the same name");
  test->add_option("--check", o.check,
                   "Compare each file's audio MD5 with SUMS (lines of test --md5, or a --report file); "
                   "without FILE arguments, check the files SUMS lists");
  test->add_flag("--md5", o.md5, "Print the MD5 of each file's audio as FLAC keeps it (as metaflac prints it)");
  addBatch(test);
  addQuiet(test);

  CLI::App* info = app.add_subcommand("info", "Show the header, coder version and blocks of a .NAB file");
  info->add_option("FILE", o.infoFiles, "Compressed files")->required();
  addQuiet(info);

  if (unknownCommand(argc, argv)) return kExitUsage;
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // --help and --version are told as CLI11 tells them; a usage error in
    // nubo's own form, on stderr.
    if (e.get_exit_code() == 0) return app.exit(e);
    std::fprintf(stderr, "nubo: %s\nnubo: see nubo --help (or nubo COMMAND --help)\n", e.what());
    return kExitUsage;
  }

  for (const CLI::Option* option : outputOptions) o.outputGiven = o.outputGiven || option->count() > 0;
  for (const CLI::Option* option : reportOptions) o.reportGiven = o.reportGiven || option->count() > 0;
  for (const CLI::Option* option : listOptions) o.filesFromGiven = o.filesFromGiven || option->count() > 0;

  // The texts: those of the window's definition file when one is installed
  // beside the program (or in the data directory), else the English ones.
  auto definitions = std::make_shared<ui::Definitions>();
  bool haveDefinitions = true;
  int language = 0;
  const std::string stem = platform::dataDirectory(platform::programDirectory(), "NUBOCONV.h") + "/NUBOCONV.";
  // Only a regular file is read (a directory of that name would throw).
  if (platform::fileStatus(stem + "h").kind == platform::FileKind::Regular) {
    try {
      ui::loadDefinitions(stem, language, *definitions, [&](const std::string&) { haveDefinitions = false; });
    } catch (const std::exception&) {
      haveDefinitions = false;
    }
  } else {
    haveDefinitions = false;
  }
  if (!haveDefinitions || definitions->problem().line != 0) definitions.reset();
  converter::TextOf text = [definitions](int id) -> std::string {
    if (definitions && definitions->defined(id)) return definitions->text(id);
    return converter::englishText(id);
  };

  // When the data goes to standard output, so that nothing else does, the
  // results are written to standard error instead.
  const bool dataOnStdout = o.output == "-";
  TerminalObserver frontEnd(text, o.quiet, dataOnStdout ? stderr : stdout);
  for (int s : {SIGINT, SIGTERM}) std::signal(s, onStopSignal);
#ifdef SIGHUP  // (Windows has none)
  std::signal(SIGHUP, onStopSignal);
#endif
#ifdef SIGXFSZ
  // A write past the file size limit (ulimit -f) then fails with EFBIG and
  // is reported for its file, instead of ending the process without a word.
  std::signal(SIGXFSZ, SIG_IGN);
#endif

  if (upgrade->parsed()) return runInputs(Job::Reencode, o, Naming::ToggleMark, frontEnd);
  if (encode->parsed()) {
    return runInputs(o.verifyAfterEncode ? Job::EncodeVerify : Job::Encode, o, Naming::ReplaceExtension, frontEnd);
  }
  if (decode->parsed()) return runInputs(Job::Decode, o, Naming::ReplaceExtension, frontEnd);
  if (test->parsed()) return runInputs(Job::Test, o, Naming::ReplaceExtension, frontEnd);
  if (verify->parsed()) return commandVerify(o, frontEnd);
  if (info->parsed()) {
    // Each file described in turn (a blank line between them); exit 1 when
    // any could not be described whole.
    int status = kExitOk;
    for (std::size_t i = 0; i < o.infoFiles.size(); ++i) {
      if (i > 0) std::printf("\n");
      if (commandInfo(o.infoFiles[i], frontEnd) != kExitOk) status = kExitFailed;
    }
    return status;
  }
  return kExitUsage;
}

}  // namespace
}  // namespace nubo::cli

int main(int argc, char** argv) {
  // The arguments as UTF-8 (on Windows from the wide command line).
  std::vector<std::string> arguments = nubo::platform::programArguments(argc, argv);
  std::vector<char*> pointers;
  for (std::string& a : arguments) pointers.push_back(a.data());
  pointers.push_back(nullptr);
  return nubo::cli::run(static_cast<int>(arguments.size()), pointers.data());
}
