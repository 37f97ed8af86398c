// SPDX-License-Identifier: BSD-3-Clause
// Random access to the audio of a compressed file, for players and libraries
// that seek (the GStreamer element, the Python module): the header is read
// and checked, the blocks are indexed by walking their headers (size fields
// and count extensions; nothing is decoded), then any block is decoded on
// request through NuboWaveConvert, with the same damage checks as the jobs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "file_io.h"
#include "nab_format.h"
#include "nubocodec.h"

namespace nubo::converter {


class NabReader {
 public:
  enum class Problem {
    None,
    NotCompressed,       // not a compressed file (identifiers, format tag, channels)
    UnsupportedVersion,  // a coder version above 22
    UnsupportedRate,     // a block length outside 1..2047
    EndsInHeader,        // the stream ends before the preamble's end
    Damaged,             // a block the stream ends inside, or one that does not decode
  };

  NabReader() = default;
  NabReader(const NabReader&) = delete;
  NabReader& operator=(const NabReader&) = delete;

  // Reads the header from the stream's start (offset 0) and indexes the
  // blocks. False when the stream is not a readable compressed file
  // (problem() says why). A stream whose blocks end in damage opens: the
  // blocks before the damage are indexed and damage() says where it is.
  // The stream stays in use until the reader is closed or opened again.
  bool open(ByteSource& in);
  // Opens a second stream on the file that `indexed` has opened, for
  // decoding blocks side by side, without walking the blocks again: the
  // header is read and the index taken over. False (problem() says
  // NotCompressed, "the file changed") when the stream's header or size is
  // not the indexed file's.
  bool openLike(ByteSource& in, const NabReader& indexed);

  Problem problem() const { return problem_; }
  // What the problem is, in words ("coder version 23").
  const std::string& detail() const { return detail_; }

  const NabHeader& header() const { return header_; }
  int channels() const { return header_.channels; }
  int32_t sampleRate() const { return header_.sampleRate; }
  // Samples (all channels) of every block but a shorter last one.
  int64_t blockLength() const { return blockLength_; }
  int64_t preambleLength() const { return layout_.preambleLength; }
  // Where the first block begins.
  int64_t dataStart() const { return layout_.dataOffset + 2 + layout_.preambleLength; }

  // Blocks indexed: every whole block before the end or the first damage.
  int64_t blockCount() const { return static_cast<int64_t>(offsets_.size()); }
  // Samples (all channels) and frames those blocks hold.
  int64_t sampleCount() const { return samples_; }
  int64_t frameCount() const { return samples_ / header_.channels; }
  // Where block k (from 0) begins in the stream, and its first sample.
  int64_t blockOffset(int64_t k) const { return offsets_[static_cast<std::size_t>(k)]; }
  int64_t firstSampleOf(int64_t k) const { return k * blockLength_; }
  // The block that holds sample s (all channels counted); blockCount() at or past the end.
  int64_t blockOfSample(int64_t s) const;

  // Where the walk found damage: a block the stream ends inside, or whose
  // size field cannot be a block's. Its number from 1 (0: none) and offset.
  int64_t damagedBlock() const { return walkDamageBlock_; }
  int64_t damagedOffset() const { return walkDamageOffset_; }

  // Decodes block k (from 0, below blockCount()) into `samples`, which holds
  // NUBO_MAX_SAMPLES 16-bit samples, low byte first. Returns the samples
  // decoded, or -1 when the block is damaged: problem() is then Damaged and
  // failedBlock()/failedOffset() say where (block from 1).
  int decodeBlock(int64_t k, void* samples);
  int64_t failedBlock() const { return failedBlock_; }
  int64_t failedOffset() const { return failedOffset_; }
  // The codec's result for the failed block (0 when the stream ended inside it).
  int failedResult() const { return failedResult_; }

 private:
  bool fail(Problem p, std::string detail);
  bool readHeader(ByteSource& in);
  void walkBlocks();

  ByteSource* in_ = nullptr;
  NabHeader header_;
  NabLayout layout_;
  int64_t blockLength_ = 0;
  std::vector<int64_t> offsets_;
  int lastCount_ = 0;  // samples of the last indexed block
  int64_t samples_ = 0;
  int64_t walkDamageBlock_ = 0, walkDamageOffset_ = 0;
  int64_t next_ = -1;  // where the stream stands, when known
  Problem problem_ = Problem::None;
  std::string detail_;
  int64_t failedBlock_ = 0, failedOffset_ = 0;
  int failedResult_ = 0;
  CodeBlock block_;
};

}  // namespace nubo::converter
