// Re-encode, encode, verify and encode-and-verify of one file, and the
// single-file tools of the command-line front end.
#include "jobs.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "file_tools.h"
#include "message_entries.h"
#include "nab_format.h"
#include "nubocodec.h"
#include "os.h"
#include "wave_file.h"

namespace nubo::converter {

namespace {

template <typename... Args>
std::string format(const char* fmt, Args... args) {
  char buffer[1024];
  std::snprintf(buffer, sizeof buffer, fmt, args...);
  return buffer;
}

// The buffers and the parameter record of a job.
struct Codec {
  ConvertParams params{};
  uint8_t samples[2 * NUBO_MAX_SAMPLES + 16];
  CodeBlock block;
  int call() { return NuboWaveConvert(&params, samples, block.bytes); }
};

// Shows `entry` on line 2 and `path` on line 3, then the idle state (999).
JobResult stop(RunState& run, int entry, const std::string& path) {
  run.frontEnd.setStatusLine(2, run.frontEnd.message(entry));
  run.frontEnd.setStatusLine(3, path);
  run.frontEnd.idleState(999);
  return JobResult::StopBatch;
}

// A file passed over with a message (nothing opened for writing).
JobResult passOver(RunState& run, int entry, const std::string& path) {
  run.frontEnd.setStatusLine(2, run.frontEnd.message(entry));
  run.frontEnd.setStatusLine(3, path);
  return JobResult::Skipped;
}

JobResult cancelled(RunState& run) {
  run.frontEnd.idleState(999);
  return JobResult::StopBatch;
}

class Progress {
 public:
  Progress(RunState& run, int entry) : run_(run), entry_(entry) {}
  // Shows the whole megabytes of PCM done when that number changes.
  void update(int64_t pcmBytes) {
    const int64_t m = pcmBytes >> 20;
    if (m == last_) return;
    last_ = m;
    run_.frontEnd.setStatusLine(
        1, format("%ld %s %s", static_cast<long>(m), run_.frontEnd.message(entry_).c_str(), run_.inputPath.c_str()));
  }

