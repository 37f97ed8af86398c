// SPDX-License-Identifier: BSD-3-Clause
#include "pcm_stream.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#ifdef NUBO_HAVE_FLAC
#include <FLAC/metadata.h>
#include <FLAC/stream_decoder.h>
#include <FLAC/stream_encoder.h>
#endif

#include "message_entries.h"
#include "wave_file.h"

namespace nubo::converter {

namespace {

constexpr int64_t kPlainWaveLimit = 0xFFFFFFFFLL - 36;  // the most audio a 44-byte-header WAVE file can say it holds

// --- WAVE and RF64 in ----------------------------------------------------------

class WaveSource : public PcmSource {
 public:
  explicit WaveSource(std::unique_ptr<InputFile> in) : in_(std::move(in)) {}
  bool start(uint32_t firstId, std::string& detail) {
    WaveInfo info;
    if (!readWaveHeaderAfterId(*in_, firstId, info)) {
      detail = info.whatItIs;
      return false;
    }
    format.channels = info.channels;
    format.sampleRate = info.sampleRate;
    format.byteRate = info.byteRate;
    format.blockAlign = info.blockAlign;
    format.bitsPerSample = info.bitsPerSample;
    expectedBytes = info.dataBytes;
    sizeFieldWrong = info.sizeFieldWrong;
    left_ = info.readToEnd ? -1 : (info.dataBytes & ~int64_t{1});
    kind = info.rf64 ? "RF64" : "WAVE";
    return true;
  }
  std::size_t read(uint8_t* into, std::size_t n) override {
    if (left_ >= 0) n = static_cast<std::size_t>(std::min<int64_t>(static_cast<int64_t>(n), left_));
    const std::size_t got = in_->read(into, n) & ~std::size_t{1};
    if (left_ >= 0) left_ -= static_cast<int64_t>(got);
    return got;
  }

 private:
  std::unique_ptr<InputFile> in_;
  int64_t left_ = 0;  // -1: to the end of the file
};

// --- WAVE and RF64 out -----------------------------------------------------------

class WaveSink : public PcmSink {
 public:
  WaveSink(OutputFile& out, const PcmFormat& format, int64_t expectedFrames, bool seekable)
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

  OutputFile& out_;
  const PcmFormat format_;
  const bool seekable_;
  int64_t expectedBytes_ = 0;
  int64_t written_ = 0;
  bool rf64_ = false;
  std::string error_;
};

#ifdef NUBO_HAVE_FLAC

std::string toHex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (const char c : bytes) {
    out += digits[(static_cast<unsigned char>(c) >> 4) & 15];
    out += digits[static_cast<unsigned char>(c) & 15];
  }
  return out;
}

bool fromHex(const std::string& hex, std::string& bytes) {
  auto value = [](char c) {
    return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
  };
  if (hex.size() % 2 != 0) return false;
  bytes.clear();
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int hi = value(hex[i]), lo = value(hex[i + 1]);
    if (hi < 0 || lo < 0) return false;
    bytes += static_cast<char>(hi << 4 | lo);
  }
  return true;
}

// --- FLAC in ---------------------------------------------------------------------

class FlacSource : public PcmSource {
 public:
  FlacSource(std::unique_ptr<InputFile> in, const uint8_t* consumed, std::size_t count)
      : in_(std::move(in)), prefix_(consumed, consumed + count) {}
  ~FlacSource() override {
    if (decoder_ != nullptr) {
      FLAC__stream_decoder_finish(decoder_);
      FLAC__stream_decoder_delete(decoder_);
    }
  }

  bool start(std::string& detail) {
    decoder_ = FLAC__stream_decoder_new();
    if (decoder_ == nullptr) return false;
    FLAC__stream_decoder_set_md5_checking(decoder_, true);
    FLAC__stream_decoder_set_metadata_respond(decoder_, FLAC__METADATA_TYPE_VORBIS_COMMENT);
    if (FLAC__stream_decoder_init_stream(decoder_, &FlacSource::readCallback, nullptr, nullptr, nullptr, nullptr,
                                         &FlacSource::writeCallback, &FlacSource::metadataCallback,
                                         &FlacSource::errorCallback, this) != FLAC__STREAM_DECODER_INIT_STATUS_OK ||
        !FLAC__stream_decoder_process_until_end_of_metadata(decoder_) || !haveInfo_) {
      detail = "a damaged FLAC file";
      return false;
    }
    if (bits_ != 16 || (format.channels != 1 && format.channels != 2)) {
      detail = std::to_string(bits_) + "-bit FLAC, " + std::to_string(format.channels) + " channel(s)";
      return false;
    }
    kind = "FLAC";
    return true;
  }

