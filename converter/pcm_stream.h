// SPDX-License-Identifier: BSD-3-Clause
// The PCM side of encode, decode and verify: where samples come from (a WAVE
// or RF64 file, or a FLAC file through libFLAC) and where decoded samples go
// (a WAVE file, RF64 when the audio passes 4 GiB, or a FLAC file). Samples
// are always 16-bit little-endian bytes, channels interleaved.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "foreign_chunks.h"
#include "nab_format.h"

namespace nubo::converter {

struct PcmFormat {
  int channels = 0;
  int64_t sampleRate = 0;
  int64_t byteRate = 0;
  int blockAlign = 0;
  int bitsPerSample = 16;
};

// The fields of a compressed file's header that a FLAC file carries in its
// VORBIS_COMMENT block (NUBO_PREAMBLE in hexadecimal, NUBO_CODER_PARAMETER,
// NUBO_CODER_VERSION), so that encoding the FLAC file again rebuilds them.
struct CarriedFields {
  bool present = false;
  std::string preamble;
  int32_t coderParameter = 0;
  int32_t coderVersion = 0;
};

class PcmSource {
 public:
  virtual ~PcmSource() = default;
  // Up to n bytes (a whole number of samples); fewer only at the end.
  virtual std::size_t read(uint8_t* into, std::size_t n) = 0;
  // Why the source ended early ("" when it simply ended).
  virtual std::string error() const { return ""; }

  PcmFormat format;
  int64_t expectedBytes = -1;  // what the header says there is (-1: unknown)
  bool sizeFieldWrong = false;  // a WAVE data size of 0 or beyond the end: read to the end instead
  CarriedFields carried;
  std::string kind;  // "WAVE", "RF64" or "FLAC"
  // The input's other chunks that a compressed file keeps (a WAVE file's, or
  // those a FLAC file carries as flac --keep-foreign-metadata stores them),
  // and those it cannot keep.
  ForeignChunks foreign;
  ChunkNotes droppedChunks;
  // Chunks found after the audio of a stream that is read once: the preamble
  // that would have kept them was written before them. Asked once the audio
  // has been read.
  virtual ChunkNotes lateChunks() { return {}; }
};

// Opens a 16-bit PCM input of 1 or 2 channels: WAVE (also extensible), RF64,
// or FLAC (by its "fLaC" signature), the file at `path` (taken as given) or
// the stream `in` handed in. 0, or the entry of the reason with `detail`
// (what the file is instead).
int openPcmSource(const std::string& path, std::unique_ptr<PcmSource>& source, std::string& detail);
int openPcmSource(std::unique_ptr<ByteSource> in, std::unique_ptr<PcmSource>& source, std::string& detail);

class PcmSink {
 public:
  virtual ~PcmSink() = default;
  virtual bool write(const uint8_t* bytes, std::size_t n) = 0;
  // Ends the stream holding `frames` frames. On an output that cannot seek
  // the sizes written at the start must have been right: false otherwise.
  virtual bool finish(int64_t frames) = 0;
  virtual std::string error() const = 0;
};

struct SinkOptions {
  bool flac = false;
  int flacLevel = 5;
  bool seekable = true;  // false for a pipe: the header is written once, with the expected sizes
  CarriedFields carried;
};

// Starts a PCM output on the stream `out`; `expectedFrames` is what the
// compressed file says it holds (exact when its blocks were counted).
std::unique_ptr<PcmSink> startPcmSink(ByteSink& out, const PcmFormat& format, int64_t expectedFrames,
                                      const SinkOptions& options, std::string& error);

// Whether this build reads and writes FLAC.
bool flacAvailable();

}  // namespace nubo::converter
