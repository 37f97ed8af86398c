// SPDX-License-Identifier: BSD-3-Clause
#include "flac_descriptor.h"

#include <cstring>

#include "message_entries.h"
#ifdef NUBO_HAVE_FLAC
#include "flac_sink.h"
#include "flac_source.h"
#endif

namespace nubo::converter {

namespace {

constexpr std::string_view kExtensions[] = {".flac"};

bool startsWithSignature(std::span<const uint8_t> head) {
  return head.size() >= 4 && std::memcmp(head.data(), "fLaC", 4) == 0;
}

class FlacDescriptor : public FileFormat {
 public:
  std::string_view name() const override { return "FLAC"; }
  std::span<const std::string_view> extensions() const override { return kExtensions; }
#ifdef NUBO_HAVE_FLAC
  bool available() const override { return true; }
#else
  bool available() const override { return false; }
#endif
  std::string_view library() const override { return "libFLAC"; }
  bool recognises(std::span<const uint8_t> head) const override { return startsWithSignature(head); }
  bool readsPastId3Tag() const override { return true; }  // libFLAC's decoder does
  // Every FLAC file counts as complete: libFLAC writes STREAMINFO's sizes at
  // the end, but a stopped output never takes its final name.
  ExistingFile inspectExisting(ByteSource& in) const override {
    uint8_t head[4];
    return startsWithSignature({head, in.read(head, sizeof head)}) ? ExistingFile::Complete : ExistingFile::OtherKind;
  }
  int otherKindEntry() const override { return kEntryExistingNotFlac; }

  bool carriesPcm() const override { return true; }
  int openSource(std::unique_ptr<ByteSource> in, std::unique_ptr<PcmSource>& source,
                 std::string& detail) const override {
#ifdef NUBO_HAVE_FLAC
    return openFlacSource(std::move(in), source, detail) ? 0 : kEntryNotPcmWave;
#else
    (void)in, (void)source;
    detail = "a FLAC file (this build of nubo reads no FLAC)";
    return kEntryNotPcmWave;
#endif
  }
  std::unique_ptr<PcmSink> startSink(ByteSink& out, const SinkRequest& request, std::string& error) const override {
#ifdef NUBO_HAVE_FLAC
    return startFlacSink(out, request, error);
#else
    (void)out, (void)request;
    error = "this build of nubo writes no FLAC";
    return nullptr;
#endif
  }
};

}  // namespace

const FileFormat& flacDescriptor() {
  static const FlacDescriptor descriptor;
  return descriptor;
}

}  // namespace nubo::converter
