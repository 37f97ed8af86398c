// SPDX-License-Identifier: BSD-3-Clause
#include "flac_source.h"

#include <FLAC/metadata.h>
#include <FLAC/stream_decoder.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "flac_tags.h"
#include "foreign_chunks.h"
#include "nab_format.h"

namespace nubo::converter {

namespace {

class FlacSource : public PcmSource {
 public:
  explicit FlacSource(std::unique_ptr<ByteSource> in) : in_(std::move(in)) {}
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
    FLAC__stream_decoder_set_metadata_respond_application(decoder_, reinterpret_cast<const FLAC__byte*>("riff"));
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
    takeRiffBlocks();
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
      // A file cut short at a frame boundary decodes without an error; only
      // the count of STREAMINFO (where it gives one) tells.
      if (error_.empty() && totalSamples_ > 0 && decoded_ < totalSamples_) {
        error_ = "the FLAC file ends after frame " + std::to_string(frames_) + ", at sample " +
                 std::to_string(decoded_) + "; its STREAMINFO gives " + std::to_string(totalSamples_) + " samples";
      }
      // The MD5 of STREAMINFO is checked when the decoder finishes.
      if (!FLAC__stream_decoder_finish(decoder_) && error_.empty()) {
        error_ = "the audio does not match the MD5 of its STREAMINFO";
      }
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
    const std::size_t got = s.in_->read(buffer, *bytes);
    *bytes = got;
    return got == 0 ? FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM : FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
  }
  static FLAC__StreamDecoderWriteStatus writeCallback(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                                      const FLAC__int32* const buffer[], void* self) {
    auto& s = *static_cast<FlacSource*>(self);
    const unsigned channels = frame->header.channels;
    const unsigned frames = frame->header.blocksize;
    ++s.frames_;
    // Every frame must be what STREAMINFO announced: a frame of another
    // rate, channel count or sample size (frames spliced from another file)
    // would be taken as audio of the announced format, and frames beyond its
    // sample count are not part of the stream it describes.
    if (const std::string what = s.frameDisagreement(frame->header); !what.empty()) {
      if (s.error_.empty()) s.error_ = "FLAC frame " + std::to_string(s.frames_) + " at sample " + std::to_string(s.decoded_) + ": " + what;
      return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    }
    s.decoded_ += frames;
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
      s.totalSamples_ = info.total_samples;
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
        applyCarriedTag(name, value, s.carried);
        std::free(name);
        std::free(value);
      }
    } else if (m->type == FLAC__METADATA_TYPE_APPLICATION && m->length >= 4 && m->data.application.data != nullptr) {
      s.riffBlocks_.emplace_back(reinterpret_cast<const char*>(m->data.application.data), m->length - 4);
    }
  }
  // The chunks of the WAVE file this FLAC file was made from, as flac
  // --keep-foreign-metadata stores them. Blocks laid out otherwise keep
  // nothing (no chunk's place is known), and every chunk among them is named
  // as not kept, with what is wrong.
  void takeRiffBlocks() {
    std::string problem;
    ChunkNotes notes;
    if (chunksOfRiffBlocks(riffBlocks_, foreign, notes, problem)) {
      droppedChunks.insert(droppedChunks.end(), notes.begin(), notes.end());
      return;
    }
    ChunkNotes lost;
    for (std::size_t i = 1; i < riffBlocks_.size(); ++i) {  // the first is the RIFF header
      const std::string& block = riffBlocks_[i];
      const ForeignChunk chunk{ChunkPlace::BeforeData, block};
      if (block.size() >= 8 && keptAsForeign(chunk.id())) {
        lost.push_back({chunk.id(), chunk.bodySize()});
      }
    }
    chunksProblem = problem;
    if (!lost.empty()) chunksProblem += "; not kept: " + describeChunkNotes(lost);
  }

  static void errorCallback(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus status, void* self) {
    auto& s = *static_cast<FlacSource*>(self);
    if (s.error_.empty()) s.error_ = std::string("FLAC: ") + FLAC__StreamDecoderErrorStatusString[status];
  }

  // What in a frame's header differs from STREAMINFO ("" when nothing).
  std::string frameDisagreement(const FLAC__FrameHeader& h) const {
    const auto differs = [](const char* what, uint64_t frame, uint64_t info) {
      return std::string(what) + " " + std::to_string(frame) + " where its STREAMINFO gives " + std::to_string(info);
    };
    if (h.sample_rate != format.sampleRate) return differs("sample rate", h.sample_rate, format.sampleRate);
    if (static_cast<int>(h.channels) != format.channels) return differs("channels", h.channels, format.channels);
    if (h.bits_per_sample != bits_) return differs("bits per sample", h.bits_per_sample, bits_);
    if (totalSamples_ > 0 && decoded_ + h.blocksize > totalSamples_) {
      return "more samples than the " + std::to_string(totalSamples_) + " its STREAMINFO gives";
    }
    return "";
  }

  std::unique_ptr<ByteSource> in_;
  FLAC__StreamDecoder* decoder_ = nullptr;
  std::vector<std::string> riffBlocks_;  // the contents of the "riff" APPLICATION blocks, without their id
  std::vector<uint8_t> pending_;
  std::size_t at_ = 0;
  unsigned bits_ = 0;
  uint64_t totalSamples_ = 0;  // 0: STREAMINFO does not say
  uint64_t decoded_ = 0;       // samples (per channel) of the frames taken so far
  uint64_t frames_ = 0;        // frames seen so far, counted from 1
  bool haveInfo_ = false;
  bool ended_ = false;
  bool finished_ = false;
  std::string error_;
};

}  // namespace

bool openFlacSource(std::unique_ptr<ByteSource> in, std::unique_ptr<PcmSource>& source, std::string& detail) {
  auto flac = std::make_unique<FlacSource>(std::move(in));
  if (!flac->start(detail)) return false;
  source = std::move(flac);
  return true;
}

}  // namespace nubo::converter
