// SPDX-License-Identifier: BSD-3-Clause
// The jobs and the batch worker over real files in a scratch directory, seen
// through a front end that records every status line.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "le_bytes.h"
#include "batch_worker.h"
#include "describe_file.h"
#include "run_events.h"
#include "run_request.h"
#include "nab_format.h"
#include "nubocodec.h"
#include "os.h"
#include "signals.h"

namespace nubo::converter {
namespace {

namespace fs = std::filesystem;
using nubo::test::Shape;

// Records every event of a run, as data.
class RecordingObserver : public RunObserver {
 public:
  void runStarted(const RunRequest&) override { ++started; }
  void runPlanned(const RunPlan& p) override { plan = p; }
  void fileBegun(const FileBegun&) override {
    std::lock_guard<std::mutex> lock(mutex);
    ++begun;
    // Asks the run to stop when the given number of files has begun (0: never).
    if (stopAtBegun > 0 && begun >= stopAtBegun) stop.request();
  }
  void fileNotice(const FileNotice& n) override {
    std::lock_guard<std::mutex> lock(mutex);
    notices.push_back(n);
  }
  void fileDone(const FileOutcome& o) override {
    std::lock_guard<std::mutex> lock(mutex);
    outcomes.push_back(o);
  }
  void runEnded(const RunSummary& s) override { summary = s; }

  // Whether a file's outcome gave `reason` (and, when given, for `subject`).
  bool saw(Msg reason, const std::string& subject = "") const {
    for (const auto& o : outcomes) {
      if (o.reason == reason && (subject.empty() || o.subject == subject)) return true;
    }
    return false;
  }
  const FileOutcome* find(const std::string& input) const {
    for (const auto& o : outcomes) {
      if (o.input == input) return &o;
    }
    return nullptr;
  }
  long failures() const { return summary.notConverted + summary.incomplete; }
  long done() const { return summary.converted + summary.incomplete; }
  void clear() {
    outcomes.clear();
    notices.clear();
    begun = 0;
  }

