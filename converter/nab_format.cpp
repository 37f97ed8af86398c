// SPDX-License-Identifier: BSD-3-Clause
#include "nab_format.h"

#include <algorithm>
#include <cstring>

namespace nubo::converter {

void readHeader(ByteSource& in, NabHeader& h) {
  auto s32 = [&](int n) { return static_cast<int32_t>(in.readLE(n)); };
  h.riffId = s32(4);
  h.riffSize = s32(4);
  h.formType = s32(4);
  h.formatId = s32(4);
  h.formatSize = s32(4);
  h.formatTag = s32(2);
  h.channels = s32(2);
  h.sampleRate = s32(4);
  h.byteRate = s32(4);
  h.blockAlign = s32(2);
  h.bitsPerSample = s32(2);
  h.extensionSize = s32(2);
  h.coderVersion = s32(4);
  h.coderParameter = s32(4);
}

bool readCompressedHeader(ByteSource& in, NabHeader& h, NabLayout& layout) {
  layout = NabLayout{};
  readHeader(in, h);
  if (h.riffId != static_cast<int32_t>(fourCC("RIFF")) || h.formType != static_cast<int32_t>(fourCC("WAVE")) ||
      h.formatId != static_cast<int32_t>(fourCC("fmt ")) || h.formatTag != kNabFormatTag) {
    return false;
  }
  if (h.channels != 1 && h.channels != 2) return false;
  const uint32_t chunk = in.readLE(4);
  const uint32_t chunkSize = in.readLE(4);
  if (chunk == fourCC("fact")) {
    layout.hasFact = true;
    h.frameCount = static_cast<int32_t>(in.readLE(4));
    if (chunkSize > 4) in.skip(static_cast<int64_t>(chunkSize) - 4);
    in.readLE(4);
    h.dataSize = static_cast<int32_t>(in.readLE(4));
  } else if (chunk == fourCC("data")) {
    h.frameCount = static_cast<int32_t>(chunkSize) / (2 * h.channels);
    h.dataSize = static_cast<int32_t>(chunkSize);
  } else {
    return false;
  }
  // Counted, not asked of the stream: a pipe has no position.
  layout.dataOffset = layout.hasFact ? 54 + std::max<int64_t>(chunkSize, 4) + 8 : 54;
  const int first = in.get();
  const int second = first == -1 ? -1 : in.get();
  if (second != -1) layout.preambleLength = first | (second << 8);
  return true;
}

bool writeHeader(ByteSink& out, const NabHeader& h) {
  int failed = 0;
  auto u = [](int32_t v) { return static_cast<uint32_t>(v); };
  failed |= out.writeLE(4, u(h.riffId));
  failed |= out.writeLE(4, u(h.riffSize));
  failed |= out.writeLE(4, u(h.formType));
  failed |= out.writeLE(4, u(h.formatId));
  failed |= out.writeLE(4, u(h.formatSize));
  failed |= out.writeLE(2, u(h.formatTag));
  failed |= out.writeLE(2, u(h.channels));
  failed |= out.writeLE(4, u(h.sampleRate));
  failed |= out.writeLE(4, u(h.byteRate));
  failed |= out.writeLE(2, u(h.blockAlign));
  failed |= out.writeLE(2, u(h.bitsPerSample));
  failed |= out.writeLE(2, u(h.extensionSize));
  failed |= out.writeLE(4, u(h.coderVersion));
  failed |= out.writeLE(4, u(h.coderParameter));
  failed |= out.writeLE(4, fourCC("fact"));
  failed |= out.writeLE(4, 4);
  failed |= out.writeLE(4, u(h.frameCount));
  failed |= out.writeLE(4, fourCC("data"));
  failed |= out.writeLE(4, u(h.dataSize));
  return failed == 0;
}

int64_t framesByBlockSizes(ByteSource& in, int64_t blockLength, int channels) {
  int64_t samples = 0;
  for (;;) {
    const int first = in.get();
    if (first == -1) break;
    const int second = in.get();
    if (second == -1) return -1;
    const int size = (first | (second << 8)) & 0x0FFF;
    if (size == kCountExtensionSize) {
      const int low = in.get();
      const int high = in.get();
      if (high == -1) return -1;
      samples += low | (high << 8);
      break;  // the last block; what follows is not read
    }
    if (size < 2 || !in.skip(size - 2)) return -1;
    samples += blockLength;
  }
  return samples / channels;
}

BlockRead readBlock(ByteSource& in, CodeBlock& block) {
  const int first = in.get();
  if (first == -1) return BlockRead::End;
  const int second = in.get();
  block.bytes[0] = static_cast<uint8_t>(first);
  block.available = 1;
  if (second == -1) return BlockRead::Truncated;
  block.bytes[1] = static_cast<uint8_t>(second);
  block.available = 2;
  block.sizeField = (first | (second << 8)) & 0x0FFF;
  std::size_t want;
  if (block.countExtension()) {
    // The last block: its true size is not recorded, so it takes the rest
    // of the file up to the code buffer's length.
    want = sizeof block.bytes - 2;
    block.available += in.read(block.bytes + 2, want);
    if (block.available < 4) return BlockRead::Truncated;  // no count extension
    std::memset(block.bytes + block.available, 0xFF, sizeof block.bytes - block.available);
    return BlockRead::Block;
  }
  want = block.sizeField > 2 ? static_cast<std::size_t>(block.sizeField) - 2 : 0;
  block.available += in.read(block.bytes + 2, want);
  if (block.available < 2 + want) return BlockRead::Truncated;
  return BlockRead::Block;
}

bool finishCompressedFile(ByteSink& out, int64_t dataBytes, int64_t frames) {
  out.seek(62);
  out.writeLE(4, static_cast<uint32_t>(dataBytes));
  out.seek(4);
  out.writeLE(4, static_cast<uint32_t>(dataBytes + kHeaderBytes - 8));
  out.seek(54);
  out.writeLE(4, static_cast<uint32_t>(frames));
  return out.flush();
}

}  // namespace nubo::converter
