// SPDX-License-Identifier: BSD-3-Clause
#include "foreign_chunks.h"

#include <algorithm>
#include <cstdio>

#include "nab_format.h"

namespace nubo::converter {

namespace {

// The magic of the layout: a byte above 0x7F, so that no preamble of text
// starts with it, then "NUBO", CR LF and Ctrl-Z; then the layout's version.
constexpr char kMagic[8] = {'\x89', 'N', 'U', 'B', 'O', '\r', '\n', '\x1a'};
constexpr uint8_t kLayoutVersion = 1;

uint32_t le32(std::string_view bytes, std::size_t at) {
  return static_cast<uint32_t>(static_cast<uint8_t>(bytes[at])) |
         static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 2])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 3])) << 24;
}

void putLE(std::string& out, int n, uint64_t value) {
  for (int i = 0; i < n; ++i) out += static_cast<char>(value >> (8 * i));
}

void putId(std::string& out, const char (&id)[5]) { out.append(id, 4); }

// A chunk's length in a file: header, body and the pad byte of an odd body.
int64_t paddedLength(uint32_t size) { return 8 + static_cast<int64_t>(size) + (size & 1); }

}  // namespace

uint32_t ForeignChunk::id() const { return bytes.size() >= 4 ? le32(bytes, 0) : 0; }
uint32_t ForeignChunk::bodySize() const { return bytes.size() >= 8 ? le32(bytes, 4) : 0; }

bool keptAsForeign(uint32_t id) {
  for (const uint32_t rebuilt : {fourCC("fmt "), fourCC("data"), fourCC("fact"), fourCC("ds64"), fourCC("JUNK"),
                                 fourCC("junk"), fourCC("PAD "), fourCC("FLLR")}) {
    if (id == rebuilt) return false;
  }
  return true;
}

std::string preambleOfChunks(const ForeignChunks& chunks, ChunkNotes& dropped) {
  ForeignChunks ordered = chunks;
  std::stable_sort(ordered.begin(), ordered.end(),
                   [](const ForeignChunk& a, const ForeignChunk& b) { return a.place < b.place; });
  std::string preamble(kMagic, sizeof kMagic);
  preamble += static_cast<char>(kLayoutVersion);
  bool any = false;
  for (const ForeignChunk& chunk : ordered) {
    if (preamble.size() + 1 + chunk.bytes.size() > kMaxPreambleBytes) {
      dropped.push_back({chunk.id(), chunk.bodySize()});
      continue;
    }
    preamble += static_cast<char>(chunk.place);
    preamble += chunk.bytes;
    any = true;
  }
  return any ? preamble : std::string();
}

bool chunksOfPreamble(std::string_view preamble, ForeignChunks& chunks) {
  chunks.clear();
  if (preamble.size() < kForeignHeadBytes + 1 + 8 || preamble.substr(0, sizeof kMagic) != std::string_view(kMagic, 8) ||
      static_cast<uint8_t>(preamble[8]) != kLayoutVersion) {
    return false;
  }
  std::size_t at = kForeignHeadBytes;
  uint8_t lastPlace = 0;
  while (at < preamble.size()) {
    const auto place = static_cast<uint8_t>(preamble[at]);
    // Every field is checked: a preamble this accepts is one that
    // preambleOfChunks writes, so it survives FLAC and back unchanged.
    if (place > static_cast<uint8_t>(ChunkPlace::AfterData) || place < lastPlace || preamble.size() - at - 1 < 8) {
      chunks.clear();
      return false;
    }
    const uint32_t id = le32(preamble, at + 1);
    const int64_t length = paddedLength(le32(preamble, at + 5));
    if (!keptAsForeign(id) || length > static_cast<int64_t>(preamble.size() - at - 1)) {
      chunks.clear();
      return false;
    }
    chunks.push_back({static_cast<ChunkPlace>(place), std::string(preamble.substr(at + 1, static_cast<std::size_t>(length)))});
    lastPlace = place;
    at += 1 + static_cast<std::size_t>(length);
  }
  return true;
}

bool keptChunksDamaged(std::string_view preamble) {
  ForeignChunks chunks;
  return preamble.substr(0, sizeof kMagic) == std::string_view(kMagic, sizeof kMagic) && !chunksOfPreamble(preamble, chunks);
}

