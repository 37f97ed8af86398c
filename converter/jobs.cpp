// SPDX-License-Identifier: BSD-3-Clause
// Re-encode, encode, verify, encode-and-verify, decode and test of one file.
#include "jobs.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "audio_md5.h"
#include "compressed_input.h"
#include "file_formats.h"
#include "foreign_chunks.h"
#include "message_entries.h"
#include "nab_format.h"
#include "os.h"
#include "pcm_stream.h"
#include "safe_output.h"
#include "wave_file.h"

namespace nubo::converter {

namespace {

template <typename... Args>
std::string format(const char* fmt, Args... args) {
  char buffer[1024];
  std::snprintf(buffer, sizeof buffer, fmt, args...);
  return buffer;
}

// Tells the observer of the audio done when its whole number of mebibytes
// changes, so at most once a MiB.
class ProgressReporter {
 public:
  explicit ProgressReporter(RunState& run, bool verifying = false) : run_(run), verifying_(verifying) {}
  void update(int64_t pcmBytes, int64_t inputBytes, int64_t outputBytes = 0) {
    const int64_t m = pcmBytes >> 20;
    if (m == last_) return;
    last_ = m;
    run_.observer.progress(Progress{run_.index, run_.inputPath, pcmBytes, inputBytes, verifying_, outputBytes});
  }

