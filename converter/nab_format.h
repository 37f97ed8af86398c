// SPDX-License-Identifier: BSD-3-Clause
// The compressed file (.NAB): a 66-byte RIFF header with the coder version, a
// length-prefixed preamble, then code blocks back to back. Files go through
// byte streams handed in (a file, a pipe, memory); a block is read or written
// in one call.
#pragma once

#include <cstdint>
#include <string>

#include "file_io.h"
#include "nubocodec.h"

namespace nubo::converter {

inline constexpr int kHeaderBytes = 66;
inline constexpr int32_t kNabFormatTag = 0x8A3A;
// The longest path a run takes, in characters (not bytes).
inline constexpr std::size_t kMaxPathChars = 299;
inline constexpr int kCountExtensionSize = 4095;  // the 12-bit size field of a block with a count extension
inline constexpr int64_t kRiffLimit = 0xFFFFFFFFLL;  // a RIFF size field is 32 bits

inline constexpr uint32_t fourCC(const char (&s)[5]) {
  return static_cast<uint32_t>(static_cast<uint8_t>(s[0])) | static_cast<uint32_t>(static_cast<uint8_t>(s[1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(s[2])) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(s[3])) << 24;
}

// The header fields, each as read (signed 32-bit, as the checks compare them).
struct NabHeader {
  int32_t riffId = static_cast<int32_t>(fourCC("RIFF"));
  int32_t riffSize = 0;
  int32_t formType = static_cast<int32_t>(fourCC("WAVE"));
  int32_t formatId = static_cast<int32_t>(fourCC("fmt "));
  int32_t formatSize = 26;
  int32_t formatTag = kNabFormatTag;
  int32_t channels = 0;
  int32_t sampleRate = 0;
  int32_t byteRate = 0;
  int32_t blockAlign = 0;
  int32_t bitsPerSample = 0;
  int32_t extensionSize = 8;
  int32_t coderVersion = 22;
  int32_t coderParameter = 0;
  int32_t frameCount = 0;
  int32_t dataSize = 0;
};

// Samples per block (all channels): channels x rate / 50.
inline int64_t blockLengthOf(int64_t channels, int64_t sampleRate) { return channels * sampleRate / 50; }

// The encode flags of a block of n samples in a file of that block length: a
// shorter block carries its count in an extension, and ends the stream.
inline uint16_t blockEncodeFlags(int64_t n, int64_t blockLength) {
  return n != blockLength ? NUBO_FLAG_ENCODE | NUBO_FLAG_COUNT_EXTENSION : NUBO_FLAG_ENCODE;
}

// Reads the header fields up to the coder parameter. The checks are the caller's.
void readHeader(ByteSource& in, NabHeader& h);

// Where the parts of a compressed file lie, from its header.
struct NabLayout {
  bool hasFact = false;         // a fact chunk records the frame count (else it is derived from the data size)
  int64_t dataOffset = 0;       // where the data chunk's content (the preamble length) begins
  int64_t preambleLength = -1;  // -1 when the file ends before it
};

// Reads the header of a compressed file up to and including the preamble
// length, leaving `in` at the first preamble byte. False when the file is not
// a compressed file: identifiers, format tag, channels 1 or 2, and a "fact"
// or "data" chunk after the format chunk. The coder version is the caller's.
bool readCompressedHeader(ByteSource& in, NabHeader& h, NabLayout& layout);
// Writes the header in file order with coder version and sizes as given in
// `h`, always with a 4-byte fact chunk. False when a byte could not be written.
bool writeHeader(ByteSink& out, const NabHeader& h);
// Writes the data size (`dataBytes`, everything after the 66 header bytes),
// the RIFF size and the sample-frame count in place and flushes the file
// (it stays open). False when anything of the file could not be written.
bool finishCompressedFile(ByteSink& out, int64_t dataBytes, int64_t frames);

// The frames the blocks of a compressed file hold, from their size fields
// and count extensions alone (nothing is decoded), reading from the first
// block on. -1 when the file ends inside a block.
int64_t framesByBlockSizes(ByteSource& in, int64_t blockLength, int channels);

enum class BlockRead {
  End,        // the file ended before a block's first byte
  Block,      // a whole block is in the buffer
  Truncated,  // the file ends inside the block
};

// One code block read by the file's rules: a block with a count extension
// (size field 4095) is the last one and takes the rest of the file, at most
// the whole code buffer; the bytes of the buffer after it read as 0xFF.
struct CodeBlock {
  uint8_t bytes[NUBO_MAX_CODE_BLOCK_BYTES];
  int sizeField = 0;          // the 12-bit size field
  std::size_t available = 0;  // bytes that came from the file
  bool countExtension() const { return sizeField == kCountExtensionSize; }
};
BlockRead readBlock(ByteSource& in, CodeBlock& block);

}  // namespace nubo::converter