int64_t chunkBytesAt(const ForeignChunks& chunks, ChunkPlace place) {
  int64_t bytes = 0;
  for (const ForeignChunk& chunk : chunks) {
    if (chunk.place == place) bytes += static_cast<int64_t>(chunk.bytes.size());
  }
  return bytes;
}

bool writeChunksAt(ByteSink& out, const ForeignChunks& chunks, ChunkPlace place) {
  bool ok = true;
  for (const ForeignChunk& chunk : chunks) {
    if (chunk.place == place) ok = out.write(reinterpret_cast<const uint8_t*>(chunk.bytes.data()), chunk.bytes.size()) && ok;
  }
  return ok;
}

bool takeChunk(ByteSource& in, uint32_t id, uint32_t size, ChunkPlace place, ForeignChunks& chunks,
               ChunkNotes& dropped) {
  const int64_t body = static_cast<int64_t>(size) + (size & 1);
  if (!keptAsForeign(id)) return in.skip(body);
  if (paddedLength(size) > static_cast<int64_t>(kMaxForeignChunkBytes)) {
    const int64_t start = in.position();
    if (in.skip(body)) {
      dropped.push_back({id, size});
      return true;
    }
    const int64_t length = in.size();
    dropped.push_back({id, size, start >= 0 && length >= start ? 8 + length - start : 8});
    return false;
  }
  ForeignChunk chunk;
  chunk.place = place;
  putLE(chunk.bytes, 4, id);
  putLE(chunk.bytes, 4, size);
  chunk.bytes.resize(8 + size);
  if (const std::size_t got = in.read(reinterpret_cast<uint8_t*>(chunk.bytes.data()) + 8, size); got != size) {
    dropped.push_back({id, size, 8 + static_cast<int64_t>(got)});
    return false;
  }
  if (size & 1) {
    // The pad byte as it was; a file that ends without it gets a zero.
    const int pad = in.get();
    chunk.bytes += static_cast<char>(pad < 0 ? 0 : pad);
  }
  chunks.push_back(std::move(chunk));
  return true;
}

