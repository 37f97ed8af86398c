// SPDX-License-Identifier: BSD-3-Clause
// Each format's descriptor: how it is recognised, whether an existing file
// is a complete output of its kind, its source and its sink, through memory
// and through a pipe; and the registry that names them.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

#include "le_bytes.h"
#include "file_formats.h"
#include "foreign_chunks.h"
#include "jobs.h"
#include "message_entries.h"
#include "nab_format.h"
#include "nubocodec.h"

namespace nubo::converter {
namespace {

using test::getLE;
using test::putLE;

// Stereo samples of a slow ramp with a little noise, as 16-bit LE bytes.
std::vector<uint8_t> stereoPcm(std::size_t frames) {
  std::vector<uint8_t> pcm;
  uint32_t noise = 12345;
  for (std::size_t i = 0; i < frames; ++i) {
    for (int c = 0; c < 2; ++c) {
      noise = noise * 1103515245u + 12345u;
      const auto v = static_cast<int16_t>(static_cast<int>(i * 7 % 20000) - 10000 + c * 300 + (noise >> 28));
      putLE(pcm, static_cast<uint16_t>(v), 2);
    }
  }
  return pcm;
}

std::vector<uint8_t> waveFile(const std::vector<uint8_t>& pcm, uint32_t riffExtra = 0) {
  std::vector<uint8_t> w;
  putLE(w, fourCC("RIFF"), 4);
  putLE(w, static_cast<uint32_t>(36 + pcm.size()) + riffExtra, 4);
  putLE(w, fourCC("WAVE"), 4);
  putLE(w, fourCC("fmt "), 4);
  putLE(w, 16, 4);
  putLE(w, 1, 2);
  putLE(w, 2, 2);
  putLE(w, 44100, 4);
  putLE(w, 176400, 4);
  putLE(w, 4, 2);
  putLE(w, 16, 2);
  putLE(w, fourCC("data"), 4);
  putLE(w, static_cast<uint32_t>(pcm.size()), 4);
  w.insert(w.end(), pcm.begin(), pcm.end());
  return w;
}

// A stereo 44100 Hz compressed file of `version` whose blocks are real
// encodings of `pcm`; its header sizes and frame count are right.
std::vector<uint8_t> nabFile(const std::vector<uint8_t>& pcm, int version) {
  NabHeader h;
  h.channels = 2;
  h.sampleRate = 44100;
  h.coderVersion = version;
  MemorySink out;
  writeHeader(out, h);
  out.writeLE(2, 0);
  const std::size_t blockLength = 1764;
  ConvertParams params{};
  params.channels = 2;
  params.coderVersion = static_cast<uint32_t>(version);
  std::vector<uint8_t> samples(2 * NUBO_MAX_SAMPLES), code(NUBO_MAX_CODE_BLOCK_BYTES);
  int64_t dataBytes = 2;
  for (std::size_t at = 0; at < pcm.size();) {
    const std::size_t n = std::min(blockLength, (pcm.size() - at) / 2);
    std::copy(pcm.begin() + static_cast<std::ptrdiff_t>(at), pcm.begin() + static_cast<std::ptrdiff_t>(at + 2 * n),
              samples.begin());
    params.flags = blockEncodeFlags(static_cast<int64_t>(n), blockLength);
    params.sampleCount = static_cast<uint16_t>(n);
    EXPECT_EQ(NuboWaveConvert(&params, samples.data(), code.data()), NUBO_OK);
    out.write(code.data(), params.codeSize);
    dataBytes += params.codeSize;
    at += 2 * n;
  }
  finishCompressedFile(out, dataBytes, static_cast<int64_t>(pcm.size() / 4));
  return out.bytes();
}

// The first bytes of a file, as recognition sees them.
std::span<const uint8_t> headOf(const std::vector<uint8_t>& file) {
  return {file.data(), std::min(file.size(), kHeadBytes)};
}

ExistingFile inspect(OutputFormat id, const std::vector<uint8_t>& file) {
  MemorySource in(file);
  return fileFormat(id).inspectExisting(in);
}

// Everything a source gives.
std::vector<uint8_t> readAll(PcmSource& source) {
  std::vector<uint8_t> all;
  uint8_t buffer[1000];
  for (std::size_t got; (got = source.read(buffer, sizeof buffer)) > 0;) all.insert(all.end(), buffer, buffer + got);
  return all;
}

// A pipe fed by a thread, read through an InputFile that adopted its reading
// end. The streams here are written whole before the reader stops.
class Pipe {
 public:
  explicit Pipe(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {
    int fds[2];
#ifdef _WIN32
    EXPECT_EQ(_pipe(fds, 65536, _O_BINARY), 0);
    std::FILE* reading = _fdopen(fds[0], "rb");
    std::FILE* writing = _fdopen(fds[1], "wb");
#else
    EXPECT_EQ(pipe(fds), 0);
    std::FILE* reading = fdopen(fds[0], "rb");
    std::FILE* writing = fdopen(fds[1], "wb");
#endif
    in = std::make_unique<InputFile>();
    EXPECT_TRUE(in->adopt(reading));
    writer_ = std::thread([this, writing] {
      std::fwrite(bytes_.data(), 1, bytes_.size(), writing);
      std::fclose(writing);
    });
  }
  ~Pipe() { writer_.join(); }
  std::unique_ptr<InputFile> in;

 private:
  std::vector<uint8_t> bytes_;
  std::thread writer_;
};

TEST(FileFormatRegistry, NamesExtensionsAndLookupByExtension) {
  EXPECT_EQ(fileFormat(OutputFormat::Nab).name(), "NAB");
  EXPECT_EQ(fileFormat(OutputFormat::Wave).name(), "WAVE");
  EXPECT_EQ(fileFormat(OutputFormat::Flac).name(), "FLAC");
  EXPECT_EQ(fileFormat(OutputFormat::Nab).replacementExtension(), ".NAB");
  EXPECT_EQ(fileFormat(OutputFormat::Wave).replacementExtension(), ".wav");
  EXPECT_EQ(fileFormat(OutputFormat::Flac).replacementExtension(), ".flac");
  EXPECT_EQ(fileFormats().size(), 3u);

  EXPECT_EQ(formatByExtension("take.FLAC"), OutputFormat::Flac);
  EXPECT_EQ(formatByExtension("dir/take.wav"), OutputFormat::Wave);
  EXPECT_EQ(formatByExtension("take.nab"), OutputFormat::Nab);
  EXPECT_EQ(formatByExtension("take.mp3"), std::nullopt);
  EXPECT_EQ(formatByExtension(".flac"), std::nullopt);  // an extension alone names no file
  EXPECT_EQ(formatByExtension("takeflac"), std::nullopt);
  // What follows the '*' of an output pattern may be the extension alone.
  EXPECT_TRUE(hasExtensionOf(".FLAC", fileFormat(OutputFormat::Flac)));
  EXPECT_TRUE(hasExtensionOf("-take.wav", fileFormat(OutputFormat::Wave)));
  EXPECT_FALSE(hasExtensionOf("take.wav", fileFormat(OutputFormat::Nab)));
  EXPECT_FALSE(hasExtensionOf("lac", fileFormat(OutputFormat::Flac)));

  // Only the PCM formats open as sources and start as sinks; only the
  // compressed file needs to seek back on its output.
  EXPECT_FALSE(fileFormat(OutputFormat::Nab).carriesPcm());
  EXPECT_TRUE(fileFormat(OutputFormat::Wave).carriesPcm());
  EXPECT_TRUE(fileFormat(OutputFormat::Flac).carriesPcm());
  EXPECT_TRUE(fileFormat(OutputFormat::Nab).needsSeekableOutput());
  EXPECT_FALSE(fileFormat(OutputFormat::Wave).needsSeekableOutput());
  EXPECT_EQ(fileFormat(OutputFormat::Nab).otherKindEntry(), kEntryExistingNotVersion22);
  EXPECT_EQ(fileFormat(OutputFormat::Wave).otherKindEntry(), kEntryExistingNotWave);
  EXPECT_EQ(fileFormat(OutputFormat::Flac).otherKindEntry(), kEntryExistingNotFlac);
}

TEST(FileFormatRecognition, EachFormatKnowsItsOwnFirstBytes) {
  const std::vector<uint8_t> nab = nabFile(stereoPcm(100), 22);
  const std::vector<uint8_t> wave = waveFile(stereoPcm(10));
  const std::vector<uint8_t> flac{'f', 'L', 'a', 'C', 0, 0, 0, 34};
  std::vector<uint8_t> rf64 = wave;
  rf64[0] = 'R', rf64[1] = 'F', rf64[2] = '6', rf64[3] = '4';
  const FileFormat& n = fileFormat(OutputFormat::Nab);
  const FileFormat& w = fileFormat(OutputFormat::Wave);
  const FileFormat& f = fileFormat(OutputFormat::Flac);
  EXPECT_TRUE(n.recognises(headOf(nab)));
  EXPECT_FALSE(n.recognises(headOf(wave)));
  EXPECT_FALSE(n.recognises(std::span(nab.data(), 21)));  // too short to hold the format tag
  EXPECT_TRUE(w.recognises(headOf(wave)));
  EXPECT_TRUE(w.recognises(headOf(rf64)));
  EXPECT_FALSE(w.recognises(headOf(flac)));
  EXPECT_TRUE(f.recognises(headOf(flac)));
  EXPECT_FALSE(f.recognises(headOf(wave)));
  EXPECT_FALSE(f.recognises(std::span(flac.data(), 3)));

  // A compressed file is a RIFF WAVE file too, but of its own format tag;
  // as a PCM input the WAVE reader still says what it is (below).
  EXPECT_FALSE(w.recognises(headOf(nab)));
  std::vector<uint8_t> nabRf64 = nab;
  nabRf64[0] = 'R', nabRf64[1] = 'F', nabRf64[2] = '6', nabRf64[3] = '4';
  nabRf64[12] = 'J';  // a damaged chunk identifier before the tag does not hide it
  EXPECT_TRUE(n.recognises(headOf(nabRf64)));
  std::vector<uint8_t> avi = wave;
  avi[8] = 'A', avi[9] = 'V', avi[10] = 'I', avi[11] = ' ';
  EXPECT_FALSE(w.recognises(headOf(avi)));
  EXPECT_FALSE(w.recognises(std::span(wave.data(), 11)));
  EXPECT_TRUE(w.recognises(std::span(wave.data(), 12)));

  // By a stream's content, among the PCM formats or the others; a FLAC
  // file may begin with an ID3v2 tag (libFLAC steps over it), no other may.
  const auto recogniseFile = [](const std::vector<uint8_t>& file, bool pcm) {
    MemorySource in(file);
    return recognise(in, 0, headOf(file), pcm);
  };
  EXPECT_EQ(recogniseFile(flac, true), &f);
  EXPECT_EQ(recogniseFile(rf64, true), &w);
  EXPECT_EQ(recogniseFile(nab, true), nullptr);
  EXPECT_EQ(recogniseFile(nab, false), &n);
  EXPECT_EQ(recogniseFile(wave, false), nullptr);
  const std::vector<uint8_t> text{'h', 'e', 'l', 'l', 'o'};
  EXPECT_EQ(recogniseFile(text, true), nullptr);
  // A tag of `version` with 200 bytes after its header (1 << 7 | 72), and a
  // footer when `flags` says so.
  const auto tagged = [](int version, int flags, const std::vector<uint8_t>& file) {
    std::vector<uint8_t> t(10 + 200 + (flags & 0x10 ? 10 : 0) + file.size(), 0);
    const uint8_t header[] = {'I', 'D', '3', static_cast<uint8_t>(version), 0, static_cast<uint8_t>(flags), 0, 0, 1, 72};
    std::copy(std::begin(header), std::end(header), t.begin());
    std::copy(file.begin(), file.end(), t.end() - static_cast<std::ptrdiff_t>(file.size()));
    return t;
  };
  EXPECT_EQ(id3v2TagLength(headOf(tagged(4, 0x10, flac))), 220);
  EXPECT_EQ(id3v2TagLength(headOf(tagged(3, 0x10, flac))), 210);  // no footer before 2.4
  EXPECT_EQ(recogniseFile(tagged(4, 0x10, flac), true), &f);
  EXPECT_EQ(recogniseFile(tagged(3, 0, flac), true), &f);
  EXPECT_EQ(recogniseFile(tagged(3, 0, wave), true), nullptr);
  EXPECT_EQ(recogniseFile(tagged(3, 0, nab), false), nullptr);
  EXPECT_EQ(recogniseFile(tagged(3, 0, text), true), nullptr);  // an MP3, say
  std::vector<uint8_t> badSize = tagged(3, 0, flac);
  badSize[7] = 0x80;  // a size byte of more than seven bits: no tag
  EXPECT_EQ(recogniseFile(badSize, true), nullptr);

  // The other names WAVE files go by are taken in a walk, never given to an output.
  EXPECT_TRUE(goesByNameOf("take.BWF", w));
  EXPECT_TRUE(goesByNameOf("take.wave", w));
  EXPECT_TRUE(goesByNameOf("take.rf64", w));
  EXPECT_TRUE(goesByNameOf("take.wav", w));
  EXPECT_FALSE(goesByNameOf("take.wav", n));
  EXPECT_TRUE(goesByNameOf("take.nab", n));
  EXPECT_EQ(formatByExtension("take.wave"), std::nullopt);
  EXPECT_FALSE(hasExtensionOf("take.bwf", w));
}

// What a walk counts as the job's own kind although it cannot be read: a
// name or the first bytes of one of the formats the job reads.
TEST(FileFormatRecognition, AWalkKnowsTheJobsInputsByNameOrFirstBytes) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("nubo_formats_walk_" + std::to_string(std::random_device{}()));
  fs::create_directories(dir);
  const auto put = [&dir](const std::string& name, const std::vector<uint8_t>& bytes) {
    std::FILE* f = std::fopen((dir / name).string().c_str(), "wb");
    EXPECT_NE(f, nullptr);
    if (f == nullptr) return std::string();
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return (dir / name).string();
  };
  const std::vector<uint8_t> text{'h', 'e', 'l', 'l', 'o'};
  const std::string nab = put("a.dat", nabFile(stereoPcm(100), 22));
  const std::string wave = put("b.dat", waveFile(stereoPcm(10)));
  const std::string flac = put("c.dat", {'f', 'L', 'a', 'C', 0, 0});
  const std::string textByName[] = {put("d.NaB", text), put("e.bwf", text), put("f.FLAC", text), put("g.Wave", text)};
  const std::string plain = put("h.txt", text);

