// SPDX-License-Identifier: BSD-3-Clause
// A WAVE file's other chunks in a compressed file's preamble and in FLAC's
// "riff" APPLICATION blocks: laid out and read back, old preambles left
// alone, what does not fit named, and the WAVE sizes the blocks announce.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "file_io.h"
#include "foreign_chunks.h"
#include "nab_format.h"
#include "pcm_stream.h"
#include "wave_file.h"
#include "wave_sink.h"

namespace nubo::converter {
namespace {

std::string le(uint64_t v, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += static_cast<char>(v >> (8 * i));
  return out;
}

// A chunk as a file holds it: id, size, body, and a pad byte after an odd body.
std::string chunk(const char (&id)[5], const std::string& body, char pad = '\0') {
  std::string bytes = std::string(id, 4) + le(body.size(), 4) + body;
  if (body.size() & 1) bytes += pad;
  return bytes;
}

ForeignChunks sample() {
  return {{ChunkPlace::BeforeFormat, chunk("bext", std::string(601, 'b'), '\x7f')},  // odd, a pad byte that is not 0
          {ChunkPlace::BeforeData, chunk("LIST", "INFOINAM\x05\0\0\0take\0\0")},
          {ChunkPlace::BeforeData, chunk("iXML", "<BWFXML/>")},
          {ChunkPlace::AfterData, chunk("cue ", le(1, 4) + std::string(24, '\x01'))}};
}

bool sameChunks(const ForeignChunks& a, const ForeignChunks& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].place != b[i].place || a[i].bytes != b[i].bytes) return false;
  }
  return true;
}

TEST(ForeignChunksPreamble, ChunksComeBackByteForByteWithTheirPlaces) {
  ChunkNotes dropped;
  const std::string preamble = preambleOfChunks(sample(), dropped);
  EXPECT_TRUE(dropped.empty());
  ASSERT_GE(preamble.size(), kForeignHeadBytes);
  EXPECT_EQ(preamble.substr(0, 9), std::string("\x89NUBO\r\n\x1a\x01", 9));
  ForeignChunks back;
  ASSERT_TRUE(chunksOfPreamble(preamble, back));
  EXPECT_TRUE(sameChunks(back, sample()));
  EXPECT_EQ(back[0].id(), fourCC("bext"));
  EXPECT_EQ(back[0].bodySize(), 601u);
  EXPECT_EQ(back[0].bytes.back(), '\x7f');
  ChunkNotes none;
  EXPECT_EQ(preambleOfChunks(back, none), preamble);
  // Chunks handed over out of place order are laid out by place.
  ForeignChunks shuffled = sample();
  std::swap(shuffled[0], shuffled[3]);
  EXPECT_EQ(preambleOfChunks(shuffled, none), preamble);
  EXPECT_EQ(preambleOfChunks({}, none), "");
}

TEST(ForeignChunksPreamble, OtherPreamblesAreNotInterpreted) {
  ChunkNotes dropped;
  const std::string good = preambleOfChunks(sample(), dropped);
  const std::string head = good.substr(0, kForeignHeadBytes);
  std::string versionTwo = good;
  versionTwo[8] = 2;
  std::string lateBeforeEarly = head + '\x02' + chunk("cue ", "1234") + '\x00' + chunk("bext", "12");
  const std::vector<std::string> others = {
      "",
      "take 7, room B",
      head,                                          // no chunk
      versionTwo,                                    // a layout this reader does not know
      good.substr(0, good.size() - 1),               // cut inside the last chunk
      good + '\x02',                                 // a byte after the last chunk
      head + '\x03' + chunk("bext", "12"),           // no such place
      lateBeforeEarly,                               // places out of order
      head + '\x01' + chunk("data", "1234"),         // a chunk nubo writes itself
      head + '\x01' + chunk("JUNK", "1234"),         // padding, which is never kept
      head + '\x01' + "LIST" + le(3, 4) + "123",     // an odd body without its pad byte
  };
  for (const std::string& p : others) {
    ForeignChunks chunks{{ChunkPlace::BeforeData, "left over"}};
    EXPECT_FALSE(chunksOfPreamble(p, chunks)) << testing::PrintToString(p);
    EXPECT_TRUE(chunks.empty());
    // Named as damaged chunks when it begins with the magic, else an old preamble.
    EXPECT_EQ(keptChunksDamaged(p), p.compare(0, 8, good, 0, 8) == 0) << testing::PrintToString(p);
  }
  EXPECT_FALSE(keptChunksDamaged(good));
}

