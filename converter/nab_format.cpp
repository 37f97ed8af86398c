// SPDX-License-Identifier: BSD-3-Clause
#include "nab_format.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "os.h"
#include "std_streams.h"

namespace nubo::converter {

namespace {
constexpr std::size_t kStreamBuffer = std::size_t{1} << 16;

// File positions of 64 bits: long, which fseek and ftell take, has 32 bits
// on Windows.
int seekTo(std::FILE* file, int64_t offset) {
#ifdef _WIN32
  return ::_fseeki64(file, offset, SEEK_SET);
#else
  return std::fseek(file, static_cast<long>(offset), SEEK_SET);
#endif
}

int64_t positionOf(std::FILE* file) {
#ifdef _WIN32
  return ::_ftelli64(file);
#else
  return std::ftell(file);
#endif
}
}

void StreamBuffer::attach(std::FILE* file) {
  if (file == nullptr) return;
  if (!bytes_) bytes_ = std::make_unique<char[]>(kStreamBuffer);
  std::setvbuf(file, bytes_.get(), _IOFBF, kStreamBuffer);
}

bool InputFile::open(const std::string& path) {
  close();
  if (path == "-") {
    // The standard input: a pipe as often as a file.
    file_ = platform::duplicateStandardStream(false);
    notRegular_ = false;
    if (file_ == nullptr) {
      error_ = "no standard input";
      return false;
    }
    buffer_.attach(file_);
    return true;
  }
  int errorNumber = 0;
  if (!platform::openRegularFile(path, file_, errorNumber, error_)) {
    notRegular_ = errorNumber == 0;
    return false;
  }
  notRegular_ = false;
  buffer_.attach(file_);
  return true;
}

int64_t InputFile::size() const { return platform::regularFileSize(file_); }

int64_t InputFile::position() const { return positionOf(file_); }

bool InputFile::seek(int64_t offset) { return seekTo(file_, offset) == 0; }

void InputFile::close() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
}

uint32_t InputFile::readLE(int n) {
  uint32_t value = 0;
  for (int i = 0; i < n && i < 4; ++i) {
    int c = std::getc(file_);
    if (c == EOF) c = 0xFF;
    value |= static_cast<uint32_t>(c) << (8 * i);
  }
  return value;
}

std::size_t InputFile::read(uint8_t* into, std::size_t n) { return std::fread(into, 1, n, file_); }

bool InputFile::skip(int64_t n) {
  // Read, not sought: a pipe cannot seek, and the end must be noticed.
  uint8_t scratch[4096];
  while (n > 0) {
    const std::size_t want = static_cast<std::size_t>(std::min<int64_t>(n, sizeof scratch));
    if (std::fread(scratch, 1, want, file_) != want) return false;
    n -= static_cast<int64_t>(want);
  }
  return true;
}

bool OutputFile::open(const std::string& path) {
  adopt(std::fopen(path.c_str(), "wb"));
  if (file_ == nullptr) fail();
  return file_ != nullptr;
}

void OutputFile::adopt(std::FILE* stream) {
  close();
  failed_ = false;
  errorNumber_ = 0;
  file_ = stream;
  buffer_.attach(file_);
}

void OutputFile::fail() {
  if (!failed_) errorNumber_ = errno;
  failed_ = true;
}

std::string OutputFile::error() const { return platform::systemReason(errorNumber_); }

bool OutputFile::close() {
  if (file_ != nullptr) {
    errno = 0;
    if (std::fclose(file_) != 0) fail();
    file_ = nullptr;
  }
  return !failed_;
}

int OutputFile::writeLE(int n, uint32_t value) {
  for (int i = 0; i < n; ++i) {
    if (std::putc(static_cast<int>((value >> (8 * i)) & 0xFF), file_) == EOF) {
      fail();
      return 1;
    }
  }
  return 0;
}

bool OutputFile::write(const uint8_t* bytes, std::size_t n) {
  if (n > 0 && std::fwrite(bytes, 1, n, file_) != n) fail();
  return !failed_;
}

bool OutputFile::seek(int64_t offset) {
  if (seekTo(file_, offset) != 0) fail();
  return !failed_;
}

int64_t OutputFile::position() const { return file_ == nullptr ? -1 : positionOf(file_); }

bool OutputFile::flush() {
  if (std::fflush(file_) != 0) fail();
  return !failed_;
}

void readHeader(InputFile& in, NabHeader& h) {
  auto s32 = [&](int n) { return static_cast<int32_t>(in.readLE(n)); };
  h.riffId = s32(4);
  h.riffSize = s32(4);
  h.formType = s32(4);
  h.formatId = s32(4);
  h.formatSize = s32(4);
  h.formatTag = s32(2);
  h.channels = s32(2);
  h.sampleRate = s32(4);
  h.byteRate = s32(4);
  h.blockAlign = s32(2);
  h.bitsPerSample = s32(2);
  h.extensionSize = s32(2);
  h.coderVersion = s32(4);
  h.coderParameter = s32(4);
}