  std::mutex mutex;
  std::vector<FileOutcome> outcomes;
  std::vector<FileNotice> notices;
  RunPlan plan;
  RunSummary summary;
  int started = 0;
  int begun = 0;
  int stopAtBegun = 0;
  StopFlag stop;
};

std::vector<uint8_t> readAll(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}
void writeAll(const fs::path& p, const std::vector<uint8_t>& bytes) {
  fs::create_directories(p.parent_path());
  std::ofstream f(p, std::ios::binary);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}
using test::getLE;
using test::putLE;

std::vector<uint8_t> waveFile(const std::vector<uint8_t>& pcm, int channels, uint32_t rate) {
  std::vector<uint8_t> w;
  putLE(w, fourCC("RIFF"), 4);
  putLE(w, static_cast<uint32_t>(36 + pcm.size()), 4);
  putLE(w, fourCC("WAVE"), 4);
  putLE(w, fourCC("fmt "), 4);
  putLE(w, 16, 4);
  putLE(w, 1, 2);
  putLE(w, static_cast<uint32_t>(channels), 2);
  putLE(w, rate, 4);
  putLE(w, rate * 2 * static_cast<uint32_t>(channels), 4);
  putLE(w, static_cast<uint32_t>(2 * channels), 2);
  putLE(w, 16, 2);
  putLE(w, fourCC("data"), 4);
  putLE(w, static_cast<uint32_t>(pcm.size()), 4);
  w.insert(w.end(), pcm.begin(), pcm.end());
  return w;
}

// An old compressed file written with the library's own version-20/21 coder.
std::vector<uint8_t> oldNab(const std::vector<uint8_t>& pcm, int channels, uint32_t rate, int version,
                            const std::string& preamble = "") {
  std::vector<uint8_t> f;
  const uint32_t blockLength = static_cast<uint32_t>(channels) * rate / 50;
  putLE(f, fourCC("RIFF"), 4);
  putLE(f, 0, 4);
  putLE(f, fourCC("WAVE"), 4);
  putLE(f, fourCC("fmt "), 4);
  putLE(f, 26, 4);
  putLE(f, kNabFormatTag, 2);
  putLE(f, static_cast<uint32_t>(channels), 2);
  putLE(f, rate, 4);
  putLE(f, rate * 2 * static_cast<uint32_t>(channels), 4);
  putLE(f, static_cast<uint32_t>(2 * channels), 2);
  putLE(f, 16, 2);
  putLE(f, 8, 2);
  putLE(f, static_cast<uint32_t>(version), 4);
  putLE(f, 0x1234, 4);  // coder parameter, carried
  putLE(f, fourCC("fact"), 4);
  putLE(f, 4, 4);
  putLE(f, static_cast<uint32_t>(pcm.size() / (2 * channels)), 4);
  putLE(f, fourCC("data"), 4);
  putLE(f, 0, 4);
  putLE(f, static_cast<uint32_t>(preamble.size()), 2);
  f.insert(f.end(), preamble.begin(), preamble.end());
  std::vector<uint8_t> samples(2 * NUBO_MAX_SAMPLES), code(NUBO_MAX_CODE_BLOCK_BYTES);
  for (std::size_t at = 0; at < pcm.size();) {
    const std::size_t bytes = std::min<std::size_t>(2 * blockLength, pcm.size() - at);
    std::copy(pcm.begin() + static_cast<long>(at), pcm.begin() + static_cast<long>(at + bytes), samples.begin());
    ConvertParams p{};
    p.channels = static_cast<uint16_t>(channels);
    p.coderVersion = static_cast<uint32_t>(version);
    p.sampleCount = static_cast<uint16_t>(bytes / 2);
    p.flags = bytes / 2 != blockLength ? NUBO_FLAG_ENCODE | NUBO_FLAG_COUNT_EXTENSION : NUBO_FLAG_ENCODE;
    EXPECT_EQ(NuboWaveConvert(&p, samples.data(), code.data()), 0);
    f.insert(f.end(), code.begin(), code.begin() + p.codeSize);
    at += bytes;
  }
  const uint32_t data = static_cast<uint32_t>(f.size() - 66);
  for (int i = 0; i < 4; ++i) f[62 + i] = static_cast<uint8_t>(data >> (8 * i));
  for (int i = 0; i < 4; ++i) f[4 + i] = static_cast<uint8_t>((data + 58) >> (8 * i));
  return f;
}

std::vector<uint8_t> pcmOf(Shape shape, int samples, int channels, uint32_t seed) {
  return nubo::test::toBytes(nubo::test::makeSignal(shape, samples, channels, seed));
}

class BatchWorker : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("nubo_batch_" + std::to_string(::getpid()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }

  // A run of `job` over the input `in` (a file, or a pattern in its directory;
  // "dir/" is every file of dir) into `out` (a file, or "dir/*" for names with
  // the extension replaced, "dir/!" for names with a '!' toggled).
  static RunRequest request(Job job, const std::string& in, const std::string& out, bool overwrite = false,
                            bool recursive = false, int workers = 1) {
    RunRequest r;
    r.job = job;
    r.options.overwrite = overwrite;
    r.options.recursive = recursive;
    r.options.workers = workers;
    r.options.collisionRule = true;  // as the window asks; nubo does not
    RunInput input;
    const bool directory = in.back() == '/' || in.back() == '\\';
    input.kind = directory ? RunInput::Kind::Directory
                 : fs::exists(in) ? RunInput::Kind::File
                                  : RunInput::Kind::Pattern;
    input.path = directory ? in.substr(0, in.size() - 1) : in;
    const bool toDirectory = out.back() == '/' || out.back() == '\\';
    const fs::path o(toDirectory ? out + "*" : out);
    input.output.directory = o.parent_path().string();
    const std::string name = o.filename().string();
    if (job == Job::Test) {
      input.output.kind = OutputRule::Kind::None;
    } else if (name == "*") {
      input.output.naming = Naming::ReplaceExtension;
    } else if (name == "!") {
      input.output.naming = Naming::ToggleMark;
    } else {
      input.output.naming = Naming::Exact;
      input.output.name = name;
    }
    r.inputs.push_back(input);
    return r;
  }
  RunSummary run(Job job, const std::string& in, const std::string& out, bool overwrite = false,
                 bool recursive = false, int workers = 1) {
    fe.clear();
    return runBatch(request(job, in, out, overwrite, recursive, workers), fe, fe.stop);
  }
  // With the platform's separators, as the converter joins the paths it reports.
  std::string p(const std::string& rel) const { return (dir / rel).make_preferred().string(); }

  // Decodes a compressed file back to PCM bytes.
  static std::vector<uint8_t> decodeAll(const std::string& nab) {
    RecordingObserver quiet;
    const std::string wav = nab + ".decoded.wav";
    EXPECT_TRUE(runBatch(request(Job::Decode, nab, wav, true), quiet, quiet.stop).allDone()) << nab;
    std::vector<uint8_t> w = readAll(wav);
    fs::remove(wav);
    return w.size() >= 44 ? std::vector<uint8_t>(w.begin() + 44, w.end()) : std::vector<uint8_t>{};
  }

  fs::path dir;
  RecordingObserver fe;
};

TEST_F(BatchWorker, ReencodeGivesVersion22WithCorrectedHeaderAndTheSameAudio) {
  // 44100 Hz stereo, a length that is not a multiple of 1764; a preamble.
  const auto pcm = pcmOf(Shape::Music, 1764 * 7 + 300, 2, 5);
  writeAll(p("in/TAKE.NAB"), oldNab(pcm, 2, 44100, 21, "pre"));
  ASSERT_FALSE(run(Job::Reencode, p("in/TAKE.NAB"), p("out/TAKE.NAB")).stopped);
  const auto out = readAll(p("out/TAKE.NAB"));
  ASSERT_GT(out.size(), 71u);
  EXPECT_EQ(getLE(out, 38, 4), 22u);                     // coder version
  EXPECT_EQ(getLE(out, 42, 4), 0x1234u);                 // coder parameter carried
  EXPECT_EQ(getLE(out, 46, 4), fourCC("fact"));
  EXPECT_EQ(getLE(out, 50, 4), 4u);
  EXPECT_EQ(getLE(out, 54, 4), pcm.size() / 4);          // frames carried
  EXPECT_EQ(getLE(out, 62, 4), out.size() - 66);         // data size
  EXPECT_EQ(getLE(out, 4, 4), getLE(out, 62, 4) + 58);   // RIFF size
  EXPECT_EQ(getLE(out, 66, 2), 3u);
  EXPECT_EQ(std::string(out.begin() + 68, out.begin() + 71), "pre");
  EXPECT_EQ(decodeAll(p("out/TAKE.NAB")), pcm);
  FileDescription d;
  std::string error;
  ASSERT_TRUE(describeFile(p("out/TAKE.NAB"), d, error));
  EXPECT_EQ(d.blocks, 8);
  EXPECT_TRUE(d.lastBlockHasCountExtension);
  EXPECT_FALSE(d.damaged);
  // The size change line and the count line.
  ASSERT_EQ(fe.outcomes.size(), 1u);
  const FileOutcome& o = fe.outcomes[0];
  EXPECT_EQ(o.outcome, Outcome::Converted);
  EXPECT_EQ(o.output, p("out/TAKE.NAB"));
  EXPECT_TRUE(o.showSizeChange);
  EXPECT_EQ(o.pcmBytes, static_cast<int64_t>(pcm.size()));
  EXPECT_EQ(o.outputBytes, static_cast<int64_t>(out.size()) - 66);
  EXPECT_EQ(o.frames, static_cast<int64_t>(pcm.size() / 4));
  ASSERT_EQ(fe.plan.files.size(), 1u);
  EXPECT_EQ(fe.plan.files[0].inputBytes, static_cast<int64_t>(fs::file_size(p("in/TAKE.NAB"))));
  EXPECT_EQ(fe.done(), 1);
  EXPECT_EQ(fe.summary.skipped, 0);
  EXPECT_TRUE(fe.summary.allDone());
  EXPECT_EQ(fe.started, 1);
}

TEST_F(BatchWorker, ExactMultipleOfTheBlockLengthHasNoCountExtension) {
  const auto pcm = pcmOf(Shape::Sine, 882 * 4, 1, 2);
  writeAll(p("m.NAB"), oldNab(pcm, 1, 44100, 20));
  ASSERT_FALSE(run(Job::Reencode, p("m.NAB"), p("o.NAB")).stopped);
  FileDescription d;
  std::string error;
  ASSERT_TRUE(describeFile(p("o.NAB"), d, error));
  EXPECT_EQ(d.blocks, 4);
  EXPECT_FALSE(d.lastBlockHasCountExtension);
  EXPECT_EQ(decodeAll(p("o.NAB")), pcm);
}

TEST_F(BatchWorker, RequestProblems) {
  // One output name for a pattern that selects several files, or for several inputs.
  RunRequest r = request(Job::Reencode, p("*.wav"), p("x.dat"));
  EXPECT_EQ(requestProblem(r), kEntryWildcardNeedsPattern);
  r = request(Job::Reencode, p("?.wav"), p("d/!"));
  EXPECT_EQ(requestProblem(r), std::nullopt);
  r = request(Job::Reencode, p("a.wav"), p("x.NAB"));
  EXPECT_EQ(requestProblem(r), std::nullopt);
  r.inputs.push_back(r.inputs[0]);
  EXPECT_EQ(requestProblem(r), kEntryWildcardNeedsPattern);
  // Jobs that write nothing may take any number of files.
  EXPECT_EQ(requestProblem(request(Job::Verify, p("*.NAB"), p("x.wav"))), std::nullopt);
}

TEST_F(BatchWorker, NamingModes) {
  OutputRule rule;
  rule.naming = Naming::ReplaceExtension;
  EXPECT_EQ(deriveOutputName(rule, OutputFormat::Nab, "song.wav"), "song.NAB");
  EXPECT_EQ(deriveOutputName(rule, OutputFormat::Nab, "song"), "song.NAB");
  EXPECT_EQ(deriveOutputName(rule, OutputFormat::Wave, "song.NAB"), "song.wav");
  EXPECT_EQ(deriveOutputName(rule, OutputFormat::Flac, "song.NAB"), "song.flac");
  rule.naming = Naming::ToggleMark;
  EXPECT_EQ(deriveOutputName(rule, OutputFormat::Nab, "song.wav"), "song!.wav");
  EXPECT_EQ(deriveOutputName(rule, OutputFormat::Nab, "song!.wav"), "song.wav");
  EXPECT_EQ(deriveOutputName(rule, OutputFormat::Nab, "song"), "song!");
  EXPECT_EQ(deriveOutputName(rule, OutputFormat::Nab, "song!"), "song!!");
  EXPECT_EQ(deriveOutputName(rule, OutputFormat::Nab, "!.wav"), "!!.wav");  // a '!' at position 0 is not removed
  rule.naming = Naming::Exact;
  rule.name = "fixed.NAB";
  EXPECT_EQ(deriveOutputName(rule, OutputFormat::Nab, "song.wav"), "fixed.NAB");
}

TEST_F(BatchWorker, CollisionRuleOrOutputIsInput) {
  const auto pcm = pcmOf(Shape::Music, 2000, 2, 1);
  writeAll(p("snd/TAKE.NAB"), oldNab(pcm, 2, 44100, 20));
  writeAll(p("snd/take.nab"), oldNab(pcm, 2, 44100, 20));
  const auto before = readAll(p("snd/take.nab"));
  // Mode 1 in the same directory: TAKE.NAB -> TAKE.NEB; take.nab -> take.NAB (a new file).
  ASSERT_FALSE(run(Job::Reencode, p("snd/TAKE.NAB"), p("snd/*")).stopped);
  EXPECT_TRUE(fs::exists(p("snd/TAKE.NEB")));
  // Without the window's rule (nubo), such an output is the input itself: refused.
  fs::remove(p("snd/TAKE.NEB"));
  RunRequest r = request(Job::Reencode, p("snd/TAKE.NAB"), p("snd/*"), true);
  r.options.collisionRule = false;
  fe.clear();
  EXPECT_FALSE(runBatch(r, fe, fe.stop).stopped);
  EXPECT_TRUE(fe.saw(kEntryOutputIsInput));
  EXPECT_FALSE(fs::exists(p("snd/TAKE.NEB")));
  // Mode 0 naming the input itself, with no capital A: refused with 66, untouched.
  ASSERT_FALSE(run(Job::Reencode, p("snd/take.nab"), p("snd/take.nab"), true).stopped);
  EXPECT_TRUE(fe.saw(kEntryOutputIsInput));
  EXPECT_EQ(readAll(p("snd/take.nab")), before);
  // The same file by another spelling.
    ASSERT_FALSE(run(Job::Reencode, p("snd/take.nab"), p("snd/../snd/take.nab"), true).stopped);
  EXPECT_TRUE(fe.saw(kEntryOutputIsInput));
  EXPECT_EQ(readAll(p("snd/take.nab")), before);
}

TEST_F(BatchWorker, DepthFirstWithSiblingsInReverseAndOptions) {
  const auto pcm = pcmOf(Shape::Sine, 900, 1, 3);
  for (const char* f : {"top.NAB", "X/x.NAB", "Y/y.NAB", "Y/Z/z.NAB", ".hidden/h.NAB"}) {
    writeAll(p(std::string("in/") + f), oldNab(pcm, 1, 44100, 21));
  }
  writeAll(p("in/plain.wav"), waveFile(pcm, 1, 44100));
  ASSERT_FALSE(run(Job::Reencode, p("in/*.NAB"), p("out/*"), false, true).stopped);
  std::vector<std::string> order;
  for (const auto& o : fe.outcomes) {
    if (o.outcome == Outcome::Converted) order.push_back(o.output);
  }
  // A directory whose name begins with a dot is walked too, as cp -r does.
  const std::vector<std::string> expected = {p("out/top.NAB"), p("out/Y/y.NAB"), p("out/Y/Z/z.NAB"),
                                             p("out/X/x.NAB"), p("out/.hidden/h.NAB")};
  EXPECT_EQ(order, expected);
  EXPECT_FALSE(fs::exists(p("out/plain.NAB")));  // the pattern selects .NAB files only
  EXPECT_EQ(fe.done(), 5);
  EXPECT_EQ(fe.summary.skipped, 0);

  // Without option B only the top directory; option A clear skips existing outputs.
    ASSERT_FALSE(run(Job::Reencode, p("in/*.NAB"), p("out/*")).stopped);
  EXPECT_TRUE(fe.saw(kEntryOutputExists));
  EXPECT_TRUE(fe.saw(kEntryOutputExists, p("out/top.NAB")));
  EXPECT_EQ(fe.summary.skipped, 1);
  EXPECT_TRUE(fe.summary.allDone());  // skipped files count for the end message
  // Option A overwrites.
    ASSERT_FALSE(run(Job::Reencode, p("in/*.NAB"), p("out/*"), true).stopped);
  EXPECT_EQ(fe.done(), 1);
  // Nothing matches: entry 51.
  ASSERT_FALSE(run(Job::Reencode, p("in/*.none"), p("out/*")).stopped);
  EXPECT_TRUE(fe.summary.nothingFound);
}

// The temporary files (partial outputs) in `dir`.
std::vector<fs::path> partialsIn(const fs::path& dir) {
  std::vector<fs::path> found;
  for (const auto& e : fs::directory_iterator(dir)) {
    if (e.path().filename().string().find(".nubo-part") != std::string::npos) found.push_back(e.path());
  }
  return found;
}

TEST_F(BatchWorker, CancelBetweenBlocksKeepsThePartialOutputUnderItsTemporaryName) {
  const auto pcm = pcmOf(Shape::Music, 1764 * 40, 2, 9);
  writeAll(p("long.NAB"), oldNab(pcm, 2, 44100, 20));
  fe.stopAtBegun = 1;  // asked while the file begins: seen at its first block
  EXPECT_TRUE(run(Job::Reencode, p("long.NAB"), p("part.NAB")).stopped);
  EXPECT_EQ(fe.summary.stopReason, kEntryStopped);
  EXPECT_FALSE(fs::exists(p("part.NAB")));  // never a partial file under the final name
  const auto partials = partialsIn(dir);
  ASSERT_EQ(partials.size(), 1u);
  EXPECT_LT(fs::file_size(partials[0]), fs::file_size(p("long.NAB")));
  ASSERT_EQ(fe.outcomes.size(), 1u);
  EXPECT_EQ(fe.outcomes[0].outcome, Outcome::Stopped);
  EXPECT_EQ(fe.outcomes[0].keptAs, partials[0].string());
  // The leftover neither blocks nor feeds the next run.
  fe.stopAtBegun = 0;
  fe.stop.clear();
  EXPECT_FALSE(run(Job::Reencode, p("*.*"), p("new/*")).stopped);
  EXPECT_EQ(fe.done(), 1);
  EXPECT_EQ(fe.summary.skipped, 0);
  EXPECT_EQ(decodeAll(p("new/long.NAB")), pcm);
}

TEST_F(BatchWorker, DamagedInputsAreReportedWhereTheyFailAndTheBatchGoesOn) {
  const auto pcm = pcmOf(Shape::Music, 1764 * 5, 2, 4);
  auto file = oldNab(pcm, 2, 44100, 20);
  const std::size_t firstBlock = getLE(file, 68, 2) & 0x0FFF;
  // Cut inside the fourth block.
  writeAll(p("in/a_cut.NAB"), std::vector<uint8_t>(file.begin(), file.end() - static_cast<long>(file.size() / 3)));
  // A corrupted size field: the decoder rejects the first block.
  auto bad = file;
  bad[68] ^= 0x05;
  writeAll(p("in/b_bad.NAB"), bad);
  // Cut inside the preamble length.
  writeAll(p("in/c_short.NAB"), std::vector<uint8_t>(file.begin(), file.begin() + 67));
  writeAll(p("in/d_good.NAB"), file);
  EXPECT_FALSE(run(Job::Reencode, p("in/*.NAB"), p("out/*")).stopped);
  const FileOutcome* shortFile = fe.find(p("in/c_short.NAB"));
  ASSERT_NE(shortFile, nullptr);
  EXPECT_EQ(shortFile->reason, kEntryDamaged);
  EXPECT_EQ(shortFile->detail, "the file ends inside its header");
  const FileOutcome* badFile = fe.find(p("in/b_bad.NAB"));
  ASSERT_NE(badFile, nullptr);
  EXPECT_EQ(badFile->reason, kEntryDamaged);
  EXPECT_EQ(badFile->block, 1);
  EXPECT_EQ(badFile->offset, 68);
  EXPECT_TRUE(fs::exists(badFile->keptAs)) << badFile->keptAs;
  const FileOutcome* cutFile = fe.find(p("in/a_cut.NAB"));
  ASSERT_NE(cutFile, nullptr);
  EXPECT_EQ(cutFile->reason, kEntryDamaged);
  EXPECT_EQ(cutFile->block, 4);
  EXPECT_GT(firstBlock, 0u);
  // Only the good file has its final name; the two damaged ones that got as
  // far as writing left their partial outputs.
  EXPECT_EQ(partialsIn(p("out")).size(), 2u);
  EXPECT_FALSE(fs::exists(p("out/a_cut.NAB")));
  EXPECT_FALSE(fs::exists(p("out/b_bad.NAB")));
  EXPECT_FALSE(fs::exists(p("out/c_short.NAB")));
  EXPECT_EQ(decodeAll(p("out/d_good.NAB")), pcm);
  EXPECT_EQ(fe.failures(), 3);
  EXPECT_FALSE(fe.summary.stopped);
}

TEST_F(BatchWorker, UnsupportedRateAndLongPathsArePassedOver) {
  const auto pcm = pcmOf(Shape::Sine, 3840, 2, 1);
  writeAll(p("hi/fast.NAB"), oldNab(pcm, 2, 44100, 20));
  auto f = readAll(p("hi/fast.NAB"));
  for (int i = 0; i < 4; ++i) f[24 + i] = static_cast<uint8_t>(96000u >> (8 * i));
  writeAll(p("hi/fast.NAB"), f);
  EXPECT_FALSE(run(Job::Reencode, p("hi/fast.NAB"), p("hi/*")).stopped);
  EXPECT_TRUE(fe.saw(kEntryUnsupportedRate));
  EXPECT_FALSE(fs::exists(p("hi/fast.NEB")));

#ifndef _WIN32  // Windows' ANSI file functions stop at 260 characters, before the 299 of the rule
  const std::string longName(250, 'n');
  writeAll(p("long/" + longName + ".NAB"), oldNab(pcmOf(Shape::Sine, 100, 1, 1), 1, 44100, 20));
    EXPECT_FALSE(run(Job::Reencode, p("long/*.NAB"), p("long/" + longName + "/*")).stopped);
  EXPECT_TRUE(fe.saw(kEntryPathTooLong));
#endif
}

TEST_F(BatchWorker, EncodeVerifyAndEncodeAndVerify) {
  const auto pcm = pcmOf(Shape::Music, 1764 * 3 + 11, 2, 8);
  writeAll(p("a.wav"), waveFile(pcm, 2, 44100));
  ASSERT_FALSE(run(Job::Encode, p("a.wav"), p("a.NAB")).stopped);
  EXPECT_EQ(fe.done(), 1);
  EXPECT_EQ(fe.summary.skipped, 0);
  EXPECT_EQ(decodeAll(p("a.NAB")), pcm);
  ASSERT_FALSE(run(Job::Verify, p("a.NAB"), p("a.wav")).stopped);
  EXPECT_EQ(fe.done(), 1);
  EXPECT_EQ(fe.summary.skipped, 0);
  // A different WAVE file fails the verify.
  auto other = pcm;
  other[100] ^= 1;
  writeAll(p("b.wav"), waveFile(other, 2, 44100));
  EXPECT_FALSE(run(Job::Verify, p("a.NAB"), p("b.wav")).stopped);
  EXPECT_TRUE(fe.saw(kEntryVerifyFailed));
  EXPECT_EQ(fe.failures(), 1);
  // Another sample rate is a difference of its own.
  writeAll(p("c.wav"), waveFile(pcm, 2, 48000));
  EXPECT_FALSE(run(Job::Verify, p("a.NAB"), p("c.wav")).stopped);
  EXPECT_TRUE(fe.saw(kEntryFormatDiffers));
  // Kind 3 counts the file once.
  ASSERT_FALSE(run(Job::EncodeVerify, p("a.wav"), p("c.NAB")).stopped);
  EXPECT_EQ(fe.done(), 1);
  EXPECT_EQ(fe.summary.skipped, 0);
  // An empty WAVE file: size change 0.000.
  writeAll(p("empty.wav"), waveFile({}, 1, 44100));
  ASSERT_FALSE(run(Job::Encode, p("empty.wav"), p("empty.NAB")).stopped);
  ASSERT_EQ(fe.outcomes.size(), 1u);
  EXPECT_EQ(fe.outcomes[0].pcmBytes, 0);
  EXPECT_EQ(sizeChange(fe.outcomes[0]), 0.0);
}

TEST_F(BatchWorker, UnwritableOutputStops) {
  const auto pcm = pcmOf(Shape::Sine, 2000, 1, 1);
  writeAll(p("w.NAB"), oldNab(pcm, 1, 44100, 20));
#ifdef _WIN32
  // A directory under a file cannot be made.
  EXPECT_TRUE(run(Job::Reencode, p("w.NAB"), p("w.NAB") + "\\nubo_cannot\\x.NAB", true).stopped);
#else
  EXPECT_TRUE(run(Job::Reencode, p("w.NAB"), "/proc/nubo_cannot/x.NAB", true).stopped);
#endif
  EXPECT_TRUE(fe.saw(kEntryCannotMakeDirectory));
  EXPECT_TRUE(fe.summary.stopped);
  // No device but the null device is written into, not even with option A.
  if (fs::exists("/dev/full")) {
    EXPECT_FALSE(run(Job::Reencode, p("w.NAB"), "/dev/full", true).stopped);
    EXPECT_TRUE(fe.saw(kEntryNotRegular));
  }
    EXPECT_FALSE(run(Job::Decode, p("w.NAB"), platform::kNullDevice).stopped);
  EXPECT_TRUE(fe.summary.allDone());
  // An existing directory named as the output file is not written into, and
  // the reason says what it is.
  fs::create_directories(p("adir"));
  EXPECT_FALSE(run(Job::Reencode, p("w.NAB"), p("adir"), true).stopped);
  ASSERT_FALSE(fe.outcomes.empty());
  EXPECT_EQ(fe.outcomes.back().reason, kEntryCannotCreate);
  EXPECT_NE(fe.outcomes.back().systemError.find("it is a directory"), std::string::npos);
  EXPECT_TRUE(fs::is_empty(p("adir")));
#ifndef _WIN32  // Windows has no FIFOs in its file system
  // A FIFO as the output is never opened (it would wait for a reader).
  ASSERT_EQ(::mkfifo(p("fifo.NAB").c_str(), 0600), 0);
  EXPECT_FALSE(run(Job::Reencode, p("w.NAB"), p("fifo.NAB"), true).stopped);
  EXPECT_TRUE(fe.saw(kEntryNotRegular));
#endif
}

TEST_F(BatchWorker, StoredLastBlockLongerThanTheSizeFieldIsReadWhole) {
  // Mono at 102350 Hz: a block length of 2047. Full-scale noise is stored, so
  // a last block of 2046 samples with its count extension is 4096 bytes long,
  // one more than a size field can describe. (A full block that would be
  // stored cannot be framed at all, so the first block is quiet.)
  const uint32_t rate = 102350;
  auto pcm = pcmOf(Shape::QuietNoise, 2047, 1, 20);
  const auto noise = pcmOf(Shape::FullScaleNoise, 2046, 1, 21);
  pcm.insert(pcm.end(), noise.begin(), noise.end());
  const auto file = oldNab(pcm, 1, rate, 20);
  ASSERT_EQ(file.size() - 66 - 2 - (file[68] | (file[69] & 0x0F) << 8), 4u + 2 * 2046);
  writeAll(p("big.NAB"), file);
  ASSERT_FALSE(run(Job::Reencode, p("big.NAB"), p("big22.NAB")).stopped);
  EXPECT_EQ(fe.done(), 1);
  EXPECT_EQ(fe.summary.skipped, 0);
  EXPECT_EQ(decodeAll(p("big22.NAB")), pcm);
  const auto out = readAll(p("big22.NAB"));
  EXPECT_EQ(getLE(out, 62, 4), out.size() - 66);
}

TEST_F(BatchWorker, ThousandsOfSubdirectoriesAreWalked) {
  const auto pcm = pcmOf(Shape::Sine, 100, 1, 1);
  for (int i = 0; i < 2000; ++i) fs::create_directories(p("many/d" + std::to_string(i)));
  writeAll(p("many/d1999/a.NAB"), oldNab(pcm, 1, 44100, 20));
  EXPECT_FALSE(run(Job::Reencode, p("many/"), p("many/!"), false, true).stopped);
  EXPECT_FALSE(fe.saw(kEntryTooManyDirectories));
  EXPECT_EQ(fe.done(), 1);
  EXPECT_EQ(fe.summary.skipped, 0);
}

}  // namespace
}  // namespace nubo::converter

