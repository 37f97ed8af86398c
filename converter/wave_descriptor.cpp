// SPDX-License-Identifier: BSD-3-Clause
#include "wave_descriptor.h"

#include "message_entries.h"
#include "nab_format.h"
#include "wave_sink.h"
#include "wave_source.h"

namespace nubo::converter {

namespace {

constexpr std::string_view kExtensions[] = {".wav"};

class WaveDescriptor : public FileFormat {
 public:
  std::string_view name() const override { return "WAVE"; }
  std::span<const std::string_view> extensions() const override { return kExtensions; }
  // Any RIFF or RF64 file: the header reader then says what one that is not
  // 16-bit PCM is instead.
  bool recognises(std::span<const uint8_t> head) const override {
    if (head.size() < 4) return false;
    const uint32_t id = static_cast<uint32_t>(head[0] | head[1] << 8 | head[2] << 16) | static_cast<uint32_t>(head[3]) << 24;
    return id == fourCC("RIFF") || id == fourCC("RF64");
  }
  // A RIFF WAVE file of any format but the compressed one; it is complete
  // when its RIFF size covers the file exactly (a pad byte allowed).
  ExistingFile inspectExisting(ByteSource& in) const override {
    const int64_t size = in.size();
    const uint32_t riff = in.readLE(4);
    const uint32_t riffSize = in.readLE(4);
    const uint32_t wave = in.readLE(4);
    in.readLE(4), in.readLE(4);  // the first chunk's identifier and size
    const uint32_t tag = in.readLE(2);
    if (riff != fourCC("RIFF") || wave != fourCC("WAVE") || tag == static_cast<uint32_t>(kNabFormatTag)) {
      return ExistingFile::OtherKind;
    }
    const int64_t covered = static_cast<int64_t>(riffSize) + 8;
    return covered == size || covered + 1 == size ? ExistingFile::Complete : ExistingFile::Incomplete;
  }
  int otherKindEntry() const override { return kEntryExistingNotWave; }

  bool carriesPcm() const override { return true; }
  int openSource(std::unique_ptr<ByteSource> in, std::unique_ptr<PcmSource>& source,
                 std::string& detail) const override {
    return openWaveSource(std::move(in), source, detail) ? 0 : kEntryNotPcmWave;
  }
  // A preamble that holds the chunks of a WAVE file gives them back; any
  // other preamble is carried only where it can be (FLAC's tags).
  std::unique_ptr<PcmSink> startSink(ByteSink& out, const SinkRequest& request, std::string& error) const override {
    ForeignChunks chunks;
    chunksOfPreamble(request.carried.preamble, chunks);
    return startWaveSink(out, request.format, request.expectedFrames, request.seekable, chunks, error);
  }
};

}  // namespace

const FileFormat& waveDescriptor() {
  static const WaveDescriptor descriptor;
  return descriptor;
}

}  // namespace nubo::converter
