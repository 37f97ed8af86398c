// SPDX-License-Identifier: BSD-3-Clause
// Random access to a compressed file (NabReader: the block index walked from
// the size fields, any block decoded on request, damage with its block and
// offset) and the compressed file written from samples in memory
// (writeCompressedSamples, through the output rules).
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "file_io.h"
#include "nab_format.h"
#include "nab_reader.h"
#include "nab_writer.h"
#include "nubocodec.h"

namespace nubo::converter {
namespace {

namespace fs = std::filesystem;

std::vector<int16_t> signal(int64_t samples, uint32_t seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> noise(0, 300);
  std::vector<int16_t> s(static_cast<std::size_t>(samples));
  for (int64_t i = 0; i < samples; ++i) {
    s[static_cast<std::size_t>(i)] = static_cast<int16_t>(6000 * std::sin(i * 0.01) + noise(rng));
  }
  return s;
}

// A compressed file in memory: the header, a preamble, then the blocks that
// the library's coder `version` makes of `samples`.
std::vector<uint8_t> makeNab(const std::vector<int16_t>& samples, int channels, int32_t rate, int version,
                             const std::string& preamble = "pre") {
  MemorySink out;
  NabHeader h;
  h.channels = channels;
  h.sampleRate = rate;
  h.coderVersion = version;
  EXPECT_TRUE(writeHeader(out, h));
  out.writeLE(2, static_cast<uint32_t>(preamble.size()));
  out.write(reinterpret_cast<const uint8_t*>(preamble.data()), preamble.size());
  const int64_t blockLength = blockLengthOf(channels, rate);
  int64_t dataBytes = 2 + static_cast<int64_t>(preamble.size());
  for (std::size_t done = 0; done < samples.size();) {
    const int n = static_cast<int>(std::min<int64_t>(blockLength, static_cast<int64_t>(samples.size() - done)));
    int16_t block[NUBO_MAX_SAMPLES];
    uint8_t code[NUBO_MAX_CODE_BLOCK_BYTES];
    std::memcpy(block, samples.data() + done, 2 * static_cast<std::size_t>(n));
    ConvertParams p{};
    p.flags = blockEncodeFlags(n, blockLength);
    p.sampleCount = static_cast<uint16_t>(n);
    p.channels = static_cast<uint16_t>(channels);
    p.coderVersion = static_cast<uint32_t>(version);
    EXPECT_EQ(NuboWaveConvert(&p, block, code), NUBO_OK);
    out.write(code, p.codeSize);
    dataBytes += p.codeSize;
    done += static_cast<std::size_t>(n);
  }
  finishCompressedFile(out, dataBytes, static_cast<int64_t>(samples.size()) / channels);
  return out.bytes();
}

std::vector<int16_t> decodeAll(NabReader& r) {
  std::vector<int16_t> all;
  int16_t block[NUBO_MAX_SAMPLES];
  for (int64_t k = 0; k < r.blockCount(); ++k) {
    const int n = r.decodeBlock(k, block);
    if (n < 0) break;
    all.insert(all.end(), block, block + n);
  }
  return all;
}

TEST(NabReader, IndexesEveryVersionAndDecodesAnyBlockInAnyOrder) {
  for (int version : {20, 21, 22}) {
    for (int channels : {1, 2}) {
      SCOPED_TRACE("version " + std::to_string(version) + ", channels " + std::to_string(channels));
      const int32_t rate = channels == 2 ? 44100 : 22050;
      const int64_t blockLength = blockLengthOf(channels, rate);
      // Eight whole blocks and a shorter last one with its count extension.
      const auto samples = signal(8 * blockLength + channels * 101, static_cast<uint32_t>(version * channels));
      const auto bytes = makeNab(samples, channels, rate, version);
      MemorySource in(bytes);
      NabReader r;
      ASSERT_TRUE(r.open(in)) << r.detail();
      EXPECT_EQ(r.blockCount(), 9);
      EXPECT_EQ(r.sampleCount(), static_cast<int64_t>(samples.size()));
      EXPECT_EQ(r.frameCount(), static_cast<int64_t>(samples.size()) / channels);
      EXPECT_EQ(r.damagedBlock(), 0);
      EXPECT_EQ(r.blockOffset(0), kHeaderBytes + 2 + 3);
      EXPECT_EQ(decodeAll(r), samples);
      int16_t block[NUBO_MAX_SAMPLES];
      for (int64_t k : {5, 1, 8, 0, 8}) {
        const int n = r.decodeBlock(k, block);
        ASSERT_EQ(n, k == 8 ? channels * 101 : blockLength);
        EXPECT_EQ(0, std::memcmp(block, samples.data() + r.firstSampleOf(k), 2 * static_cast<std::size_t>(n)));
      }
      EXPECT_EQ(r.blockOfSample(0), 0);
      EXPECT_EQ(r.blockOfSample(blockLength - 1), 0);
      EXPECT_EQ(r.blockOfSample(blockLength), 1);
      EXPECT_EQ(r.blockOfSample(r.sampleCount()), 9);
    }
  }
}

TEST(NabReader, AWholeNumberOfBlocksAndNoAudio) {
  const auto samples = signal(3 * 1764, 7);
  const auto bytes = makeNab(samples, 2, 44100, 22, "");
  MemorySource in(bytes);
  NabReader r;
  ASSERT_TRUE(r.open(in));
  EXPECT_EQ(r.blockCount(), 3);
  EXPECT_EQ(decodeAll(r), samples);

  const auto empty = makeNab({}, 1, 8000, 22, "");
  MemorySource none(empty);
  ASSERT_TRUE(r.open(none));
  EXPECT_EQ(r.blockCount(), 0);
  EXPECT_EQ(r.frameCount(), 0);
  EXPECT_EQ(r.damagedBlock(), 0);
}

TEST(NabReader, DamageIsFoundWithItsBlockAndOffset) {
  const auto samples = signal(6 * 882 + 100, 3);
  const auto good = makeNab(samples, 1, 44100, 22);
  MemorySource goodIn(good);
  NabReader index;
  ASSERT_TRUE(index.open(goodIn));
  const int64_t third = index.blockOffset(2), fourth = index.blockOffset(3);

  // The file ends inside block 4: blocks 1-3 are indexed and decode.
  const std::vector<uint8_t> cut(good.begin(), good.begin() + fourth + 10);
  MemorySource cutIn(cut);
  NabReader r;
  ASSERT_TRUE(r.open(cutIn));
  EXPECT_EQ(r.blockCount(), 3);
  EXPECT_EQ(r.damagedBlock(), 4);
  EXPECT_EQ(r.damagedOffset(), fourth);
  EXPECT_EQ(decodeAll(r), std::vector<int16_t>(samples.begin(), samples.begin() + 3 * 882));

  // A body that does not decode: the walk does not see it, the decode does.
  std::vector<uint8_t> bent = good;
  std::memset(bent.data() + third + 4, 0x00, 40);
  MemorySource bentIn(bent);
  ASSERT_TRUE(r.open(bentIn));
  int16_t block[NUBO_MAX_SAMPLES];
  EXPECT_GT(r.decodeBlock(1, block), 0);
  EXPECT_EQ(r.decodeBlock(2, block), -1);
  EXPECT_EQ(r.problem(), NabReader::Problem::Damaged);
  EXPECT_EQ(r.failedBlock(), 3);
  EXPECT_EQ(r.failedOffset(), third);

  // A size field that cannot be a block's ends the index there.
  std::vector<uint8_t> zero = good;
  zero[static_cast<std::size_t>(third)] = 0;
  zero[static_cast<std::size_t>(third) + 1] = 0;
  MemorySource zeroIn(zero);
  ASSERT_TRUE(r.open(zeroIn));
  EXPECT_EQ(r.blockCount(), 2);
  EXPECT_EQ(r.damagedBlock(), 3);
  EXPECT_EQ(r.damagedOffset(), third);
}

// Readers that decode a file side by side share the first one's index; a
// stream that is not that file (another length or header) is refused.
TEST(NabReader, ASecondStreamTakesOverTheIndexOfTheSameFileOnly) {
  const auto samples = signal(6 * 882 + 100, 5);
  const auto good = makeNab(samples, 1, 44100, 21);
  MemorySource firstIn(good), secondIn(good);
  NabReader first, second;
  ASSERT_TRUE(first.open(firstIn));
  ASSERT_TRUE(second.openLike(secondIn, first)) << second.detail();
  EXPECT_EQ(second.blockCount(), first.blockCount());
  EXPECT_EQ(second.blockOffset(6), first.blockOffset(6));
  int16_t block[NUBO_MAX_SAMPLES];
  ASSERT_EQ(second.decodeBlock(6, block), 100);  // the last block first: its own seek
  EXPECT_EQ(0, std::memcmp(block, samples.data() + 6 * 882, 200));
  EXPECT_EQ(decodeAll(second), samples);

  // Cut after the index was walked, or the same length with another header.
  const std::vector<uint8_t> cut(good.begin(), good.end() - 50);
  MemorySource cutIn(cut);
  EXPECT_FALSE(second.openLike(cutIn, first));
  EXPECT_EQ(second.detail(), "the file changed");
  std::vector<uint8_t> otherVersion = good;
  otherVersion[38] = 22;  // the coder version
  MemorySource otherIn(otherVersion);
  EXPECT_FALSE(second.openLike(otherIn, first));
  std::vector<uint8_t> moreFrames = good;
  moreFrames[kHeaderBytes - 12] ^= 1;  // the fact chunk's frame count
  MemorySource moreIn(moreFrames);
  EXPECT_FALSE(second.openLike(moreIn, first));

  // A file whose walk found damage passes it on.
  MemorySource cutAgain(cut), cutOnce(cut);
  NabReader cutFirst;
  ASSERT_TRUE(cutFirst.open(cutOnce));
  ASSERT_TRUE(second.openLike(cutAgain, cutFirst));
  EXPECT_EQ(second.damagedBlock(), cutFirst.damagedBlock());
  EXPECT_EQ(second.damagedOffset(), cutFirst.damagedOffset());
}

TEST(NabReader, RefusesWhatItCannotRead) {
  const auto samples = signal(2000, 5);
  auto bytes = makeNab(samples, 2, 44100, 22);
  NabReader r;
  std::vector<uint8_t> wave = bytes;
  wave[20] = 1;  // format tag 1: a PCM WAVE file
  wave[21] = 0;
  MemorySource waveIn(wave);
  EXPECT_FALSE(r.open(waveIn));
  EXPECT_EQ(r.problem(), NabReader::Problem::NotCompressed);

  std::vector<uint8_t> future = bytes;
  future[38] = 23;
  MemorySource futureIn(future);
  EXPECT_FALSE(r.open(futureIn));
  EXPECT_EQ(r.problem(), NabReader::Problem::UnsupportedVersion);
  EXPECT_EQ(r.detail(), "coder version 23");

  const auto slow = makeNab({}, 1, 10, 22);  // a block of 0 samples
  MemorySource slowIn(slow);
  EXPECT_FALSE(r.open(slowIn));
  EXPECT_EQ(r.problem(), NabReader::Problem::UnsupportedRate);

  const std::vector<uint8_t> header(bytes.begin(), bytes.begin() + kHeaderBytes + 3);  // inside the preamble
  MemorySource headerIn(header);
  EXPECT_FALSE(r.open(headerIn));
  EXPECT_EQ(r.problem(), NabReader::Problem::EndsInHeader);
}

class NabWriter : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("nubo_nab_writer_" + std::to_string(std::random_device{}()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
  static std::vector<uint8_t> contents(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
  }
  fs::path dir;
};

TEST_F(NabWriter, WritesWhatTheReaderReadsBackAndNeverReplacesUnasked) {
  const auto first = signal(2 * 5000, 1), second = signal(2 * 7001, 2);
  const std::string path = (dir / "take.NAB").string();
  FileOutcome o = writeCompressedSamples(path, first.data(), 5000, 2, 44100, false);
  ASSERT_EQ(o.outcome, Outcome::Converted);
  auto bytes = contents(path);
  EXPECT_EQ(o.outputBytes, static_cast<int64_t>(bytes.size()));
  {
    MemorySource in(bytes);
    NabReader r;
    ASSERT_TRUE(r.open(in));
    EXPECT_EQ(r.header().coderVersion, 22);
    EXPECT_EQ(r.header().frameCount, 5000);
    EXPECT_EQ(r.header().dataSize, static_cast<int32_t>(bytes.size()) - kHeaderBytes);
    EXPECT_EQ(decodeAll(r), first);
  }
  // A complete output is skipped without overwrite, replaced with it.
  EXPECT_EQ(writeCompressedSamples(path, second.data(), 7001, 2, 44100, false).outcome, Outcome::Skipped);
  EXPECT_EQ(contents(path), bytes);
  EXPECT_EQ(writeCompressedSamples(path, second.data(), 7001, 2, 44100, true).outcome, Outcome::Converted);
  bytes = contents(path);
  MemorySource in(bytes);
  NabReader r;
  ASSERT_TRUE(r.open(in));
  EXPECT_EQ(decodeAll(r), second);
  // Never a file of another kind, nor a directory; nothing is left behind.
  const std::string other = (dir / "notes.NAB").string();
  std::ofstream(other) << "notes";
  o = writeCompressedSamples(other, first.data(), 5000, 2, 44100, true);
  EXPECT_EQ(o.outcome, Outcome::NotConverted);
  EXPECT_EQ(o.reason, kEntryExistingNotVersion22);
  EXPECT_EQ(writeCompressedSamples(dir.string(), first.data(), 5000, 2, 44100, true).outcome, Outcome::NotConverted);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
}

}  // namespace
}  // namespace nubo::converter