 private:
  RunState& run_;
  int entry_;
  int64_t last_ = 0;
};

void showSizeChange(RunState& run, int64_t outBytes, int64_t inBytes, int64_t pcmBytes) {
  // No audio at all: no change rather than a division by zero.
  const double change =
      pcmBytes == 0 ? 0.0 : static_cast<double>(outBytes - inBytes) / static_cast<double>(pcmBytes) * 100.0;
  run.frontEnd.setStatusLine(
      2, format("%8.3f %s%s", change, run.frontEnd.message(kEntrySizeChange).c_str(), run.outputPath.c_str()));
}

// The header checks of a compressed file: false when it is passed over
// silently. `maxVersion` is 21 for the re-encode (only old files need it)
// and 22 for reading back. `preambleLength` is -1 when the file ends before it.
bool readCompressedHeader(InputFile& in, NabHeader& h, int32_t maxVersion, int64_t& preambleLength) {
  readHeader(in, h);
  if (h.riffId != static_cast<int32_t>(fourCC("RIFF")) || h.formType != static_cast<int32_t>(fourCC("WAVE")) ||
      h.formatId != static_cast<int32_t>(fourCC("fmt ")) || h.formatTag != kNabFormatTag) {
    return false;
  }
  if (h.channels != 1 && h.channels != 2) return false;
  if (h.coderVersion > maxVersion) return false;
  const uint32_t chunk = in.readLE(4);
  const uint32_t chunkSize = in.readLE(4);
  if (chunk == fourCC("fact")) {
    h.frameCount = static_cast<int32_t>(in.readLE(4));
    if (chunkSize > 4) in.skip(static_cast<int64_t>(chunkSize) - 4);
    in.readLE(4);
    h.dataSize = static_cast<int32_t>(in.readLE(4));
  } else if (chunk == fourCC("data")) {
    h.frameCount = static_cast<int32_t>(chunkSize) / (2 * h.channels);
    h.dataSize = static_cast<int32_t>(chunkSize);
  } else {
    return false;
  }
  preambleLength = -1;
  const int first = in.get();
  const int second = first == EOF ? EOF : in.get();
  if (second != EOF) preambleLength = first | (second << 8);
  return true;
}

bool usableBlockLength(int64_t blockLength) { return blockLength >= 1 && blockLength <= NUBO_MAX_SAMPLES; }

// Creates the output's directories: every prefix of the directory being
// processed that ends before a '/' (failures are harmless), then the
// directory itself.
bool makeOutputDirectories(const std::string& directory) {
  for (std::size_t i = 1; i < directory.size(); ++i) {
    if (directory[i] == '/') platform::createDirectory(directory.substr(0, i));
  }
  return platform::createDirectory(directory);
}

// The output side of the preparation: an output that is the input itself is
// refused, an existing output skipped (option A clear), directories and the
// file created. 0 when `out` is open, else 9 or 999 as the job result.
int openOutput(RunState& run, OutputFile& out) {
  if (run.outputPath == run.inputPath || platform::sameFile(run.outputPath, run.inputPath)) {
    passOver(run, kEntryOutputIsInput, run.outputPath);
    return 9;
  }
  if (!run.params.optionA) {
    InputFile existing;
    if (existing.open(run.outputPath)) {
      run.frontEnd.setStatusLine(3, run.outputPath);
      run.frontEnd.setStatusLine(2, run.frontEnd.message(kEntryOutputExists));
      ++run.skippedCount;
      return 9;
    }
  }
  if (out.open(run.outputPath)) return 0;
  if (!makeOutputDirectories(run.outputDirectory)) {
    stop(run, kEntryCannotMakeDirectory, run.outputDirectory);
    return 999;
  }
  if (!out.open(run.outputPath)) {
    stop(run, kEntryCannotCreate, run.outputPath);
    return 999;
  }
  return 0;
}

JobResult asResult(int r) { return r == 9 ? JobResult::Skipped : JobResult::StopBatch; }

// The end of a job that wrote a compressed file: sizes corrected, the file
// closed, the size change and the count line shown.
JobResult completeOutput(RunState& run, OutputFile& out, int64_t outBytes, int64_t inBytes, int64_t pcmBytes) {
  if (!finishCompressedFile(out, outBytes)) return stop(run, kEntryWriteError, run.outputPath);
  showSizeChange(run, outBytes, inBytes, pcmBytes);
  ++run.doneCount;
  showCountLine(run);
  return JobResult::Converted;
}

bool tooLarge(int64_t dataBytes) { return dataBytes + kHeaderBytes - 8 > kRiffLimit; }

// The block stream of a compressed file, read and decoded one block at a
// time from just after the preamble. Every job that reads a compressed file
// goes through it, so all of them end the stream and reject damage alike.
class BlockStream {
 public:
  enum class Step {
    End,      // no more blocks
    Block,    // codec.samples holds the block's decodedCount samples
    Damaged,  // cut short, or a block that does not decode
  };

  BlockStream(InputFile& in, const NabHeader& h, int64_t blockLength)
      : in_(in), header_(h), blockLength_(blockLength) {}

  Step next(Codec& codec) {
    if (ended_) return Step::End;
    const BlockRead read = readBlock(in_, codec.block);
    if (read == BlockRead::End) return Step::End;
    if (read == BlockRead::Truncated) return Step::Damaged;
    codec.params.flags = NUBO_FLAG_DECODE;
    codec.params.sampleCount = static_cast<uint16_t>(blockLength_);
    codec.params.channels = static_cast<uint16_t>(header_.channels);
    codec.params.coderVersion = static_cast<uint32_t>(header_.coderVersion);
    codec.params.coderParameter = header_.coderParameter;
    // A block whose decoder took bytes beyond the end of the file is damaged
    // too: those bytes were only the reader's filling.
    if (codec.call() != NUBO_OK || codec.params.codeSize > codec.block.available) return Step::Damaged;
    // A block with a count extension is the last one.
    ended_ = codec.block.countExtension();
    return Step::Block;
  }

