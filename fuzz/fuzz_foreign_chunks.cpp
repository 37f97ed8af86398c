// SPDX-License-Identifier: BSD-3-Clause
// Arbitrary bytes as a compressed file's preamble, as a run of WAVE chunks
// and as FLAC "riff" blocks: nothing crashes, a preamble taken for chunks
// comes back byte for byte from them, chunks read from blocks survive the
// blocks written for them, and chunks read from a stream fit a preamble.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "file_io.h"
#include "foreign_chunks.h"

using namespace nubo::converter;

namespace {

bool same(const ForeignChunks& a, const ForeignChunks& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].place != b[i].place || a[i].bytes != b[i].bytes) return false;
  }
  return true;
}

void asPreamble(std::string_view bytes) {
  ForeignChunks chunks;
  if (!chunksOfPreamble(bytes, chunks)) {
    if (!chunks.empty()) std::abort();
    return;
  }
  ChunkNotes dropped;
  if (preambleOfChunks(chunks, dropped) != bytes || !dropped.empty()) std::abort();
}

// Blocks of up to 255 bytes, each after a length byte.
void asRiffBlocks(std::string_view bytes) {
  std::vector<std::string> blocks;
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t n = static_cast<uint8_t>(bytes[at++]);
    blocks.emplace_back(bytes.substr(at, n));
    at += n;
  }
  ForeignChunks chunks;
  ChunkNotes dropped;
  std::string problem;
  if (!chunksOfRiffBlocks(blocks, chunks, dropped, problem)) return;
  if (chunks.empty()) return;
  ForeignChunks again;
  if (!chunksOfRiffBlocks(riffBlocksOf(chunks, 2, 44100, 4000), again, dropped, problem) || !same(chunks, again)) {
    std::abort();
  }
}

void asStream(const uint8_t* data, std::size_t size) {
  MemorySource in({data, size});
  ForeignChunks chunks;
  ChunkNotes dropped;
  for (int place = 0;; place = (place + 1) % 3) {
    const uint32_t id = in.readLE(4);
    const uint32_t length = in.readLE(4);
    if (in.position() >= static_cast<int64_t>(size) && id == 0xFFFFFFFFu) break;
    if (!takeChunk(in, id, length, static_cast<ChunkPlace>(place), chunks, dropped)) break;
  }
  const std::string preamble = preambleOfChunks(chunks, dropped);
  if (preamble.size() > kMaxPreambleBytes) std::abort();
  ForeignChunks back;
  if (!preamble.empty() && !chunksOfPreamble(preamble, back)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  asPreamble(bytes);
  asRiffBlocks(bytes);
  asStream(data, size);
  return 0;
}
