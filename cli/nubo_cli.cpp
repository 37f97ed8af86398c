// nubo: the command-line front end of the converter. It runs the same jobs
// and the same batch worker as the NUBOCONV window, with the same messages
// (read from NUBOCONV.h beside the program).
#include <CLI/CLI.hpp>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "file_tools.h"
#include "front_end.h"
#include "definition_file.h"
#include "os.h"
#include "terminal_front_end.h"

namespace nubo::cli {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

TerminalFrontEnd* gFrontEnd = nullptr;

// Ctrl-C asks the run to stop after its current block (the partial output
// stays, as in the window); a second Ctrl-C ends the program at once.
extern "C" void onInterrupt(int) {
  if (gFrontEnd != nullptr) gFrontEnd->requestCancel();
  std::signal(SIGINT, SIG_DFL);
}

bool isDirectory(const std::string& path) {
  std::error_code ec;
  return !path.empty() && std::filesystem::is_directory(path, ec);
}

// The window's fields take a directory as "dir/"; on the command line a
// directory is accepted with or without the trailing '/'.
std::string asField(const std::string& argument) {
  if (isDirectory(argument) && argument.back() != '/') return argument + "/";
  return argument;
}

// The directory part of a field, with its '/' ("" when it has none).
std::string directoryPart(const std::string& field) {
  const std::size_t slash = field.find_last_of('/');
  return slash == std::string::npos ? std::string() : field.substr(0, slash + 1);
}

struct Options {
  bool quiet = false;
  bool recursive = false;
  bool overwrite = false;
  bool verifyAfterEncode = false;
  std::string input;
  std::string output;
};

int runJob(int jobKind, const std::string& inputField, const std::string& outputField,
           const Options& options, TerminalFrontEnd& frontEnd) {
  converter::RunParameters params;
  if (converter::prepareRun(jobKind, options.overwrite, options.recursive, inputField, outputField,
                            frontEnd, params) != 0) {
    frontEnd.failBeforeRun();
    return kExitFailed;
  }
  converter::runBatch(params, frontEnd);
  return frontEnd.finish() ? kExitOk : kExitFailed;
}

// upgrade: version-20/21 files to version 22; by default beside the input
// with a '!' toggled into the name, so that nothing is overwritten.
int commandUpgrade(const Options& o, TerminalFrontEnd& fe) {
  const std::string in = asField(o.input);
  const std::string out = o.output.empty() ? directoryPart(in) + "!" : asField(o.output);
  return runJob(converter::kJobReencode, in, out, o, fe);
}

// encode: PCM WAVE files to version-22 files, by default beside the input
// with the extension replaced by ".NAB".
int commandEncode(const Options& o, TerminalFrontEnd& fe) {
  const std::string in = asField(o.input);
  const std::string out = o.output.empty() ? directoryPart(in) + "*" : asField(o.output);
  return runJob(o.verifyAfterEncode ? converter::kJobEncodeVerify : converter::kJobEncode, in, out, o,
                fe);
}

int commandVerify(const Options& o, TerminalFrontEnd& fe) {
  return runJob(converter::kJobVerify, o.input, o.output, o, fe);
}

std::string defaultWaveName(const std::string& nabPath) {
  const std::size_t slash = nabPath.find_last_of('/');
  const std::size_t dot = nabPath.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return nabPath + ".wav";
  return nabPath.substr(0, dot) + ".wav";
}

int commandDecode(const Options& o, TerminalFrontEnd& fe) {
  const std::string out = o.output.empty() ? defaultWaveName(o.input) : o.output;
  std::error_code ec;
  if (!o.overwrite && std::filesystem::exists(out, ec)) {
    fe.reportError(out + " exists; use --overwrite to replace it");
    return kExitFailed;
  }
  const converter::JobResult result = converter::decodeToWave(o.input, out, fe);
  const bool ok = fe.finish();
  return result == converter::JobResult::Converted && ok ? kExitOk : kExitFailed;
}

int commandInfo(const Options& o, TerminalFrontEnd& fe) {
  converter::FileDescription d;
  std::string error;
  if (!converter::describeFile(o.input, d, error)) {
    fe.reportError(o.input + ": " + error);
    return kExitFailed;
  }
  if (!o.quiet) {
    std::printf("file               %s\n", o.input.c_str());
    std::printf("file size          %lld bytes\n", static_cast<long long>(d.fileSize));
    std::printf("format tag         0x%04X\n", static_cast<unsigned>(d.formatTag));
    std::printf("channels           %d\n", d.channels);
    std::printf("sample rate        %d Hz\n", d.sampleRate);
    std::printf("byte rate          %d\n", d.byteRate);
    std::printf("block align        %d\n", d.blockAlign);
    std::printf("bits per sample    %d\n", d.bitsPerSample);
    std::printf("coder version      %d\n", d.coderVersion);
    std::printf("coder parameter    %d\n", d.coderParameter);
    std::printf("sample frames      %d (fact chunk)\n", d.frameCount);
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
  }
  if (d.damaged) {
    fe.reportError(o.input + ": " + fe.message(65));
    return kExitFailed;
  }
  return kExitOk;
}

int run(int argc, char** argv) {
  CLI::App app{"nubo: lossless 16-bit PCM audio compression and upgrade of old .NAB files"};
  app.require_subcommand(1);
  Options o;
  app.add_flag("-q,--quiet", o.quiet, "Print nothing but errors");
  app.set_version_flag("--version", "nubo 1.2.0");

  CLI::App* upgrade = app.add_subcommand(
      "upgrade", "Re-encode version-20/21 .NAB files to version 22 (a file, a directory or a pattern)");
  upgrade->add_option("INPUT", o.input, "File, directory, or pattern such as dir/*.NAB")->required();
  upgrade->add_option("OUTPUT", o.output,
                      "File, directory/, name* (extension .NAB) or name! (toggle '!'); "
                      "default: beside the input with '!' toggled");
  upgrade->add_flag("-r,--recursive", o.recursive, "Include subdirectories");
  upgrade->add_flag("--overwrite", o.overwrite, "Overwrite existing output files");

  CLI::App* encode = app.add_subcommand("encode", "Compress PCM WAVE files to version-22 .NAB files");
  encode->add_option("INPUT", o.input, "WAVE file, directory, or pattern such as dir/*.wav")->required();
  encode->add_option("OUTPUT", o.output, "File, directory/ or name*; default: the input's name with .NAB");
  encode->add_flag("--verify", o.verifyAfterEncode, "Decode every output again and compare with the input");
  encode->add_flag("-r,--recursive", o.recursive, "Include subdirectories");
  encode->add_flag("--overwrite", o.overwrite, "Overwrite existing output files");

  CLI::App* verify = app.add_subcommand("verify", "Check that a .NAB file decodes to a WAVE file's audio");
  verify->add_option("NAB", o.input, "Compressed file")->required();
  verify->add_option("WAV", o.output, "PCM WAVE file to compare with")->required();

  CLI::App* decode = app.add_subcommand("decode", "Decode a .NAB file to a 16-bit PCM WAVE file");
  decode->add_option("NAB", o.input, "Compressed file (any coder version)")->required();
  decode->add_option("WAV", o.output, "Output WAVE file; default: the input's name with .wav");
  decode->add_flag("--overwrite", o.overwrite, "Overwrite an existing output file");

  CLI::App* info = app.add_subcommand("info", "Show the header, coder version and blocks of a .NAB file");
  info->add_option("FILE", o.input, "Compressed file")->required();

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? kExitOk : kExitUsage;
  }

  // Every text a run shows comes from the definition file beside the program.
  ui::Definitions definitions;
  int language = 0;
  bool haveDefinitions = true;
  ui::loadDefinitions(platform::programDirectory() + "/NUBOCONV.", language, definitions,
                      [&](const std::string& basePath) {
                        std::fprintf(stderr, "nubo: I need %s\n", basePath.c_str());
                        haveDefinitions = false;
                      });
  if (!haveDefinitions) return kExitFailed;

  TerminalFrontEnd frontEnd(definitions, o.quiet);
  gFrontEnd = &frontEnd;
  std::signal(SIGINT, onInterrupt);

  if (upgrade->parsed()) return commandUpgrade(o, frontEnd);
  if (encode->parsed()) return commandEncode(o, frontEnd);
  if (verify->parsed()) return commandVerify(o, frontEnd);
  if (decode->parsed()) return commandDecode(o, frontEnd);
  if (info->parsed()) return commandInfo(o, frontEnd);
  return kExitUsage;
}

}  // namespace
}  // namespace nubo::cli

int main(int argc, char** argv) { return nubo::cli::run(argc, argv); }