  for (const Job job : {Job::Reencode, Job::Decode, Job::Test}) {
    EXPECT_TRUE(looksLikeInputOf(job, nab));
    EXPECT_TRUE(looksLikeInputOf(job, textByName[0]));
    for (const std::string& other : {wave, flac, textByName[1], textByName[2], textByName[3], plain}) {
      EXPECT_FALSE(looksLikeInputOf(job, other)) << other;
    }
  }
  for (const Job job : {Job::Encode, Job::EncodeVerify}) {
    for (const std::string& own : {wave, flac, textByName[1], textByName[2], textByName[3]}) {
      EXPECT_TRUE(looksLikeInputOf(job, own)) << own;
    }
    EXPECT_FALSE(looksLikeInputOf(job, nab));
    EXPECT_FALSE(looksLikeInputOf(job, textByName[0]));
    EXPECT_FALSE(looksLikeInputOf(job, plain));
  }
  EXPECT_FALSE(looksLikeInputOf(Job::Encode, (dir / "missing.dat").string()));
  std::error_code ignored;
  fs::remove_all(dir, ignored);
}

TEST(NabDescriptor, ACompleteOutputIsAVersion22FileWhoseHeaderAgreesWithItsBlocks) {
  const std::vector<uint8_t> pcm = stereoPcm(4000);  // two full blocks and a shorter one
  const std::vector<uint8_t> complete = nabFile(pcm, 22);
  EXPECT_EQ(inspect(OutputFormat::Nab, complete), ExistingFile::Complete);

  std::vector<uint8_t> wrongFrames = complete;
  wrongFrames[54] ^= 1;
  EXPECT_EQ(inspect(OutputFormat::Nab, wrongFrames), ExistingFile::Incomplete);
  std::vector<uint8_t> cut(complete.begin(), complete.end() - 10);  // its data size no longer agrees
  EXPECT_EQ(inspect(OutputFormat::Nab, cut), ExistingFile::Incomplete);
  // A data size that agrees with a file cut inside a block: the blocks' size
  // fields do not (four full blocks, no count extension to end the stream).
  std::vector<uint8_t> stopped = nabFile(stereoPcm(4 * 882), 22);
  EXPECT_EQ(inspect(OutputFormat::Nab, stopped), ExistingFile::Complete);
  stopped.resize(stopped.size() - 10);
  const uint32_t data = static_cast<uint32_t>(stopped.size() - 66);
  for (int i = 0; i < 4; ++i) stopped[62 + i] = static_cast<uint8_t>(data >> (8 * i));
  EXPECT_EQ(inspect(OutputFormat::Nab, stopped), ExistingFile::Incomplete);

  // Older coder versions are inputs, never outputs; other kinds are not NAB.
  EXPECT_EQ(inspect(OutputFormat::Nab, nabFile(pcm, 21)), ExistingFile::OtherKind);
  EXPECT_EQ(inspect(OutputFormat::Nab, waveFile(pcm)), ExistingFile::OtherKind);
  EXPECT_EQ(inspect(OutputFormat::Nab, {}), ExistingFile::OtherKind);

  // It is read by its blocks, not as PCM.
  std::unique_ptr<PcmSource> source;
  std::string detail;
  EXPECT_EQ(fileFormat(OutputFormat::Nab).openSource(std::make_unique<MemorySource>(complete), source, detail),
            kEntryNotPcmWave);
  EXPECT_EQ(source, nullptr);
  MemorySink out;
  EXPECT_EQ(fileFormat(OutputFormat::Nab).startSink(out, SinkRequest{}, detail), nullptr);
}

TEST(WaveDescriptor, ACompleteOutputIsCoveredByItsRiffSize) {
  const std::vector<uint8_t> pcm = stereoPcm(33);
  const std::vector<uint8_t> wave = waveFile(pcm);
  EXPECT_EQ(inspect(OutputFormat::Wave, wave), ExistingFile::Complete);
  std::vector<uint8_t> padded = wave;
  padded.push_back(0);  // a pad byte after the last chunk
  EXPECT_EQ(inspect(OutputFormat::Wave, padded), ExistingFile::Complete);
  EXPECT_EQ(inspect(OutputFormat::Wave, waveFile(pcm, 100)), ExistingFile::Incomplete);
  // RIFF, but compressed: also one that is no usable compressed file (three channels).
  std::vector<uint8_t> nab = nabFile(pcm, 22);
  EXPECT_EQ(inspect(OutputFormat::Wave, nab), ExistingFile::OtherKind);
  nab[22] = 3;
  EXPECT_EQ(inspect(OutputFormat::Wave, nab), ExistingFile::OtherKind);
  EXPECT_EQ(inspect(OutputFormat::Nab, nab), ExistingFile::OtherKind);
  EXPECT_EQ(inspect(OutputFormat::Wave, {'f', 'L', 'a', 'C'}), ExistingFile::OtherKind);
}

TEST(WaveDescriptor, SinkWritesWhatTheSourceReadsBackAndReportsItsLength) {
  const std::vector<uint8_t> pcm = stereoPcm(1000);
  SinkRequest request;
  request.format.channels = 2;
  request.format.sampleRate = 44100;
  request.expectedFrames = 1000;
  MemorySink out;
  std::string error;
  std::unique_ptr<PcmSink> sink = fileFormat(OutputFormat::Wave).startSink(out, request, error);
  ASSERT_NE(sink, nullptr) << error;
  ASSERT_TRUE(sink->write(pcm.data(), pcm.size()));
  ASSERT_TRUE(sink->finish(1000));
  EXPECT_EQ(out.bytes(), waveFile(pcm));
  EXPECT_EQ(sink->bytesWritten(), static_cast<int64_t>(out.bytes().size()));

  std::unique_ptr<PcmSource> source;
  ASSERT_EQ(openPcmSource(std::make_unique<MemorySource>(out.bytes()), source, error), 0) << error;
  EXPECT_EQ(source->kind, "WAVE");
  EXPECT_EQ(source->format.channels, 2);
  EXPECT_EQ(source->format.sampleRate, 44100);
  EXPECT_EQ(source->expectedBytes, static_cast<int64_t>(pcm.size()));
  EXPECT_EQ(readAll(*source), pcm);

  // A preamble that holds a WAVE file's chunks: the sink writes them back
  // where they stood (and puts the sizes right when the audio is shorter
  // than announced), and its length counts them.
  ForeignChunks chunks(2);
  chunks[0].place = ChunkPlace::BeforeData;
  chunks[0].bytes = std::string("LIST\x03\0\0\0abc\0", 12);
  chunks[1].place = ChunkPlace::AfterData;
  chunks[1].bytes = std::string("iXML\x04\0\0\0<x/>", 12);
  ChunkNotes dropped;
  request.carried.preamble = preambleOfChunks(chunks, dropped);
  request.expectedFrames = 1001;
  MemorySink withChunks;
  sink = fileFormat(OutputFormat::Wave).startSink(withChunks, request, error);
  ASSERT_NE(sink, nullptr) << error;
  ASSERT_TRUE(sink->write(pcm.data(), pcm.size()));
  ASSERT_TRUE(sink->finish(1000));
  EXPECT_EQ(sink->bytesWritten(), static_cast<int64_t>(withChunks.bytes().size()));
  EXPECT_EQ(withChunks.bytes().size(), out.bytes().size() + 24);
  EXPECT_EQ(getLE(withChunks.bytes(), 4, 4) + 8, withChunks.bytes().size());
  ASSERT_EQ(openPcmSource(std::make_unique<MemorySource>(withChunks.bytes()), source, error), 0) << error;
  EXPECT_EQ(readAll(*source), pcm);
  ASSERT_EQ(source->foreign.size(), 2u);
  EXPECT_EQ(source->foreign[0].bytes, chunks[0].bytes);
  EXPECT_EQ(source->foreign[1].bytes, chunks[1].bytes);
}

TEST(WaveDescriptor, AHeaderThatSaidOtherwiseIsPutRightOrRefusedOnAPipe) {
  const std::vector<uint8_t> pcm = stereoPcm(500);
  SinkRequest request;
  request.format.channels = 2;
  request.format.sampleRate = 44100;
  request.expectedFrames = 600;  // the compressed file's header promised more
  MemorySink out;
  std::string error;
  std::unique_ptr<PcmSink> sink = fileFormat(OutputFormat::Wave).startSink(out, request, error);
  ASSERT_NE(sink, nullptr);
  ASSERT_TRUE(sink->write(pcm.data(), pcm.size()));
  ASSERT_TRUE(sink->finish(500));
  EXPECT_EQ(out.bytes(), waveFile(pcm));

  request.seekable = false;
  MemorySink piped;
  sink = fileFormat(OutputFormat::Wave).startSink(piped, request, error);
  ASSERT_NE(sink, nullptr);
  ASSERT_TRUE(sink->write(pcm.data(), pcm.size()));
  EXPECT_FALSE(sink->finish(500));
  EXPECT_NE(sink->error().find("600 frames"), std::string::npos) << sink->error();
}

// More audio than 4 GiB is announced: the header is RF64's, its ds64 chunk
// holds the sizes, and the WAVE source reads it back as RF64.
TEST(WaveDescriptor, AnnouncedAudioBeyondFourGibibytesIsWrittenAsRf64) {
  const std::vector<uint8_t> pcm = stereoPcm(300);
  SinkRequest request;
  request.format.channels = 2;
  request.format.sampleRate = 44100;
  request.expectedFrames = int64_t{1} << 31;
  MemorySink out;
  std::string error;
  std::unique_ptr<PcmSink> sink = fileFormat(OutputFormat::Wave).startSink(out, request, error);
  ASSERT_NE(sink, nullptr);
  ASSERT_TRUE(sink->write(pcm.data(), pcm.size()));
  ASSERT_TRUE(sink->finish(300));  // fewer than announced: the ds64 sizes are put right
  const std::vector<uint8_t>& b = out.bytes();
  ASSERT_EQ(b.size(), 80 + pcm.size());
  EXPECT_EQ(sink->bytesWritten(), static_cast<int64_t>(b.size()));
  EXPECT_EQ(getLE(b, 0, 4), fourCC("RF64"));
  EXPECT_EQ(getLE(b, 28, 4), pcm.size());  // ds64 data size, low half
  EXPECT_EQ(getLE(b, 36, 4), 300u);        // ds64 frame count

  std::unique_ptr<PcmSource> source;
  ASSERT_EQ(openPcmSource(std::make_unique<MemorySource>(b), source, error), 0) << error;
  EXPECT_EQ(source->kind, "RF64");
  EXPECT_EQ(readAll(*source), pcm);
}

TEST(WaveDescriptor, SourcesOnAPipeAndFilesOfNoKnownFormat) {
  const std::vector<uint8_t> pcm = stereoPcm(3000);  // more than the first bytes looked at
  Pipe pipe(waveFile(pcm));
  std::unique_ptr<PcmSource> source;
  std::string detail;
  ASSERT_EQ(openPcmSource(std::move(pipe.in), source, detail), 0) << detail;
  EXPECT_EQ(source->kind, "WAVE");
  EXPECT_EQ(readAll(*source), pcm);

  const std::vector<uint8_t> text{'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'};
  EXPECT_EQ(openPcmSource(std::make_unique<MemorySource>(text), source, detail), kEntryNotPcmWave);
  EXPECT_EQ(detail, "not a RIFF file");
  EXPECT_EQ(openPcmSource(std::make_unique<MemorySource>(nabFile(pcm, 21)), source, detail), kEntryNotPcmWave);
  EXPECT_EQ(detail, "a compressed (.NAB) file, 2 channel(s)");
}

TEST(FlacDescriptor, EveryFlacFileIsACompleteOutput) {
  EXPECT_EQ(inspect(OutputFormat::Flac, {'f', 'L', 'a', 'C', 0, 0}), ExistingFile::Complete);
  EXPECT_EQ(inspect(OutputFormat::Flac, waveFile(stereoPcm(4))), ExistingFile::OtherKind);
  EXPECT_EQ(inspect(OutputFormat::Flac, {'f', 'L', 'a'}), ExistingFile::OtherKind);
}

// The FLAC sink writes into memory (seekable, so STREAMINFO is filled in) and
// into a pipe-like sink that cannot seek; the source reads both back with the
// carried fields.
TEST(FlacDescriptor, SinkAndSourceCarryTheAudioAndTheCompressedFilesFields) {
  const FileFormat& flac = fileFormat(OutputFormat::Flac);
  if (!flac.available()) GTEST_SKIP() << "a build without libFLAC";
  const std::vector<uint8_t> pcm = stereoPcm(40000);
  for (const bool seekable : {true, false}) {
    SCOPED_TRACE(seekable ? "seekable" : "not seekable");
    SinkRequest request;
    request.format.channels = 2;
    request.format.sampleRate = 44100;
    request.expectedFrames = 40000;
    request.level = 0;
    request.seekable = seekable;
    request.carried.present = true;
    request.carried.preamble = std::string("take 7\0\xff", 8);
    request.carried.coderParameter = -42;
    request.carried.coderVersion = 21;
    MemorySink out;
    std::string error;
    std::unique_ptr<PcmSink> sink = flac.startSink(out, request, error);
    ASSERT_NE(sink, nullptr) << error;
    for (std::size_t at = 0; at < pcm.size(); at += 4000) ASSERT_TRUE(sink->write(pcm.data() + at, 4000));
    ASSERT_TRUE(sink->finish(40000)) << sink->error();
    EXPECT_EQ(sink->bytesWritten(), static_cast<int64_t>(out.bytes().size()));
    EXPECT_LT(out.bytes().size(), pcm.size());
    EXPECT_TRUE(flac.recognises(headOf(out.bytes())));

    std::unique_ptr<PcmSource> source;
    ASSERT_EQ(openPcmSource(std::make_unique<MemorySource>(out.bytes()), source, error), 0) << error;
    EXPECT_EQ(source->kind, "FLAC");
    EXPECT_EQ(source->format.channels, 2);
    EXPECT_EQ(source->format.sampleRate, 44100);
    EXPECT_TRUE(source->carried.present);
    EXPECT_EQ(source->carried.preamble, request.carried.preamble);
    EXPECT_EQ(source->carried.coderParameter, -42);
    EXPECT_EQ(source->carried.coderVersion, 21);
    EXPECT_EQ(readAll(*source), pcm);
    EXPECT_EQ(source->error(), "");
  }
}

TEST(FlacDescriptor, SourceOnAPipeAndADamagedFile) {
  const FileFormat& flac = fileFormat(OutputFormat::Flac);
  if (!flac.available()) GTEST_SKIP() << "a build without libFLAC";
  const std::vector<uint8_t> pcm = stereoPcm(5000);
  SinkRequest request;
  request.format.channels = 2;
  request.format.sampleRate = 44100;
  request.expectedFrames = 5000;
  MemorySink out;
  std::string error;
  std::unique_ptr<PcmSink> sink = flac.startSink(out, request, error);
  ASSERT_NE(sink, nullptr) << error;
  ASSERT_TRUE(sink->write(pcm.data(), pcm.size()));
  ASSERT_TRUE(sink->finish(5000));

  Pipe pipe(out.bytes());
  std::unique_ptr<PcmSource> source;
  ASSERT_EQ(openPcmSource(std::move(pipe.in), source, error), 0) << error;
  EXPECT_FALSE(source->carried.present);  // nothing was carried
  EXPECT_EQ(readAll(*source), pcm);

  std::vector<uint8_t> damaged = out.bytes();
  damaged[damaged.size() / 2] ^= 0x55;
  ASSERT_EQ(openPcmSource(std::make_unique<MemorySource>(damaged), source, error), 0);
  const std::vector<uint8_t> got = readAll(*source);
  EXPECT_TRUE(got != pcm || !source->error().empty());
  EXPECT_FALSE(source->error().empty());

  const std::vector<uint8_t> signatureOnly{'f', 'L', 'a', 'C', 1, 2, 3};
  EXPECT_EQ(openPcmSource(std::make_unique<MemorySource>(signatureOnly), source, error), kEntryNotPcmWave);
  EXPECT_EQ(error, "a damaged FLAC file");
}

}  // namespace
}  // namespace nubo::converter