TEST(ForeignChunksPreamble, WhatDoesNotFitIsNamedAndTheRestKept) {
  // 40 000 + 30 000 bytes do not both fit in 65 535; the small one after them does.
  const ForeignChunks chunks = {{ChunkPlace::BeforeFormat, chunk("bext", std::string(40000, 'a'))},
                                {ChunkPlace::BeforeData, chunk("iXML", std::string(30000, 'x'))},
                                {ChunkPlace::AfterData, chunk("cue ", std::string(28, 'c'))}};
  ChunkNotes dropped;
  const std::string preamble = preambleOfChunks(chunks, dropped);
  ASSERT_EQ(dropped.size(), 1u);
  EXPECT_EQ(dropped[0].id, fourCC("iXML"));
  EXPECT_EQ(dropped[0].size, 30000);
  EXPECT_EQ(describeChunkNotes(dropped), "iXML (30000 bytes)");
  ForeignChunks back;
  ASSERT_TRUE(chunksOfPreamble(preamble, back));
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[0].id(), fourCC("bext"));
  EXPECT_EQ(back[1].id(), fourCC("cue "));

  // The largest chunk that fits (a chunk's length is even) leaves one byte of
  // the preamble free; two bytes more do not fit.
  const std::size_t body = kMaxForeignChunkBytes - 9;
  ChunkNotes none;
  EXPECT_EQ(preambleOfChunks({{ChunkPlace::BeforeData, chunk("LIST", std::string(body, 'l'))}}, none).size(),
            kMaxPreambleBytes - 1);
  EXPECT_TRUE(none.empty());
  EXPECT_EQ(preambleOfChunks({{ChunkPlace::BeforeData, chunk("LIST", std::string(body + 2, 'l'))}}, none), "");
  EXPECT_EQ(describeChunkNotes(none), "LIST (" + std::to_string(body + 2) + " bytes)");
}

TEST(ForeignChunksPreamble, ChunksAreTakenFromAStream) {
  const std::string big(kMaxForeignChunkBytes, 'B');  // with its header, too large for a preamble
  const std::string file = chunk("JUNK", std::string(100, '\0')) + chunk("bext", "odd", '\x55') +
                           chunk("LIST", big) + chunk("smpl", "1234") + chunk("iXML", "xyz");
  const std::vector<uint8_t> bytes(file.begin(), file.end() - 1);  // the last pad byte is missing
  MemorySource in(bytes);
  ForeignChunks chunks;
  ChunkNotes dropped;
  int taken = 0;
  for (;;) {
    const uint32_t id = in.readLE(4);
    const uint32_t size = in.readLE(4);
    if (id == 0xFFFFFFFFu) break;
    EXPECT_TRUE(takeChunk(in, id, size, ChunkPlace::AfterData, chunks, dropped)) << chunkIdText(id);
    ++taken;
  }
  EXPECT_EQ(taken, 5);
  ASSERT_EQ(chunks.size(), 3u);
  EXPECT_EQ(chunks[0].bytes, chunk("bext", "odd", '\x55'));
  EXPECT_EQ(chunks[1].bytes, chunk("smpl", "1234"));
  EXPECT_EQ(chunks[2].bytes, chunk("iXML", "xyz", '\0'));  // the missing pad byte made up
  EXPECT_EQ(chunks[2].place, ChunkPlace::AfterData);
  ASSERT_EQ(dropped.size(), 1u);
  EXPECT_EQ(describeChunkNotes(dropped), "LIST (" + std::to_string(big.size()) + " bytes)");

  // A chunk cut short is noted, not kept.
  const std::string cut = chunk("bext", "12345678").substr(0, 12);
  const std::vector<uint8_t> cutBytes(cut.begin(), cut.end());
  MemorySource cutIn(cutBytes);
  const uint32_t id = cutIn.readLE(4);
  const uint32_t size = cutIn.readLE(4);
  chunks.clear();
  dropped.clear();
  EXPECT_FALSE(takeChunk(cutIn, id, size, ChunkPlace::AfterData, chunks, dropped));
  EXPECT_TRUE(chunks.empty());
  EXPECT_EQ(describeChunkNotes(dropped), "bext (its header gives 8 bytes, 4 are there)");
}

