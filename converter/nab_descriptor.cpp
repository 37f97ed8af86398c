// SPDX-License-Identifier: BSD-3-Clause
#include "nab_descriptor.h"

#include "message_entries.h"
#include "nab_format.h"

namespace nubo::converter {

namespace {

constexpr std::string_view kExtensions[] = {".NAB"};

uint32_t le32(std::span<const uint8_t> b, std::size_t at) {
  return static_cast<uint32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16) | static_cast<uint32_t>(b[at + 3]) << 24;
}

class NabDescriptor : public FileFormat {
 public:
  std::string_view name() const override { return "NAB"; }
  std::span<const std::string_view> extensions() const override { return kExtensions; }
  // A RIFF (or RF64) WAVE file with the compressed file's format tag at
  // offset 20; a damaged chunk identifier or size before it does not hide it.
  bool recognises(std::span<const uint8_t> head) const override {
    const uint32_t id = head.size() >= 22 ? le32(head, 0) : 0;
    return (id == fourCC("RIFF") || id == fourCC("RF64")) && le32(head, 8) == fourCC("WAVE") &&
           (head[20] | head[21] << 8) == kNabFormatTag;
  }
  // An output is a version-22 file; it is complete when its header agrees
  // with the file: its data size with the length, its frame count with what
  // the blocks hold (walked by their size fields; nothing is decoded). A file
  // of an older coder version is an input, never an output.
  ExistingFile inspectExisting(ByteSource& in) const override {
    const int64_t size = in.size();
    NabHeader h;
    NabLayout layout;
    if (!readCompressedHeader(in, h, layout) || h.coderVersion != 22) return ExistingFile::OtherKind;
    if (static_cast<uint32_t>(h.dataSize) != size - layout.dataOffset || layout.preambleLength < 0 ||
        !in.skip(layout.preambleLength)) {
      return ExistingFile::Incomplete;
    }
    const int64_t frames = framesByBlockSizes(in, blockLengthOf(h.channels, h.sampleRate), h.channels);
    const bool framesAgree = !layout.hasFact || static_cast<uint32_t>(h.frameCount) == frames;
    return frames >= 0 && framesAgree ? ExistingFile::Complete : ExistingFile::Incomplete;
  }
  int otherKindEntry() const override { return kEntryExistingNotVersion22; }
  // The header's sizes are written when the last block is.
  bool needsSeekableOutput() const override { return true; }
};

}  // namespace

const FileFormat& nabDescriptor() {
  static const NabDescriptor descriptor;
  return descriptor;
}

}  // namespace nubo::converter
