// SPDX-License-Identifier: BSD-3-Clause
#include "wave_source.h"

#include <algorithm>

#include "wave_file.h"

namespace nubo::converter {

namespace {

class WaveSource : public PcmSource {
 public:
  explicit WaveSource(std::unique_ptr<ByteSource> in) : in_(std::move(in)) {}
  bool start(std::string& detail) {
    WaveInfo info;
    if (!readWaveHeader(*in_, info)) {
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
    if (!readChunksAfterData(*in_, info)) {
      detail = "a WAVE file that cannot be read again after its chunks";
      return false;
    }
    foreign = std::move(info.foreign);
    droppedChunks = std::move(info.dropped);
    // A stream read once: what follows the audio is looked at only at the end.
    chunksLate_ = in_->size() < 0 && !info.readToEnd && !info.sizeFieldWrong;
    padAfterData_ = info.claimedBytes & 1;
    return true;
  }
  ChunkNotes lateChunks() override {
    ChunkNotes late;
    if (!chunksLate_ || left_ != 0) return late;
    chunksLate_ = false;
    if (padAfterData_ && in_->get() < 0) return late;
    ForeignChunks read;  // only named: the preamble is written
    for (;;) {
      const uint32_t id = in_->readLE(4);
      const uint32_t size = in_->readLE(4);
      if (id == 0xFFFFFFFFu && size == 0xFFFFFFFFu) break;
      if (keptAsForeign(id)) late.push_back({id, size});
      if (!in_->skip(static_cast<int64_t>(size) + (size & 1))) break;
    }
    return late;
  }
  std::size_t read(uint8_t* into, std::size_t n) override {
    if (left_ >= 0) n = static_cast<std::size_t>(std::min<int64_t>(static_cast<int64_t>(n), left_));
    const std::size_t got = in_->read(into, n) & ~std::size_t{1};
    if (left_ >= 0) left_ -= static_cast<int64_t>(got);
    return got;
  }

 private:
  std::unique_ptr<ByteSource> in_;
  int64_t left_ = 0;  // -1: to the end of the file
  bool chunksLate_ = false;
  bool padAfterData_ = false;
};

}  // namespace

bool openWaveSource(std::unique_ptr<ByteSource> in, std::unique_ptr<PcmSource>& source, std::string& detail) {
  auto wave = std::make_unique<WaveSource>(std::move(in));
  if (!wave->start(detail)) return false;
  source = std::move(wave);
  return true;
}

}  // namespace nubo::converter