TEST(ForeignChunksPreamble, IdsAsText) {
  EXPECT_EQ(chunkIdText(fourCC("cue ")), "cue ");
  EXPECT_EQ(chunkIdText(0x0A00FF41u), "A\\xff\\x00\\x0a");
  EXPECT_TRUE(keptAsForeign(fourCC("bext")));
  for (const uint32_t id : {fourCC("fmt "), fourCC("data"), fourCC("fact"), fourCC("ds64"), fourCC("JUNK")}) {
    EXPECT_FALSE(keptAsForeign(id)) << chunkIdText(id);
  }
}

// The WAVE file that the blocks describe, as flac -d --keep-foreign-metadata
// puts it together: the blocks before the data's header, the audio, the rest.
std::string waveOfBlocks(const std::vector<std::string>& blocks, const std::string& audio) {
  std::string wave;
  bool afterData = false;
  for (const std::string& b : blocks) {
    wave += b;
    if (!afterData && b.compare(0, 4, "data") == 0) {
      wave += audio;
      afterData = true;
    }
  }
  return wave;
}

TEST(ForeignChunksFlac, RiffBlocksDescribeTheWaveFileAndGiveTheChunksBack) {
  const std::string audio(4 * 1000, '\x11');  // 1000 stereo frames
  const std::vector<std::string> blocks = riffBlocksOf(sample(), 2, 44100, static_cast<int64_t>(audio.size()));
  ASSERT_EQ(blocks.size(), 7u);
  const std::string wave = waveOfBlocks(blocks, audio);
  EXPECT_EQ(wave.substr(0, 4), "RIFF");
  EXPECT_EQ(wave.substr(4, 4), le(wave.size() - 8, 4));
  EXPECT_EQ(blocks[2], "fmt " + le(16, 4) + le(1, 2) + le(2, 2) + le(44100, 4) + le(176400, 4) + le(4, 2) + le(16, 2));
  EXPECT_EQ(blocks[5], "data" + le(audio.size(), 4));

  ForeignChunks back;
  ChunkNotes dropped;
  std::string problem;
  ASSERT_TRUE(chunksOfRiffBlocks(blocks, back, dropped, problem)) << problem;
  EXPECT_TRUE(sameChunks(back, sample()));
  EXPECT_TRUE(dropped.empty());
  EXPECT_TRUE(riffBlocksOf({}, 2, 44100, 4000).empty());
}

TEST(ForeignChunksFlac, Rf64WhenTheSizesPass32Bits) {
  const ForeignChunks chunks = {{ChunkPlace::AfterData, chunk("cue ", "1234")}};
  const int64_t justFits = kRiffLimit - 36 - 12 - 1;  // even, as 16-bit audio is
  EXPECT_FALSE(needsRf64(justFits, chunks));
  EXPECT_TRUE(needsRf64(justFits + 2, chunks));
  EXPECT_FALSE(needsRf64(justFits + 2, {}));
  const int64_t data = justFits + 2;
  const std::vector<std::string> blocks = riffBlocksOf(chunks, 1, 48000, data);
  ASSERT_EQ(blocks.size(), 5u);
  EXPECT_EQ(blocks[0], "RF64" + le(0xFFFFFFFFu, 4) + "WAVE");
  EXPECT_EQ(blocks[1], "ds64" + le(28, 4) + le(72 + 12 + data, 8) + le(data, 8) + le(data / 2, 8) + le(0, 4));
  EXPECT_EQ(blocks[3], "data" + le(0xFFFFFFFFu, 4));
  ForeignChunks back;
  ChunkNotes dropped;
  std::string problem;
  ASSERT_TRUE(chunksOfRiffBlocks(blocks, back, dropped, problem)) << problem;
  EXPECT_TRUE(sameChunks(back, chunks));
}

