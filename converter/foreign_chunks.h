// SPDX-License-Identifier: BSD-3-Clause
// A WAVE file's chunks other than its audio and format (bext, LIST, iXML,
// cue , smpl, ...), kept in a compressed file's preamble and written back
// where they stood. docs/format.md ("Foreign chunks in the preamble") gives
// the layout and why every reader of a compressed file may meet it safely.
// The same chunks travel in a FLAC file as flac --keep-foreign-metadata
// stores them: APPLICATION blocks with the id "riff".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "file_io.h"

namespace nubo::converter {

// Where a chunk stood in its WAVE file.
enum class ChunkPlace : uint8_t {
  BeforeFormat = 0,  // before the "fmt " chunk
  BeforeData = 1,    // between the "fmt " chunk and the "data" chunk
  AfterData = 2,     // after the audio
};

struct ForeignChunk {
  ChunkPlace place = ChunkPlace::BeforeData;
  std::string bytes;  // as in the file: id, size (32 bits, low byte first), body, and a pad byte after an odd body
  uint32_t id() const;
  uint32_t bodySize() const;
};
using ForeignChunks = std::vector<ForeignChunk>;

// A chunk that was not kept: its id and the size its header gives, and for
// one that the file ends inside of, the bytes of it (header included) the
// file holds (fewer than 8: its header is cut short, id and size unknown).
struct ChunkNote {
  uint32_t id = 0;
  int64_t size = 0;
  int64_t held = -1;  // -1: whole, but too large to keep
  bool damaged() const { return held >= 0; }
};
using ChunkNotes = std::vector<ChunkNote>;

// The preamble's length field is 16 bits.
inline constexpr std::size_t kMaxPreambleBytes = 65535;
// What the layout adds before the chunks: its magic and version.
inline constexpr std::size_t kForeignHeadBytes = 9;
// The largest chunk (header, body, pad byte) a preamble can hold alone.
inline constexpr std::size_t kMaxForeignChunkBytes = kMaxPreambleBytes - kForeignHeadBytes - 1;

// Whether a chunk of this id is kept. Not kept: what nubo writes itself from
// the audio ("fmt ", "data", "fact", and RF64's "ds64"), and padding that holds
// nothing ("JUNK", "junk", "PAD ", "FLLR": room reserved in the input for
// alignment or a later RF64 header, which means nothing in another file).
bool keptAsForeign(uint32_t id);

// The preamble that holds `chunks`, in their order, as far as they fit in
// kMaxPreambleBytes: a chunk that does not fit is left out and named in
// `dropped` (a later, smaller one may still fit). "" when none is kept.
// REQUIRES: chunks in the order of their places (BeforeFormat first), each
// of a kept id.
std::string preambleOfChunks(const ForeignChunks& chunks, ChunkNotes& dropped);

// The chunks a preamble holds, when it is laid out as preambleOfChunks writes
// it; false for any other preamble (an old file's, whose content nubo carries
// without interpreting it), and then `chunks` is empty. A preamble accepted
// here comes back byte for byte from preambleOfChunks of its chunks.
bool chunksOfPreamble(std::string_view preamble, ForeignChunks& chunks);
// Whether a preamble begins with the layout's magic but is not one that
// chunksOfPreamble reads: chunks were kept there, and are damaged (or laid
// out by a later version of the layout).
bool keptChunksDamaged(std::string_view preamble);

// The bytes of the chunks at `place`, headers and pad bytes included.
int64_t chunkBytesAt(const ForeignChunks& chunks, ChunkPlace place);
// Writes the chunks at `place`, in order. False when a byte could not be written.
bool writeChunksAt(ByteSink& out, const ForeignChunks& chunks, ChunkPlace place);

// Takes the chunk whose 8-byte header (`id`, `size`) has just been read from
// `in`: its body (and pad byte) are read into `chunks` when it is kept and
// can fit in a preamble, noted in `dropped` when it is kept but too large,
// and passed over otherwise. False when `in` ends inside it (a chunk of a
// kept id is then noted as damaged, with the bytes the file holds).
bool takeChunk(ByteSource& in, uint32_t id, uint32_t size, ChunkPlace place, ForeignChunks& chunks,
               ChunkNotes& dropped);

// A chunk id as text: its four characters, each byte outside printable ASCII
// as \xHH.
std::string chunkIdText(uint32_t id);
// "LIST (70000 bytes), iXML (12 bytes)"; a damaged chunk: "odd1 (its header
// gives 3 bytes, 2 are there)", "a chunk header cut short (2 of 8 bytes)".
std::string describeChunkNotes(const ChunkNotes& notes);

// The contents of the APPLICATION blocks (each without its "riff" id) that
// flac --keep-foreign-metadata would store for the WAVE file nubo writes with
// these chunks around `dataBytes` of audio: the RIFF header (RF64 with its
// ds64 chunk when the sizes pass 32 bits), the chunks before the format
// chunk, the format chunk, the chunks before the data, the data chunk's
// header, then the chunks after it. flac -d --keep-foreign-metadata checks
// the header, format and data blocks against what it writes, so they are
// exactly nubo's WAVE header. Empty when there are no chunks.
std::vector<std::string> riffBlocksOf(const ForeignChunks& chunks, int channels, int64_t sampleRate, int64_t dataBytes);

// The chunks of a FLAC file's "riff" APPLICATION blocks (in file order, each
// without its id), placed by where they stand against the format and data
// blocks; what nubo rebuilds or drops (keptAsForeign) is left out, and what
// is kept but too large is noted in `dropped`, as is a kept chunk whose size
// is not its block's (damaged; the others are kept). False with `problem`
// when the blocks are not laid out as flac writes them.
bool chunksOfRiffBlocks(const std::vector<std::string>& blocks, ForeignChunks& chunks, ChunkNotes& dropped,
                        std::string& problem);

// Whether a WAVE file of `dataBytes` of audio and these chunks needs RF64:
// its RIFF size would pass 32 bits.
bool needsRf64(int64_t dataBytes, const ForeignChunks& chunks);

}  // namespace nubo::converter
