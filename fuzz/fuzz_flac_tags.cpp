// SPDX-License-Identifier: BSD-3-Clause
// Arbitrary comments in the VORBIS_COMMENT block of a FLAC file read from
// memory (one comment a line, or the block's bytes as they come): the source
// opens or refuses without harm, and the compressed file's fields it takes
// come back the same from the comments a FLAC output writes for them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "file_io.h"
#include "flac_tags.h"
#include "file_formats.h"
#include "foreign_chunks.h"

using namespace nubo::converter;

namespace {

void putLE32(std::vector<uint8_t>& out, std::size_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// "fLaC", a STREAMINFO of 16-bit stereo at 44100 Hz with no audio, and the
// VORBIS_COMMENT block `body` as the last metadata block.
std::vector<uint8_t> flacWithComments(const std::vector<uint8_t>& body) {
  std::vector<uint8_t> f{'f', 'L', 'a', 'C', 0x00, 0, 0, 34};
  const uint8_t info[18] = {0x10, 0x00, 0x10, 0x00, 0, 0, 0, 0, 0, 0};
  f.insert(f.end(), info, info + 10);
  const uint64_t packed = uint64_t{44100} << 44 | uint64_t{1} << 41 | uint64_t{15} << 36;
  for (int i = 7; i >= 0; --i) f.push_back(static_cast<uint8_t>(packed >> (8 * i)));
  f.insert(f.end(), 16, 0);  // MD5
  const std::size_t length = body.size() & 0xFFFFFF;
  f.push_back(0x80 | 4);
  f.push_back(static_cast<uint8_t>(length >> 16));
  f.push_back(static_cast<uint8_t>(length >> 8));
  f.push_back(static_cast<uint8_t>(length));
  f.insert(f.end(), body.begin(), body.begin() + static_cast<std::ptrdiff_t>(length));
  return f;
}

std::vector<uint8_t> commentBlock(const std::vector<std::string>& comments) {
  std::vector<uint8_t> body;
  putLE32(body, 4);
  body.insert(body.end(), {'f', 'u', 'z', 'z'});
  putLE32(body, comments.size());
  for (const std::string& c : comments) {
    putLE32(body, c.size());
    body.insert(body.end(), c.begin(), c.end());
  }
  return body;
}

bool carriedOf(const std::vector<uint8_t>& file, CarriedFields& carried) {
  std::unique_ptr<PcmSource> source;
  std::string detail;
  auto in = std::make_unique<MemorySource>(std::span<const uint8_t>(file));
  if (openPcmSource(std::move(in), source, detail) != 0) return false;
  carried = source->carried;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::vector<uint8_t> body;
  if (data[0] & 1) {
    body.assign(data + 1, data + size);
  } else {
    std::vector<std::string> comments(1);
    for (std::size_t i = 1; i < size; ++i) {
      if (data[i] == '\n') {
        comments.emplace_back();
      } else {
        comments.back() += static_cast<char>(data[i]);
      }
    }
    body = commentBlock(comments);
  }
  const std::vector<uint8_t> file = flacWithComments(body);
  CarriedFields carried;
  if (!carriedOf(file, carried) || !carried.present) return 0;

  std::vector<std::string> written;
  for (const auto& [name, value] : carriedTags(carried)) written.push_back(name + "=" + value);
  CarriedFields back;
  if (!carriedOf(flacWithComments(commentBlock(written)), back)) std::abort();
  // A preamble of WAVE chunks travels in APPLICATION blocks, not in a tag.
  ForeignChunks chunks;
  const std::string expected = chunksOfPreamble(carried.preamble, chunks) ? "" : carried.preamble;
  if (!back.present || back.preamble != expected || back.coderParameter != carried.coderParameter ||
      back.coderVersion != carried.coderVersion) {
    std::abort();
  }
  return 0;
}