TEST(ForeignChunksFlac, BlocksOfFlacItselfAreSortedAndCheckedAsItChecksThem) {
  // As flac stores a WAVE file with an extensible format, a fact chunk and JUNK.
  const std::string big(kMaxForeignChunkBytes, 'x');
  const std::vector<std::string> blocks = {"RIFF" + le(1234, 4) + "WAVE",
                                           chunk("JUNK", std::string(28, '\0')),
                                           chunk("bext", "b"),
                                           chunk("fmt ", std::string(40, '\x02')),
                                           chunk("fact", "1234"),
                                           chunk("iXML", big),
                                           "data" + le(400, 4),
                                           chunk("LIST", "ab")};
  ForeignChunks chunks;
  ChunkNotes dropped;
  std::string problem;
  ASSERT_TRUE(chunksOfRiffBlocks(blocks, chunks, dropped, problem)) << problem;
  ASSERT_EQ(chunks.size(), 2u);
  EXPECT_EQ(chunks[0].place, ChunkPlace::BeforeFormat);
  EXPECT_EQ(chunks[0].bytes, chunk("bext", "b"));
  EXPECT_EQ(chunks[1].place, ChunkPlace::AfterData);
  EXPECT_EQ(describeChunkNotes(dropped), "iXML (" + std::to_string(big.size()) + " bytes)");

  const std::vector<std::vector<std::string>> damaged = {
      {"RIFX" + le(0, 4) + "WAVE", chunk("fmt ", "1234"), "data" + le(0, 4)},   // not RIFF
      {"RF64" + le(0, 4) + "WAVE", chunk("fmt ", "1234"), "data" + le(0, 4)},   // RF64 without ds64
      {blocks[0], chunk("fmt ", "1234")},                                         // no data header
      {blocks[0], "data" + le(0, 4), chunk("fmt ", "1234")},                      // data before fmt
      {blocks[0], chunk("fmt ", "1234"), chunk("fmt ", "1234"), "data" + le(0, 4)},
      {blocks[0], chunk("fmt ", "1234") + "x", "data" + le(0, 4)},                       // fmt's size not the block's
      {blocks[0], chunk("fmt ", "1234"), "bext", "data" + le(0, 4)},                     // shorter than a header
  };
  for (const auto& d : damaged) {
    problem.clear();
    EXPECT_FALSE(chunksOfRiffBlocks(d, chunks, dropped, problem));
    EXPECT_NE(problem.find("damaged"), std::string::npos) << problem;
    EXPECT_TRUE(chunks.empty());
  }

  // A kept chunk whose size is not its block's is damaged alone: each block
  // holds one chunk, so the others keep their places.
  std::string badSize = chunk("bext", "1234");
  badSize[4] = '\x0f';
  const std::vector<std::string> oneDamaged = {blocks[0], badSize, chunk("fmt ", "1234"), chunk("LIST", "ab"),
                                               "data" + le(0, 4), chunk("cue ", "cd")};
  dropped.clear();
  ASSERT_TRUE(chunksOfRiffBlocks(oneDamaged, chunks, dropped, problem)) << problem;
  ASSERT_EQ(chunks.size(), 2u);
  EXPECT_EQ(chunks[0].bytes, chunk("LIST", "ab"));
  EXPECT_EQ(chunks[0].place, ChunkPlace::BeforeData);
  EXPECT_EQ(chunks[1].place, ChunkPlace::AfterData);
  ASSERT_EQ(dropped.size(), 1u);
  EXPECT_TRUE(dropped[0].damaged());
  EXPECT_EQ(describeChunkNotes(dropped), "bext (its header gives 15 bytes, 4 are there)");
}

std::string bytesOf(const MemorySink& out) { return std::string(out.bytes().begin(), out.bytes().end()); }