  std::size_t read(uint8_t* into, std::size_t n) override {
    std::size_t got = 0;
    while (got < n) {
      if (at_ == pending_.size()) {
        pending_.clear();
        at_ = 0;
        if (ended_ || !FLAC__stream_decoder_process_single(decoder_)) break;
        const FLAC__StreamDecoderState state = FLAC__stream_decoder_get_state(decoder_);
        if (state == FLAC__STREAM_DECODER_END_OF_STREAM) ended_ = true;
        if (pending_.empty() && (ended_ || state >= FLAC__STREAM_DECODER_OGG_ERROR)) break;
        continue;
      }
      const std::size_t take = std::min(n - got, pending_.size() - at_);
      std::memcpy(into + got, pending_.data() + at_, take);
      at_ += take;
      got += take;
    }
    if (ended_ && at_ == pending_.size() && !finished_) {
      finished_ = true;
      // The MD5 of STREAMINFO is checked when the decoder finishes.
      if (!FLAC__stream_decoder_finish(decoder_)) error_ = "the audio does not match the MD5 of its STREAMINFO";
    }
    return got;
  }
  std::string error() const override {
    if (!error_.empty()) return error_;
    if (!ended_ && at_ == pending_.size() && decoder_ != nullptr && !finished_) {
      return std::string("FLAC: ") + FLAC__StreamDecoderStateString[FLAC__stream_decoder_get_state(decoder_)];
    }
    return "";
  }

 private:
  static FLAC__StreamDecoderReadStatus readCallback(const FLAC__StreamDecoder*, FLAC__byte buffer[], size_t* bytes,
                                                    void* self) {
    auto& s = *static_cast<FlacSource*>(self);
    std::size_t got = 0;
    while (got < *bytes && s.prefixAt_ < s.prefix_.size()) buffer[got++] = s.prefix_[s.prefixAt_++];
    got += s.in_->read(buffer + got, *bytes - got);
    *bytes = got;
    return got == 0 ? FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM : FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
  }
  static FLAC__StreamDecoderWriteStatus writeCallback(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                                      const FLAC__int32* const buffer[], void* self) {
    auto& s = *static_cast<FlacSource*>(self);
    const unsigned channels = frame->header.channels;
    const unsigned frames = frame->header.blocksize;
    const std::size_t base = s.pending_.size();
    s.pending_.resize(base + 2u * channels * frames);
    uint8_t* out = s.pending_.data() + base;
    for (unsigned i = 0; i < frames; ++i) {
      for (unsigned c = 0; c < channels; ++c) {
        const auto v = static_cast<uint16_t>(static_cast<int16_t>(buffer[c][i]));
        *out++ = static_cast<uint8_t>(v);
        *out++ = static_cast<uint8_t>(v >> 8);
      }
    }
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
  }
  static void metadataCallback(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* m, void* self) {
    auto& s = *static_cast<FlacSource*>(self);
    if (m->type == FLAC__METADATA_TYPE_STREAMINFO) {
      const auto& info = m->data.stream_info;
      s.format.channels = static_cast<int>(info.channels);
      s.format.sampleRate = info.sample_rate;
      s.format.byteRate = static_cast<int64_t>(info.sample_rate) * info.channels * 2;
      s.format.blockAlign = static_cast<int>(info.channels * 2);
      s.format.bitsPerSample = static_cast<int>(info.bits_per_sample);
      s.bits_ = info.bits_per_sample;
      if (info.total_samples > 0) s.expectedBytes = static_cast<int64_t>(info.total_samples) * 2 * info.channels;
      s.haveInfo_ = true;
    } else if (m->type == FLAC__METADATA_TYPE_VORBIS_COMMENT) {
      for (uint32_t i = 0; i < m->data.vorbis_comment.num_comments; ++i) {
        char* name = nullptr;
        char* value = nullptr;
        if (!FLAC__metadata_object_vorbiscomment_entry_to_name_value_pair(m->data.vorbis_comment.comments[i], &name,
                                                                         &value)) {
          continue;
        }
        const std::string n = name, v = value;
        std::free(name);
        std::free(value);
        if (n == "NUBO_PREAMBLE" && fromHex(v, s.carried.preamble)) s.carried.present = true;
        if (n == "NUBO_CODER_PARAMETER") {
          s.carried.coderParameter = static_cast<int32_t>(std::strtol(v.c_str(), nullptr, 10));
          s.carried.present = true;
        }
        if (n == "NUBO_CODER_VERSION") s.carried.coderVersion = static_cast<int32_t>(std::strtol(v.c_str(), nullptr, 10));
      }
    }
  }
  static void errorCallback(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus status, void* self) {
    auto& s = *static_cast<FlacSource*>(self);
    if (s.error_.empty()) s.error_ = std::string("FLAC: ") + FLAC__StreamDecoderErrorStatusString[status];
  }

