// SPDX-License-Identifier: BSD-3-Clause
// PCM WAVE files: the header of a 16-bit PCM file (format tag 1, or the
// extensible format with the PCM subformat) and a writer of such files.
#pragma once

#include <cstdint>
#include <string>

#include "foreign_chunks.h"
#include "nab_format.h"

namespace nubo::converter {

struct WaveInfo {
  int channels = 0;
  int64_t sampleRate = 0;
  int64_t byteRate = 0;
  int blockAlign = 0;
  int bitsPerSample = 0;
  int formatTag = 0;
  int64_t dataBytes = 0;      // the audio to read: the data chunk, bounded by the file
  int64_t claimedBytes = 0;   // what the data chunk's size field says
  // The size field was 0 or larger than the file with audio behind it (an
  // unfinished recording): `dataBytes` then runs to the end of the file.
  bool sizeFieldWrong = false;
  bool readToEnd = false;     // the audio runs to the end of a stream whose length is not known
  bool rf64 = false;          // an RF64 file: the sizes came from its ds64 chunk
  int64_t riffEnd = 0;        // where the RIFF (or ds64) size says the file ends
  std::string whatItIs;       // when it is not a 16-bit PCM WAVE file: what it is instead
  // The chunks before the data that a compressed file keeps, and those kept
  // but too large for it (foreign_chunks.h).
  ForeignChunks foreign;
  ChunkNotes dropped;
};

// Reads the chunks up to the start of the data chunk. False (with
// `info.whatItIs` saying why) unless the file is a 16-bit PCM WAVE file with
// 1 or 2 channels.
bool readWaveHeader(ByteSource& in, WaveInfo& info);

// Reads the chunks after the audio of a file that can seek, from the data
// chunk's end, into `info` (AfterData), and goes back to the first sample.
// Nothing is read when the data chunk's size was not to be trusted (it ran
// to the end of the file). False when the file cannot seek back.
bool readChunksAfterData(ByteSource& in, WaveInfo& info);

// The 44-byte header of a 16-bit PCM WAVE file with `dataBytes` of samples.
bool writeWaveHeader(ByteSink& out, int channels, int64_t sampleRate, int64_t dataBytes);

// Writes the RIFF and data sizes of a 44-byte-header WAVE file in place and
// flushes it. False when anything of the file could not be written.
bool finishWaveFile(ByteSink& out, int64_t dataBytes);

}  // namespace nubo::converter