 private:
  RunState& run_;
  const bool verifying_;
  int64_t last_ = 0;
};

bool tooLarge(int64_t dataBytes) { return dataBytes + kHeaderBytes - 8 > kRiffLimit; }

// 0 when `path` is a 16-bit PCM input the encoder takes (WAVE, RF64 or
// FLAC), else the entry of the reason (with `detail`).
int openPcmInput(const std::string& path, std::unique_ptr<PcmSource>& source, std::string& detail,
                 StandardStreams& streams = processStandardStreams()) {
  int entry;
  if (path == "-") {
    auto in = std::make_unique<InputFile>();
    entry = in->adopt(streams.input()) ? openPcmSource(std::move(in), source, detail) : kEntryCannotOpenInput;
  } else {
    entry = openPcmSource(path, source, detail);
  }
  if (entry != 0) return entry;
  if (!usableBlockLength(blockLengthOf(source->format.channels, source->format.sampleRate))) {
    detail = rateProblem(source->format.sampleRate, source->format.channels);
    return kEntryUnsupportedRate;
  }
  return 0;
}

// A file that a job does not take: passed over silently when it was found
// in a directory and is merely of another kind, else refused with its reason.
// `detail` is the system's reason for a file that cannot be opened, else
// what the file is instead.
FileOutcome refuseInput(RunState& run, int entry, const std::string& detail) {
  if (!run.explicitInput && passedOverSilently(run.request.job, entry, run.inputPath)) {
    FileOutcome o = makeOutcome(run, Outcome::PassedOver, entry, run.inputPath);
    o.output.clear();
    return o;
  }
  const bool system = entry == kEntryCannotOpenInput;
  FileOutcome o =
      makeOutcome(run, Outcome::NotConverted, entry, run.inputPath, system ? "" : detail, system ? detail : "");
  o.otherKind = passedOverSilently(run.request.job, entry, run.inputPath);
  return o;
}

// A block that does not decode, at its number and byte offset.
FileOutcome damagedAt(RunState& run, const std::string& path, int64_t block, int64_t offset,
                      const std::string& keptAs = "") {
  FileOutcome o = makeOutcome(run, Outcome::NotConverted, kEntryDamaged, path);
  o.block = block;
  o.offset = offset;
  o.keptAs = keptAs;
  return o;
}

// An output that exists already is not what counts when the input is
// incomplete: a rerun still says so. `o` is the outcome of the skip; when the
// input's header disagrees with its blocks (walked by their size fields),
// it becomes an incomplete one. The input is left where it was.
FileOutcome skippedOrIncomplete(RunState& run, CompressedInput& c, FileOutcome o) {
  if (o.outcome != Outcome::Skipped || c.fileSize < 0) return o;
  const int64_t at = c.file.position();
  std::string what;
  if (!c.file.seek(c.dataStart())) return o;
  const int64_t frames = framesByBlockSizes(c.file, c.blockLength, c.header.channels);
  what = frames < 0 ? "the file ends inside a block" : headerDisagreement(c, frames, c.fileSize);
  c.file.seek(at);
  if (what.empty()) return o;
  FileOutcome incomplete = makeOutcome(run, Outcome::Incomplete, kEntryFileIncomplete, run.inputPath, what);
  incomplete.output = o.output;
  return incomplete;
}

// Opens a compressed file of any version to read its blocks: header checked,
// preamble skipped. False, with `o` the outcome shown, when it cannot be
// read: as a job's input (`asInput`) it may be passed over silently, as the
// file a verify compares it is named with its reason.
bool openBlocks(RunState& run, const std::string& path, CompressedInput& c, FileOutcome& o, bool asInput) {
  std::string detail;
  if (const int entry = openCompressedInput(path, 22, c, detail, *run.streams); entry != 0) {
    o = asInput ? refuseInput(run, entry, detail)
                : makeOutcome(run, Outcome::NotConverted, entry, path, entry == kEntryCannotOpenInput ? "" : detail,
                              entry == kEntryCannotOpenInput ? detail : "");
    return false;
  }
  if (!readPreamble(c)) {
    o = makeOutcome(run, Outcome::NotConverted, kEntryDamaged, path, "the file ends inside its preamble");
    return false;
  }
  return true;
}

// Outcomes of a job that stops or fails while its output is open; the
// partial output stays under its temporary name, which the message names.
FileOutcome cancelled(RunState& run, SafeOutput* output) {
  const std::string kept = output != nullptr ? output->keep() : "";
  return makeOutcome(run, Outcome::Stopped, kEntryStopped, run.inputPath, "", "", kept);
}
FileOutcome writeFailed(RunState& run, SafeOutput& output, const std::string& reason) {
  // A file larger than the process may write (ulimit -f) fails alone: the
  // next, smaller file may fit. Any other write failure stops the run.
  const Outcome outcome = reason == platform::systemReason(EFBIG) ? Outcome::NotConverted : Outcome::Stopped;
  return makeOutcome(run, outcome, kEntryWriteError, run.outputPath, "", reason, output.keep());
}
FileOutcome writeFailed(RunState& run, SafeOutput& output) {
  const std::string reason = output.file().error();
  return writeFailed(run, output, reason);
}
FileOutcome damaged(RunState& run, const BlockStream& blocks, SafeOutput* output) {
  const std::string kept = output != nullptr ? output->keep() : "";
  return damagedAt(run, run.inputPath, blocks.blockNumber(), blocks.blockOffset(), kept);
}

// The outcome of a file whose output has its name: converted, or for an
// input whose header disagrees with it, incomplete (converted as far as it
// goes). A problem met after the naming goes with it as its warning.
FileOutcome converted(RunState& run, const SafeOutput& output, const std::string& disagreement, int64_t outBytes,
                      int64_t inBytes, int64_t pcmBytes, bool showChange) {
  FileOutcome o = disagreement.empty()
                      ? makeOutcome(run, Outcome::Converted, kEntryEmpty, run.outputPath)
                      : makeOutcome(run, Outcome::Incomplete, kEntryInputIncomplete, run.inputPath, disagreement);
  o.inputBytes = inBytes;
  o.outputBytes = outBytes;
  o.pcmBytes = pcmBytes;
  o.showSizeChange = showChange;
  output.addCommitWarning(o);
  return o;
}

// --- Re-encode (job kind 4) ---------------------------------------------------

FileOutcome reencode(RunState& run) {
  CompressedInput c;
  std::string detail;
  if (const int entry = openCompressedInput(run.inputPath, 21, c, detail, *run.streams); entry != 0) {
    return refuseInput(run, entry, detail);
  }
  SafeOutput output(run, fileFormat(OutputFormat::Nab));
  FileOutcome refused;
  if (!output.begin(refused)) return skippedOrIncomplete(run, c, refused);
  OutputFile& out = output.file();

  NabHeader written = c.header;
  written.coderVersion = 22;
  const int64_t preambleLength = c.layout.preambleLength;
  bool ok = writeHeader(out, written) && out.writeLE(2, static_cast<uint32_t>(preambleLength)) == 0;
  uint8_t chunk[4096];
  for (int64_t left = preambleLength; left > 0;) {
    const std::size_t n = c.file.read(chunk, static_cast<std::size_t>(std::min<int64_t>(left, sizeof chunk)));
    if (n == 0) {
      return makeOutcome(run, Outcome::NotConverted, kEntryDamaged, run.inputPath, "the file ends inside its preamble",
                         "", output.keep());
    }
    ok = out.write(chunk, n) && ok;
    left -= static_cast<int64_t>(n);
  }
  if (!ok) return writeFailed(run, output);

  Codec codec;
  BlockStream blocks(c);
  int64_t inBytes = preambleLength + 2;
  int64_t outBytes = preambleLength + 2;
  int64_t pcmBytes = 0;
  AudioMd5 md5;
  ProgressReporter progress(run);
  for (;;) {
    if (run.stopRequested()) return cancelled(run, &output);
    progress.update(pcmBytes, blocks.endOffset(), outBytes);
    const BlockStream::Step step = blocks.next(codec);
    if (step == BlockStream::Step::End) break;
    // A damaged block is never re-encoded from garbage.
    if (step == BlockStream::Step::Damaged) return damaged(run, blocks, &output);
    inBytes += codec.block.sizeField;
    const int n = codec.params.decodedCount;
    if (run.request.options.md5) md5.update(codec.samples, 2u * static_cast<unsigned>(n));
    codec.params.flags = blockEncodeFlags(n, c.blockLength);
    codec.params.sampleCount = static_cast<uint16_t>(n);
    codec.params.coderVersion = 22;
    pcmBytes += 2 * n;
    const int r = codec.encode(run.request.options.best);
    outBytes += codec.params.codeSize;
    if (r != NUBO_OK) {
      return makeOutcome(run, Outcome::Stopped, kEntryWriteError, run.outputPath,
                         "encoder result " + std::to_string(r), "", output.keep());
    }
    if (!out.write(codec.block.bytes, codec.params.codeSize)) return writeFailed(run, output);
    if (tooLarge(outBytes)) {
      return makeOutcome(run, Outcome::NotConverted, kEntryTooLarge, run.outputPath, "", "", output.keep());
    }
  }
  const int64_t frames = pcmBytes / (2 * c.header.channels);
  if (!finishCompressedFile(out, outBytes, frames)) return writeFailed(run, output);
  FileOutcome failed;
  if (!output.commit(failed)) return failed;
  // The true size of the input's blocks: a last block with a count extension
  // runs to the end of the file, whatever its size field (4095) says.
  const int64_t trueInBytes = preambleLength + 2 + blocks.endOffset() - c.dataStart();
  FileOutcome o = converted(run, output, headerDisagreement(c, frames, lengthOf(c, blocks)), outBytes, trueInBytes,
                            pcmBytes, true);
  o.countedInputBytes = inBytes;
  if (run.request.options.md5) o.md5 = md5.hex();
  o.frames = frames;
  return o;
}

// --- Verify: a compressed file against the audio of a WAVE or FLAC file -----------

// Compares; Converted when the audio is the same, else the outcome already
// shown (the subject is the file at fault).
FileOutcome compareWithReference(RunState& run, const std::string& nabPath, const std::string& referencePath) {
  CompressedInput c;
  if (FileOutcome refused; !openBlocks(run, nabPath, c, refused, false)) return refused;
  std::unique_ptr<PcmSource> reference;
  std::string detail;
  if (const int entry = openPcmSource(referencePath, reference, detail); entry != 0) {
    const bool system = entry == kEntryCannotOpenInput;
    return makeOutcome(run, Outcome::NotConverted, entry, referencePath, system ? "" : detail, system ? detail : "");
  }
  if (reference->format.channels != c.header.channels || reference->format.sampleRate != c.header.sampleRate) {
    return makeOutcome(run, Outcome::NotConverted, kEntryFormatDiffers, referencePath,
                       format("%lld Hz, %d channel(s); the compressed file: %d Hz, %d channel(s)",
                              static_cast<long long>(reference->format.sampleRate), reference->format.channels,
                              c.header.sampleRate, c.header.channels));
  }

  Codec codec;
  BlockStream blocks(c);
  uint8_t expected[2 * NUBO_MAX_SAMPLES];
  int64_t pcmBytes = 0;
  ProgressReporter progress(run, true);
  for (;;) {
    if (run.stopRequested()) return cancelled(run, nullptr);
    progress.update(pcmBytes, blocks.endOffset());
    const BlockStream::Step step = blocks.next(codec);
    if (step == BlockStream::Step::End) break;
    if (step == BlockStream::Step::Damaged) return damagedAt(run, nabPath, blocks.blockNumber(), blocks.blockOffset());
    const std::size_t bytes = 2u * codec.params.decodedCount;
    if (reference->read(expected, bytes) != bytes || std::memcmp(expected, codec.samples, bytes) != 0) {
      return makeOutcome(run, Outcome::NotConverted, kEntryVerifyFailed, referencePath, reference->error());
    }
    pcmBytes += static_cast<int64_t>(bytes);
  }
  // Audio left over in the reference is a difference too.
  uint8_t extra[2];
  if (reference->read(extra, 2) != 0 || !reference->error().empty()) {
    return makeOutcome(run, Outcome::NotConverted, kEntryVerifyFailed, referencePath, reference->error());
  }
  FileOutcome o = makeOutcome(run, Outcome::Converted, kEntryEmpty, referencePath);
  o.input = nabPath;
  o.output = referencePath;
  o.pcmBytes = pcmBytes;
  o.frames = pcmBytes / (2 * c.header.channels);
  return o;
}

FileOutcome verify(RunState& run) { return compareWithReference(run, run.inputPath, run.outputPath); }

// --- Encode pass (job kind 2), and encode and verify (3) ------------------------

FileOutcome encode(RunState& run, bool verifyAfter) {
  std::unique_ptr<PcmSource> source;
  std::string detail;
  if (const int entry = openPcmInput(run.inputPath, source, detail, *run.streams); entry != 0) {
    return refuseInput(run, entry, detail);
  }
  const PcmFormat pcm = source->format;
  const bool sizeFieldWrong = source->sizeFieldWrong;
  const int64_t blockLength = blockLengthOf(pcm.channels, pcm.sampleRate);
  SafeOutput output(run, fileFormat(OutputFormat::Nab));
  FileOutcome refused;
  if (!output.begin(refused)) return refused;
  OutputFile& out = output.file();
  if (source->sizeFieldWrong) run.observer.fileNotice(FileNotice{run.index, kEntryWaveSizeWrong, run.inputPath});
  // A FLAC file made from a compressed file gives back its preamble and
  // coder parameter.
  NabHeader h;
  h.channels = pcm.channels;
  h.sampleRate = static_cast<int32_t>(pcm.sampleRate);
  h.byteRate = static_cast<int32_t>(pcm.byteRate);
  h.blockAlign = pcm.blockAlign;
  h.bitsPerSample = pcm.bitsPerSample;
  h.coderParameter = source->carried.coderParameter;
  h.frameCount = static_cast<int32_t>(std::max<int64_t>(source->expectedBytes, 0) / (2 * pcm.channels));
  // The input's other chunks (bext, LIST, ...) go into the preamble, as far
  // as it holds them; a FLAC file's own NUBO_PREAMBLE comes back as it was.
  ChunkNotes notKept = source->droppedChunks;
  const std::string preamble =
      source->carried.preamble.empty() ? preambleOfChunks(source->foreign, notKept) : source->carried.preamble;
  if (!writeHeader(out, h) || out.writeLE(2, static_cast<uint32_t>(preamble.size())) != 0 ||
      !out.write(reinterpret_cast<const uint8_t*>(preamble.data()), preamble.size())) {
    return writeFailed(run, output);
  }

  Codec codec;
  codec.params.channels = static_cast<uint16_t>(pcm.channels);
  codec.params.coderVersion = 22;
  codec.params.coderParameter = h.coderParameter;
  int64_t outBytes = 2 + static_cast<int64_t>(preamble.size());
  int64_t pcmBytes = 0;
  AudioMd5 md5;
  ProgressReporter progress(run);
  for (;;) {
    if (run.stopRequested()) return cancelled(run, &output);
    progress.update(pcmBytes, pcmBytes, outBytes);
    const std::size_t got = source->read(codec.samples, static_cast<std::size_t>(2 * blockLength));
    if (got == 0) break;
    const int n = static_cast<int>(got / 2);
    codec.params.flags = blockEncodeFlags(n, blockLength);
    codec.params.sampleCount = static_cast<uint16_t>(n);
    pcmBytes += static_cast<int64_t>(got);
    if (run.request.options.md5) md5.update(codec.samples, got);
    const int r = codec.encode(run.request.options.best);
    if (r != NUBO_OK) {
      return makeOutcome(run, Outcome::Stopped, kEntryWriteError, run.outputPath,
                         format("encoder result %d, code size %d, after %ld sample bytes", r, codec.params.codeSize,
                                static_cast<long>(pcmBytes)),
                         "", output.keep());
    }
    outBytes += codec.params.codeSize;
    if (!out.write(codec.block.bytes, codec.params.codeSize)) return writeFailed(run, output);
    if (tooLarge(outBytes)) {
      return makeOutcome(run, Outcome::NotConverted, kEntryTooLarge, run.outputPath, "", "", output.keep());
    }
    if (n != blockLength) break;  // a shorter block, with its count extension, ends the stream
  }
  if (const std::string why = source->error(); !why.empty()) {
    return makeOutcome(run, Outcome::NotConverted, kEntryFlacDamaged, run.inputPath, why, "", output.keep());
  }
  // A WAVE file read from a pipe that ends before its data size: the file
  // read directly is caught by its length before it is read.
  const bool cutShort = source->kind != "FLAC" && !sizeFieldWrong && source->expectedBytes >= 0 &&
                        pcmBytes < (source->expectedBytes & ~int64_t{1});
  if (cutShort) run.observer.fileNotice(FileNotice{run.index, kEntryWaveSizeWrong, run.inputPath});
  // Chunks cut short or damaged are named apart from those too large.
  ChunkNotes damagedChunks;
  ChunkNotes tooLarge;
  for (const ChunkNote& note : notKept) (note.damaged() ? damagedChunks : tooLarge).push_back(note);
  std::string notKeptText = describeChunkNotes(tooLarge);
  if (!source->carried.preamble.empty() && !source->foreign.empty()) {
    // A FLAC file made from a compressed file whose "riff" blocks were
    // added later: its preamble comes back byte for byte, and has no room
    // for them beside it.
    ChunkNotes displaced;
    for (const ForeignChunk& chunk : source->foreign) displaced.push_back({chunk.id(), chunk.bodySize()});
    if (!notKeptText.empty()) notKeptText += "; ";
    notKeptText += describeChunkNotes(displaced) + ", as the preamble kept is the FLAC file's NUBO_PREAMBLE";
  }
  if (const ChunkNotes late = source->lateChunks(); !late.empty()) {
    if (!notKeptText.empty()) notKeptText += "; ";
    notKeptText += describeChunkNotes(late) + " after the audio of a stream read once";
  }
  std::string damagedText = describeChunkNotes(damagedChunks);
  if (!source->chunksProblem.empty()) {
    if (!damagedText.empty()) damagedText += "; ";
    damagedText += source->chunksProblem;
  }
  source.reset();
  const int64_t frames = pcmBytes / (2 * pcm.channels);
  if (!finishCompressedFile(out, outBytes, frames)) return writeFailed(run, output);
  if (verifyAfter) {
    // The output is checked before it takes its final name.
    const FileOutcome check = compareWithReference(run, output.temporaryPath(), run.inputPath);
    if (check.outcome == Outcome::Stopped) return cancelled(run, &output);
    if (check.outcome != Outcome::Converted) {
      FileOutcome failed =
          makeOutcome(run, Outcome::NotConverted, kEntryVerifyFailed, run.outputPath, check.detail, "", output.keep());
      failed.systemError = check.systemError;
      failed.block = check.block;
      failed.offset = check.offset;
      return failed;
    }
  }
  FileOutcome failed;
  if (!output.commit(failed)) return failed;
  FileOutcome o = converted(run, output, "", outBytes, pcmBytes, pcmBytes, true);
  o.frames = frames;
  if (run.request.options.md5) o.md5 = md5.hex();
  if ((sizeFieldWrong || cutShort) && o.warning == kEntryEmpty) o.warning = kEntryWaveSizeWrong;
  // The audio is whole: chunks left out are a warning, not a failure.
  if (!damagedText.empty() && o.warning == kEntryEmpty) {
    o.warning = kEntryChunksDamaged;
    o.warningDetail = damagedText;
    if (!notKeptText.empty()) o.warningDetail += "; too large to keep: " + notKeptText;
  }
  if (!notKeptText.empty() && o.warning == kEntryEmpty) {
    o.warning = kEntryChunksNotKept;
    o.warningDetail = notKeptText;
  }
  return o;
}

// --- Decode (job kind 6): a compressed file of any version to a PCM WAVE file ----

FileOutcome decode(RunState& run) {
  CompressedInput c;
  if (FileOutcome refused; !openBlocks(run, run.inputPath, c, refused, true)) return refused;
  // The frames to announce in the output's header: counted from the blocks'
  // sizes when the input can be read twice, else what its header says (and
  // checked as the blocks are decoded).
  int64_t expectedFrames = c.layout.hasFact ? static_cast<uint32_t>(c.header.frameCount) : 0;
  if (c.fileSize >= 0) {
    const int64_t counted = framesByBlockSizes(c.file, c.blockLength, c.header.channels);
    if (counted >= 0) expectedFrames = counted;
    if (!c.file.seek(c.dataStart())) {
      return makeOutcome(run, Outcome::NotConverted, kEntryCannotOpenInput, run.inputPath, "cannot read it again");
    }
  }
  const FileFormat& writtenFormat = fileFormat(outputFormatOf(run.request));
  SafeOutput output(run, writtenFormat);
  FileOutcome refused;
  if (!output.begin(refused)) return skippedOrIncomplete(run, c, refused);
  PcmFormat pcm;
  pcm.channels = c.header.channels;
  pcm.sampleRate = c.header.sampleRate;
  SinkRequest request;
  request.format = pcm;
  request.expectedFrames = expectedFrames;
  request.level = run.request.options.level;
  request.seekable = output.seekable();
  // The compressed file's fields travel with the audio, where the format can carry them.
  request.carried.present = true;
  request.carried.coderParameter = c.header.coderParameter;
  request.carried.coderVersion = c.header.coderVersion;
  request.carried.preamble = c.preamble;
  std::string error;
  std::unique_ptr<PcmSink> sink = writtenFormat.startSink(output.file(), request, error);
  if (sink == nullptr) return writeFailed(run, output, error);

  Codec codec;
  BlockStream blocks(c);
  int64_t pcmBytes = 0;
  AudioMd5 md5;
  ProgressReporter progress(run);
  for (;;) {
    if (run.stopRequested()) {
      sink->finish(pcmBytes / (2 * pcm.channels));
      return cancelled(run, &output);
    }
    progress.update(pcmBytes, blocks.endOffset());
    const BlockStream::Step step = blocks.next(codec);
    if (step == BlockStream::Step::End) break;
    if (step == BlockStream::Step::Damaged) {
      // The partial output says how much audio it holds.
      sink->finish(pcmBytes / (2 * pcm.channels));
      return damaged(run, blocks, &output);
    }
    const std::size_t bytes = 2u * codec.params.decodedCount;
    pcmBytes += static_cast<int64_t>(bytes);
    if (run.request.options.md5) md5.update(codec.samples, bytes);
    if (!sink->write(codec.samples, bytes)) return writeFailed(run, output, sink->error());
  }
  const int64_t frames = pcmBytes / (2 * pcm.channels);
  if (!sink->finish(frames)) {
    FileOutcome failed = writeFailed(run, output, sink->error());
    failed.outcome = Outcome::NotConverted;
    return failed;
  }
  const int64_t outBytes = sink->bytesWritten();
  sink.reset();
  FileOutcome failed;
  if (!output.commit(failed)) return failed;
  FileOutcome o = converted(run, output, headerDisagreement(c, frames, lengthOf(c, blocks)), outBytes,
                            std::max<int64_t>(c.fileSize, lengthOf(c, blocks)), pcmBytes, false);
  o.frames = frames;
  if (run.request.options.md5) o.md5 = md5.hex();
  // A FLAC output carries such a preamble as it is; a WAVE output has no
  // place for it. The audio is whole, so it is a warning.
  if (outputFormatOf(run.request) != OutputFormat::Flac && keptChunksDamaged(c.preamble) && o.warning == kEntryEmpty) o.warning = kEntryKeptChunksDamaged;
  return o;
}

// --- Test (job kind 7): every block decodes and the header agrees ------------------

FileOutcome test(RunState& run) {
  CompressedInput c;
  if (FileOutcome refused; !openBlocks(run, run.inputPath, c, refused, true)) return refused;
  Codec codec;
  BlockStream blocks(c);
  int64_t samples = 0;
  AudioMd5 md5;
  ProgressReporter progress(run);
  for (;;) {
    if (run.stopRequested()) return cancelled(run, nullptr);
    progress.update(2 * samples, blocks.endOffset());
    const BlockStream::Step step = blocks.next(codec);
    if (step == BlockStream::Step::End) break;
    if (step == BlockStream::Step::Damaged) return damaged(run, blocks, nullptr);
    samples += codec.params.decodedCount;
    if (run.request.options.md5) md5.update(codec.samples, 2u * codec.params.decodedCount);
  }
  const int64_t frames = samples / c.header.channels;
  if (const std::string what = headerDisagreement(c, frames, lengthOf(c, blocks)); !what.empty()) {
    return makeOutcome(run, Outcome::NotConverted, kEntryFileIncomplete, run.inputPath, what);
  }
  FileOutcome o = makeOutcome(run, Outcome::Converted, kEntryTestOk, run.inputPath);
  o.frames = frames;
  o.pcmBytes = 2 * samples;
  o.inputBytes = lengthOf(c, blocks);
  if (run.request.options.md5) o.md5 = md5.hex();
  if (keptChunksDamaged(c.preamble)) o.warning = kEntryKeptChunksDamaged;
  return o;
}

}  // namespace

FileOutcome makeOutcome(const RunState& run, Outcome outcome, int reason, const std::string& subject,
                        const std::string& detail, const std::string& systemError, const std::string& keptAs) {
  FileOutcome o;
  o.index = run.index;
  o.outcome = outcome;
  o.job = run.request.job;
  o.input = run.inputPath;
  o.output = run.outputPath;
  o.reason = static_cast<Msg>(reason);
  o.subject = subject;
  o.detail = detail;
  o.systemError = systemError;
  o.keptAs = keptAs;
  return o;
}

bool looksLikeInputOf(Job job, const std::string& path) {
  // An encode reads the formats of PCM audio, every other job the compressed file.
  const bool pcm = job == Job::Encode || job == Job::EncodeVerify;
  const auto formats = fileFormats();
  const auto read = [pcm](const FileFormat* format) { return format->carriesPcm() == pcm; };
  if (std::any_of(formats.begin(), formats.end(),
                  [&](const FileFormat* format) { return read(format) && goesByNameOf(path, *format); })) {
    return true;
  }
  InputFile in;
  if (!in.open(path)) return false;
  uint8_t head[kHeadBytes];
  return recognise(in, 0, {head, in.read(head, sizeof head)}, pcm) != nullptr;
}

bool passedOverSilently(Job job, int entry, const std::string& path) {
  // An old-file upgrade passes over what is done already.
  if (entry == kEntryAlreadyVersion22) return true;
  if (entry != kEntryNotCompressed && entry != kEntryNotPcmWave) return false;
  // What has the name or the signature of the job's inputs but cannot be
  // read is damage, and damage is always reported.
  return !looksLikeInputOf(job, path);
}

bool isJobInput(Job job, const std::string& path, int& entry, std::string& detail) {
  detail.clear();
  if (path == "-") {  // the standard input is read once, by the job
    entry = 0;
  } else if (job == Job::Encode || job == Job::EncodeVerify) {
    std::unique_ptr<PcmSource> source;
    entry = openPcmInput(path, source, detail);
  } else {
    CompressedInput c;
    entry = openCompressedInput(path, job == Job::Reencode ? 21 : 22, c, detail);
  }
  return entry == 0;
}

FileOutcome runJob(RunState& run) {
  switch (run.request.job) {
    case Job::Encode:
      return encode(run, false);
    case Job::EncodeVerify:
      return encode(run, true);
    case Job::Reencode:
      return reencode(run);
    case Job::Verify:
      return verify(run);
    case Job::Decode:
      return decode(run);
    case Job::Test:
      return test(run);
  }
  return makeOutcome(run, Outcome::PassedOver, kEntryEmpty, run.inputPath);
}
}  // namespace nubo::converter
