// SPDX-License-Identifier: BSD-3-Clause
#include "flac_sink.h"

#include <FLAC/metadata.h>
#include <FLAC/stream_decoder.h>
#include <FLAC/stream_encoder.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "flac_tags.h"
#include "foreign_chunks.h"

namespace nubo::converter {

namespace {

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
  FlacSink(ByteSink& out, const PcmFormat& format, bool seekable) : out_(out), format_(format), seekable_(seekable) {}
  ~FlacSink() override {
    stopThreads();
    if (encoder_ != nullptr) FLAC__stream_encoder_delete(encoder_);
    if (decoder_ != nullptr) FLAC__stream_decoder_delete(decoder_);
    if (tags_ != nullptr) FLAC__metadata_object_delete(tags_);
    for (FLAC__StreamMetadata* block : riffBlocks_) FLAC__metadata_object_delete(block);
  }

  bool start(int64_t expectedFrames, const SinkRequest& options) {
    encoder_ = FLAC__stream_encoder_new();
    decoder_ = FLAC__stream_decoder_new();
    tags_ = FLAC__metadata_object_new(FLAC__METADATA_TYPE_VORBIS_COMMENT);
    if (encoder_ == nullptr || decoder_ == nullptr || tags_ == nullptr) return fail("out of memory");
    bool ok = FLAC__stream_encoder_set_channels(encoder_, static_cast<uint32_t>(format_.channels)) &&
              FLAC__stream_encoder_set_bits_per_sample(encoder_, 16) &&
              FLAC__stream_encoder_set_sample_rate(encoder_, static_cast<uint32_t>(format_.sampleRate)) &&
              FLAC__stream_encoder_set_compression_level(encoder_, static_cast<uint32_t>(options.level));
    if (expectedFrames > 0) {
      ok = ok && FLAC__stream_encoder_set_total_samples_estimate(encoder_, static_cast<FLAC__uint64>(expectedFrames));
    }
    if (options.carried.present) {
      for (const auto& [name, value] : carriedTags(options.carried)) addTag(name.c_str(), value);
      metadata_.push_back(tags_);
      ok = ok && addRiffBlocks(options.carried.preamble, expectedFrames);
      ok = ok && FLAC__stream_encoder_set_metadata(encoder_, metadata_.data(), static_cast<uint32_t>(metadata_.size()));
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
    // The WAVE header stored with the chunks gave the audio's length;
    // flac -d --keep-foreign-metadata would refuse a file where it is wrong.
    if (!riffBlocks_.empty() && handedFrames_ != announcedFrames_) {
      return fail("the compressed file's header said " + std::to_string(announcedFrames_) + " frames; " +
                  std::to_string(handedFrames_) + " were decoded");
    }
    return out_.flush() || fail(out_.error());
  }
  std::string error() const override { return error_; }
  int64_t bytesWritten() const override { return end_; }

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

  // The chunks of a preamble that holds WAVE chunks, as "riff" APPLICATION
  // blocks after the tags, laid out as flac --keep-foreign-metadata lays them
  // out for the WAVE file of `frames` frames. Nothing for another preamble.
  bool addRiffBlocks(const std::string& preamble, int64_t frames) {
    ForeignChunks chunks;
    if (!chunksOfPreamble(preamble, chunks)) return true;
    announcedFrames_ = std::max<int64_t>(frames, 0);
    for (const std::string& bytes : riffBlocksOf(chunks, format_.channels, format_.sampleRate,
                                                 announcedFrames_ * 2 * format_.channels)) {
      FLAC__StreamMetadata* block = FLAC__metadata_object_new(FLAC__METADATA_TYPE_APPLICATION);
      if (block == nullptr) return false;
      riffBlocks_.push_back(block);
      std::memcpy(block->data.application.id, "riff", 4);
      std::vector<FLAC__byte> data(bytes.begin(), bytes.end());
      if (!FLAC__metadata_object_application_set_data(block, data.data(), static_cast<uint32_t>(data.size()), true)) {
        return false;
      }
      metadata_.push_back(block);
    }
    return true;
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
    s.at_ += static_cast<int64_t>(bytes);
    s.end_ = std::max(s.end_, s.at_);
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
    if (!s.out_.seek(static_cast<int64_t>(offset))) return FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
    s.at_ = static_cast<int64_t>(offset);
    return FLAC__STREAM_ENCODER_SEEK_STATUS_OK;
  }
  static FLAC__StreamEncoderTellStatus tellCallback(const FLAC__StreamEncoder*, FLAC__uint64* offset, void* self) {
    auto& s = *static_cast<FlacSink*>(self);
    const int64_t at = s.out_.position();
    if (at < 0) return FLAC__STREAM_ENCODER_TELL_STATUS_ERROR;
    *offset = static_cast<FLAC__uint64>(at);
    return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
  }

  ByteSink& out_;
  const PcmFormat format_;
  const bool seekable_;
  FLAC__StreamEncoder* encoder_ = nullptr;
  FLAC__StreamDecoder* decoder_ = nullptr;
  FLAC__StreamMetadata* tags_ = nullptr;
  std::vector<FLAC__StreamMetadata*> riffBlocks_;  // owned
  std::vector<FLAC__StreamMetadata*> metadata_;    // what the encoder writes: the tags, then the riff blocks
  int64_t announcedFrames_ = 0;
  std::string error_;       // the caller's thread
  std::string writeError_;  // the encoder's thread
  std::string verifyError_;  // the verifier's thread
  // Where the encoder writes and how far it has written: the encoder's
  // thread, then the caller's once that has been joined.
  int64_t at_ = 0;
  int64_t end_ = 0;

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

}  // namespace

std::unique_ptr<PcmSink> startFlacSink(ByteSink& out, const SinkRequest& request, std::string& error) {
  auto flac = std::make_unique<FlacSink>(out, request.format, request.seekable);
  if (!flac->start(request.expectedFrames, request)) {
    error = flac->error();
    return nullptr;
  }
  return flac;
}

}  // namespace nubo::converter
