// Bit writer and reader: byte images of known bit sequences.
#include <gtest/gtest.h>

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

}  // namespace
