// SPDX-License-Identifier: BSD-3-Clause
#include "nab_reader.h"

#include <algorithm>
#include <tuple>

namespace nubo::converter {

bool NabReader::fail(Problem p, std::string detail) {
  problem_ = p;
  detail_ = std::move(detail);
  return false;
}

bool NabReader::open(ByteSource& in) {
  if (!readHeader(in)) return false;
  walkBlocks();
  return true;
}

bool NabReader::openLike(ByteSource& in, const NabReader& indexed) {
  if (!readHeader(in)) return false;
  const NabHeader& a = header_;
  const NabHeader& b = indexed.header_;
  const bool same = std::tie(a.channels, a.sampleRate, a.coderVersion, a.coderParameter, a.frameCount, a.dataSize) ==
                        std::tie(b.channels, b.sampleRate, b.coderVersion, b.coderParameter, b.frameCount, b.dataSize) &&
                    layout_.preambleLength == indexed.layout_.preambleLength &&
                    layout_.dataOffset == indexed.layout_.dataOffset && indexed.in_ != nullptr &&
                    in.size() == indexed.in_->size();
  if (!same) return fail(Problem::NotCompressed, "the file changed");
  offsets_ = indexed.offsets_;
  lastCount_ = indexed.lastCount_;
  samples_ = indexed.samples_;
  walkDamageBlock_ = indexed.walkDamageBlock_;
  walkDamageOffset_ = indexed.walkDamageOffset_;
  next_ = -1;
  return true;
}

// Reads and checks the header and steps over the preamble; every field of
// an earlier open is reset.
bool NabReader::readHeader(ByteSource& in) {
  in_ = &in;
  header_ = NabHeader{};
  offsets_.clear();
  lastCount_ = 0;
  samples_ = 0;
  walkDamageBlock_ = walkDamageOffset_ = 0;
  failedBlock_ = failedOffset_ = 0;
  failedResult_ = 0;
  problem_ = Problem::None;
  detail_.clear();
  if (!in.seek(0)) return fail(Problem::NotCompressed, "the stream cannot seek");
  if (!readCompressedHeader(in, header_, layout_)) return fail(Problem::NotCompressed, "not a compressed file");
  if (header_.coderVersion > 22 || header_.coderVersion < 0) {
    return fail(Problem::UnsupportedVersion, "coder version " + std::to_string(header_.coderVersion));
  }
  blockLength_ = blockLengthOf(header_.channels, header_.sampleRate);
  if (blockLength_ < 1 || blockLength_ > NUBO_MAX_SAMPLES) {
    return fail(Problem::UnsupportedRate, "sample rate " + std::to_string(header_.sampleRate));
  }
  if (layout_.preambleLength < 0 || !in.skip(layout_.preambleLength)) {
    return fail(Problem::EndsInHeader, "the file ends inside its header");
  }
  return true;
}

// Walks the blocks from the first one by their size fields alone: a block
// with a count extension is the last and holds the count it records; every
// other block holds a block length.
void NabReader::walkBlocks() {
  ByteSource& in = *in_;
  int64_t offset = dataStart();
  for (;;) {
    const int first = in.get();
    if (first == -1) break;
    const int second = in.get();
    const int size = second == -1 ? -1 : (first | (second << 8)) & 0x0FFF;
    if (size == kCountExtensionSize) {
      const int low = in.get();
      const int high = in.get();
      if (high == -1) break;  // no count: damaged
      offsets_.push_back(offset);
      lastCount_ = low | (high << 8);
      samples_ += lastCount_;
      next_ = -1;
      return;
    }
    if (size < 2 || !in.skip(size - 2)) break;
    offsets_.push_back(offset);
    lastCount_ = static_cast<int>(blockLength_);
    samples_ += blockLength_;
    offset += size;
  }
  next_ = -1;
  // The loop left early unless the stream ended right at a block's start.
  const int64_t end = in.size();
  if (end >= 0 && end == offset) return;
  walkDamageBlock_ = blockCount() + 1;
  walkDamageOffset_ = offset;
}

int64_t NabReader::blockOfSample(int64_t s) const {
  if (s <= 0) return 0;
  if (s >= samples_) return blockCount();
  return s / blockLength_;
}

int NabReader::decodeBlock(int64_t k, void* samples) {
  const int64_t offset = blockOffset(k);
  auto damaged = [&](int result) {
    problem_ = Problem::Damaged;
    failedBlock_ = k + 1;
    failedOffset_ = offset;
    failedResult_ = result;
    detail_ = result == 0 ? "the file ends inside block " + std::to_string(k + 1)
                          : "block " + std::to_string(k + 1) + " does not decode (result " + std::to_string(result) + ")";
    next_ = -1;
    return -1;
  };
  // Blocks read in order need no seek (a seek empties the stream's buffer).
  if (next_ != offset && !in_->seek(offset)) return damaged(0);
  if (readBlock(*in_, block_) != BlockRead::Block) return damaged(0);
  next_ = block_.countExtension() ? -1 : offset + block_.sizeField;
  ConvertParams params{};
  params.flags = NUBO_FLAG_DECODE;
  params.sampleCount = static_cast<uint16_t>(blockLength_);
  params.channels = static_cast<uint16_t>(header_.channels);
  params.coderVersion = static_cast<uint32_t>(header_.coderVersion);
  params.coderParameter = header_.coderParameter;
  const int r = NuboWaveConvert(&params, samples, block_.bytes);
  if (r != NUBO_OK) return damaged(r);
  // Bytes the decoder took beyond the end of the file were only the
  // reader's filling; a block that holds other than the walk counted is
  // not the block the index found.
  const int expected = k + 1 == blockCount() ? lastCount_ : static_cast<int>(blockLength_);
  if (params.codeSize > block_.available || params.decodedCount != expected) return damaged(NUBO_SIZE_MISMATCH);
  return params.decodedCount;
}

}  // namespace nubo::converter
