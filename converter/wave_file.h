// PCM WAVE files: the header of a 16-bit PCM file (format tag 1, or the
// extensible format with the PCM subformat) and a writer of such files.
#pragma once

#include <cstdint>
#include <string>

#include "nab_format.h"

namespace nubo::converter {

struct WaveInfo {
  int channels = 0;
  int64_t sampleRate = 0;
  int64_t byteRate = 0;
  int blockAlign = 0;
  int bitsPerSample = 0;
  int64_t dataBytes = 0;  // size of the data chunk (bounded by the file)
};

// Reads the chunks up to the start of the data chunk. False (nothing
// claimed) unless the file is a 16-bit PCM WAVE file with 1 or 2 channels.
bool readWaveHeader(InputFile& in, WaveInfo& info);

// The 44-byte header of a 16-bit PCM WAVE file with `dataBytes` of samples.
bool writeWaveHeader(OutputFile& out, int channels, int64_t sampleRate, int64_t dataBytes);

}  // namespace nubo::converter
