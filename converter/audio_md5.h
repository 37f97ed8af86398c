// SPDX-License-Identifier: BSD-3-Clause
// The MD5 of decoded audio as FLAC keeps it in STREAMINFO (and metaflac
// --show-md5sum prints it): of the samples as 16-bit little-endian,
// channels interleaved, which is exactly the PCM byte stream of a WAVE file.
// Computed with nettle, on Windows with the system's own hashing (CNG); a
// build with neither has none (available() false).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace nubo::converter {

class AudioMd5 {
 public:
  AudioMd5();
  ~AudioMd5();
  AudioMd5(const AudioMd5&) = delete;
  AudioMd5& operator=(const AudioMd5&) = delete;

  static bool available();
  void update(const uint8_t* bytes, std::size_t n);
  // 32 lower-case hexadecimal digits ("" without MD5). Ends the sum.
  std::string hex();

 private:
  struct State;
  State* state_;
};

}  // namespace nubo::converter
