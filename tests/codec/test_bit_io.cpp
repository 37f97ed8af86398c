// SPDX-License-Identifier: BSD-3-Clause
// Bit writer and reader: byte images of known bit sequences.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include "bit_io.h"

namespace {

using nubo::codec::BitReader;
using nubo::codec::BitWriter;

std::vector<uint8_t> write(const char* bits) {
  std::vector<uint8_t> buf(16, 0xEE);
  BitWriter w(buf.data());
  for (const char* p = bits; *p; ++p) w.put(*p == '1', 1);
  buf.resize(static_cast<size_t>(w.finish() - buf.data()));
  return buf;
}

TEST(BitWriter, PacksMostSignificantBitFirst) {
  EXPECT_EQ(write("0001101001100101"), (std::vector<uint8_t>{0x1A, 0x65}));
  EXPECT_EQ(write("000110100"), (std::vector<uint8_t>{0x1A, 0x00}));
  EXPECT_EQ(write("1011"), (std::vector<uint8_t>{0xB0}));
  EXPECT_EQ(write(""), (std::vector<uint8_t>{}));
  EXPECT_EQ(write("11111111"), (std::vector<uint8_t>{0xFF}));
}

TEST(BitWriter, WideWritesMatchSingleBits) {
  std::vector<uint8_t> a(64, 0), b(64, 0);
  BitWriter wa(a.data()), wb(b.data());
  const uint32_t values[] = {0x1ABCD, 3, 0, 0x7FFFFFFF, 1, 0x155};
  const int widths[] = {17, 2, 5, 31, 1, 9};
  for (int i = 0; i < 6; ++i) {
    wa.put(values[i], widths[i]);
    for (int bit = widths[i] - 1; bit >= 0; --bit) wb.put((values[i] >> bit) & 1, 1);
  }
  EXPECT_EQ(wa.finish() - a.data(), wb.finish() - b.data());
  EXPECT_EQ(a, b);
}

TEST(BitReader, CountsBytesFromWhichBitsWereTaken) {
  const uint8_t body[] = {0x80, 0xFF, 0x00};
  BitReader in(body, sizeof body);
  EXPECT_EQ(in.bytesConsumed(), 0u);
  EXPECT_EQ(in.get(1), 1u);
  EXPECT_EQ(in.bytesConsumed(), 1u);
  for (int i = 0; i < 7; ++i) EXPECT_EQ(in.get(1), 0u);
  EXPECT_EQ(in.bytesConsumed(), 1u);
  EXPECT_EQ(in.get(1), 1u);
  EXPECT_EQ(in.bytesConsumed(), 2u);
  EXPECT_EQ(in.get(7), 0x7Fu);
  EXPECT_FALSE(in.overrun());
  EXPECT_EQ(in.get(8), 0u);
  EXPECT_FALSE(in.overrun());
  EXPECT_EQ(in.get(1), 0u);  // past the limit: zero and flagged
  EXPECT_TRUE(in.overrun());
}

// The unchecked refills that decoders run while uncheckedRefills() allows:
// in buffers of every small size (on the heap, exactly that long, so a
// sanitizer sees any load past the end), taking up to 42 bits between
// refills as a two-code step does, the bits are those of the bytes in
// order, and once the allowance is used the checked refill reads on to the
// end and past it as zeros.
TEST(BitReader, UncheckedRefillsStayInsideTheBufferAndAgreeWithSingleBits) {
  std::mt19937 rng(5);
  for (std::size_t size = 1; size <= 64; ++size) {
    for (int round = 0; round < 8; ++round) {
      const auto body = std::make_unique<uint8_t[]>(size);
      for (std::size_t i = 0; i < size; ++i) body[i] = static_cast<uint8_t>(rng());
      auto bitAt = [&](uint64_t k) -> uint32_t { return k < 8 * size ? (body[k / 8] >> (7 - k % 8)) & 1u : 0u; };
      BitReader in(body.get(), size);
      uint64_t taken = 0;
      auto take = [&](int bits) {
        uint32_t want = 0;
        for (int b = 0; b < bits; ++b) want = want << 1 | bitAt(taken + static_cast<uint64_t>(b));
        ASSERT_EQ(in.peekBuffered32() >> (32 - bits), want) << "size " << size << " at bit " << taken;
        in.skip(bits);
        taken += static_cast<uint64_t>(bits);
      };
      take(1 + static_cast<int>(rng() % 14));  // the first refill leaves at least 56 bits; codes start anywhere
      const std::size_t allowed = in.uncheckedRefills();
      EXPECT_EQ(allowed > 0, size >= 15);  // the first refill took 7 bytes; 8 more must remain
      for (std::size_t r = 0; r < allowed; ++r) {
        in.refillUnchecked();
        take(1 + static_cast<int>(rng() % 21));
        take(1 + static_cast<int>(rng() % 21));
      }
      for (int r = 0; r < 6; ++r) {
        in.refill();
        take(1 + static_cast<int>(rng() % 21));
        take(1 + static_cast<int>(rng() % 21));
      }
      EXPECT_EQ(in.bytesConsumed(), (taken + 7) / 8);
      EXPECT_EQ(in.overrun(), taken > 8 * size);
    }
  }
}

}  // namespace
