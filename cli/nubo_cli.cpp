// SPDX-License-Identifier: BSD-3-Clause
// nubo: the command-line front end of the converter. It runs the same jobs
// and the same batch worker as the NUBOCONV window, with the same messages
// (read from NUBOCONV.h beside the program).
#include <CLI/CLI.hpp>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "data_directory.h"
#include "definition_file.h"
#include "file_tools.h"
#include "front_end.h"
#include "message_entries.h"
#include "os.h"
#include "pcm_stream.h"
#include "run_report.h"
#include "terminal_front_end.h"

namespace nubo::cli {
namespace {

TerminalFrontEnd* gFrontEnd = nullptr;

// Ctrl-C, SIGTERM and SIGHUP ask the run to stop after its current block
// (the partial output stays under its temporary name); a second signal ends
// the program at once, which leaves no partial file under a final name either.
extern "C" void onStopSignal(int signalNumber) {
  if (gFrontEnd != nullptr) gFrontEnd->requestCancel();
  std::signal(signalNumber, SIG_DFL);
}

bool isDirectory(const std::string& path) {
  std::error_code ec;
  return !path.empty() && std::filesystem::is_directory(path, ec);
}

// The window's fields take a directory as "dir/"; on the command line a
// directory is accepted with or without the trailing '/'.
std::string asField(const std::string& argument) {
  if (isDirectory(argument) && !platform::isPathSeparator(argument.back())) return argument + platform::kPathSeparator;
  return argument;
}

// The directory part of a field, with its separator ("" when it has none).
std::string directoryPart(const std::string& field) {
  const std::size_t slash = field.find_last_of(platform::kPathSeparators);
  return slash == std::string::npos ? std::string() : field.substr(0, slash + 1);
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
  std::string filesFrom;  // a list of input paths, "-" for stdin
  bool nullSeparated = false;
  bool flac = false;
  int flacLevel = 5;
  bool md5 = false;
  std::string report;
  std::string nab, wav;  // verify
};

// The paths of a --files-from list: one a line (a CR before the line feed is
// dropped), or NUL-separated; empty entries are skipped.
bool readFileList(const std::string& source, bool nullSeparated, std::vector<std::string>& paths,
                  std::string& error) {
  std::FILE* f = source == "-" ? stdin : std::fopen(source.c_str(), "rb");
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
  std::filesystem::path dir = std::filesystem::path(path).parent_path().lexically_normal();
  if (dir.empty() || dir == "." || dir.is_absolute()) return "";
  for (const auto& part : dir) {
    if (part == "..") return "";
  }
  return dir.make_preferred().string() + platform::kPathSeparator;
}

// Runs one job kind over every input. `defaultOutput` is the output field
// beside an input when no -o was given ("!" or "*"). Inputs from a
// --files-from list keep their relative directories below an output
// directory, so that a tree split into lists comes out as one tree.
int runInputs(int jobKind, Options o, const std::string& defaultOutput, TerminalFrontEnd& fe) {
  const std::size_t listed = o.inputs.size();
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
    fe.reportError(fe.message(converter::kEntryNothingFound));
    return kExitFailed;
  }
  const std::string outputField = o.output.empty() ? "" : asField(o.output);
  const bool outputIsPattern =
      !outputField.empty() &&
      (platform::isPathSeparator(outputField.back()) || outputField.back() == '*' || outputField.back() == '!');
  std::vector<converter::RunParameters> runs;
  for (std::size_t i = 0; i < o.inputs.size(); ++i) {
    const std::string& input = o.inputs[i];
    const std::string in = asField(input);
    std::string out;
    if (input == "-" && jobKind != converter::kJobTest) {
      // The standard input has no name to derive an output's from, and
      // cannot be read a second time for a verify.
      if (o.output.empty() || outputIsPattern) {
        fe.reportError("the standard input (-) needs an output file: -o FILE, or -o - for the standard output");
        return kExitUsage;
      }
      if (jobKind == converter::kJobEncodeVerify) {
        fe.reportError("--verify cannot read the standard input a second time; encode a file to verify it");
        return kExitUsage;
      }
    }
    if (jobKind != converter::kJobTest) {
      if (outputField.empty()) {
        out = directoryPart(in) + defaultOutput;
      } else if (i >= listed && outputIsPattern) {
        out = directoryPart(outputField) + mirroredDirectory(input) + outputField.substr(directoryPart(outputField).size());
      } else {
        out = outputField;
      }
    }
    converter::RunParameters params;
    if (converter::prepareRun(jobKind, o.overwrite, o.recursive, in, out, fe, params) != 0) {
      fe.failBeforeRun();
      return kExitUsage;
    }
    params.sync = o.sync;
    params.flac = params.flac || o.flac;
    if (params.flac) params.replacementExtension = ".flac";
    params.flacLevel = o.flacLevel;
    params.md5 = o.md5 || !o.report.empty();
    if (params.flac && !converter::flacAvailable()) {
      fe.reportError("this build of nubo was made without libFLAC: it writes no FLAC");
      return kExitUsage;
    }
    runs.push_back(std::move(params));
  }
  // Several inputs into one output file would overwrite one another.
  if (runs.size() > 1 && !o.output.empty() && runs.front().namingMode == 0) {
    fe.reportError(fe.message(converter::kEntryWildcardNeedsPattern));
    return kExitUsage;
  }
  RunReport report;
  if (!o.report.empty()) {
    std::string error;
    if (!report.open(o.report, error)) {
      fe.reportError(o.report + ": " + error);
      return kExitFailed;
    }
    fe.setReport(&report);
  }
  converter::runBatch(runs, fe, o.workers > 0 ? o.workers : platform::onlineProcessors());
  int status = fe.finish(jobKind);
  if (report.isOpen()) {
    fe.setReport(nullptr);
    std::string error;
    if (!report.close(error)) {
      fe.reportError(error);
      status = kExitFailed;
    }
  }
  return status;
}

int commandVerify(const Options& o, TerminalFrontEnd& fe) {
  converter::RunParameters params;
  if (converter::prepareRun(converter::kJobVerify, true, false, o.nab, o.wav, fe, params) != 0) {
    fe.failBeforeRun();
    return kExitUsage;
  }
  converter::runBatch(params, fe);
  return fe.finish(converter::kJobVerify);
}

int commandInfo(const std::string& path, bool quiet, TerminalFrontEnd& fe) {
  converter::FileDescription d;
  std::string error;
  if (!converter::describeFile(path, d, error)) {
    fe.reportError(path + ": " + error);
    return kExitFailed;
  }
  if (!quiet) {
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
  }
  if (d.damaged) {
    const std::string where =
        d.damagedBlock > 0 ? fe.message(converter::kEntryWordBlock) + " " + std::to_string(d.damagedBlock) + ", " +
                                 fe.message(converter::kEntryWordOffset) + " " + std::to_string(d.damagedOffset)
                           : d.problem;
    std::fprintf(stderr, "%s\n", fe.problemLine(converter::kEntryDamaged, path, where).c_str());
    return kExitFailed;
  }
  if (d.incomplete) {
    std::fprintf(stderr, "%s\n", fe.problemLine(converter::kEntryFileIncomplete, path, d.problem).c_str());
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
  CLI::App app{"nubo: lossless 16-bit PCM audio compression and upgrade of old .NAB files.\n"
               "Quote patterns ('dir/*.NAB') so that nubo, not the shell, expands them."};
  app.require_subcommand(1);
  Options o;
  app.add_flag("-q,--quiet", o.quiet, "Print nothing but problems (on stderr)");
  app.set_version_flag("--version", "nubo " NUBO_VERSION);

  auto addQuiet = [&](CLI::App* sub) { sub->add_flag("-q,--quiet", o.quiet, "Print nothing but problems (on stderr)"); };
  auto addBatch = [&](CLI::App* sub) {
    sub->add_option("-j,--jobs", o.workers, "Files converted at once (default: one per online processor)")
        ->check(CLI::Range(1, 1024));
    sub->add_option("--files-from", o.filesFrom,
                    "Also take the inputs listed in FILE, one a line ('-': standard input); their relative "
                    "directories are kept below an output directory");
    sub->add_flag("--null", o.nullSeparated, "The --files-from list is separated by NUL bytes");
    sub->add_option("--report", o.report, "Write one JSON line per file found to FILE (JSON Lines)");
  };
  auto addWriting = [&](CLI::App* sub) {
    addBatch(sub);
    sub->add_option("-o,--output", o.output,
                    "Output: a file (one input only), directory/, name* (extension replaced) or name! (toggle '!')");
    sub->add_flag("-r,--recursive", o.recursive, "Include subdirectories");
    sub->add_flag("-f,--overwrite", o.overwrite,
                  "Replace existing outputs (only files of the kind written: never an input, never an old file)");
    sub->add_flag("--sync", o.sync, "Force each output and its directory to the disk before it takes its name");
    addQuiet(sub);
  };

  CLI::App* upgrade = app.add_subcommand(
      "upgrade", "Re-encode version-20/21 .NAB files to version 22 (files, directories or quoted patterns)");
  upgrade->add_option("INPUT", o.inputs, "Files, directories, or quoted patterns such as 'dir/*.NAB'");
  addWriting(upgrade);
  upgrade->footer("Default output: beside each input with a '!' toggled into the name (TAKE.NAB -> TAKE!.NAB).");

  CLI::App* encode = app.add_subcommand("encode", "Compress 16-bit PCM WAVE files to version-22 .NAB files");
  encode->add_option("INPUT", o.inputs, "WAVE files, directories, or quoted patterns such as 'dir/*.wav'");
  encode->add_flag("--verify", o.verifyAfterEncode, "Decode every output again and compare it with its input");
  addWriting(encode);
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
  test->add_flag("--md5", o.md5, "Print the MD5 of each file's audio as FLAC keeps it (as metaflac prints it)");
  addBatch(test);
  addQuiet(test);

  CLI::App* info = app.add_subcommand("info", "Show the header, coder version and blocks of a .NAB file");
  info->add_option("FILE", o.nab, "Compressed file")->required();
  addQuiet(info);

  if (unknownCommand(argc, argv)) return kExitUsage;
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? kExitOk : kExitUsage;
  }

  // Every text a run shows comes from the definition file, beside the program
  // or in the installed data directory.
  ui::Definitions definitions;
  int language = 0;
  bool haveDefinitions = true;
  ui::loadDefinitions(platform::dataDirectory(platform::programDirectory(), "NUBOCONV.h") + "/NUBOCONV.", language,
                      definitions,
                      [&](const std::string& basePath) {
                        std::fprintf(stderr, "nubo: I need %s\n", basePath.c_str());
                        haveDefinitions = false;
                      });
  if (!haveDefinitions) return kExitFailed;

  // When the data goes to standard output, so that nothing else does, the
  // results are written to standard error instead.
  const bool dataOnStdout = o.output == "-";
  TerminalFrontEnd frontEnd(definitions, o.quiet, dataOnStdout ? stderr : stdout);
  gFrontEnd = &frontEnd;
  for (int s : {SIGINT, SIGTERM}) std::signal(s, onStopSignal);
#ifdef SIGHUP  // (Windows has none)
  std::signal(SIGHUP, onStopSignal);
#endif

  if (upgrade->parsed()) return runInputs(converter::kJobReencode, o, "!", frontEnd);
  if (encode->parsed()) {
    return runInputs(o.verifyAfterEncode ? converter::kJobEncodeVerify : converter::kJobEncode, o, "*", frontEnd);
  }
  if (decode->parsed()) return runInputs(converter::kJobDecode, o, "*", frontEnd);
  if (test->parsed()) return runInputs(converter::kJobTest, o, "", frontEnd);
  if (verify->parsed()) return commandVerify(o, frontEnd);
  if (info->parsed()) return commandInfo(o.nab, o.quiet, frontEnd);
  return kExitUsage;
}

}  // namespace
}  // namespace nubo::cli

int main(int argc, char** argv) { return nubo::cli::run(argc, argv); }