  std::unique_ptr<InputFile> in_;
  std::vector<uint8_t> prefix_;
  std::size_t prefixAt_ = 0;
  FLAC__StreamDecoder* decoder_ = nullptr;
  std::vector<uint8_t> pending_;
  std::size_t at_ = 0;
  unsigned bits_ = 0;
  bool haveInfo_ = false;
  bool ended_ = false;
  bool finished_ = false;
  std::string error_;
};

// --- FLAC out ----------------------------------------------------------------------

// Three threads share the work of writing FLAC. The caller's thread decodes
// the compressed file and turns its bytes into libFLAC's per-channel samples;
// the encoder thread runs libFLAC's encoder; the verifier thread runs libFLAC's
// decoder over the bytes exactly as they were written and compares every
// sample with what went in. This is the check libFLAC's own verify mode makes,
// done beside the encoder instead of inside it: a mismatch fails the output
// just the same, and the bytes checked are the ones on disk.
//
// Samples travel in chunks from a small pool: filled by the caller, queued
// for the encoder, held for the verifier until each of their samples has been
// compared, then free again. The encoder thread alone touches the encoder and
// the output between start() and the join in finish().
class FlacSink : public PcmSink {
 public:
  FlacSink(OutputFile& out, const PcmFormat& format, bool seekable) : out_(out), format_(format), seekable_(seekable) {}
  ~FlacSink() override {
    stopThreads();
    if (encoder_ != nullptr) FLAC__stream_encoder_delete(encoder_);
    if (decoder_ != nullptr) FLAC__stream_decoder_delete(decoder_);
    if (tags_ != nullptr) FLAC__metadata_object_delete(tags_);
  }

  bool start(int64_t expectedFrames, const SinkOptions& options) {
    encoder_ = FLAC__stream_encoder_new();
    decoder_ = FLAC__stream_decoder_new();
    tags_ = FLAC__metadata_object_new(FLAC__METADATA_TYPE_VORBIS_COMMENT);
    if (encoder_ == nullptr || decoder_ == nullptr || tags_ == nullptr) return fail("out of memory");
    bool ok = FLAC__stream_encoder_set_channels(encoder_, static_cast<uint32_t>(format_.channels)) &&
              FLAC__stream_encoder_set_bits_per_sample(encoder_, 16) &&
              FLAC__stream_encoder_set_sample_rate(encoder_, static_cast<uint32_t>(format_.sampleRate)) &&
              FLAC__stream_encoder_set_compression_level(encoder_, static_cast<uint32_t>(options.flacLevel));
    if (expectedFrames > 0) {
      ok = ok && FLAC__stream_encoder_set_total_samples_estimate(encoder_, static_cast<FLAC__uint64>(expectedFrames));
    }
    if (options.carried.present) {
      addTag("NUBO_PREAMBLE", toHex(options.carried.preamble));
      addTag("NUBO_CODER_PARAMETER", std::to_string(options.carried.coderParameter));
      addTag("NUBO_CODER_VERSION", std::to_string(options.carried.coderVersion));
      ok = ok && FLAC__stream_encoder_set_metadata(encoder_, &tags_, 1);
    }
    if (!ok) return fail("the FLAC encoder refused the stream's format");
    // STREAMINFO's MD5 is still zero while the stream is first written; the
    // verifier compares samples, not the checksum.
    FLAC__stream_decoder_set_md5_checking(decoder_, false);
    if (FLAC__stream_decoder_init_stream(decoder_, &FlacSink::verifyReadCallback, nullptr, nullptr, nullptr, nullptr,
                                         &FlacSink::verifyWriteCallback, nullptr, &FlacSink::verifyErrorCallback,
                                         this) != FLAC__STREAM_DECODER_INIT_STATUS_OK) {
      return fail("the FLAC decoder that checks the output could not start");
    }
    if (FLAC__stream_encoder_init_stream(encoder_, &FlacSink::writeCallback, seekable_ ? &FlacSink::seekCallback : nullptr,
                                         seekable_ ? &FlacSink::tellCallback : nullptr, nullptr,
                                         this) != FLAC__STREAM_ENCODER_INIT_STATUS_OK) {
      return fail(FLAC__stream_encoder_get_resolved_state_string(encoder_));
    }
    for (Chunk& chunk : pool_) {
      for (int c = 0; c < format_.channels; ++c) chunk.channel[c].resize(kChunkFrames);
      free_.push_back(&chunk);
    }
    filling_ = takeFree();
    encoderThread_ = std::thread([this] { encodeChunks(); });
    verifierThread_ = std::thread([this] { verifyStream(); });
    return true;
  }

