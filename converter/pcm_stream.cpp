// SPDX-License-Identifier: BSD-3-Clause
#include "pcm_stream.h"

#include "message_entries.h"
#include "wave_sink.h"
#include "wave_source.h"
#ifdef NUBO_HAVE_FLAC
#include "flac_sink.h"
#include "flac_source.h"
#endif

namespace nubo::converter {

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
  return openPcmSource(std::unique_ptr<ByteSource>(std::move(in)), source, detail);
}

int openPcmSource(std::unique_ptr<ByteSource> in, std::unique_ptr<PcmSource>& source, std::string& detail) {
  uint8_t magic[4];
  const std::size_t got = in->read(magic, 4);
  const uint32_t id = got == 4 ? static_cast<uint32_t>(magic[0] | magic[1] << 8 | magic[2] << 16) |
                                     static_cast<uint32_t>(magic[3]) << 24
                               : 0;
  if (id == fourCC("fLaC")) {
#ifdef NUBO_HAVE_FLAC
    return openFlacSource(std::move(in), magic, got, source, detail) ? 0 : kEntryNotPcmWave;
#else
    detail = "a FLAC file (this build of nubo reads no FLAC)";
    return kEntryNotPcmWave;
#endif
  }
  return openWaveSource(std::move(in), id, source, detail) ? 0 : kEntryNotPcmWave;
}

std::unique_ptr<PcmSink> startPcmSink(ByteSink& out, const PcmFormat& format, int64_t expectedFrames,
                                      const SinkOptions& options, std::string& error) {
  if (options.flac) {
#ifdef NUBO_HAVE_FLAC
    return startFlacSink(out, format, expectedFrames, options, error);
#else
    error = "this build of nubo writes no FLAC";
    return nullptr;
#endif
  }
  // A preamble that holds the chunks of a WAVE file gives them back; any
  // other preamble is carried only where it can be (FLAC's tags).
  ForeignChunks chunks;
  chunksOfPreamble(options.carried.preamble, chunks);
  return startWaveSink(out, format, expectedFrames, options.seekable, chunks, error);
}

}  // namespace nubo::converter
