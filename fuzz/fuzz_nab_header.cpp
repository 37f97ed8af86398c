// SPDX-License-Identifier: BSD-3-Clause
// Arbitrary bytes as a compressed file read from memory: a header that is
// taken reads back the same once written again, and the block reader walks
// what follows to its end inside the code buffer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "file_io.h"
#include "nab_format.h"

using namespace nubo::converter;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemorySource in({data, size});
  NabHeader h;
  NabLayout layout;
  if (!readCompressedHeader(in, h, layout)) return 0;
  if (h.channels != 1 && h.channels != 2) std::abort();
  if (layout.preambleLength < -1 || layout.preambleLength > 65535) std::abort();
  if (layout.hasFact ? layout.dataOffset < 66 : layout.dataOffset != 54) std::abort();

  // Written as every output is (a 4-byte fact chunk), the header gives back
  // every field.
  MemorySink out;
  if (!writeHeader(out, h) || out.writeLE(2, 0) != 0) std::abort();
  MemorySource again(out.bytes());
  NabHeader back;
  NabLayout backLayout;
  if (!readCompressedHeader(again, back, backLayout)) std::abort();
  if (back.channels != h.channels || back.sampleRate != h.sampleRate || back.byteRate != h.byteRate ||
      back.blockAlign != h.blockAlign || back.bitsPerSample != h.bitsPerSample || back.coderVersion != h.coderVersion ||
      back.coderParameter != h.coderParameter || back.frameCount != h.frameCount || back.dataSize != h.dataSize ||
      back.riffSize != h.riffSize || backLayout.dataOffset != 66 || backLayout.preambleLength != 0) {
    std::abort();
  }

  if (layout.preambleLength < 0 || !in.skip(layout.preambleLength)) return 0;
  const int64_t blocksStart = in.position();
  CodeBlock block;
  for (std::size_t blocks = 0;; ++blocks) {
    if (blocks > size) std::abort();  // every block takes at least one byte
    const BlockRead read = readBlock(in, block);
    if (block.available > sizeof block.bytes) std::abort();
    if (read != BlockRead::Block || block.countExtension()) break;
  }
  // Counting the frames by the size fields alone stops as well.
  in.seek(blocksStart);
  const int64_t frames = framesByBlockSizes(in, blockLengthOf(h.channels, h.sampleRate), h.channels);
  if (frames < -1) std::abort();
  return 0;
}
