// SPDX-License-Identifier: BSD-3-Clause
#include "compressed_input.h"

#include "message_entries.h"

namespace nubo::converter {

std::string rateProblem(int64_t rate, int channels) {
  const int64_t samples = blockLengthOf(channels, rate);
  if (samples < 1) return std::to_string(rate) + " Hz: below 50 Hz a block holds no whole sample";
  return std::to_string(rate) + " Hz, " + std::to_string(channels) + " channel(s): " + std::to_string(samples) +
         " samples per block";
}

int openFailureEntry(const InputFile& in) { return in.refusedAsNotRegular() ? kEntryNotRegular : kEntryCannotOpenInput; }

bool openInput(InputFile& in, const std::string& path, StandardStreams& streams) {
  return path == "-" ? in.adopt(streams.input()) : in.open(path);
}

int openCompressedInput(const std::string& path, int32_t maxVersion, CompressedInput& c, std::string& detail,
                        StandardStreams& streams) {
  if (!openInput(c.file, path, streams)) {
    detail = c.file.error();
    return openFailureEntry(c.file);
  }
  c.fileSize = c.file.size();
  if (!readCompressedHeader(c.file, c.header, c.layout)) {
    if (c.fileSize == 0) {
      detail = "the file is empty";
    } else if (c.fileSize >= 0 && c.fileSize < kHeaderBytes) {
      detail = "the file ends after " + std::to_string(c.fileSize) + " bytes, inside the header";
    }
    return kEntryNotCompressed;
  }
  if (c.header.coderVersion > maxVersion) {
    if (c.header.coderVersion == 22) return kEntryAlreadyVersion22;
    detail = "coder version " + std::to_string(c.header.coderVersion);
    return kEntryNotCompressed;
  }
  c.blockLength = blockLengthOf(c.header.channels, c.header.sampleRate);
  if (!usableBlockLength(c.blockLength)) {
    detail = rateProblem(c.header.sampleRate, c.header.channels);
    return kEntryUnsupportedRate;
  }
  if (c.layout.preambleLength < 0) {
    detail = "the file ends inside its header";
    return kEntryDamaged;
  }
  return 0;
}

bool readPreamble(CompressedInput& c) {
  if (c.layout.preambleLength <= 0) return true;
  c.preamble.resize(static_cast<std::size_t>(c.layout.preambleLength));
  return c.file.read(reinterpret_cast<uint8_t*>(c.preamble.data()), c.preamble.size()) == c.preamble.size();
}

BlockStream::Step BlockStream::next(Codec& codec) {
  if (ended_) return Step::End;
  const BlockRead read = readBlock(c_.file, codec.block);
  if (read == BlockRead::End) return Step::End;
  ++index_;
  blockOffset_ = offset_;
  if (read == BlockRead::Truncated) return Step::Damaged;
  offset_ += codec.block.countExtension() ? static_cast<int64_t>(codec.block.available) : codec.block.sizeField;
  codec.params.flags = NUBO_FLAG_DECODE;
  codec.params.sampleCount = static_cast<uint16_t>(c_.blockLength);
  codec.params.channels = static_cast<uint16_t>(c_.header.channels);
  codec.params.coderVersion = static_cast<uint32_t>(c_.header.coderVersion);
  codec.params.coderParameter = c_.header.coderParameter;
  // A block whose decoder took bytes beyond the end of the file is damaged
  // too: those bytes were only the reader's filling.
  if (codec.call() != NUBO_OK || codec.params.codeSize > codec.block.available) return Step::Damaged;
  // A block with a count extension is the last one.
  ended_ = codec.block.countExtension();
  return Step::Block;
}

std::string headerDisagreement(const CompressedInput& c, int64_t frames, int64_t length) {
  std::string what;
  const int64_t dataBytes = length - c.layout.dataOffset;
  if (static_cast<uint32_t>(c.header.dataSize) != dataBytes) {
    what = "data size " + std::to_string(static_cast<uint32_t>(c.header.dataSize)) + ", the file holds " +
           std::to_string(dataBytes);
  }
  if (c.layout.hasFact && static_cast<uint32_t>(c.header.frameCount) != frames) {
    if (!what.empty()) what += "; ";
    what += std::to_string(static_cast<uint32_t>(c.header.frameCount)) + " frames, the blocks hold " +
            std::to_string(frames);
  }
  return what;
}

}  // namespace nubo::converter
