// SPDX-License-Identifier: BSD-3-Clause
#include "describe_file.h"

#include "audio_md5.h"
#include "compressed_input.h"
#include "foreign_chunks.h"
#include "message_entries.h"

namespace nubo::converter {

bool describeFile(const std::string& path, FileDescription& d, std::string& error) {
  d = FileDescription{};
  CompressedInput c;
  std::string detail;
  const int entry = openCompressedInput(path, 0x7FFFFFFF, c, detail);
  if (entry == kEntryCannotOpenInput || entry == kEntryNotRegular) {
    error = "cannot open the file (" + detail + ")";
    return false;
  }
  if (entry == kEntryNotCompressed) {
    error = "not a compressed (.NAB) file";
    return false;
  }
  const NabHeader& h = c.header;
  d.formatTag = h.formatTag;
  d.channels = h.channels;
  d.sampleRate = h.sampleRate;
  d.byteRate = h.byteRate;
  d.blockAlign = h.blockAlign;
  d.bitsPerSample = h.bitsPerSample;
  d.coderVersion = h.coderVersion;
  d.coderParameter = h.coderParameter;
  d.frameCount = h.frameCount;
  d.dataSize = h.dataSize;
  d.riffSize = h.riffSize;
  d.blockLength = blockLengthOf(h.channels, h.sampleRate);
  d.preambleLength = c.layout.preambleLength;
  d.fileSize = c.fileSize;
  if (entry == kEntryDamaged || !readPreamble(c)) {
    d.damaged = true;
    d.problem = "the file ends inside its header or preamble";
    return true;
  }
  d.chunksDamaged = keptChunksDamaged(c.preamble);
  if (ForeignChunks chunks; chunksOfPreamble(c.preamble, chunks)) {
    static const char* const kPlaces[] = {"before fmt", "before data", "after the audio"};
    for (const ForeignChunk& chunk : chunks) {
      if (!d.chunks.empty()) d.chunks += ", ";
      d.chunks += chunkIdText(chunk.id()) + " (" + std::to_string(chunk.bodySize()) + " bytes, " +
                  kPlaces[static_cast<int>(chunk.place)] + ")";
    }
  }
  // Blocks that no coder here reads: the file is described, but not whole.
  if (h.coderVersion < 0 || h.coderVersion > 22) {
    d.unreadable = true;
    d.problem = "coder version " + std::to_string(h.coderVersion) + " is not one that nubo reads (up to 22)";
    return true;
  }
  if (!usableBlockLength(d.blockLength)) {
    d.unreadable = true;
    d.problem = rateProblem(h.sampleRate, h.channels) + ": no block can be read";
    return true;
  }
  Codec codec;
  BlockStream blocks(c);
  AudioMd5 md5;
  for (BlockStream::Step step; (step = blocks.next(codec)) != BlockStream::Step::End;) {
    if (step == BlockStream::Step::Damaged) {
      d.damaged = true;
      d.damagedBlock = blocks.blockNumber();
      d.damagedOffset = blocks.blockOffset();
      return true;
    }
    ++d.blocks;
    d.codeBytes += codec.params.codeSize;
    d.samples += codec.params.decodedCount;
    d.lastBlockHasCountExtension = codec.block.countExtension();
    md5.update(codec.samples, 2u * codec.params.decodedCount);
  }
  d.md5 = md5.hex();
  if (d.fileSize < 0) d.fileSize = lengthOf(c, blocks);
  d.problem = headerDisagreement(c, d.samples / h.channels, lengthOf(c, blocks));
  d.incomplete = !d.problem.empty();
  return true;
}

}  // namespace nubo::converter
