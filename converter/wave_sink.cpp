// SPDX-License-Identifier: BSD-3-Clause
#include "wave_sink.h"

#include <algorithm>

#include "wave_file.h"

namespace nubo::converter {

namespace {

// The file is RIFF, [ds64,] the chunks that stood before the format chunk,
// "fmt ", the chunks that stood before the data, "data" and the audio, then
// the chunks that stood after it. Without chunks it is the 44-byte header
// (RF64: 80 bytes) and the audio.
class WaveSink : public PcmSink {
 public:
  WaveSink(ByteSink& out, const PcmFormat& format, int64_t expectedFrames, bool seekable, const ForeignChunks& chunks)
      : out_(out), format_(format), seekable_(seekable), chunks_(chunks) {
    expectedBytes_ = std::max<int64_t>(expectedFrames, 0) * 2 * format.channels;
    for (const ForeignChunk& chunk : chunks_) chunkBytes_ += static_cast<int64_t>(chunk.bytes.size());
    rf64_ = needsRf64(expectedBytes_, chunks_);
  }
  bool start() {
    if (!writeHeader(expectedBytes_)) {
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
    if (!writeChunksAt(out_, chunks_, ChunkPlace::AfterData)) return fail(out_.error());
    if (written_ == expectedBytes_) return out_.flush() || fail(out_.error());
    // The header said otherwise. A file is put right; a pipe cannot be.
    if (!seekable_) {
      return fail("the header of the compressed file said " + std::to_string(expectedBytes_ / (2 * format_.channels)) +
                  " frames; " + std::to_string(written_ / (2 * format_.channels)) + " were decoded");
    }
    if (!rf64_ && needsRf64(written_, chunks_)) return fail("more audio than a WAVE file can hold");
    if (rf64_) {
      out_.seek(0);
      writeHeader(written_);
    } else {
      out_.seek(4);
      out_.writeLE(4, static_cast<uint32_t>(riffSize(written_)));
      out_.seek(dataSizeOffset_);
      out_.writeLE(4, static_cast<uint32_t>(written_));
    }
    return out_.flush() || fail(out_.error());
  }
  std::string error() const override { return error_; }
  int64_t bytesWritten() const override { return 8 + riffSize(written_); }

 private:
  bool fail(const std::string& why) {
    error_ = why;
    return false;
  }
  // What the RIFF size field says: the file less its first 8 bytes.
  int64_t riffSize(int64_t dataBytes) const { return (rf64_ ? 72 : 36) + chunkBytes_ + dataBytes; }

  // RF64 (EBU Tech 3306): the 32-bit sizes say 0xFFFFFFFF, and a "ds64"
  // chunk holds the 64-bit RIFF size, data size and frame count.
  bool writeHeader(int64_t dataBytes) {
    int failed = 0;
    auto u64 = [&](int64_t v) {
      failed |= out_.writeLE(4, static_cast<uint32_t>(v));
      failed |= out_.writeLE(4, static_cast<uint32_t>(static_cast<uint64_t>(v) >> 32));
    };
    failed |= out_.writeLE(4, rf64_ ? fourCC("RF64") : fourCC("RIFF"));
    failed |= out_.writeLE(4, rf64_ ? 0xFFFFFFFFu : static_cast<uint32_t>(riffSize(dataBytes)));
    failed |= out_.writeLE(4, fourCC("WAVE"));
    if (rf64_) {
      failed |= out_.writeLE(4, fourCC("ds64"));
      failed |= out_.writeLE(4, 28);
      u64(riffSize(dataBytes));
      u64(dataBytes);
      u64(dataBytes / (2 * format_.channels));
      failed |= out_.writeLE(4, 0);  // no table
    }
    failed |= writeChunksAt(out_, chunks_, ChunkPlace::BeforeFormat) ? 0 : 1;
    failed |= out_.writeLE(4, fourCC("fmt "));
    failed |= out_.writeLE(4, 16);
    failed |= out_.writeLE(2, 1);
    failed |= out_.writeLE(2, static_cast<uint32_t>(format_.channels));
    failed |= out_.writeLE(4, static_cast<uint32_t>(format_.sampleRate));
    failed |= out_.writeLE(4, static_cast<uint32_t>(format_.sampleRate * format_.channels * 2));
    failed |= out_.writeLE(2, static_cast<uint32_t>(format_.channels * 2));
    failed |= out_.writeLE(2, 16);
    failed |= writeChunksAt(out_, chunks_, ChunkPlace::BeforeData) ? 0 : 1;
    failed |= out_.writeLE(4, fourCC("data"));
    dataSizeOffset_ = 12 + (rf64_ ? 36 : 0) + chunkBytesAt(chunks_, ChunkPlace::BeforeFormat) + 24 +
                      chunkBytesAt(chunks_, ChunkPlace::BeforeData) + 4;
    failed |= out_.writeLE(4, rf64_ ? 0xFFFFFFFFu : static_cast<uint32_t>(dataBytes));
    return failed == 0;
  }

  ByteSink& out_;
  const PcmFormat format_;
  const bool seekable_;
  const ForeignChunks chunks_;
  int64_t chunkBytes_ = 0;
  int64_t dataSizeOffset_ = 40;
  int64_t expectedBytes_ = 0;
  int64_t written_ = 0;
  bool rf64_ = false;
  std::string error_;
};

}  // namespace

std::unique_ptr<PcmSink> startWaveSink(ByteSink& out, const PcmFormat& format, int64_t expectedFrames, bool seekable,
                                       const ForeignChunks& chunks, std::string& error) {
  auto wave = std::make_unique<WaveSink>(out, format, expectedFrames, seekable, chunks);
  if (!wave->start()) {
    error = wave->error();
    return nullptr;
  }
  return wave;
}

}  // namespace nubo::converter
