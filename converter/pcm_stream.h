// SPDX-License-Identifier: BSD-3-Clause
// The PCM side of encode, decode and verify: a source of samples and a sink
// for decoded ones, as every PCM format's descriptor (file_format.h) opens
// and starts them. Samples are always 16-bit little-endian bytes, channels
// interleaved.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "file_io.h"
#include "foreign_chunks.h"

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
  // Why chunks of the input could not be read at all, naming them ("": none).
  std::string chunksProblem;
  // Chunks found after the audio of a stream that is read once: the preamble
  // that would have kept them was written before them. Asked once the audio
  // has been read.
  virtual ChunkNotes lateChunks() { return {}; }
};

class PcmSink {
 public:
  virtual ~PcmSink() = default;
  virtual bool write(const uint8_t* bytes, std::size_t n) = 0;
  // Ends the stream holding `frames` frames. On an output that cannot seek
  // the sizes written at the start must have been right: false otherwise.
  virtual bool finish(int64_t frames) = 0;
  virtual std::string error() const = 0;
  // The length of the output as written, header included, once finish()
  // has succeeded.
  virtual int64_t bytesWritten() const = 0;
};

}  // namespace nubo::converter
