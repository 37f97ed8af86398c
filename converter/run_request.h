// SPDX-License-Identifier: BSD-3-Clause
// What a front end asks the converter to do, as one typed value. The window
// builds it from its two fields (ui/field_syntax), nubo from its arguments;
// the core never parses a field and never re-reads a name as a pattern.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "file_formats.h"
#include "message_entries.h"

namespace nubo::converter {

enum class Job {
  Encode,        // PCM (WAVE, RF64, FLAC) -> version-22 compressed file
  EncodeVerify,  // encode, then decode the output again and compare it with the input
  Reencode,      // version 20/21 compressed file -> version 22
  Verify,        // a compressed file against a PCM file (the output names the PCM file)
  Decode,        // compressed file (any version) -> PCM WAVE (or FLAC)
  Test,          // check compressed files; writes nothing
};

// Whether a job writes an output file.
inline bool writesOutput(Job job) { return job != Job::Test && job != Job::Verify; }

// How an output's name comes from its input's name.
enum class Naming {
  Exact,             // the output rule's name, for every file
  ReplaceExtension,  // the input's extension replaced by the output format's (take.wav -> take.NAB)
  ToggleMark,        // a '!' toggled before the extension (take.NAB <-> take!.NAB)
};

// Where the outputs of one input go.
struct OutputRule {
  enum class Kind {
    None,            // the job writes nothing
    Files,           // into `directory` (subdirectories of a walk mirrored below it), named by `naming`
    StandardOutput,  // the one output is the standard output
  };
  Kind kind = Kind::Files;
  std::string directory = ".";  // no trailing separator; "." is the current directory
  Naming naming = Naming::ReplaceExtension;
  std::string name;             // Naming::Exact: the file name
  // Naming::ReplaceExtension: what stands before and after the input's name
  // without its extension ("pre_" and ".NAB" make take.wav pre_take.NAB); an
  // empty suffix is the output format's extension.
  std::string prefix;
  std::string suffix;
};

// One input of a run, said by the front end.
struct RunInput {
  enum class Kind {
    File,           // `path` is one file, taken as named (never matched as a pattern)
    Directory,      // every file in the directory `path`
    Pattern,        // the files of `path`'s directory whose names match its last component
                    // ('*' and '?', without regard to case; a name without them selects the
                    // file so spelled, or else the one that matches without regard to case)
    StandardInput,  // the standard input ("-")
  };
  Kind kind = Kind::File;
  std::string path;
  OutputRule output;
};

struct RunOptions {
  bool overwrite = false;       // replace existing outputs of the kind written
  bool recursive = false;       // include subdirectories
  bool sync = false;            // force each output to the disk before it takes its final name
  int workers = 1;              // files converted at once
  OutputFormat decodeFormat = OutputFormat::Wave;
  int level = 5;                // the compression level of the format written, where it has one (FLAC: 0..8)
  bool md5 = false;             // the MD5 of each file's audio, in its outcome
  bool best = false;            // version-22 encodes search for the smallest blocks (nubo_search)
  // The window's name collision rule: an output path equal to its input's
  // gets the last capital A of its file name replaced by E (TAKE.NAB ->
  // TAKE.NEB). Without it such an output is refused as the input itself.
  bool collisionRule = false;
};

struct RunRequest {
  Job job = Job::Reencode;
  std::vector<RunInput> inputs;
  RunOptions options;
};

// The format a job writes.
OutputFormat outputFormatOf(const RunRequest& request);

// The extension that ReplaceExtension gives an output of `format`.
std::string replacementExtension(OutputFormat format);

// The output name of an input file `name` under `rule`.
std::string deriveOutputName(const OutputRule& rule, OutputFormat format, const std::string& name);

// What makes a request impossible before anything is read: several files
// selected by a pattern but one output name (kEntryWildcardNeedsPattern).
std::optional<Msg> requestProblem(const RunRequest& request);

// Whether a pattern selects by '*' or '?'.
bool hasWildcard(const std::string& pattern);

}  // namespace nubo::converter