TEST(ForeignChunksWave, WrittenWhereTheyStoodAndReadBack) {
  const PcmFormat stereo{2, 44100, 176400, 4, 16};
  const std::string audio(4000, '\x22');
  const ForeignChunks chunks = sample();
  const std::string expected = "RIFF" + le(4 + chunks[0].bytes.size() + 24 + chunks[1].bytes.size() +
                                               chunks[2].bytes.size() + 8 + audio.size() + chunks[3].bytes.size(),
                                           4) +
                               "WAVE" + chunks[0].bytes + "fmt " + le(16, 4) + le(1, 2) + le(2, 2) + le(44100, 4) +
                               le(176400, 4) + le(4, 2) + le(16, 2) + chunks[1].bytes + chunks[2].bytes + "data" +
                               le(audio.size(), 4) + audio + chunks[3].bytes;
  // Announced right, and announced short (the sizes are put right at the end).
  for (const int64_t announced : {1000, 900}) {
    MemorySink out;
    std::string error;
    auto sink = startWaveSink(out, stereo, announced, true, chunks, error);
    ASSERT_NE(sink, nullptr) << error;
    ASSERT_TRUE(sink->write(reinterpret_cast<const uint8_t*>(audio.data()), audio.size()));
    ASSERT_TRUE(sink->finish(1000)) << sink->error();
    EXPECT_EQ(bytesOf(out), expected) << announced;
  }
  // Read back: the chunks before the data with the header, those after it
  // on request, and the file left at its first sample.
  const std::vector<uint8_t> file(expected.begin(), expected.end());
  MemorySource in(file);
  WaveInfo info;
  ASSERT_TRUE(readWaveHeader(in, info)) << info.whatItIs;
  const int64_t firstSample = in.position();
  EXPECT_EQ(firstSample, static_cast<int64_t>(expected.find("data")) + 8);
  EXPECT_EQ(info.foreign.size(), 3u);
  ASSERT_TRUE(readChunksAfterData(in, info));
  EXPECT_EQ(in.position(), firstSample);
  EXPECT_TRUE(sameChunks(info.foreign, chunks));
  EXPECT_TRUE(info.dropped.empty());

  // On a pipe the header cannot be put right: a length other than announced fails.
  MemorySink pipe;
  std::string error;
  auto sink = startWaveSink(pipe, stereo, 900, false, chunks, error);
  ASSERT_NE(sink, nullptr) << error;
  ASSERT_TRUE(sink->write(reinterpret_cast<const uint8_t*>(audio.data()), audio.size()));
  EXPECT_FALSE(sink->finish(1000));
}

TEST(ForeignChunksWave, Rf64CountsTheChunksInItsSizes) {
  const PcmFormat mono{1, 48000, 96000, 2, 16};
  const ForeignChunks chunks = {{ChunkPlace::BeforeFormat, chunk("bext", "12")},
                                {ChunkPlace::AfterData, chunk("cue ", "1234")}};
  const int64_t frames = (kRiffLimit - 36) / 2;  // fits alone, not with the chunks
  MemorySink out;
  std::string error;
  auto sink = startWaveSink(out, mono, frames, true, chunks, error);
  ASSERT_NE(sink, nullptr) << error;
  const std::string head = bytesOf(out);
  EXPECT_EQ(head, "RF64" + le(0xFFFFFFFFu, 4) + "WAVE" + "ds64" + le(28, 4) + le(72 + 10 + 12 + 2 * frames, 8) +
                      le(2 * frames, 8) + le(frames, 8) + le(0, 4) + chunks[0].bytes + "fmt " + le(16, 4) + le(1, 2) +
                      le(1, 2) + le(48000, 4) + le(96000, 4) + le(2, 2) + le(16, 2) + "data" + le(0xFFFFFFFFu, 4));
  // Without chunks the same audio is a plain WAVE file, as before.
  MemorySink plain;
  ASSERT_NE(startWaveSink(plain, mono, frames, true, {}, error), nullptr);
  EXPECT_EQ(bytesOf(plain).substr(0, 4), "RIFF");
  EXPECT_EQ(plain.bytes().size(), 44u);
}

}  // namespace
}  // namespace nubo::converter
