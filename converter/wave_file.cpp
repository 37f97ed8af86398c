// SPDX-License-Identifier: BSD-3-Clause
#include "wave_file.h"

namespace nubo::converter {

namespace {
constexpr uint32_t kTagPcm = 1;
constexpr uint32_t kTagFloat = 3;
constexpr uint32_t kTagExtensible = 0xFFFE;

std::string describeFormat(uint32_t tag, int bits, int channels) {
  std::string kind = tag == kTagPcm                          ? std::to_string(bits) + "-bit PCM"
                     : tag == kTagFloat                      ? std::to_string(bits) + "-bit floating point"
                     : tag == static_cast<uint32_t>(kNabFormatTag) ? "a compressed (.NAB) file"
                                                             : "format tag " + std::to_string(tag);
  return kind + ", " + std::to_string(channels) + " channel(s)";
}
}  // namespace

bool readWaveHeader(ByteSource& in, WaveInfo& info) {
  info = WaveInfo{};
  const uint32_t firstId = in.readLE(4);
  info.rf64 = firstId == fourCC("RF64");
  if (firstId != fourCC("RIFF") && !info.rf64) {
    info.whatItIs = "not a RIFF file";
    return false;
  }
  info.riffEnd = 8 + static_cast<int64_t>(in.readLE(4));
  if (in.readLE(4) != fourCC("WAVE")) {
    info.whatItIs = "a RIFF file, but not WAVE";
    return false;
  }
  // RF64 (EBU Tech 3306): the 64-bit sizes stand in a "ds64" chunk first.
  uint64_t dataSize64 = 0;
  if (info.rf64) {
    if (in.readLE(4) != fourCC("ds64")) {
      info.whatItIs = "an RF64 file without its ds64 chunk";
      return false;
    }
    const uint32_t size = in.readLE(4);
    uint64_t riffSize64 = in.readLE(4);
    riffSize64 |= static_cast<uint64_t>(in.readLE(4)) << 32;
    info.riffEnd = 8 + static_cast<int64_t>(riffSize64 & 0x7FFFFFFFFFFFFFFFu);
    dataSize64 = in.readLE(4);
    dataSize64 |= static_cast<uint64_t>(in.readLE(4)) << 32;
    if (size < 24 || !in.skip(static_cast<int64_t>(size) - 16 + (size & 1))) {
      info.whatItIs = "an RF64 file with a damaged ds64 chunk";
      return false;
    }
  }
  bool haveFormat = false;
  for (;;) {
    const uint32_t id = in.readLE(4);
    const uint32_t size = in.readLE(4);
    if (id == 0xFFFFFFFFu && size == 0xFFFFFFFFu) {  // end of file
      info.whatItIs = haveFormat ? "a WAVE file without a data chunk" : "a WAVE file without a format chunk";
      return false;
    }
    if (id == fourCC("fmt ")) {
      if (size < 16) {
        info.whatItIs = "a WAVE file with a damaged format chunk";
        return false;
      }
      uint32_t tag = in.readLE(2);
      info.channels = static_cast<int>(in.readLE(2));
      info.sampleRate = in.readLE(4);
      info.byteRate = in.readLE(4);
      info.blockAlign = static_cast<int>(in.readLE(2));
      info.bitsPerSample = static_cast<int>(in.readLE(2));
      uint32_t used = 16;
      if (tag == kTagExtensible && size >= 40) {
        in.readLE(2);  // extension size
        in.readLE(2);  // valid bits
        in.readLE(4);  // channel mask
        tag = in.readLE(2);  // the subformat GUID begins with the format tag
        used = 26;
      }
      info.formatTag = static_cast<int>(tag);
      if (!in.skip(static_cast<int64_t>(size - used) + (size & 1))) {
        info.whatItIs = "a WAVE file that ends inside its format chunk";
        return false;
      }
      if (tag != kTagPcm || info.bitsPerSample != 16 || (info.channels != 1 && info.channels != 2)) {
        info.whatItIs = describeFormat(tag, info.bitsPerSample, info.channels);
        return false;
      }
      haveFormat = true;
    } else if (id == fourCC("data")) {
      if (!haveFormat) {
        info.whatItIs = "a WAVE file whose data comes before its format chunk";
        return false;
      }
      const int64_t claimed = info.rf64 && size == 0xFFFFFFFFu ? static_cast<int64_t>(dataSize64) : size;
      info.claimedBytes = claimed;
      info.dataBytes = claimed;
      const int64_t length = in.size();
      if (length < 0) {
        // A pipe: its length is not known. A size of 0 (a recorder that
        // stopped before it wrote the sizes) or "unknown" reads to the end.
        if (claimed == 0 || claimed == 0xFFFFFFFFLL) {
          info.readToEnd = true;
          info.sizeFieldWrong = claimed == 0;
        }
        return true;
      }
      // A recorder that stopped before it wrote the sizes leaves 0 (or a
      // size beyond the end of the file): the audio then runs to the end,
      // in whole frames.
      const int64_t behind = length - in.position();
      if ((claimed == 0 && behind > 0) || claimed > behind) {
        const int64_t frame = 2 * info.channels;
        info.dataBytes = behind - behind % frame;
        info.sizeFieldWrong = true;
      }
      return true;
    } else if (!takeChunk(in, id, size, haveFormat ? ChunkPlace::BeforeData : ChunkPlace::BeforeFormat, info.foreign,
                          info.dropped)) {
      info.whatItIs = haveFormat ? "a WAVE file without a data chunk" : "a WAVE file without a format chunk";
      return false;
    }
  }
}

bool readChunksAfterData(ByteSource& in, WaveInfo& info) {
  const int64_t first = in.position();
  const int64_t length = in.size();
  if (info.readToEnd || info.sizeFieldWrong || first < 0 || length < 0) return true;
  const int64_t end = first + info.claimedBytes + (info.claimedBytes & 1);
  if (end >= length || !in.seek(end)) return in.seek(first);
  // Up to the end of the file; bytes too few for a chunk header (a stray
  // pad byte) are no chunk.
  while (length - in.position() >= 8) {
    const uint32_t id = in.readLE(4);
    const uint32_t size = in.readLE(4);
    if (!takeChunk(in, id, size, ChunkPlace::AfterData, info.foreign, info.dropped)) break;
  }
  // A chunk header cut short: the RIFF size says the file goes on.
  if (const int64_t left = length - in.position(); left > 0 && left < 8 && info.riffEnd > length) {
    ChunkNote cut;
    cut.held = left;
    info.dropped.push_back(cut);
  }
  return in.seek(first);
}

bool writeWaveHeader(ByteSink& out, int channels, int64_t sampleRate, int64_t dataBytes) {
  int failed = 0;
  const auto data = static_cast<uint32_t>(dataBytes);
  failed |= out.writeLE(4, fourCC("RIFF"));
  failed |= out.writeLE(4, data + 36);
  failed |= out.writeLE(4, fourCC("WAVE"));
  failed |= out.writeLE(4, fourCC("fmt "));
  failed |= out.writeLE(4, 16);
  failed |= out.writeLE(2, kTagPcm);
  failed |= out.writeLE(2, static_cast<uint32_t>(channels));
  failed |= out.writeLE(4, static_cast<uint32_t>(sampleRate));
  failed |= out.writeLE(4, static_cast<uint32_t>(sampleRate * channels * 2));
  failed |= out.writeLE(2, static_cast<uint32_t>(channels * 2));
  failed |= out.writeLE(2, 16);
  failed |= out.writeLE(4, fourCC("data"));
  failed |= out.writeLE(4, data);
  return failed == 0;
}

bool finishWaveFile(ByteSink& out, int64_t dataBytes) {
  out.seek(4);
  out.writeLE(4, static_cast<uint32_t>(dataBytes + 36));
  out.seek(40);
  out.writeLE(4, static_cast<uint32_t>(dataBytes));
  return out.flush();
}

}  // namespace nubo::converter
