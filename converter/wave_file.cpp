#include "wave_file.h"

namespace nubo::converter {

namespace {
constexpr uint32_t kTagPcm = 1;
constexpr uint32_t kTagExtensible = 0xFFFE;
}  // namespace

bool readWaveHeader(InputFile& in, WaveInfo& info) {
  if (in.readLE(4) != fourCC("RIFF")) return false;
  in.readLE(4);
  if (in.readLE(4) != fourCC("WAVE")) return false;
  bool haveFormat = false;
  for (;;) {
    const uint32_t id = in.readLE(4);
    const uint32_t size = in.readLE(4);
    if (id == 0xFFFFFFFFu && size == 0xFFFFFFFFu) return false;  // end of file
    if (id == fourCC("fmt ")) {
      if (size < 16) return false;
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
      if (!in.skip(static_cast<int64_t>(size - used) + (size & 1))) return false;
      if (tag != kTagPcm || info.bitsPerSample != 16 || (info.channels != 1 && info.channels != 2)) return false;
      haveFormat = true;
    } else if (id == fourCC("data")) {
      if (!haveFormat) return false;
      info.dataBytes = size;
      return true;
    } else if (!in.skip(static_cast<int64_t>(size) + (size & 1))) {
      return false;
    }
  }
}

bool writeWaveHeader(OutputFile& out, int channels, int64_t sampleRate, int64_t dataBytes) {
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

}  // namespace nubo::converter