 private:
  InputFile& in_;
  const NabHeader& header_;
  const int64_t blockLength_;
  bool ended_ = false;
};

// --- Re-encode (job kind 4) ---------------------------------------------------

JobResult reencode(RunState& run) {
  FrontEnd& fe = run.frontEnd;
  InputFile in;
  if (!in.open(run.inputPath)) return stop(run, kEntryCannotOpen, run.inputPath);
  NabHeader h;
  int64_t preambleLength = 0;
  if (!readCompressedHeader(in, h, 21, preambleLength)) return JobResult::Skipped;
  const int64_t blockLength = blockLengthOf(h.channels, h.sampleRate);
  if (!usableBlockLength(blockLength)) return passOver(run, kEntryUnsupportedRate, run.inputPath);
  if (preambleLength < 0) return stop(run, kEntryDamaged, run.inputPath);

  OutputFile out;
  if (const int r = openOutput(run, out); r != 0) return asResult(r);

  NabHeader written = h;
  written.coderVersion = 22;
  bool ok = writeHeader(out, written) && out.writeLE(2, static_cast<uint32_t>(preambleLength)) == 0;
  uint8_t chunk[4096];
  for (int64_t left = preambleLength; left > 0;) {
    const std::size_t n = in.read(chunk, static_cast<std::size_t>(std::min<int64_t>(left, sizeof chunk)));
    if (n == 0) return stop(run, kEntryDamaged, run.inputPath);  // the file ends inside its preamble
    ok = out.write(chunk, n) && ok;
    left -= static_cast<int64_t>(n);
  }
  if (!ok) return stop(run, kEntryWriteError, run.outputPath);

  Codec codec;
  BlockStream blocks(in, h, blockLength);
  int64_t inBytes = preambleLength + 2;
  int64_t outBytes = preambleLength + 2;
  int64_t pcmBytes = 0;
  Progress progress(run, kEntryProgressReencode);
  for (;;) {
    if (fe.cancelRequested()) return cancelled(run);
    progress.update(pcmBytes);
    const BlockStream::Step step = blocks.next(codec);
    if (step == BlockStream::Step::End) break;
    // A damaged block is never re-encoded from garbage.
    if (step == BlockStream::Step::Damaged) return stop(run, kEntryDamaged, run.inputPath);
    inBytes += codec.block.sizeField;
    const int n = codec.params.decodedCount;
    codec.params.flags = blockEncodeFlags(n, blockLength);
    codec.params.sampleCount = static_cast<uint16_t>(n);
    codec.params.coderVersion = 22;
    pcmBytes += 2 * n;
    const int r = codec.call();
    outBytes += codec.params.codeSize;
    if (r != NUBO_OK || !out.write(codec.block.bytes, codec.params.codeSize)) {
      return stop(run, kEntryWriteError, run.outputPath);
    }
    if (tooLarge(outBytes)) return stop(run, kEntryTooLarge, run.outputPath);
  }
  in.close();
  return completeOutput(run, out, outBytes, inBytes, pcmBytes);
}

// --- Encode pass (job kind 2) ----------------------------------------------------

JobResult encode(RunState& run) {
  FrontEnd& fe = run.frontEnd;
  InputFile in;
  if (!in.open(run.inputPath)) return stop(run, kEntryCannotOpen, run.inputPath);
  WaveInfo wave;
  if (!readWaveHeader(in, wave)) return JobResult::Skipped;
  const int64_t blockLength = blockLengthOf(wave.channels, wave.sampleRate);
  if (!usableBlockLength(blockLength)) return passOver(run, kEntryUnsupportedRate, run.inputPath);

  OutputFile out;
  if (const int r = openOutput(run, out); r != 0) return asResult(r);
  NabHeader h;
  h.channels = wave.channels;
  h.sampleRate = static_cast<int32_t>(wave.sampleRate);
  h.byteRate = static_cast<int32_t>(wave.byteRate);
  h.blockAlign = wave.blockAlign;
  h.bitsPerSample = wave.bitsPerSample;
  h.frameCount = static_cast<int32_t>(wave.dataBytes / (2 * wave.channels));
  if (!writeHeader(out, h) || out.writeLE(2, 0) != 0) return stop(run, kEntryWriteError, run.outputPath);

  Codec codec;
  codec.params.channels = static_cast<uint16_t>(wave.channels);
  codec.params.coderVersion = 22;
  int64_t outBytes = 2;
  int64_t pcmBytes = 0;
  int64_t dataLeft = wave.dataBytes & ~int64_t{1};
  Progress progress(run, kEntryProgressEncode);
  for (;;) {
    if (fe.cancelRequested()) return cancelled(run);
    progress.update(pcmBytes);
    const auto want = static_cast<std::size_t>(std::min<int64_t>(2 * blockLength, dataLeft));
    const std::size_t got = in.read(codec.samples, want) & ~std::size_t{1};
    if (got == 0) break;
    dataLeft -= static_cast<int64_t>(got);
    const int n = static_cast<int>(got / 2);
    codec.params.flags = blockEncodeFlags(n, blockLength);
    codec.params.sampleCount = static_cast<uint16_t>(n);
    pcmBytes += static_cast<int64_t>(got);
    const int r = codec.call();
    if (r != NUBO_OK) {
      fe.setStatusLine(2, format("ierr= %d, codesize=%d, smple No.=%ld", r, codec.params.codeSize,
                                 static_cast<long>(pcmBytes)));
      fe.setStatusLine(3, run.outputPath);
      fe.idleState(999);
      return JobResult::StopBatch;
    }
    outBytes += codec.params.codeSize;
    if (!out.write(codec.block.bytes, codec.params.codeSize)) return stop(run, kEntryWriteError, run.outputPath);
    if (tooLarge(outBytes)) return stop(run, kEntryTooLarge, run.outputPath);
    if (n != blockLength) break;  // a shorter block, with its count extension, ends the stream
  }
  in.close();
  return completeOutput(run, out, outBytes, pcmBytes, pcmBytes);
}

// --- Verify (job kind 5): the compressed input against the WAVE output path ---------

JobResult verify(RunState& run) {
  FrontEnd& fe = run.frontEnd;
  InputFile in;
  if (!in.open(run.inputPath)) return stop(run, kEntryCannotOpen, run.inputPath);
  NabHeader h;
  int64_t preambleLength = 0;
  if (!readCompressedHeader(in, h, 22, preambleLength)) return JobResult::Skipped;
  const int64_t blockLength = blockLengthOf(h.channels, h.sampleRate);
  if (!usableBlockLength(blockLength)) return passOver(run, kEntryUnsupportedRate, run.inputPath);
  if (preambleLength < 0 || (preambleLength > 0 && !in.skip(preambleLength))) {
    return stop(run, kEntryVerifyFailed, run.outputPath);
  }
  InputFile pcm;
  WaveInfo wave;
  if (!pcm.open(run.outputPath) || !readWaveHeader(pcm, wave) || wave.channels != h.channels) {
    return stop(run, kEntryVerifyFailed, run.outputPath);
  }

  Codec codec;
  BlockStream blocks(in, h, blockLength);
  uint8_t reference[2 * NUBO_MAX_SAMPLES];
  int64_t pcmBytes = 0;
  int64_t dataLeft = wave.dataBytes & ~int64_t{1};
  Progress progress(run, kEntryProgressVerify);
  for (;;) {
    if (fe.cancelRequested()) return cancelled(run);
    progress.update(pcmBytes);
    const BlockStream::Step step = blocks.next(codec);
    if (step == BlockStream::Step::End) break;
    if (step == BlockStream::Step::Damaged) return stop(run, kEntryVerifyFailed, run.outputPath);
    const std::size_t bytes = 2u * codec.params.decodedCount;
    if (static_cast<int64_t>(bytes) > dataLeft || pcm.read(reference, bytes) != bytes ||
        std::memcmp(reference, codec.samples, bytes) != 0) {
      return stop(run, kEntryVerifyFailed, run.outputPath);
    }
    dataLeft -= static_cast<int64_t>(bytes);
    pcmBytes += static_cast<int64_t>(bytes);
  }
  // Audio left over in the WAVE file is a difference too.
  uint8_t extra;
  if (dataLeft > 0 && pcm.read(&extra, 1) == 1) return stop(run, kEntryVerifyFailed, run.outputPath);
  ++run.doneCount;
  showCountLine(run);
  return JobResult::Converted;
}

}  // namespace

void showCountLine(RunState& run) {
  FrontEnd& fe = run.frontEnd;
  if (run.params.optionA) {
    fe.setStatusLine(3, format("%ld %s", run.doneCount, fe.message(kEntryCountDone).c_str()));
  } else {
    fe.setStatusLine(3, format("%ld %s  %ld %s", run.doneCount, fe.message(kEntryCountDone).c_str(),
                               run.skippedCount, fe.message(kEntryCountSkipped).c_str()));
  }
}

JobResult runJob(RunState& run, int jobKind) {
  switch (jobKind) {
    case kJobEncode:
      return encode(run);
    case kJobEncodeVerify: {
      const JobResult first = encode(run);
      if (first != JobResult::Converted) return first;
      std::swap(run.inputPath, run.outputPath);
      --run.doneCount;
      showCountLine(run);
      const JobResult second = verify(run);
      std::swap(run.inputPath, run.outputPath);
      return second;
    }
    case kJobReencode:
      return reencode(run);
    case kJobVerify:
      return verify(run);
    default:
      return JobResult::Skipped;
  }
}

// --- Single-file tools ------------------------------------------------------------

JobResult decodeToWave(const std::string& nabPath, const std::string& wavPath, FrontEnd& frontEnd) {
  RunParameters params;
  params.optionA = true;
  RunState run(params, frontEnd);
  run.inputPath = nabPath;
  run.outputPath = wavPath;
  if (nabPath.size() > kMaxPathChars || wavPath.size() > kMaxPathChars) {
    passOver(run, kEntryPathTooLong, nabPath.size() > kMaxPathChars ? nabPath : wavPath);
    frontEnd.idleState(999);
    return JobResult::StopBatch;
  }
  InputFile in;
  if (!in.open(nabPath)) return stop(run, kEntryCannotOpen, nabPath);
  NabHeader h;
  int64_t preambleLength = 0;
  if (!readCompressedHeader(in, h, 22, preambleLength)) return stop(run, kEntryDamaged, nabPath);
  const int64_t blockLength = blockLengthOf(h.channels, h.sampleRate);
  if (!usableBlockLength(blockLength)) return stop(run, kEntryUnsupportedRate, nabPath);
  if (preambleLength < 0 || (preambleLength > 0 && !in.skip(preambleLength))) return stop(run, kEntryDamaged, nabPath);
  if (platform::sameFile(nabPath, wavPath)) return stop(run, kEntryOutputIsInput, wavPath);
  OutputFile out;
  if (!out.open(wavPath)) return stop(run, kEntryCannotCreate, wavPath);
  if (!writeWaveHeader(out, h.channels, h.sampleRate, 0)) return stop(run, kEntryWriteError, wavPath);

  Codec codec;
  BlockStream blocks(in, h, blockLength);
  int64_t pcmBytes = 0;
  Progress progress(run, kEntryProgressDecode);
  for (;;) {
    if (frontEnd.cancelRequested()) return cancelled(run);
    progress.update(pcmBytes);
    const BlockStream::Step step = blocks.next(codec);
    if (step == BlockStream::Step::End) break;
    if (step == BlockStream::Step::Damaged) return stop(run, kEntryDamaged, nabPath);
    const std::size_t bytes = 2u * codec.params.decodedCount;
    pcmBytes += static_cast<int64_t>(bytes);
    if (pcmBytes + 36 > kRiffLimit) return stop(run, kEntryTooLarge, wavPath);
    if (!out.write(codec.samples, bytes)) return stop(run, kEntryWriteError, wavPath);
  }
  out.seek(4);
  out.writeLE(4, static_cast<uint32_t>(pcmBytes + 36));
  out.seek(40);
  out.writeLE(4, static_cast<uint32_t>(pcmBytes));
  if (!out.close()) return stop(run, kEntryWriteError, wavPath);
  return JobResult::Converted;
}

bool describeFile(const std::string& path, FileDescription& d, std::string& error) {
  InputFile in;
  if (!in.open(path)) {
    error = "cannot open the file";
    return false;
  }
  NabHeader h;
  int64_t preambleLength = 0;
  if (!readCompressedHeader(in, h, 0x7FFFFFFF, preambleLength)) {
    error = "not a compressed (.NAB) file";
    return false;
  }
  d.formatTag = h.formatTag;
  d.channels = h.channels;
  d.sampleRate = h.sampleRate;
  d.byteRate = h.byteRate;
  d.blockAlign = h.blockAlign;
  d.bitsPerSample = h.bitsPerSample;
  d.coderVersion = h.coderVersion;
  d.coderParameter = h.coderParameter;
  d.frameCount = h.frameCount;
  d.dataSize = h.dataSize;
  d.riffSize = h.riffSize;
  d.blockLength = blockLengthOf(h.channels, h.sampleRate);
  d.preambleLength = preambleLength;
  if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
    std::fseek(f, 0, SEEK_END);
    d.fileSize = std::ftell(f);
    std::fclose(f);
  }
  if (preambleLength < 0 || (preambleLength > 0 && !in.skip(preambleLength))) {
    d.damaged = true;
    return true;
  }
  if (!usableBlockLength(d.blockLength) || h.coderVersion > 22) return true;  // blocks not readable
  Codec codec;
  BlockStream blocks(in, h, d.blockLength);
  for (BlockStream::Step step; (step = blocks.next(codec)) != BlockStream::Step::End;) {
    if (step == BlockStream::Step::Damaged) {
      d.damaged = true;
      break;
    }
    ++d.blocks;
    d.codeBytes += codec.params.codeSize;
    d.samples += codec.params.decodedCount;
    d.lastBlockHasCountExtension = codec.block.countExtension();
  }
  return true;
}

}  // namespace nubo::converter