bool readCompressedHeader(InputFile& in, NabHeader& h, NabLayout& layout) {
  layout = NabLayout{};
  readHeader(in, h);
  if (h.riffId != static_cast<int32_t>(fourCC("RIFF")) || h.formType != static_cast<int32_t>(fourCC("WAVE")) ||
      h.formatId != static_cast<int32_t>(fourCC("fmt ")) || h.formatTag != kNabFormatTag) {
    return false;
  }
  if (h.channels != 1 && h.channels != 2) return false;
  const uint32_t chunk = in.readLE(4);
  const uint32_t chunkSize = in.readLE(4);
  if (chunk == fourCC("fact")) {
    layout.hasFact = true;
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
  // Counted, not asked of the stream: a pipe has no position.
  layout.dataOffset = layout.hasFact ? 54 + std::max<int64_t>(chunkSize, 4) + 8 : 54;
  const int first = in.get();
  const int second = first == EOF ? EOF : in.get();
  if (second != EOF) layout.preambleLength = first | (second << 8);
  return true;
}

bool writeHeader(OutputFile& out, const NabHeader& h) {
  int failed = 0;
  auto u = [](int32_t v) { return static_cast<uint32_t>(v); };
  failed |= out.writeLE(4, u(h.riffId));
  failed |= out.writeLE(4, u(h.riffSize));
  failed |= out.writeLE(4, u(h.formType));
  failed |= out.writeLE(4, u(h.formatId));
  failed |= out.writeLE(4, u(h.formatSize));
  failed |= out.writeLE(2, u(h.formatTag));
  failed |= out.writeLE(2, u(h.channels));
  failed |= out.writeLE(4, u(h.sampleRate));
  failed |= out.writeLE(4, u(h.byteRate));
  failed |= out.writeLE(2, u(h.blockAlign));
  failed |= out.writeLE(2, u(h.bitsPerSample));
  failed |= out.writeLE(2, u(h.extensionSize));
  failed |= out.writeLE(4, u(h.coderVersion));
  failed |= out.writeLE(4, u(h.coderParameter));
  failed |= out.writeLE(4, fourCC("fact"));
  failed |= out.writeLE(4, 4);
  failed |= out.writeLE(4, u(h.frameCount));
  failed |= out.writeLE(4, fourCC("data"));
  failed |= out.writeLE(4, u(h.dataSize));
  return failed == 0;
}

int64_t framesByBlockSizes(InputFile& in, int64_t blockLength, int channels) {
  int64_t samples = 0;
  for (;;) {
    const int first = in.get();
    if (first == EOF) break;
    const int second = in.get();
    if (second == EOF) return -1;
    const int size = (first | (second << 8)) & 0x0FFF;
    if (size == kCountExtensionSize) {
      const int low = in.get();
      const int high = in.get();
      if (high == EOF) return -1;
      samples += low | (high << 8);
      break;  // the last block; what follows is not read
    }
    if (size < 2 || !in.skip(size - 2)) return -1;
    samples += blockLength;
  }
  return samples / channels;
}

BlockRead readBlock(InputFile& in, CodeBlock& block) {
  const int first = in.get();
  if (first == EOF) return BlockRead::End;
  const int second = in.get();
  block.bytes[0] = static_cast<uint8_t>(first);
  block.available = 1;
  if (second == EOF) return BlockRead::Truncated;
  block.bytes[1] = static_cast<uint8_t>(second);
  block.available = 2;
  block.sizeField = (first | (second << 8)) & 0x0FFF;
  std::size_t want;
  if (block.countExtension()) {
    // The last block: its true size is not recorded, so it takes the rest
    // of the file up to the code buffer's length.
    want = sizeof block.bytes - 2;
    block.available += in.read(block.bytes + 2, want);
    if (block.available < 4) return BlockRead::Truncated;  // no count extension
    std::memset(block.bytes + block.available, 0xFF, sizeof block.bytes - block.available);
    return BlockRead::Block;
  }
  want = block.sizeField > 2 ? static_cast<std::size_t>(block.sizeField) - 2 : 0;
  block.available += in.read(block.bytes + 2, want);
  if (block.available < 2 + want) return BlockRead::Truncated;
  return BlockRead::Block;
}

bool finishCompressedFile(OutputFile& out, int64_t dataBytes, int64_t frames) {
  out.seek(62);
  out.writeLE(4, static_cast<uint32_t>(dataBytes));
  out.seek(4);
  out.writeLE(4, static_cast<uint32_t>(dataBytes + kHeaderBytes - 8));
  out.seek(54);
  out.writeLE(4, static_cast<uint32_t>(frames));
  return out.flush();
}

}  // namespace nubo::converter