  bool write(const uint8_t* bytes, std::size_t n) override {
    const std::size_t channels = static_cast<std::size_t>(format_.channels);
    std::size_t frames = n / (2 * channels);
    while (frames > 0) {
      if (filling_ == nullptr) {
        // The threads end here, before the caller closes the output they write.
        stopThreads();
        return fail(threadError());
      }
      const std::size_t take = std::min(frames, kChunkFrames - filling_->frames);
      FLAC__int32* left = filling_->channel[0].data() + filling_->frames;
      if (channels == 2) {
        FLAC__int32* right = filling_->channel[1].data() + filling_->frames;
        for (std::size_t i = 0; i < take; ++i) {
          left[i] = sampleAt(bytes, 2 * i);
          right[i] = sampleAt(bytes, 2 * i + 1);
        }
      } else {
        for (std::size_t i = 0; i < take; ++i) left[i] = sampleAt(bytes, i);
      }
      filling_->frames += take;
      bytes += take * 2 * channels;
      frames -= take;
      if (filling_->frames == kChunkFrames) {
        handOver(filling_);
        filling_ = takeFree();
      }
    }
    return true;
  }

  bool finish(int64_t) override {
    if (!encoderThread_.joinable()) return fail(error_.empty() ? "the FLAC output was never started" : error_);
    if (filling_ != nullptr && filling_->frames > 0) handOver(filling_);
    filling_ = nullptr;
    joinEncoder();
    // The encoder's last frames, then on a file STREAMINFO with the MD5 (the
    // seek that rewrites it ends what the verifier reads).
    const bool encoded = threadError().empty() && FLAC__stream_encoder_finish(encoder_);
    if (!encoded) noteError(writeError_.empty() ? FLAC__stream_encoder_get_resolved_state_string(encoder_) : writeError_);
    endVerifiedBytes();
    verifierThread_.join();
    if (!threadError().empty()) return fail(threadError());
    if (verifiedFrames_ != handedFrames_) {
      return fail("the FLAC output checked back holds " + std::to_string(verifiedFrames_) + " of " +
                  std::to_string(handedFrames_) + " frames");
    }
    return out_.flush() || fail(out_.error());
  }
  std::string error() const override { return error_; }