namespace nubo::converter {
namespace {

// What a run may write where: no output replaces an input of the run or a
// file of another kind, two inputs never share an output, a walk never
// enters a directory twice, incomplete inputs are named, outputs keep the
// input's time and mode.
class BatchWorkerSafety : public BatchWorker {};

TEST_F(BatchWorkerSafety, NoOutputReplacesAnInputOfTheRun) {
  const auto pcm = pcmOf(Shape::Music, 3000, 2, 11);
  writeAll(p("d/TAKE.NAB"), oldNab(pcm, 2, 44100, 20));
  writeAll(p("d/TAKE!.NAB"), oldNab(pcm, 2, 44100, 21));
  const auto take = readAll(p("d/TAKE.NAB"));
  const auto mark = readAll(p("d/TAKE!.NAB"));
  // Each one's toggled name is the other: both are inputs, neither is written.
  EXPECT_FALSE(run(Job::Reencode, p("d/"), p("d/!"), true).stopped);
  EXPECT_EQ(readAll(p("d/TAKE.NAB")), take);
  EXPECT_EQ(readAll(p("d/TAKE!.NAB")), mark);
  EXPECT_TRUE(fe.saw(kEntryOutputIsRunInput));
  EXPECT_EQ(fe.failures(), 2);
}

TEST_F(BatchWorkerSafety, OverwriteReplacesOnlyAFileOfTheKindItWrites) {
  const auto pcm = pcmOf(Shape::Music, 3000, 2, 12);
  writeAll(p("in/x.NAB"), oldNab(pcm, 2, 44100, 20));
  writeAll(p("out/x.NAB"), oldNab(pcm, 2, 44100, 21));  // an old file where the output goes
  const auto old = readAll(p("out/x.NAB"));
  EXPECT_FALSE(run(Job::Reencode, p("in/x.NAB"), p("out/x.NAB"), true).stopped);
  EXPECT_TRUE(fe.saw(kEntryExistingNotVersion22));
  EXPECT_EQ(readAll(p("out/x.NAB")), old);
  // A version-22 output is replaced with option A ...
  fs::remove(p("out/x.NAB"));
  ASSERT_FALSE(run(Job::Reencode, p("in/x.NAB"), p("out/x.NAB")).stopped);
  const auto first = readAll(p("out/x.NAB"));
  writeAll(p("in/x.NAB"), oldNab(pcmOf(Shape::Sine, 3000, 2, 13), 2, 44100, 20));
  ASSERT_FALSE(run(Job::Reencode, p("in/x.NAB"), p("out/x.NAB"), true).stopped);
  EXPECT_NE(readAll(p("out/x.NAB")), first);
  EXPECT_TRUE(fe.summary.allDone());
  // ... and without it an incomplete one is reported, not taken for done.
  fs::resize_file(p("out/x.NAB"), fs::file_size(p("out/x.NAB")) - 10);
  EXPECT_FALSE(run(Job::Reencode, p("in/x.NAB"), p("out/x.NAB")).stopped);
  EXPECT_TRUE(fe.saw(kEntryExistingIncomplete));
  EXPECT_EQ(fe.failures(), 1);
  // Encode never replaces a WAVE file, not even another input's.
  writeAll(p("w/a.wav"), waveFile(pcm, 2, 44100));
  writeAll(p("w/b.wav"), waveFile(pcm, 2, 44100));
  const auto b = readAll(p("w/b.wav"));
  EXPECT_FALSE(run(Job::Encode, p("w/a.wav"), p("w/b.wav"), true).stopped);
  EXPECT_EQ(readAll(p("w/b.wav")), b);
  EXPECT_TRUE(fe.saw(kEntryExistingNotVersion22));
}

#ifndef _WIN32  // names that differ only in case cannot both exist on Windows
TEST_F(BatchWorkerSafety, TwoInputsNeverWriteOneOutput) {
  const auto pcm = pcmOf(Shape::Sine, 2000, 1, 14);
  writeAll(p("in/a.WAV"), waveFile(pcm, 1, 44100));
  writeAll(p("in/a.wav"), waveFile(pcmOf(Shape::Music, 2000, 1, 15), 1, 44100));
  EXPECT_FALSE(run(Job::Encode, p("in/*.wav"), p("out/*")).stopped);
  EXPECT_TRUE(fe.saw(kEntrySameOutput));
  EXPECT_TRUE(fe.saw(kEntrySameOutput, p("out/a.NAB")));
  EXPECT_EQ(decodeAll(p("out/a.NAB")), pcm);  // the first in walk order ("a.WAV" < "a.wav")
  EXPECT_EQ(fe.failures(), 1);
}
#endif

TEST_F(BatchWorkerSafety, TheCollisionRuleNeverChangesADirectory) {
  const auto pcm = pcmOf(Shape::Sine, 2000, 1, 16);
  writeAll(p("DATA/take.nab"), oldNab(pcm, 1, 44100, 20));
  EXPECT_FALSE(run(Job::Reencode, p("DATA/take.nab"), p("DATA/take.nab"), true).stopped);
  EXPECT_TRUE(fe.saw(kEntryOutputIsInput));
  EXPECT_FALSE(fs::exists(p("DATE")));
  ASSERT_FALSE(run(Job::Reencode, p("DATA/take.nab"), p("DATA/*")).stopped);
  EXPECT_TRUE(fs::exists(p("DATA/take.NAB")));
}

#ifndef _WIN32  // directory links need privileges on Windows (and Wine makes none)
// Links to directories are not entered: a loop, a second way into the
// tree, and a way out of it. Without an output directory nothing is written
// beside the files outside the tree.
TEST_F(BatchWorkerSafety, AWalkEntersNoLinkedDirectory) {
  const auto pcm = pcmOf(Shape::Sine, 900, 1, 17);
  writeAll(p("in/a.NAB"), oldNab(pcm, 1, 44100, 20));
  writeAll(p("in/sub/b.NAB"), oldNab(pcm, 1, 44100, 21));
  writeAll(p("outside/c.NAB"), oldNab(pcm, 1, 44100, 21));
  fs::create_directory_symlink(p("in"), p("in/sub/up"));      // a loop
  fs::create_directory_symlink(p("in/sub"), p("in/alias"));   // the same directory again
  fs::create_directory_symlink("../outside", p("in/away"));   // out of the tree
  ASSERT_FALSE(run(Job::Reencode, p("in/"), p("out/"), false, true).stopped);
  EXPECT_EQ(fe.done(), 2);
  EXPECT_EQ(fe.failures(), 0);
  EXPECT_TRUE(fs::exists(p("out/a.NAB")));
  EXPECT_TRUE(fs::exists(p("out/sub/b.NAB")));
  EXPECT_FALSE(fs::exists(p("out/sub/up")));
  EXPECT_FALSE(fs::exists(p("out/alias")));
  EXPECT_FALSE(fs::exists(p("out/away")));
  ASSERT_FALSE(run(Job::Reencode, p("in/"), p("in/!"), false, true).stopped);
  EXPECT_EQ(fe.done(), 2);
  EXPECT_TRUE(fs::exists(p("in/sub/b!.NAB")));
  EXPECT_FALSE(fs::exists(p("outside/c!.NAB")));
}
#endif

TEST_F(BatchWorkerSafety, AnIncompleteInputIsConvertedAsFarAsItGoesAndNamed) {
  const auto pcm = pcmOf(Shape::Music, 1764 * 3 + 10, 2, 18);
  auto file = oldNab(pcm, 2, 44100, 20);
  for (int i = 0; i < 4; ++i) file[54 + i] = static_cast<uint8_t>(99999u >> (8 * i));  // a fact count too large
  writeAll(p("inc.NAB"), file);
  ASSERT_FALSE(run(Job::Reencode, p("inc.NAB"), p("inc22.NAB")).stopped);
  EXPECT_TRUE(fe.saw(kEntryInputIncomplete));
  EXPECT_EQ(fe.failures(), 1);
  const auto out = readAll(p("inc22.NAB"));
  EXPECT_EQ(getLE(out, 54, 4), pcm.size() / 4);  // the true frame count
  EXPECT_EQ(decodeAll(p("inc22.NAB")), pcm);
  FileDescription d;
  std::string error;
  ASSERT_TRUE(describeFile(p("inc.NAB"), d, error));
  EXPECT_TRUE(d.incomplete);
  ASSERT_TRUE(describeFile(p("inc22.NAB"), d, error));
  EXPECT_FALSE(d.incomplete);
}

TEST_F(BatchWorkerSafety, AWaveWithoutItsDataSizeIsReadToTheEnd) {
  const auto pcm = pcmOf(Shape::Music, 1764 * 2 + 6, 2, 19);
  auto wave = waveFile(pcm, 2, 44100);
  for (int i = 0; i < 4; ++i) wave[40 + i] = 0;  // an unfinished recording
  writeAll(p("rec.wav"), wave);
  ASSERT_FALSE(run(Job::Encode, p("rec.wav"), p("rec.NAB")).stopped);
  // Said while the file is converted, and kept as the converted file's warning.
  ASSERT_EQ(fe.notices.size(), 1u);
  EXPECT_EQ(fe.notices[0].message, kEntryWaveSizeWrong);
  ASSERT_EQ(fe.outcomes.size(), 1u);
  EXPECT_EQ(fe.outcomes[0].warning, kEntryWaveSizeWrong);
  EXPECT_EQ(decodeAll(p("rec.NAB")), pcm);
  EXPECT_EQ(getLE(readAll(p("rec.NAB")), 54, 4), pcm.size() / 4);
}

TEST_F(BatchWorkerSafety, OutputsKeepTheInputsTimeAndMode) {
  const auto pcm = pcmOf(Shape::Sine, 2000, 1, 20);
  writeAll(p("t.wav"), waveFile(pcm, 1, 44100));
#ifdef _WIN32
  // The read-only attribute is what Windows has of the permission bits.
  fs::permissions(p("t.wav"), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  const fs::perms mode = fs::status(p("t.wav")).permissions();
  ASSERT_EQ(mode & fs::perms::owner_write, fs::perms::none);
#else
  const fs::perms mode = fs::perms(0640);
  ASSERT_EQ(::chmod(p("t.wav").c_str(), 0640), 0);
#endif
  const auto when = fs::file_time_type::clock::now() - std::chrono::hours(24 * 365 * 20);
  fs::last_write_time(p("t.wav"), when);
  // As the file system keeps it (Windows in steps of 100 ns).
  const auto stored = fs::last_write_time(p("t.wav"));
  ASSERT_LT(stored, fs::file_time_type::clock::now() - std::chrono::hours(24));
  ASSERT_FALSE(run(Job::Encode, p("t.wav"), p("t.NAB")).stopped);
  EXPECT_EQ(fs::last_write_time(p("t.NAB")), stored);
  EXPECT_EQ(fs::status(p("t.NAB")).permissions(), mode);
  ASSERT_FALSE(run(Job::Decode, p("t.NAB"), p("t2.wav")).stopped);
  EXPECT_EQ(fs::last_write_time(p("t2.wav")), stored);
  EXPECT_EQ(fs::status(p("t2.wav")).permissions(), mode);
#ifdef _WIN32
  // Read-only files cannot be removed on Windows: the scratch directory's would stay.
  for (const char* name : {"t.wav", "t.NAB", "t2.wav"}) fs::permissions(p(name), fs::perms::owner_write, fs::perm_options::add);
#endif
}

}  // namespace
}  // namespace nubo::converter

namespace nubo::converter {
namespace {

TEST_F(BatchWorker, SeveralWorkersGiveTheOutputsAndTheOrderOfOne) {
  for (int i = 0; i < 7; ++i) {
    const auto pcm = pcmOf(i % 2 ? Shape::Music : Shape::Sine, 1764 * (3 + i) + 17 * i, 2, 30 + i);
    writeAll(p("in/" + std::string(i < 4 ? "a/" : "b/") + "F" + std::to_string(i) + ".NAB"),
             oldNab(pcm, 2, 44100, 20 + i % 2));
  }
  writeAll(p("in/a/F9.NAB"), std::vector<uint8_t>(100, 7));  // named .NAB but unreadable: reported
  ASSERT_FALSE(run(Job::Reencode, p("in/"), p("one/"), false, true, 1).stopped);
  const std::vector<FileOutcome> one = fe.outcomes;
  fe.outcomes.clear();
  ASSERT_FALSE(run(Job::Reencode, p("in/"), p("three/"), false, true, 3).stopped);
  ASSERT_EQ(fe.outcomes.size(), one.size());
  for (std::size_t i = 0; i < one.size(); ++i) {
    EXPECT_EQ(fe.outcomes[i].input, one[i].input) << i;
    EXPECT_EQ(fe.outcomes[i].outcome, one[i].outcome) << i;
  }
  for (const auto& e : fs::recursive_directory_iterator(p("one"))) {
    if (!e.is_regular_file()) continue;
    EXPECT_EQ(readAll(p("three") / fs::relative(e.path(), p("one"))), readAll(e.path())) << e.path();
  }
  EXPECT_EQ(fe.failures(), 1);
  EXPECT_TRUE(fe.saw(kEntryNotCompressed, p("in/a/F9.NAB")));

  // A cancel reaches every worker; every file that started is reported, and
  // none that stopped has its final name.
  fe.stopAtBegun = 3;
  EXPECT_TRUE(run(Job::Reencode, p("in/"), p("cut/"), false, true, 2).stopped);
  EXPECT_TRUE(fe.summary.stopped);
  int stopped = 0;
  for (const FileOutcome& o : fe.outcomes) {
    if (o.outcome == Outcome::Stopped) {
      ++stopped;
      EXPECT_FALSE(fs::exists(o.output)) << o.output;
      EXPECT_TRUE(fs::exists(o.keptAs)) << o.keptAs;
    }
  }
  EXPECT_GE(stopped, 1);
  // Every planned file is reported once: those a stop left unbegun too.
  ASSERT_EQ(fe.outcomes.size(), one.size());
  EXPECT_GT(fe.summary.notBegun, 0);
}

}  // namespace
}  // namespace nubo::converter
