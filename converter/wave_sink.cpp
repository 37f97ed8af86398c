// SPDX-License-Identifier: BSD-3-Clause
#include "wave_sink.h"

#include <algorithm>

#include "wave_file.h"

namespace nubo::converter {

namespace {

constexpr int64_t kPlainWaveLimit = 0xFFFFFFFFLL - 36;  // the most audio a 44-byte-header WAVE file can say it holds
class WaveSink : public PcmSink {
 public:
  WaveSink(ByteSink& out, const PcmFormat& format, int64_t expectedFrames, bool seekable)
      : out_(out), format_(format), seekable_(seekable) {
    expectedBytes_ = std::max<int64_t>(expectedFrames, 0) * 2 * format.channels;
    rf64_ = expectedBytes_ > kPlainWaveLimit;
  }
  bool start() {
    if (!(rf64_ ? writeRf64Header(expectedBytes_) : writeWaveHeader(out_, format_.channels, format_.sampleRate,
                                                                    expectedBytes_))) {
      error_ = out_.error();
      return false;
    }
    return true;
  }
  bool write(const uint8_t* bytes, std::size_t n) override {
    written_ += static_cast<int64_t>(n);
    if (!out_.write(bytes, n)) {
      error_ = out_.error();
      return false;
    }
    return true;
  }
  bool finish(int64_t) override {
    if (written_ == expectedBytes_) return out_.flush() || fail(out_.error());
    // The header said otherwise. A file is put right; a pipe cannot be.
    if (!seekable_) {
      return fail("the header of the compressed file said " + std::to_string(expectedBytes_ / (2 * format_.channels)) +
                  " frames; " + std::to_string(written_ / (2 * format_.channels)) + " were decoded");
    }
    if (!rf64_ && written_ > kPlainWaveLimit) return fail("more audio than a WAVE file can hold");
    if (rf64_) {
      out_.seek(0);
      writeRf64Header(written_);
    } else {
      finishWaveFile(out_, written_);
    }
    return out_.flush() || fail(out_.error());
  }
  std::string error() const override { return error_; }

 private:
  bool fail(const std::string& why) {
    error_ = why;
    return false;
  }
  // The RF64 header (EBU Tech 3306): the 32-bit sizes say 0xFFFFFFFF, and a
  // "ds64" chunk holds the 64-bit RIFF size, data size and frame count.
  bool writeRf64Header(int64_t dataBytes) {
    int failed = 0;
    auto u64 = [&](int64_t v) {
      failed |= out_.writeLE(4, static_cast<uint32_t>(v));
      failed |= out_.writeLE(4, static_cast<uint32_t>(static_cast<uint64_t>(v) >> 32));
    };
    failed |= out_.writeLE(4, fourCC("RF64"));
    failed |= out_.writeLE(4, 0xFFFFFFFFu);
    failed |= out_.writeLE(4, fourCC("WAVE"));
    failed |= out_.writeLE(4, fourCC("ds64"));
    failed |= out_.writeLE(4, 28);
    u64(dataBytes + 72);  // RIFF size: the file less its first 8 bytes
    u64(dataBytes);
    u64(dataBytes / (2 * format_.channels));
    failed |= out_.writeLE(4, 0);  // no table
    failed |= out_.writeLE(4, fourCC("fmt "));
    failed |= out_.writeLE(4, 16);
    failed |= out_.writeLE(2, 1);
    failed |= out_.writeLE(2, static_cast<uint32_t>(format_.channels));
    failed |= out_.writeLE(4, static_cast<uint32_t>(format_.sampleRate));
    failed |= out_.writeLE(4, static_cast<uint32_t>(format_.sampleRate * format_.channels * 2));
    failed |= out_.writeLE(2, static_cast<uint32_t>(format_.channels * 2));
    failed |= out_.writeLE(2, 16);
    failed |= out_.writeLE(4, fourCC("data"));
    failed |= out_.writeLE(4, 0xFFFFFFFFu);
    return failed == 0;
  }

  ByteSink& out_;
  const PcmFormat format_;
  const bool seekable_;
  int64_t expectedBytes_ = 0;
  int64_t written_ = 0;
  bool rf64_ = false;
  std::string error_;
};

}  // namespace

std::unique_ptr<PcmSink> startWaveSink(ByteSink& out, const PcmFormat& format, int64_t expectedFrames, bool seekable,
                                       std::string& error) {
  auto wave = std::make_unique<WaveSink>(out, format, expectedFrames, seekable);
  if (!wave->start()) {
    error = wave->error();
    return nullptr;
  }
  return wave;
}

}  // namespace nubo::converter