 private:
  static constexpr std::size_t kChunkFrames = 16384;
  // The verifier wakes for this many written bytes (a few frames), or for
  // fewer when the encoder has run out of samples.
  static constexpr std::size_t kVerifyBatch = 16384;
  struct Chunk {
    std::vector<FLAC__int32> channel[2];
    std::size_t frames = 0;
  };
  // The i-th 16-bit little-endian sample of `bytes`.
  static FLAC__int32 sampleAt(const uint8_t* bytes, std::size_t i) {
    return static_cast<int16_t>(static_cast<uint16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8));
  }

  bool fail(const std::string& why) {
    if (error_.empty()) error_ = why;
    return false;
  }
  void noteError(const std::string& why) {
    std::lock_guard lock(mutex_);
    if (threadError_.empty()) threadError_ = why;
    callerWake_.notify();
    encoderWake_.notify();
    verifierWake_.notify();
  }
  std::string threadError() {
    std::lock_guard lock(mutex_);
    return threadError_;
  }

  // The next empty chunk, once the verifier has given one back; nullptr when
  // the encoder or the verifier has failed.
  Chunk* takeFree() {
    std::unique_lock lock(mutex_);
    callerWake_.wait(lock, [this] { return !free_.empty() || !threadError_.empty(); });
    if (!threadError_.empty()) return nullptr;
    Chunk* chunk = free_.front();
    free_.pop_front();
    chunk->frames = 0;
    return chunk;
  }
  void handOver(Chunk* chunk) {
    handedFrames_ += static_cast<int64_t>(chunk->frames);
    std::lock_guard lock(mutex_);
    toEncode_.push_back(chunk);
    encoderWake_.notify();
  }
  void joinEncoder() {
    if (!encoderThread_.joinable()) return;
    {
      std::lock_guard lock(mutex_);
      closing_ = true;
      encoderWake_.notify();
    }
    encoderThread_.join();
  }
  void endVerifiedBytes() {
    std::lock_guard lock(mutex_);
    bytesEnded_ = true;
    verifierWake_.notify();
  }
  // Ends both threads without finishing the stream. Nothing is written after
  // this: the caller may close the output before the encoder is deleted.
  void stopThreads() {
    joinEncoder();
    if (verifierThread_.joinable()) {
      noteError("stopped");
      verifierThread_.join();
    }
    abandoned_ = true;
  }

  void encodeChunks() {
    for (;;) {
      Chunk* chunk = nullptr;
      {
        std::unique_lock lock(mutex_);
        if (toEncode_.empty()) {
          // Nothing more comes out until more goes in: let the verifier have what there is.
          encoderIdle_ = true;
          verifierWake_.notify();
        }
        encoderWake_.wait(lock, [this] { return !toEncode_.empty() || closing_ || !threadError_.empty(); });
        encoderIdle_ = false;
        if (toEncode_.empty() || !threadError_.empty()) return;
        chunk = toEncode_.front();
        toEncode_.pop_front();
        // The verifier may decode this chunk's first frames before process() returns.
        toVerify_.push_back(chunk);
      }
      const FLAC__int32* channels[2] = {chunk->channel[0].data(), chunk->channel[1].data()};
      if (!FLAC__stream_encoder_process(encoder_, channels, static_cast<uint32_t>(chunk->frames))) {
        noteError(writeError_.empty() ? FLAC__stream_encoder_get_resolved_state_string(encoder_) : writeError_);
        return;
      }
    }
  }

  void verifyStream() {
    FLAC__stream_decoder_process_until_end_of_stream(decoder_);
    const FLAC__StreamDecoderState state = FLAC__stream_decoder_get_state(decoder_);
    if (state != FLAC__STREAM_DECODER_END_OF_STREAM) {
      noteError(verifyError_.empty() ? std::string("the FLAC output does not decode: ") +
                                           FLAC__StreamDecoderStateString[state]
                                     : verifyError_);
    }
    FLAC__stream_decoder_finish(decoder_);
  }
  static FLAC__StreamDecoderReadStatus verifyReadCallback(const FLAC__StreamDecoder*, FLAC__byte buffer[],
                                                          size_t* bytes, void* self) {
    auto& s = *static_cast<FlacSink*>(self);
    if (s.readAt_ == s.reading_.size()) {
      s.reading_.clear();
      s.readAt_ = 0;
      std::unique_lock lock(s.mutex_);
      s.verifierWake_.wait(lock, [&s] {
        return s.written_.size() >= kVerifyBatch || (s.encoderIdle_ && !s.written_.empty()) || s.bytesEnded_ ||
               !s.threadError_.empty();
      });
      if (!s.threadError_.empty()) return FLAC__STREAM_DECODER_READ_STATUS_ABORT;
      if (s.written_.empty()) {
        *bytes = 0;
        return FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM;
      }
      s.reading_.swap(s.written_);
    }
    const std::size_t take = std::min(*bytes, s.reading_.size() - s.readAt_);
    std::memcpy(buffer, s.reading_.data() + s.readAt_, take);
    s.readAt_ += take;
    *bytes = take;
    return FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
  }
  static FLAC__StreamDecoderWriteStatus verifyWriteCallback(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                                            const FLAC__int32* const buffer[], void* self) {
    auto& s = *static_cast<FlacSink*>(self);
    const std::size_t channels = static_cast<std::size_t>(s.format_.channels);
    if (frame->header.channels != channels || frame->header.bits_per_sample != 16) {
      s.verifyError_ = "the FLAC output decodes to another format";
      return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    }
    std::size_t done = 0;
    const std::size_t frames = frame->header.blocksize;
    while (done < frames) {
      Chunk* chunk = nullptr;
      {
        std::lock_guard lock(s.mutex_);
        if (!s.toVerify_.empty()) chunk = s.toVerify_.front();
      }
      if (chunk == nullptr) {
        s.verifyError_ = "the FLAC output holds more audio than was given";
        return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
      }
      const std::size_t take = std::min(frames - done, chunk->frames - s.chunkAt_);
      for (std::size_t c = 0; c < channels; ++c) {
        if (std::memcmp(buffer[c] + done, chunk->channel[c].data() + s.chunkAt_, take * sizeof(FLAC__int32)) != 0) {
          s.verifyError_ = "the FLAC output does not decode to the audio given (at frame " +
                           std::to_string(s.verifiedFrames_) + " onwards)";
          return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
        }
      }
      done += take;
      s.chunkAt_ += take;
      s.verifiedFrames_ += static_cast<int64_t>(take);
      if (s.chunkAt_ == chunk->frames) {
        s.chunkAt_ = 0;
        std::lock_guard lock(s.mutex_);
        s.toVerify_.pop_front();
        s.free_.push_back(chunk);
        s.callerWake_.notify();
      }
    }
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
  }
  static void verifyErrorCallback(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus status, void* self) {
    auto& s = *static_cast<FlacSink*>(self);
    if (s.verifyError_.empty()) {
      s.verifyError_ = std::string("the FLAC output does not decode: ") + FLAC__StreamDecoderErrorStatusString[status];
    }
  }

  void addTag(const char* name, const std::string& value) {
    FLAC__StreamMetadata_VorbisComment_Entry entry;
    if (FLAC__metadata_object_vorbiscomment_entry_from_name_value_pair(&entry, name, value.c_str())) {
      FLAC__metadata_object_vorbiscomment_append_comment(tags_, entry, false);
    }
  }
  // Called on the encoder thread, or on the caller's while it is not running.
  static FLAC__StreamEncoderWriteStatus writeCallback(const FLAC__StreamEncoder*, const FLAC__byte buffer[],
                                                      size_t bytes, uint32_t, uint32_t, void* self) {
    auto& s = *static_cast<FlacSink*>(self);
    if (s.abandoned_) return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
    if (!s.out_.write(buffer, bytes)) {
      if (s.writeError_.empty()) s.writeError_ = s.out_.error();
      return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
    }
    std::lock_guard lock(s.mutex_);
    if (!s.bytesEnded_) s.written_.insert(s.written_.end(), buffer, buffer + bytes);
    if (s.written_.size() >= kVerifyBatch) s.verifierWake_.notify();
    return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
  }
  static FLAC__StreamEncoderSeekStatus seekCallback(const FLAC__StreamEncoder*, FLAC__uint64 offset, void* self) {
    auto& s = *static_cast<FlacSink*>(self);
    if (s.abandoned_) return FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
    // The encoder seeks back only once the stream is whole, to fill in STREAMINFO.
    s.endVerifiedBytes();
    return s.out_.seek(static_cast<int64_t>(offset)) ? FLAC__STREAM_ENCODER_SEEK_STATUS_OK
                                                     : FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
  }
  static FLAC__StreamEncoderTellStatus tellCallback(const FLAC__StreamEncoder*, FLAC__uint64* offset, void* self) {
    auto& s = *static_cast<FlacSink*>(self);
    const int64_t at = s.out_.position();
    if (at < 0) return FLAC__STREAM_ENCODER_TELL_STATUS_ERROR;
    *offset = static_cast<FLAC__uint64>(at);
    return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
  }

  OutputFile& out_;
  const PcmFormat format_;
  const bool seekable_;
  FLAC__StreamEncoder* encoder_ = nullptr;
  FLAC__StreamDecoder* decoder_ = nullptr;
  FLAC__StreamMetadata* tags_ = nullptr;
  std::string error_;       // the caller's thread
  std::string writeError_;  // the encoder's thread
  std::string verifyError_;  // the verifier's thread

  // The caller's thread.
  Chunk* filling_ = nullptr;
  bool abandoned_ = false;
  int64_t handedFrames_ = 0;
  // The verifier's thread.
  std::vector<uint8_t> reading_;
  std::size_t readAt_ = 0;
  std::size_t chunkAt_ = 0;  // in the first chunk of toVerify_
  int64_t verifiedFrames_ = 0;

  // Shared, under mutex_. Four chunks: one the verifier waits on for the
  // encoder's next frame, one being filled, two to keep all three busy.
  Chunk pool_[4];
  std::mutex mutex_;
  // Each thread waits on its own condition and says so, so that the others
  // wake it only when it sleeps (a wake per FLAC frame costs more than the frame).
  struct Wake {
    std::condition_variable condition;
    bool waiting = false;
    template <class Ready>
    void wait(std::unique_lock<std::mutex>& lock, Ready ready) {
      while (!ready()) {
        waiting = true;
        condition.wait(lock);
        waiting = false;
      }
    }
    void notify() {  // with mutex_ held
      if (waiting) condition.notify_one();
    }
  };
  Wake callerWake_, encoderWake_, verifierWake_;
  std::deque<Chunk*> toEncode_;
  std::deque<Chunk*> toVerify_;
  std::deque<Chunk*> free_;
  std::vector<uint8_t> written_;  // bytes the encoder wrote that the verifier has not read yet
  bool bytesEnded_ = false;
  bool encoderIdle_ = false;
  bool closing_ = false;
  std::string threadError_;  // why the encoder or the verifier stopped ("" while both are fine)

  std::thread encoderThread_;
  std::thread verifierThread_;
};

