// SPDX-License-Identifier: BSD-3-Clause
#include "nab_writer.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "file_formats.h"
#include "jobs.h"
#include "nab_format.h"
#include "nubocodec.h"
#include "safe_output.h"

#ifndef _WIN32
#include <sys/stat.h>

#include <fstream>
#endif

namespace nubo::converter {

namespace {

class NoObserver : public RunObserver {};

// The temporary file is made private (0600); a file written from memory
// has no input to take its permission bits from, so it gets those of any
// new file: 0666 less the process's umask (read, not set: umask() would
// change it for every thread).
void giveNewFileMode([[maybe_unused]] std::FILE* stream) {
#ifndef _WIN32
  mode_t mask = 022;
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("Umask:", 0) == 0) {
      mask = static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
      break;
    }
  }
  std::fflush(stream);
  ::fchmod(::fileno(stream), 0666 & ~mask);
#endif
}

}  // namespace

bool usableSampleRate(int channels, int64_t sampleRate) {
  const int64_t blockLength = blockLengthOf(channels, sampleRate);
  return sampleRate > 0 && sampleRate <= INT32_MAX && blockLength >= 1 && blockLength <= NUBO_MAX_SAMPLES;
}

FileOutcome writeCompressedSamples(const std::string& path, const void* samples, int64_t frames, int channels,
                                   int32_t sampleRate, bool overwrite) {
  RunRequest request;
  request.job = Job::Encode;
  request.options.overwrite = overwrite;
  NoObserver observer;
  StopFlag stop;
  RunState run(request, observer, stop);
  run.outputPath = path;
  run.explicitInput = true;

  SafeOutput output(run, fileFormat(OutputFormat::Nab));
  FileOutcome refused;
  if (!output.begin(refused)) return refused;
  OutputFile& out = output.file();
  auto writeFailed = [&] {
    const std::string reason = out.error();
    return makeOutcome(run, Outcome::Stopped, kEntryWriteError, path, "", reason, output.keep());
  };

  NabHeader h;
  h.channels = channels;
  h.sampleRate = sampleRate;
  h.byteRate = 2 * channels * sampleRate;
  h.blockAlign = 2 * channels;
  h.bitsPerSample = 16;
  h.frameCount = static_cast<int32_t>(frames);
  if (!writeHeader(out, h) || out.writeLE(2, 0) != 0) return writeFailed();

  const int64_t blockLength = blockLengthOf(channels, sampleRate);
  const int64_t total = frames * channels;
  ConvertParams params{};
  params.channels = static_cast<uint16_t>(channels);
  params.coderVersion = 22;
  uint8_t block[2 * NUBO_MAX_SAMPLES];
  uint8_t code[NUBO_MAX_CODE_BLOCK_BYTES];
  int64_t outBytes = 2;  // the preamble length
  const auto* bytes = static_cast<const uint8_t*>(samples);
  for (int64_t done = 0; done < total;) {
    const int n = static_cast<int>(std::min(blockLength, total - done));
    // The codec takes a buffer it may use whole; the caller's samples are copied.
    std::memcpy(block, bytes + 2 * done, static_cast<std::size_t>(2 * n));
    params.flags = blockEncodeFlags(n, blockLength);
    params.sampleCount = static_cast<uint16_t>(n);
    if (const int r = NuboWaveConvert(&params, block, code); r != NUBO_OK) {
      return makeOutcome(run, Outcome::Stopped, kEntryWriteError, path, "encoder result " + std::to_string(r), "",
                         output.keep());
    }
    outBytes += params.codeSize;
    if (!out.write(code, params.codeSize)) return writeFailed();
    if (outBytes + kHeaderBytes - 8 > kRiffLimit) {
      return makeOutcome(run, Outcome::NotConverted, kEntryTooLarge, path, "", "", output.keep());
    }
    done += n;
  }
  if (!finishCompressedFile(out, outBytes, frames)) return writeFailed();
  giveNewFileMode(out.stream());
  FileOutcome failed;
  if (!output.commit(failed)) return failed;
  FileOutcome o = makeOutcome(run, Outcome::Converted, kEntryEmpty, path);
  output.addCommitWarning(o);
  o.outputBytes = outBytes + kHeaderBytes;
  o.pcmBytes = 2 * total;
  o.frames = frames;
  return o;
}

}  // namespace nubo::converter
