// SPDX-License-Identifier: BSD-3-Clause
#include "file_io.h"

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

class ProcessStandardStreams : public StandardStreams {
 public:
  std::FILE* input() override { return platform::duplicateStandardStream(false); }
  std::FILE* output() override { return platform::duplicateStandardStream(true); }
};
}  // namespace

uint32_t ByteSource::readLE(int n) {
  uint32_t value = 0;
  for (int i = 0; i < n && i < 4; ++i) {
    int c = get();
    if (c < 0) c = 0xFF;
    value |= static_cast<uint32_t>(c) << (8 * i);
  }
  return value;
}

bool ByteSource::skip(int64_t n) {
  uint8_t scratch[4096];
  while (n > 0) {
    const std::size_t want = static_cast<std::size_t>(std::min<int64_t>(n, sizeof scratch));
    if (read(scratch, want) != want) return false;
    n -= static_cast<int64_t>(want);
  }
  return true;
}

int ByteSink::writeLE(int n, uint32_t value) {
  uint8_t bytes[4];
  n = std::min(n, 4);
  if (n <= 0) return 0;
  for (int i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
  return write(bytes, static_cast<std::size_t>(n)) ? 0 : 1;
}

std::size_t MemorySource::read(uint8_t* into, std::size_t n) {
  const std::size_t take = std::min(n, bytes_.size() - at_);
  if (take > 0) std::memcpy(into, bytes_.data() + at_, take);
  at_ += take;
  return take;
}

bool MemorySource::skip(int64_t n) {
  if (n < 0) return false;
  const auto left = static_cast<uint64_t>(bytes_.size() - at_);
  at_ += static_cast<std::size_t>(std::min<uint64_t>(static_cast<uint64_t>(n), left));
  return static_cast<uint64_t>(n) <= left;
}

bool MemorySource::seek(int64_t offset) {
  if (offset < 0 || static_cast<uint64_t>(offset) > bytes_.size()) return false;
  at_ = static_cast<std::size_t>(offset);
  return true;
}

bool MemorySink::write(const uint8_t* bytes, std::size_t n) {
  if (at_ + n > bytes_.size()) bytes_.resize(at_ + n);
  if (n > 0) std::memcpy(bytes_.data() + at_, bytes, n);
  at_ += n;
  return true;
}

bool MemorySink::seek(int64_t offset) {
  if (offset < 0) return false;
  at_ = static_cast<std::size_t>(offset);
  if (at_ > bytes_.size()) bytes_.resize(at_);
  return true;
}

void StreamBuffer::attach(std::FILE* file) {
  if (file == nullptr) return;
  if (!bytes_) bytes_ = std::make_unique<char[]>(kStreamBuffer);
  std::setvbuf(file, bytes_.get(), _IOFBF, kStreamBuffer);
}

bool InputFile::open(const std::string& path) {
  close();
  int errorNumber = 0;
  if (!platform::openRegularFile(path, file_, errorNumber, error_)) {
    notRegular_ = errorNumber == 0;
    return false;
  }
  notRegular_ = false;
  buffer_.attach(file_);
  return true;
}

bool InputFile::adopt(std::FILE* stream) {
  close();
  notRegular_ = false;
  file_ = stream;
  if (file_ == nullptr) {
    error_ = "no standard input";
    return false;
  }
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

bool OutputFile::open(const std::string& path) {
  adopt(platform::openFile(path, "wb"));
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

StandardStreams& processStandardStreams() {
  static ProcessStandardStreams streams;
  return streams;
}

}  // namespace nubo::converter
