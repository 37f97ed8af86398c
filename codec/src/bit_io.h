// Most-significant-bit-first bit packing of coded block bodies.
//
// Both tools move many bits per step through a 64-bit buffer, but the bytes
// they produce and consume are exactly those of a writer that sets one bit at
// a time from bit 7 down to bit 0: the first bit of a body is bit 7 of its
// first byte, and a partly filled last byte has its unused low bits 0.
#pragma once

#include <bit>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace nubo::codec {

// Writes a body starting at `out`. Writes only whole bytes, so it never
// touches a byte beyond ceil(bitsWritten / 8).
class BitWriter {
 public:
  explicit BitWriter(uint8_t* out) : out_(out) {}

  // REQUIRES: 1 <= bits <= 32; value's bits above `bits` may be set (they are masked).
  void put(uint32_t value, int bits) {
    assert(bits >= 1 && bits <= 32);
    acc_ = (acc_ << bits) | (value & maskOf(bits));
    used_ += bits;
    if (used_ >= 32) {
      used_ -= 32;
      const uint32_t word = static_cast<uint32_t>(acc_ >> used_);
      out_[0] = static_cast<uint8_t>(word >> 24);
      out_[1] = static_cast<uint8_t>(word >> 16);
      out_[2] = static_cast<uint8_t>(word >> 8);
      out_[3] = static_cast<uint8_t>(word);
      out_ += 4;
    }
  }

  // Stores the pending bits, left-aligned in whole bytes with zero padding.
  // Returns one past the last byte written.
  uint8_t* finish() {
    int remaining = used_;
    while (remaining > 0) {
      const int shift = remaining - 8;
      *out_++ = static_cast<uint8_t>(shift >= 0 ? (acc_ >> shift) : (acc_ << -shift));
      remaining -= 8;
    }
    used_ = 0;
    acc_ = 0;
    return out_;
  }

 private:
  static constexpr uint64_t maskOf(int bits) { return (uint64_t{1} << bits) - 1; }

  uint8_t* out_;
  uint64_t acc_ = 0;  // the low `used_` bits are pending, oldest highest
  int used_ = 0;      // always below 32 between calls
};

// Reads a body of at most `limit` bytes starting at `in`. Bits past the limit
// read as 0 and are counted, so a damaged body that asks for more than the
// buffer holds is detected by overrun() instead of reading outside it.
class BitReader {
 public:
  BitReader(const uint8_t* in, std::size_t limit) : in_(in), limit_(limit) { refill(); }

  // Returns the next `bits` bits without consuming them, MSB first.
  // REQUIRES: 1 <= bits <= 32.
  uint32_t peek(int bits) {
    assert(bits >= 1 && bits <= 32);
    if (avail_ < bits) refill();
    return static_cast<uint32_t>(buf_ >> (64 - bits));
  }

  // The next 32 bits, MSB first, for decoders that look at a whole code.
  // After peek32() at least 32 bits are buffered, so skip(n <= 32) is valid.
  uint32_t peek32() {
    if (avail_ < 32) refill();
    return static_cast<uint32_t>(buf_ >> 32);
  }

  // REQUIRES: bits <= the number just peeked.
  void skip(int bits) {
    buf_ <<= bits;
    avail_ -= bits;
    consumed_ += static_cast<uint64_t>(bits);
  }

  uint32_t get(int bits) {
    const uint32_t v = peek(bits);
    skip(bits);
    return v;
  }

  // Bytes from which at least one bit was taken (counting padding past the limit).
  std::size_t bytesConsumed() const { return static_cast<std::size_t>((consumed_ + 7) / 8); }

  // True once more bits were taken than the `limit` bytes hold.
  bool overrun() const { return consumed_ > static_cast<uint64_t>(limit_) * 8; }

 private:
  // avail_ counts the valid bits at the top of buf_. The bits below them are
  // either 0 or the stream's own next bits (left by a wide load), so OR-ing
  // the next bytes in is correct in both cases.
  void refill() {
    if (next_ + 8 <= limit_) {
      uint64_t w;
      std::memcpy(&w, in_ + next_, 8);
      if constexpr (std::endian::native == std::endian::little) w = __builtin_bswap64(w);
      buf_ |= w >> avail_;
      next_ += static_cast<std::size_t>((63 - avail_) >> 3);
      avail_ |= 56;
      return;
    }
    while (avail_ <= 56) {
      const uint64_t byte = next_ < limit_ ? in_[next_] : 0;  // past the limit: zero bits
      buf_ |= byte << (56 - avail_);
      ++next_;
      avail_ += 8;
    }
  }

  const uint8_t* const in_;
  const std::size_t limit_;
  std::size_t next_ = 0;  // index of the next byte to load (may pass limit_ when padding)
  uint64_t buf_ = 0;
  int avail_ = 0;
  uint64_t consumed_ = 0;
};

}  // namespace nubo::codec
