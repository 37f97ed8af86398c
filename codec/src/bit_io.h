// SPDX-License-Identifier: BSD-3-Clause
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

namespace detail {

inline uint64_t loadBigEndian64(const uint8_t* p) {
  uint64_t w;
  std::memcpy(&w, p, 8);
  if constexpr (std::endian::native == std::endian::little) w = __builtin_bswap64(w);
  return w;
}

inline void storeBigEndian64(uint8_t* p, uint64_t w) {
  if constexpr (std::endian::native == std::endian::little) w = __builtin_bswap64(w);
  std::memcpy(p, &w, 8);
}

}  // namespace detail

// Writes a body starting at `out`. Writes only whole bytes, so it never
// touches a byte beyond ceil(bitsWritten / 8).
//
// Two ways to put bits, which may be mixed:
//   - put() stores whole 32-bit words as they fill (never writes ahead);
//   - append() + flushWords() store 8 bytes at once without a branch, for
//     loops that know the body's exact end: flushWords() writes ahead of the
//     final bytes, so it is only called while 8 bytes of the body remain
//     (see roomFor()). The bytes it writes ahead are rewritten later.
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

  // Adds `bits` bits without storing anything.
  // REQUIRES: 1 <= bits <= 32, value < 2^bits, pending() + bits <= 64.
  void append(uint32_t value, int bits) {
    assert(bits >= 1 && bits <= 32 && (uint64_t{value} >> bits) == 0 && used_ + bits <= 64);
    acc_ = (acc_ << bits) | value;
    used_ += bits;
  }

  // append() for up to 56 bits, such as two codes joined.
  // REQUIRES: 1 <= bits <= 56, value < 2^bits, pending() + bits <= 64.
  void appendWide(uint64_t value, int bits) {
    assert(bits >= 1 && bits <= 56 && (value >> bits) == 0 && used_ + bits <= 64);
    acc_ = (acc_ << bits) | value;
    used_ += bits;
  }

  // Stores the whole bytes pending, leaving fewer than 8 bits pending.
  // REQUIRES: roomFor(end) >= 8 for the body's end; pending() >= 1.
  void flushWords() {
    assert(used_ >= 1 && used_ <= 64);
    detail::storeBigEndian64(out_, acc_ << (64 - used_));
    out_ += used_ >> 3;
    used_ &= 7;
  }

  // Bits put but not yet stored.
  int pending() const { return used_; }

  // Bytes from the next store position to `end`.
  std::ptrdiff_t roomFor(const uint8_t* end) const { return end - out_; }

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
  int used_ = 0;      // below 32 after put(), below 8 after flushWords()
};

// Reads a body of at most `limit` bytes starting at `in`. Bits past the limit
// read as 0 and are counted, so a damaged body that asks for more than the
// buffer holds is detected by overrun() instead of reading outside it.
class BitReader {
 public:
  BitReader(const uint8_t* in, std::size_t limit) : in_(in), end_(in + limit), next_(in) { refill(); }

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

  // Tops the buffer up to at least 56 bits. Without a branch on the data
  // while 8 bytes remain before the limit, so a decoder that takes at most 56
  // bits between two refills may call it unconditionally and then read with
  // peekBuffered32() and skip().
  void refill() {
    if (end_ - next_ >= 8) {
      buf_ |= detail::loadBigEndian64(next_) >> avail_;
      next_ += (avail_ ^ 63) >> 3;
      avail_ |= 56;
      return;
    }
    while (avail_ <= 56) {
      if (next_ < end_) {
        buf_ |= uint64_t{*next_++} << (56 - avail_);
      } else {
        ++padding_;  // past the limit: zero bits
      }
      avail_ += 8;
    }
  }

  // The wide step of refill() alone, for unrolled loops that have asked
  // uncheckedRefills() first. It only ORs bits in below the buffered ones,
  // so bits peeked just before it are still valid after it: a decoder may
  // look up its next code while the load is in flight.
  // REQUIRES: uncheckedRefills() > 0.
  void refillUnchecked() {
    assert(end_ - next_ >= 8);
    buf_ |= detail::loadBigEndian64(next_) >> avail_;
    next_ += (avail_ ^ 63) >> 3;  // 63 - avail_: whole bytes now buffered beyond the old ones
    avail_ |= 56;
  }

  // How many refillUnchecked() calls may follow from here, however many bits
  // are taken in between: each moves the load position on by at most 7 bytes.
  std::size_t uncheckedRefills() const {
    const std::ptrdiff_t room = end_ - next_ - 8;
    return room >= 0 ? static_cast<std::size_t>(room / 7 + 1) : 0;
  }

  // The next 32 bits without a refill check.
  // REQUIRES: at least 32 bits buffered, i.e. at most 24 bits skipped since refill().
  uint32_t peekBuffered32() const {
    assert(avail_ >= 32);
    return static_cast<uint32_t>(buf_ >> 32);
  }

  // The next 5 bits (the top of the buffer), for table lookups.
  // REQUIRES: at least 5 bits buffered.
  uint32_t peekBuffered5() const {
    assert(avail_ >= 5);
    return static_cast<uint32_t>(buf_ >> 59);
  }

  // REQUIRES: bits <= the number just peeked (or buffered).
  void skip(int bits) {
    assert(bits >= 0 && bits <= avail_);
    buf_ <<= bits;
    avail_ -= bits;
  }

  uint32_t get(int bits) {
    const uint32_t v = peek(bits);
    skip(bits);
    return v;
  }

  // Bytes from which at least one bit was taken (counting padding past the limit).
  std::size_t bytesConsumed() const { return static_cast<std::size_t>((consumedBits() + 7) / 8); }

  // True once more bits were taken than the `limit` bytes hold.
  bool overrun() const { return consumedBits() > static_cast<uint64_t>(end_ - in_) * 8; }

 private:
  // The valid bits of buf_ end exactly at the stream bit where loading goes
  // on (next_, plus the zero bytes of padding), so the bits taken so far are
  // those before the buffered ones.
  uint64_t consumedBits() const {
    return static_cast<uint64_t>(next_ - in_ + padding_) * 8 - static_cast<uint64_t>(avail_);
  }

  // avail_ counts the valid bits at the top of buf_. The bits below them are
  // either 0 or the stream's own next bits (left by a wide load), so OR-ing
  // the next bytes in is correct in both cases.
  const uint8_t* const in_;
  const uint8_t* const end_;
  const uint8_t* next_;      // the next byte to load; stops at end_
  std::size_t padding_ = 0;  // zero bytes taken past end_
  uint64_t buf_ = 0;
  int avail_ = 0;
};

}  // namespace nubo::codec
