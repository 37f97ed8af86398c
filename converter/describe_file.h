// SPDX-License-Identifier: BSD-3-Clause
// Describing a compressed file, for the command-line front end's `info`.
#pragma once

#include <cstdint>
#include <string>

namespace nubo::converter {

struct FileDescription {
  int32_t formatTag = 0, channels = 0, sampleRate = 0, byteRate = 0, blockAlign = 0, bitsPerSample = 0;
  int32_t coderVersion = 0, coderParameter = 0, frameCount = 0, dataSize = 0, riffSize = 0;
  int64_t blockLength = 0;
  int64_t preambleLength = 0;
  // The WAVE chunks the preamble keeps, with their places ("bext (603 bytes,
  // before fmt), cue  (28 bytes, after the audio)"); "" for any other preamble.
  std::string chunks;
  bool chunksDamaged = false;  // the preamble holds WAVE chunks that cannot be read
  int64_t blocks = 0;
  int64_t codeBytes = 0;  // sum of the blocks' code sizes
  int64_t samples = 0;    // decoded samples (all channels)
  int64_t fileSize = 0;
  bool lastBlockHasCountExtension = false;
  bool damaged = false;       // a block fails to decode or the file ends inside one
  int64_t damagedBlock = 0;   // its number (from 1) and where it begins
  int64_t damagedOffset = 0;
  bool incomplete = false;    // every block decodes, but the header disagrees with the file
  bool unreadable = false;    // a coder version or rate whose blocks cannot be read (see `problem`)
  std::string problem;        // what disagrees, or where the file ends
  std::string md5;            // of the decoded audio, as FLAC keeps it ("" in a build without MD5)
};

// Reads the header of a compressed file and decodes every block. False with
// `error` set when the file cannot be read or is not a compressed file.
bool describeFile(const std::string& path, FileDescription& out, std::string& error);

}  // namespace nubo::converter