std::string chunkIdText(uint32_t id) {
  std::string text;
  for (int i = 0; i < 4; ++i) {
    const auto c = static_cast<unsigned char>(id >> (8 * i));
    if (c >= 0x20 && c < 0x7F) {
      text += static_cast<char>(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
      text += escaped;
    }
  }
  return text;
}

std::string describeChunkNotes(const ChunkNotes& notes) {
  std::string text;
  for (const ChunkNote& note : notes) {
    if (!text.empty()) text += ", ";
    if (note.damaged() && note.held < 8) {
      text += "a chunk header cut short (" + std::to_string(note.held) + " of 8 bytes)";
    } else {
      text += chunkIdText(note.id) + " (" +
              (note.damaged() ? "its header gives " + std::to_string(note.size) + " bytes, " +
                                    std::to_string(note.held - 8) + " are there)"
                              : std::to_string(note.size) + " bytes)");
    }
  }
  return text;
}

bool needsRf64(int64_t dataBytes, const ForeignChunks& chunks) {
  int64_t riffSize = 36 + dataBytes + (dataBytes & 1);
  for (const ForeignChunk& chunk : chunks) riffSize += static_cast<int64_t>(chunk.bytes.size());
  return riffSize > kRiffLimit;
}

std::vector<std::string> riffBlocksOf(const ForeignChunks& chunks, int channels, int64_t sampleRate,
                                      int64_t dataBytes) {
  std::vector<std::string> blocks;
  if (chunks.empty()) return blocks;
  int64_t foreign = 0;
  for (const ForeignChunk& chunk : chunks) foreign += static_cast<int64_t>(chunk.bytes.size());
  const int64_t aligned = dataBytes + (dataBytes & 1);
  const bool rf64 = needsRf64(dataBytes, chunks);
  std::string head;
  if (rf64) {
    putId(head, "RF64");
    putLE(head, 4, 0xFFFFFFFFu);
    putId(head, "WAVE");
    blocks.push_back(head);
    std::string ds64;
    putId(ds64, "ds64");
    putLE(ds64, 4, 28);
    putLE(ds64, 8, static_cast<uint64_t>(72 + foreign + aligned));
    putLE(ds64, 8, static_cast<uint64_t>(dataBytes));
    putLE(ds64, 8, static_cast<uint64_t>(dataBytes / (2 * channels)));
    putLE(ds64, 4, 0);
    blocks.push_back(ds64);
  } else {
    putId(head, "RIFF");
    putLE(head, 4, static_cast<uint64_t>(36 + foreign + aligned));
    putId(head, "WAVE");
    blocks.push_back(head);
  }
  auto addAt = [&](ChunkPlace place) {
    for (const ForeignChunk& chunk : chunks) {
      if (chunk.place == place) blocks.push_back(chunk.bytes);
    }
  };
  addAt(ChunkPlace::BeforeFormat);
  std::string format;
  putId(format, "fmt ");
  putLE(format, 4, 16);
  putLE(format, 2, 1);
  putLE(format, 2, static_cast<uint64_t>(channels));
  putLE(format, 4, static_cast<uint64_t>(sampleRate));
  putLE(format, 4, static_cast<uint64_t>(sampleRate * channels * 2));
  putLE(format, 2, static_cast<uint64_t>(channels * 2));
  putLE(format, 2, 16);
  blocks.push_back(format);
  addAt(ChunkPlace::BeforeData);
  std::string data;
  putId(data, "data");
  putLE(data, 4, rf64 ? 0xFFFFFFFFu : static_cast<uint64_t>(dataBytes));
  blocks.push_back(data);
  addAt(ChunkPlace::AfterData);
  return blocks;
}

bool chunksOfRiffBlocks(const std::vector<std::string>& blocks, ForeignChunks& chunks, ChunkNotes& dropped,
                        std::string& problem) {
  chunks.clear();
  auto fail = [&](const std::string& why) {
    chunks.clear();
    problem = "its WAVE chunks (APPLICATION blocks \"riff\") are damaged: " + why;
    return false;
  };
  if (blocks.empty()) return true;
  const std::string& head = blocks[0];
  if (head.size() != 12 || (le32(head, 0) != fourCC("RIFF") && le32(head, 0) != fourCC("RF64")) ||
      le32(head, 8) != fourCC("WAVE")) {
    return fail("the first is not a RIFF WAVE header");
  }
  const bool rf64 = le32(head, 0) == fourCC("RF64");
  if (rf64 && (blocks.size() < 2 || blocks[1].size() < 8 || le32(blocks[1], 0) != fourCC("ds64"))) {
    return fail("an RF64 header without its ds64 chunk");
  }
  ChunkPlace place = ChunkPlace::BeforeFormat;
  for (std::size_t i = rf64 ? 2 : 1; i < blocks.size(); ++i) {
    const std::string& block = blocks[i];
    if (block.size() < 8) return fail("a block shorter than a chunk header");
    const uint32_t id = le32(block, 0);
    if (id == fourCC("data")) {
      if (place != ChunkPlace::BeforeData || block.size() != 8) return fail("a misplaced or damaged data chunk header");
      place = ChunkPlace::AfterData;
      continue;
    }
    const uint32_t size = le32(block, 4);
    const bool sizeWrong = static_cast<int64_t>(block.size()) != paddedLength(size);
    if (sizeWrong && keptAsForeign(id)) {
      // Each block holds one chunk: one whose size is wrong is damaged
      // alone, and the others are still where they belong.
      dropped.push_back({id, size, static_cast<int64_t>(block.size())});
      continue;
    }
    if (sizeWrong) return fail("a chunk whose size is not its block's");
    if (id == fourCC("fmt ")) {
      if (place != ChunkPlace::BeforeFormat) return fail("a second or misplaced fmt chunk");
      place = ChunkPlace::BeforeData;
      continue;
    }
    if (!keptAsForeign(id)) continue;
    if (block.size() > kMaxForeignChunkBytes) {
      dropped.push_back({id, size});
      continue;
    }
    chunks.push_back({place, block});
  }
  if (place != ChunkPlace::AfterData) return fail("no fmt chunk or no data chunk header");
  return true;
}

}  // namespace nubo::converter
