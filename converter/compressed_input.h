// SPDX-License-Identifier: BSD-3-Clause
// Reading a compressed input, shared by the jobs and the description of a
// file: the input opened and its header checked, then its blocks read and
// decoded one at a time. Internal to the converter.
#pragma once

#include <cstdint>
#include <string>

#include "file_io.h"
#include "nab_format.h"
#include "nubo_search.h"
#include "nubocodec.h"

namespace nubo::converter {

// The buffers and the parameter record of a job.
struct Codec {
  ConvertParams params{};
  uint8_t samples[2 * NUBO_MAX_SAMPLES + 16];
  CodeBlock block;
  int call() { return NuboWaveConvert(&params, samples, block.bytes); }
  // A version-22 encode: the library's reference encoder, or with `best`
  // the searching encoder, which checks every block it writes.
  int encode(bool best) {
    return best ? nubo::search::EncodeBlockV22Best(&params, samples, block.bytes) : call();
  }
};

inline bool usableBlockLength(int64_t blockLength) { return blockLength >= 1 && blockLength <= NUBO_MAX_SAMPLES; }

// What is wrong with a rate whose blocks (a fiftieth of a second) hold no
// sample or more than the codec takes.
std::string rateProblem(int64_t rate, int channels);

// A compressed input opened and its header checked, left at its first
// preamble byte. Every job that reads a compressed file opens it here.
struct CompressedInput {
  InputFile file;
  NabHeader header;
  NabLayout layout;
  int64_t blockLength = 0;
  int64_t fileSize = 0;
  std::string preamble;  // once read
  int64_t dataStart() const { return layout.dataOffset + 2 + layout.preambleLength; }
};

// The entry of why an input file cannot be opened.
int openFailureEntry(const InputFile& in);

// The file at `path`, or the standard input ("-") from `streams`.
bool openInput(InputFile& in, const std::string& path, StandardStreams& streams);

// 0 when `c` is ready, else the entry of the reason (with `detail`).
// `maxVersion` is 21 for the re-encode (only old files need it) and 22 for
// every reader.
int openCompressedInput(const std::string& path, int32_t maxVersion, CompressedInput& c, std::string& detail,
                        StandardStreams& streams = processStandardStreams());

// Reads the preamble into `c.preamble`, leaving the file at its first block.
bool readPreamble(CompressedInput& c);

// The block stream of a compressed file, read and decoded one block at a
// time from just after the preamble. Every job that reads a compressed file
// goes through it, so all of them end the stream and reject damage alike.
class BlockStream {
 public:
  enum class Step {
    End,      // no more blocks
    Block,    // codec.samples holds the block's decodedCount samples
    Damaged,  // cut short, or a block that does not decode
  };

  explicit BlockStream(CompressedInput& c) : c_(c), offset_(c.dataStart()) {}

  Step next(Codec& codec);

  // Where the last block read begins: its number (from 1) and byte offset.
  int64_t blockNumber() const { return index_; }
  int64_t blockOffset() const { return blockOffset_; }
  // Where the blocks read so far end: at the end of the stream, its length.
  int64_t endOffset() const { return offset_; }

 private:
  CompressedInput& c_;
  int64_t offset_;
  int64_t index_ = 0;
  int64_t blockOffset_ = 0;
  bool ended_ = false;
};

// Empty when the header agrees with the file: the data size with the file's
// length and, where a fact chunk records it, the frame count with the frames
// the blocks hold. Otherwise what disagrees. `length` is the file's length
// (for a pipe, where its blocks ended).
std::string headerDisagreement(const CompressedInput& c, int64_t frames, int64_t length);

// The file's length, or for a pipe where its blocks ended.
inline int64_t lengthOf(const CompressedInput& c, const BlockStream& blocks) {
  return c.fileSize >= 0 ? c.fileSize : blocks.endOffset();
}

}  // namespace nubo::converter
