// SPDX-License-Identifier: BSD-3-Clause
// The coder state belongs to each call: calls on different buffers may run
// on several threads at once and give exactly the bytes of calls made one
// after another.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "nubocodec.h"
#include "signals.h"

namespace {

constexpr int kThreads = 4;
constexpr int kBlocksPerThread = 24;

struct Job {
  std::vector<int16_t> samples;  // padded to the largest block
  uint16_t count;
  uint16_t channels;
  uint32_t version;
};

struct Outcome {
  int32_t encodeResult = -1;
  ConvertParams encoded{};
  std::vector<uint8_t> code;
  int32_t decodeResult = -1;
  ConvertParams decoded{};
  std::vector<uint8_t> samples;

  bool operator==(const Outcome& o) const {
    return encodeResult == o.encodeResult && std::memcmp(&encoded, &o.encoded, sizeof encoded) == 0 &&
           code == o.code && decodeResult == o.decodeResult &&
           std::memcmp(&decoded, &o.decoded, sizeof decoded) == 0 && samples == o.samples;
  }
};

// Encode with verify, then decode with verify, into buffers of this call.
Outcome run(const Job& job) {
  Outcome o;
  std::vector<int16_t> in = job.samples;
  o.code.assign(NUBO_MAX_CODE_BLOCK_BYTES, 0);
  o.encoded.flags = NUBO_FLAG_ENCODE | NUBO_FLAG_VERIFY | (job.count % 3 == 0 ? NUBO_FLAG_COUNT_EXTENSION : 0);
  o.encoded.sampleCount = job.count;
  o.encoded.channels = job.channels;
  o.encoded.coderVersion = job.version;
  o.encodeResult = NuboWaveConvert(&o.encoded, in.data(), o.code.data());
  o.samples.assign(2 * NUBO_MAX_SAMPLES, 0);
  o.decoded.flags = NUBO_FLAG_DECODE | NUBO_FLAG_VERIFY;
  o.decoded.sampleCount = job.count;
  o.decoded.channels = job.channels;
  o.decoded.coderVersion = job.version;
  o.decodeResult = NuboWaveConvert(&o.decoded, o.samples.data(), o.code.data());
  return o;
}

TEST(CodecThreads, ConcurrentCallsGiveTheBytesOfSequentialCalls) {
  // Every thread gets its own mix of versions, shapes, lengths and channel
  // counts, so that different coders run side by side.
  std::vector<std::vector<Job>> jobs(kThreads);
  uint32_t seed = 900;
  for (int t = 0; t < kThreads; ++t) {
    for (int b = 0; b < kBlocksPerThread; ++b) {
      const auto shape = nubo::test::kAllShapes[static_cast<size_t>(b + t) % std::size(nubo::test::kAllShapes)];
      const uint16_t channels = static_cast<uint16_t>(1 + (b + t) % 2);
      const uint16_t count = static_cast<uint16_t>((b * 331 + t * 97) % 2047);
      const uint32_t version = 20 + static_cast<uint32_t>(b + 2 * t) % 3;
      auto s = nubo::test::makeSignal(shape, count, channels, seed++);
      s.resize(NUBO_MAX_SAMPLES);
      jobs[static_cast<size_t>(t)].push_back({std::move(s), count, channels, version});
    }
  }
  std::vector<std::vector<Outcome>> sequential(kThreads);
  for (int t = 0; t < kThreads; ++t)
    for (const Job& j : jobs[static_cast<size_t>(t)]) sequential[static_cast<size_t>(t)].push_back(run(j));

  constexpr int kRounds = 5;
  std::vector<std::vector<Outcome>> concurrent(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      auto& mine = concurrent[static_cast<size_t>(t)];
      for (int round = 0; round < kRounds; ++round)
        for (const Job& j : jobs[static_cast<size_t>(t)]) mine.push_back(run(j));
    });
  }
  for (auto& th : threads) th.join();

  for (int t = 0; t < kThreads; ++t) {
    const auto& seq = sequential[static_cast<size_t>(t)];
    const auto& con = concurrent[static_cast<size_t>(t)];
    ASSERT_EQ(con.size(), seq.size() * kRounds);
    for (size_t i = 0; i < con.size(); ++i) {
      const Job& j = jobs[static_cast<size_t>(t)][i % seq.size()];
      EXPECT_TRUE(con[i] == seq[i % seq.size()])
          << "thread " << t << " block " << i << " v" << j.version << " n=" << j.count;
    }
    // The sequential outcomes themselves are sound round trips (2047-sample
    // blocks without count extension may be refused as unframeable).
    for (size_t i = 0; i < seq.size(); ++i) {
      if (seq[i].encodeResult == NUBO_TOO_MANY_SAMPLES) continue;
      EXPECT_EQ(seq[i].encodeResult, NUBO_OK);
      EXPECT_EQ(seq[i].decodeResult, NUBO_OK);
    }
  }
}

}  // namespace
