// SPDX-License-Identifier: BSD-3-Clause
#include "wave_descriptor.h"

#include "message_entries.h"
#include "nab_format.h"
#include "wave_sink.h"
#include "wave_source.h"

namespace nubo::converter {

namespace {

constexpr std::string_view kExtensions[] = {".wav"};
constexpr std::string_view kOtherExtensions[] = {".wave", ".rf64", ".bwf"};

uint32_t le32(std::span<const uint8_t> b, std::size_t at) {
  return static_cast<uint32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16) | static_cast<uint32_t>(b[at + 3]) << 24;
}

class WaveDescriptor : public FileFormat {
 public:
  std::string_view name() const override { return "WAVE"; }
  std::span<const std::string_view> extensions() const override { return kExtensions; }
  std::span<const std::string_view> otherExtensions() const override { return kOtherExtensions; }
  // A RIFF or RF64 WAVE file of any format tag but the compressed one's (at
  // offset 20, where a first chunk "fmt " holds it): the header reader then
  // says what one that is not 16-bit PCM is instead.
  bool recognises(std::span<const uint8_t> head) const override {
    if (head.size() < 12) return false;
    const uint32_t id = le32(head, 0);
    const bool nabTag = head.size() >= 22 && (head[20] | head[21] << 8) == kNabFormatTag;
    return (id == fourCC("RIFF") || id == fourCC("RF64")) && le32(head, 8) == fourCC("WAVE") && !nabTag;
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
