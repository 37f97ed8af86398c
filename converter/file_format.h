// SPDX-License-Identifier: BSD-3-Clause
// One kind of file that nubo reads or writes, said once: its name and
// extensions, how it is recognised by its content, whether an existing file is
// a complete output of its kind, how it opens as a source of samples and how
// it starts as a sink. Naming, the checks on existing outputs and the jobs
// ask the descriptor; file_formats.h lists them.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "file_io.h"
#include "pcm_stream.h"

namespace nubo::converter {

// What a file found at an output path is, to a format.
enum class ExistingFile {
  OtherKind,   // not of this kind (or unreadable): never replaced by an output of it
  Complete,    // an output of this kind that was finished
  Incomplete,  // one of this kind whose header disagrees with its length (a run stopped inside it)
};

// How many of a file's first bytes recognition looks at.
inline constexpr std::size_t kHeadBytes = 64;

// What a sink needs to know before the first sample.
struct SinkRequest {
  PcmFormat format;
  int64_t expectedFrames = 0;  // what the compressed file says it holds (exact when its blocks were counted)
  int level = 5;               // the compression level, for a format that has one
  bool seekable = true;        // false for a pipe: the header is written once, with the expected sizes
  CarriedFields carried;       // the compressed file's fields, for a format that can carry them
};

class FileFormat {
 public:
  virtual ~FileFormat() = default;

  // The name the user knows it by ("WAVE").
  virtual std::string_view name() const = 0;
  // Its extensions with their dot; the first is what the naming rule gives
  // an output of this kind (take.NAB -> take.wav).
  virtual std::span<const std::string_view> extensions() const = 0;
  std::string replacementExtension() const { return std::string(extensions().front()); }
  // Further extensions its files go by (".bwf"): a file found under such a
  // name is taken for one of this kind, but no output is named so.
  virtual std::span<const std::string_view> otherExtensions() const { return {}; }
  // Whether this build reads and writes it, and the library a build needs
  // for it when it may not ("libFLAC").
  virtual bool available() const { return true; }
  virtual std::string_view library() const { return ""; }

  // Whether `head`, the first bytes of a file (kHeadBytes, fewer when the file
  // is shorter), has the signature of this kind (the file may still be damaged).
  virtual bool recognises(std::span<const uint8_t> head) const = 0;
  // Whether its files may begin with an ID3v2 tag that its reader steps
  // over (taggers put one in front of FLAC files): then `head` is also
  // given the bytes after such a tag.
  virtual bool readsPastId3Tag() const { return false; }
  // Whether the file read by `in` from its first byte is an output of this kind.
  virtual ExistingFile inspectExisting(ByteSource& in) const = 0;
  // The message that refuses to replace a file of another kind by an output of this one.
  virtual int otherKindEntry() const = 0;
  // An output whose header holds sizes known only at the end: on the
  // standard output it is gathered first, because a pipe cannot seek back.
  virtual bool needsSeekableOutput() const { return false; }

  // Formats of PCM audio (WAVE, FLAC) open as a source of samples and start
  // as a sink; the compressed file is read and written by its blocks
  // (nab_format.h) and has neither.
  virtual bool carriesPcm() const { return false; }
  // Reads the header of `in`, positioned at the file's first byte. 0, or the
  // entry of the reason with `detail` (what the file is instead).
  virtual int openSource(std::unique_ptr<ByteSource> in, std::unique_ptr<PcmSource>& source, std::string& detail) const;
  // Writes what comes before the first sample to `out` and returns the sink;
  // nullptr with `error` when that failed.
  virtual std::unique_ptr<PcmSink> startSink(ByteSink& out, const SinkRequest& request, std::string& error) const;
};

}  // namespace nubo::converter