#endif  // NUBO_HAVE_FLAC

}  // namespace

bool flacAvailable() {
#ifdef NUBO_HAVE_FLAC
  return true;
#else
  return false;
#endif
}

int openPcmSource(const std::string& path, std::unique_ptr<PcmSource>& source, std::string& detail) {
  auto in = std::make_unique<InputFile>();
  if (!in->open(path)) {
    detail = in->error();
    return in->refusedAsNotRegular() ? kEntryNotRegular : kEntryCannotOpenInput;
  }
  uint8_t magic[4];
  const std::size_t got = in->read(magic, 4);
  const uint32_t id = got == 4 ? static_cast<uint32_t>(magic[0] | magic[1] << 8 | magic[2] << 16) |
                                     static_cast<uint32_t>(magic[3]) << 24
                               : 0;
  if (id == fourCC("fLaC")) {
#ifdef NUBO_HAVE_FLAC
    auto flac = std::make_unique<FlacSource>(std::move(in), magic, got);
    if (!flac->start(detail)) return kEntryNotPcmWave;
    source = std::move(flac);
    return 0;
#else
    detail = "a FLAC file (this build of nubo reads no FLAC)";
    return kEntryNotPcmWave;
#endif
  }
  auto wave = std::make_unique<WaveSource>(std::move(in));
  if (!wave->start(id, detail)) return kEntryNotPcmWave;
  source = std::move(wave);
  return 0;
}

std::unique_ptr<PcmSink> startPcmSink(OutputFile& out, const PcmFormat& format, int64_t expectedFrames,
                                      const SinkOptions& options, std::string& error) {
  if (options.flac) {
#ifdef NUBO_HAVE_FLAC
    auto flac = std::make_unique<FlacSink>(out, format, options.seekable);
    if (!flac->start(expectedFrames, options)) {
      error = flac->error();
      return nullptr;
    }
    return flac;
#else
    error = "this build of nubo writes no FLAC";
    return nullptr;
#endif
  }
  auto wave = std::make_unique<WaveSink>(out, format, expectedFrames, options.seekable);
  if (!wave->start()) {
    error = wave->error();
    return nullptr;
  }
  return wave;
}

}  // namespace nubo::converter
