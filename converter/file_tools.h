// Single-file tools of the command-line front end that the window does not
// offer: decoding a compressed file back to PCM WAVE and describing a file.
// (A single-file conversion runs through prepareRun/runBatch with the file's
// path as the input field and the output path as the output field.)
#pragma once

#include <cstdint>
#include <string>

#include "front_end.h"

namespace nubo::converter {

// Decodes a compressed file of any coder version (0..22) to a 16-bit PCM
// WAVE file. Progress on status line 1; a damaged block shows entry 65, a
// write failure entry 61, an output that is the input entry 66; those
// return StopBatch after the idle state (999).
JobResult decodeToWave(const std::string& nabPath, const std::string& wavPath, FrontEnd& frontEnd);

struct FileDescription {
  int32_t formatTag = 0, channels = 0, sampleRate = 0, byteRate = 0, blockAlign = 0, bitsPerSample = 0;
  int32_t coderVersion = 0, coderParameter = 0, frameCount = 0, dataSize = 0, riffSize = 0;
  int64_t blockLength = 0;
  int64_t preambleLength = 0;
  int64_t blocks = 0;
  int64_t codeBytes = 0;  // sum of the blocks' code sizes
  int64_t samples = 0;    // decoded samples (all channels)
  int64_t fileSize = 0;
  bool lastBlockHasCountExtension = false;
  bool damaged = false;   // a block fails to decode or the file ends inside one
};

// Reads the header of a compressed file and decodes every block. False with
// `error` set when the file cannot be read or is not a compressed file.
bool describeFile(const std::string& path, FileDescription& out, std::string& error);

}  // namespace nubo::converter
