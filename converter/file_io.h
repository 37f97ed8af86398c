// SPDX-License-Identifier: BSD-3-Clause
// The byte streams that the file formats read and write: a file, a pipe or
// memory. Readers and writers of headers and blocks take a stream handed to
// them and never open one themselves; the standard input and output are
// streams handed in by the front end that has them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace nubo::converter {

// Bytes read in order. Streams of a known length (files, memory) also tell
// their size and position and can seek; a pipe does neither.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Up to n bytes; fewer only at the end of the stream (or on a read error).
  virtual std::size_t read(uint8_t* into, std::size_t n) = 0;
  // One byte; -1 at the end.
  virtual int get() = 0;
  // Reads past n bytes (not sought: a pipe cannot seek, and the end must be
  // noticed). False when the stream ends first.
  virtual bool skip(int64_t n);
  // The length in bytes; -1 when it is not known in advance (a pipe).
  virtual int64_t size() const { return -1; }
  // The offset of the next byte; -1 when the stream cannot tell.
  virtual int64_t position() const { return -1; }
  // Moves to an absolute offset; false on a stream that cannot.
  virtual bool seek(int64_t) { return false; }

  // n bytes as a little-endian unsigned number; bytes past the end of the
  // stream read as 0xFF. n <= 0 reads nothing and gives 0.
  uint32_t readLE(int n);
};

// Bytes written in order. Every failure is remembered, so that nothing
// counts as written that is not: write() is false once anything has failed.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual bool write(const uint8_t* bytes, std::size_t n) = 0;
  // Moves to an absolute offset to write there; false (and failed) on a
  // stream that cannot seek.
  virtual bool seek(int64_t offset) = 0;
  // Where the next byte goes, or -1.
  virtual int64_t position() const = 0;
  // Hands what is buffered on; false when anything of the stream failed.
  virtual bool flush() = 0;
  virtual bool failed() const = 0;
  // The reason for the first failure ("No space left on device").
  virtual std::string error() const = 0;

  // Writes the low n bytes of value, least significant first. 0 on success,
  // 1 when they could not be written.
  int writeLE(int n, uint32_t value);
};

// A source over bytes held elsewhere (which must outlive it).
class MemorySource : public ByteSource {
 public:
  explicit MemorySource(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  std::size_t read(uint8_t* into, std::size_t n) override;
  int get() override { return at_ < bytes_.size() ? bytes_[at_++] : -1; }
  bool skip(int64_t n) override;
  int64_t size() const override { return static_cast<int64_t>(bytes_.size()); }
  int64_t position() const override { return static_cast<int64_t>(at_); }
  bool seek(int64_t offset) override;

 private:
  std::span<const uint8_t> bytes_;
  std::size_t at_ = 0;
};

// A sink that gathers the bytes in memory; seeking past the end and writing
// there fills the gap with zeros, as a file does.
class MemorySink : public ByteSink {
 public:
  bool write(const uint8_t* bytes, std::size_t n) override;
  bool seek(int64_t offset) override;
  int64_t position() const override { return static_cast<int64_t>(at_); }
  bool flush() override { return true; }
  bool failed() const override { return false; }
  std::string error() const override { return ""; }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  std::size_t at_ = 0;
};

// The stream buffer of InputFile and OutputFile: owned by the object because
// glibc ignores the size given to setvbuf without a buffer and keeps its 4 KiB
// default, which costs one system call per 4 KiB.
class StreamBuffer {
 public:
  // Attaches a 64 KiB buffer to a freshly opened stream.
  void attach(std::FILE* file);

 private:
  std::unique_ptr<char[]> bytes_;
};

// A file, or a stream handed in (a pipe), read through a 64 KiB buffer. A
// FIFO or device is refused at the open, never waited on.
class InputFile : public ByteSource {
 public:
  InputFile() = default;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile() override { close(); }

  // False with the system's reason in error() when the regular file at
  // `path` cannot be opened. The name is taken as given.
  bool open(const std::string& path);
  // Takes over a stream opened for binary reading elsewhere (the standard
  // input, handed in); false when there is none.
  bool adopt(std::FILE* stream);
  void close();
  bool isOpen() const { return file_ != nullptr; }
  const std::string& error() const { return error_; }
  // The open failed because the path names no regular file (a FIFO, a device, a directory).
  bool refusedAsNotRegular() const { return notRegular_; }

  std::size_t read(uint8_t* into, std::size_t n) override { return std::fread(into, 1, n, file_); }
  int get() override { return std::getc(file_); }
  // -1 for a pipe.
  int64_t size() const override;
  int64_t position() const override;
  bool seek(int64_t offset) override;

 private:
  std::FILE* file_ = nullptr;
  std::string error_;
  bool notRegular_ = false;
  StreamBuffer buffer_;
};

// A file opened for binary writing, or a stream handed in, through a 64 KiB
// buffer. Every failure is remembered with its system error number,
// including one of the final close.
class OutputFile : public ByteSink {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile() override { close(); }

  bool open(const std::string& path);
  // Takes over a stream opened for binary writing elsewhere.
  void adopt(std::FILE* stream);
  // Closes the file; false when this or any earlier write failed.
  bool close();
  bool isOpen() const { return file_ != nullptr; }
  std::FILE* stream() const { return file_; }

  bool write(const uint8_t* bytes, std::size_t n) override;
  bool seek(int64_t offset) override;
  int64_t position() const override;
  bool flush() override;
  bool failed() const override { return failed_; }
  std::string error() const override;

 private:
  void fail();
  std::FILE* file_ = nullptr;
  bool failed_ = false;
  int errorNumber_ = 0;
  StreamBuffer buffer_;
};

// The standard input and output of a run. The front end that has them hands
// them in; the jobs and the output rules never reach for the process's own.
class StandardStreams {
 public:
  virtual ~StandardStreams() = default;
  // A new stream for binary reading of the standard input, or writing of the
  // standard output; closing it leaves the other users of the stream alone.
  // nullptr when there is none.
  virtual std::FILE* input() = 0;
  virtual std::FILE* output() = 0;
};

// The process's own standard streams (duplicated, in binary mode).
StandardStreams& processStandardStreams();

}  // namespace nubo::converter
