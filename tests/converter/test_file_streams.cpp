// SPDX-License-Identifier: BSD-3-Clause
// The .NAB header and block readers and writers and the WAVE header reader on
// the byte streams handed to them: memory, a pipe, a file.
#include <gtest/gtest.h>

#include <cstdio>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

#include "le_bytes.h"
#include "file_io.h"
#include "nab_format.h"
#include "wave_file.h"

namespace nubo::converter {
namespace {

using test::getLE;
using test::putLE;

// A header as an old file has it: fact chunk of `factSize` bytes (0: no fact
// chunk, the data chunk follows the format chunk).
std::vector<uint8_t> nabHeader(int channels, uint32_t rate, uint32_t factSize, uint32_t frames, uint32_t dataSize) {
  std::vector<uint8_t> f;
  putLE(f, fourCC("RIFF"), 4);
  putLE(f, dataSize + 58, 4);
  putLE(f, fourCC("WAVE"), 4);
  putLE(f, fourCC("fmt "), 4);
  putLE(f, 26, 4);
  putLE(f, kNabFormatTag, 2);
  putLE(f, static_cast<uint32_t>(channels), 2);
  putLE(f, rate, 4);
  putLE(f, rate * 2 * static_cast<uint32_t>(channels), 4);
  putLE(f, static_cast<uint32_t>(2 * channels), 2);
  putLE(f, 16, 2);
  putLE(f, 8, 2);
  putLE(f, 21, 4);
  putLE(f, 0xBEEF, 4);
  if (factSize > 0) {
    putLE(f, fourCC("fact"), 4);
    putLE(f, factSize, 4);
    putLE(f, frames, 4);
    for (uint32_t i = 4; i < factSize; ++i) f.push_back(0xAA);
  }
  putLE(f, fourCC("data"), 4);
  putLE(f, dataSize, 4);
  return f;
}

// A code block of `size` bytes as the file's framing has it (its body is not
// decoded here); a count extension of `count` samples when size is 4095.
void putBlock(std::vector<uint8_t>& f, int size, int widthClass, int count = 0) {
  putLE(f, static_cast<uint32_t>(size | widthClass << 12), 2);
  if (size == kCountExtensionSize) {
    putLE(f, static_cast<uint32_t>(count), 2);
    size = 40;  // what follows it up to the end of the file
  }
  for (int i = 2 + (count > 0 ? 2 : 0); i < size; ++i) f.push_back(static_cast<uint8_t>(i));
}

// A pipe whose writing end is fed `bytes` by a thread, read through an
// InputFile that adopted the reading end (as the standard input is).
class Pipe {
 public:
  explicit Pipe(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {
    int fds[2];
#ifdef _WIN32
    EXPECT_EQ(_pipe(fds, 65536, _O_BINARY), 0);
    std::FILE* reading = _fdopen(fds[0], "rb");
    std::FILE* writing = _fdopen(fds[1], "wb");
#else
    EXPECT_EQ(pipe(fds), 0);
    std::FILE* reading = fdopen(fds[0], "rb");
    std::FILE* writing = fdopen(fds[1], "wb");
#endif
    EXPECT_TRUE(in.adopt(reading));
    writer_ = std::thread([this, writing] {
      std::fwrite(bytes_.data(), 1, bytes_.size(), writing);
      std::fclose(writing);
    });
  }
  // The tests' streams are smaller than a pipe's buffer: the writer never
  // waits for a reader that has stopped.
  ~Pipe() {
    writer_.join();
    in.close();
  }
  InputFile in;

 private:
  std::vector<uint8_t> bytes_;
  std::thread writer_;
};

TEST(NabHeaderOnStreams, WrittenToMemoryReadsBackFieldForField) {
  NabHeader h;
  h.channels = 2;
  h.sampleRate = 44100;
  h.byteRate = 176400;
  h.blockAlign = 4;
  h.bitsPerSample = 16;
  h.coderParameter = -7;
  h.frameCount = 123456;
  h.dataSize = 1000;
  h.riffSize = 1058;
  MemorySink out;
  ASSERT_TRUE(writeHeader(out, h));
  ASSERT_EQ(out.bytes().size(), static_cast<std::size_t>(kHeaderBytes));
  std::vector<uint8_t> file = out.bytes();
  putLE(file, 3, 2);  // a preamble of 3 bytes
  file.insert(file.end(), {'a', 'b', 'c'});

  MemorySource in(file);
  NabHeader back;
  NabLayout layout;
  ASSERT_TRUE(readCompressedHeader(in, back, layout));
  EXPECT_EQ(back.channels, 2);
  EXPECT_EQ(back.sampleRate, 44100);
  EXPECT_EQ(back.byteRate, 176400);
  EXPECT_EQ(back.coderVersion, 22);
  EXPECT_EQ(back.coderParameter, -7);
  EXPECT_EQ(back.frameCount, 123456);
  EXPECT_EQ(back.dataSize, 1000);
  EXPECT_EQ(back.riffSize, 1058);
  EXPECT_TRUE(layout.hasFact);
  EXPECT_EQ(layout.dataOffset, 66);
  EXPECT_EQ(layout.preambleLength, 3);
  EXPECT_EQ(in.position(), 68);  // at the first preamble byte
  EXPECT_EQ(in.get(), 'a');
}

TEST(NabHeaderOnStreams, ChunkLayoutsAndFilesThatAreNotCompressed) {
  // A longer fact chunk: its extra bytes are passed over.
  std::vector<uint8_t> f = nabHeader(1, 22050, 8, 500, 10);
  putLE(f, 0, 2);
  NabHeader h;
  NabLayout layout;
  MemorySource longFact(f);
  ASSERT_TRUE(readCompressedHeader(longFact, h, layout));
  EXPECT_EQ(h.frameCount, 500);
  EXPECT_EQ(layout.dataOffset, 70);
  EXPECT_EQ(layout.preambleLength, 0);

  // No fact chunk: the frames come from the data size.
  f = nabHeader(2, 44100, 0, 0, 4000);
  putLE(f, 0, 2);
  MemorySource noFact(f);
  ASSERT_TRUE(readCompressedHeader(noFact, h, layout));
  EXPECT_FALSE(layout.hasFact);
  EXPECT_EQ(h.frameCount, 1000);
  EXPECT_EQ(layout.dataOffset, 54);

  // A header cut before its preamble length.
  f = nabHeader(2, 44100, 4, 0, 0);
  MemorySource cut(f);
  ASSERT_TRUE(readCompressedHeader(cut, h, layout));
  EXPECT_EQ(layout.preambleLength, -1);

  // Not compressed files: a PCM WAVE header, three channels, another chunk.
  f = nabHeader(2, 44100, 4, 0, 0);
  f[20] = 1, f[21] = 0;
  MemorySource pcm(f);
  EXPECT_FALSE(readCompressedHeader(pcm, h, layout));
  f = nabHeader(3, 44100, 4, 0, 0);
  MemorySource three(f);
  EXPECT_FALSE(readCompressedHeader(three, h, layout));
  f = nabHeader(2, 44100, 4, 0, 0);
  f[46] = 'L', f[47] = 'I', f[48] = 'S', f[49] = 'T';
  MemorySource list(f);
  EXPECT_FALSE(readCompressedHeader(list, h, layout));
  MemorySource empty(std::span<const uint8_t>{});
  EXPECT_FALSE(readCompressedHeader(empty, h, layout));
}

TEST(NabHeaderOnStreams, FinishWritesTheSizesInPlace) {
  NabHeader h;
  h.channels = 1;
  h.sampleRate = 8000;
  MemorySink out;
  ASSERT_TRUE(writeHeader(out, h));
  const std::vector<uint8_t> body(300, 0x5A);
  ASSERT_TRUE(out.write(body.data(), body.size()));
  ASSERT_TRUE(finishCompressedFile(out, 300, 777));
  const std::vector<uint8_t>& b = out.bytes();
  ASSERT_EQ(b.size(), 366u);
  EXPECT_EQ(getLE(b, 62, 4), 300u);       // data chunk size
  EXPECT_EQ(getLE(b, 4, 4), 300u + 58);   // RIFF size = file size - 8
  EXPECT_EQ(getLE(b, 54, 4), 777u);       // frames
  EXPECT_EQ(b[66], 0x5A);                 // nothing else touched
}

// The blocks of one stream read from memory and from a pipe give the same.
TEST(NabBlocksOnStreams, MemoryAndPipeFindTheSameBlocksAndEnd) {
  std::vector<uint8_t> f;
  putBlock(f, 100, 3);
  putBlock(f, 2, 0);
  putBlock(f, 4095, 1, 37);  // the last block, with its count extension, then bytes up to the end
  for (int pass = 0; pass < 2; ++pass) {
    SCOPED_TRACE(pass == 0 ? "memory" : "pipe");
    MemorySource memory(f);
    Pipe pipe(f);
    ByteSource& in = pass == 0 ? static_cast<ByteSource&>(memory) : pipe.in;
    EXPECT_EQ(in.size(), pass == 0 ? static_cast<int64_t>(f.size()) : -1);
    CodeBlock block;
    ASSERT_EQ(readBlock(in, block), BlockRead::Block);
    EXPECT_EQ(block.sizeField, 100);
    EXPECT_EQ(block.available, 100u);
    ASSERT_EQ(readBlock(in, block), BlockRead::Block);
    EXPECT_EQ(block.sizeField, 2);
    ASSERT_EQ(readBlock(in, block), BlockRead::Block);
    EXPECT_TRUE(block.countExtension());
    EXPECT_EQ(block.available, 40u);
    EXPECT_EQ(block.bytes[2], 37);
    EXPECT_EQ(block.bytes[40], 0xFF);  // the reader's filling past the end
    EXPECT_EQ(block.bytes[sizeof block.bytes - 1], 0xFF);
    EXPECT_EQ(readBlock(in, block), BlockRead::End);
  }
  for (int pass = 0; pass < 2; ++pass) {
    MemorySource memory(f);
    Pipe pipe(f);
    ByteSource& in = pass == 0 ? static_cast<ByteSource&>(memory) : pipe.in;
    EXPECT_EQ(framesByBlockSizes(in, 1764, 2), (2 * 1764 + 37) / 2);
  }
}

TEST(NabBlocksOnStreams, ABlockCutShortIsTruncated) {
  std::vector<uint8_t> f;
  putBlock(f, 100, 3);
  f.resize(60);
  MemorySource in(f);
  CodeBlock block;
  EXPECT_EQ(readBlock(in, block), BlockRead::Truncated);
  EXPECT_EQ(block.available, 60u);
  MemorySource again(f);
  EXPECT_EQ(framesByBlockSizes(again, 1764, 2), -1);
  const std::vector<uint8_t> oneByte{0x10};
  MemorySource single(oneByte);
  EXPECT_EQ(readBlock(single, block), BlockRead::Truncated);
  // A count extension cut after its size field.
  std::vector<uint8_t> ext;
  putLE(ext, 4095, 2);
  ext.push_back(1);
  MemorySource cutExtension(ext);
  EXPECT_EQ(readBlock(cutExtension, block), BlockRead::Truncated);
}

std::vector<uint8_t> waveHeader(uint32_t dataSize, int channels = 2, uint32_t tag = 1) {
  std::vector<uint8_t> w;
  putLE(w, fourCC("RIFF"), 4);
  putLE(w, 36 + dataSize, 4);
  putLE(w, fourCC("WAVE"), 4);
  putLE(w, fourCC("fmt "), 4);
  putLE(w, 16, 4);
  putLE(w, tag, 2);
  putLE(w, static_cast<uint32_t>(channels), 2);
  putLE(w, 44100, 4);
  putLE(w, 44100u * 2 * static_cast<uint32_t>(channels), 4);
  putLE(w, static_cast<uint32_t>(2 * channels), 2);
  putLE(w, 16, 2);
  putLE(w, fourCC("data"), 4);
  putLE(w, dataSize, 4);
  return w;
}

TEST(WaveHeaderOnStreams, SizesFromMemoryAndAPipe) {
  std::vector<uint8_t> w = waveHeader(8);
  w.resize(w.size() + 12, 0x11);  // 8 bytes of audio and 4 more after the data chunk
  MemorySource memory(w);
  WaveInfo info;
  ASSERT_TRUE(readWaveHeader(memory, info));
  EXPECT_EQ(info.channels, 2);
  EXPECT_EQ(info.dataBytes, 8);
  EXPECT_FALSE(info.sizeFieldWrong);
  EXPECT_EQ(memory.position(), 44);

  // A size of 0 (a recorder that never wrote it): to the end, in whole
  // frames, in memory; on a pipe, whose end is not known, read to the end.
  std::vector<uint8_t> unfinished = waveHeader(0);
  unfinished.resize(unfinished.size() + 10, 0x22);
  MemorySource m0(unfinished);
  ASSERT_TRUE(readWaveHeader(m0, info));
  EXPECT_EQ(info.dataBytes, 8);
  EXPECT_TRUE(info.sizeFieldWrong);
  Pipe pipe(unfinished);
  ASSERT_TRUE(readWaveHeader(pipe.in, info));
  EXPECT_TRUE(info.readToEnd);
  EXPECT_TRUE(info.sizeFieldWrong);

  // What it is instead, when it is not 16-bit PCM.
  const std::vector<uint8_t> floats = waveHeader(8, 2, 3);
  MemorySource f(floats);
  EXPECT_FALSE(readWaveHeader(f, info));
  EXPECT_EQ(info.whatItIs, "16-bit floating point, 2 channel(s)");
  const std::vector<uint8_t> cut(w.begin(), w.begin() + 30);
  MemorySource c(cut);
  EXPECT_FALSE(readWaveHeader(c, info));
}

TEST(WaveHeaderOnStreams, WrittenHeaderReadsBackAndFinishCorrectsIt) {
  MemorySink out;
  ASSERT_TRUE(writeWaveHeader(out, 1, 48000, 1000));
  ASSERT_EQ(out.bytes().size(), 44u);
  const std::vector<uint8_t> audio(600, 1);
  ASSERT_TRUE(out.write(audio.data(), audio.size()));
  ASSERT_TRUE(finishWaveFile(out, 600));
  const std::vector<uint8_t> b = out.bytes();
  EXPECT_EQ(getLE(b, 4, 4), 636u);
  EXPECT_EQ(getLE(b, 40, 4), 600u);
  MemorySource in(b);
  WaveInfo info;
  ASSERT_TRUE(readWaveHeader(in, info));
  EXPECT_EQ(info.channels, 1);
  EXPECT_EQ(info.sampleRate, 48000);
  EXPECT_EQ(info.dataBytes, 600);
}

TEST(ByteStreams, MemoryStreamsSeekReadLittleEndianAndFillGaps) {
  MemorySink sink;
  EXPECT_EQ(sink.writeLE(3, 0x00ABCDEF), 0);
  ASSERT_TRUE(sink.seek(6));
  EXPECT_EQ(sink.writeLE(2, 0x1234), 0);
  EXPECT_EQ(sink.bytes(), (std::vector<uint8_t>{0xEF, 0xCD, 0xAB, 0, 0, 0, 0x34, 0x12}));
  ASSERT_TRUE(sink.seek(1));
  EXPECT_EQ(sink.writeLE(1, 0x99), 0);
  EXPECT_EQ(sink.bytes().size(), 8u);
  EXPECT_EQ(sink.bytes()[1], 0x99);

  MemorySource in(sink.bytes());
  EXPECT_EQ(in.readLE(2), 0x99EFu);
  EXPECT_TRUE(in.skip(4));
  EXPECT_EQ(in.readLE(4), 0xFFFF1234u);  // past the end reads as 0xFF
  EXPECT_EQ(in.get(), -1);
  EXPECT_FALSE(in.skip(1));
  EXPECT_TRUE(in.seek(0));
  EXPECT_FALSE(in.seek(9));
  EXPECT_EQ(in.readLE(0), 0u);
  EXPECT_EQ(in.position(), 0);
}

}  // namespace
}  // namespace nubo::converter
