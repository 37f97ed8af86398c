// SPDX-License-Identifier: BSD-3-Clause
#include "file_formats.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

#include "flac_descriptor.h"
#include "message_entries.h"
#include "nab_descriptor.h"
#include "wave_descriptor.h"

namespace nubo::converter {

namespace {

struct Registered {
  OutputFormat id;
  const FileFormat* format;
};

// The registry: one line per format.
std::span<const Registered> registry() {
  static const Registered formats[] = {
      {OutputFormat::Nab, &nabDescriptor()},
      {OutputFormat::Wave, &waveDescriptor()},
      {OutputFormat::Flac, &flacDescriptor()},
  };
  return formats;
}

bool endsWithWithoutCase(std::string_view name, std::string_view suffix) {
  if (name.size() < suffix.size()) return false;
  return std::equal(suffix.begin(), suffix.end(), name.end() - static_cast<std::ptrdiff_t>(suffix.size()),
                    [](char a, char b) {
                      return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
                    });
}

// A stream whose first bytes were read to recognise it and could not be
// sought back to (a pipe): they are given again, then the rest.
class ReplayedSource : public ByteSource {
 public:
  ReplayedSource(std::unique_ptr<ByteSource> in, std::span<const uint8_t> head)
      : in_(std::move(in)), head_(head.begin(), head.end()) {}
  std::size_t read(uint8_t* into, std::size_t n) override {
    const std::size_t replayed = std::min(n, head_.size() - at_);
    if (replayed > 0) std::memcpy(into, head_.data() + at_, replayed);
    at_ += replayed;
    return replayed + (n > replayed ? in_->read(into + replayed, n - replayed) : 0);
  }
  int get() override { return at_ < head_.size() ? head_[at_++] : in_->get(); }

 private:
  std::unique_ptr<ByteSource> in_;
  std::vector<uint8_t> head_;
  std::size_t at_ = 0;
};

}  // namespace

std::span<const FileFormat* const> fileFormats() {
  static const std::vector<const FileFormat*> formats = [] {
    std::vector<const FileFormat*> all;
    for (const Registered& r : registry()) all.push_back(r.format);
    return all;
  }();
  return formats;
}

const FileFormat& fileFormat(OutputFormat id) {
  for (const Registered& r : registry()) {
    if (r.id == id) return *r.format;
  }
  return *registry().front().format;  // every id is registered
}

bool hasExtensionOf(std::string_view name, const FileFormat& format) {
  const auto extensions = format.extensions();
  return std::any_of(extensions.begin(), extensions.end(),
                     [name](std::string_view extension) { return endsWithWithoutCase(name, extension); });
}

bool goesByNameOf(std::string_view name, const FileFormat& format) {
  const auto others = format.otherExtensions();
  return hasExtensionOf(name, format) ||
         std::any_of(others.begin(), others.end(),
                     [name](std::string_view extension) { return endsWithWithoutCase(name, extension); });
}

std::optional<OutputFormat> formatByExtension(std::string_view name) {
  for (const Registered& r : registry()) {
    for (const std::string_view extension : r.format->extensions()) {
      // A name is more than its extension: ".flac" alone names no FLAC file.
      if (name.size() > extension.size() && endsWithWithoutCase(name, extension)) return r.id;
    }
  }
  return std::nullopt;
}

int64_t id3v2TagLength(std::span<const uint8_t> head) {
  // "ID3", a version and a revision (never 0xFF), flags, then the size of
  // what follows the header in four bytes of seven bits.
  if (head.size() < 10 || std::memcmp(head.data(), "ID3", 3) != 0 || head[3] == 0xFF || head[4] == 0xFF) return 0;
  int64_t size = 0;
  for (std::size_t i = 6; i < 10; ++i) {
    if ((head[i] & 0x80) != 0) return 0;
    size = size << 7 | head[i];
  }
  const bool footer = head[3] >= 4 && (head[5] & 0x10) != 0;
  return 10 + size + (footer ? 10 : 0);
}

const FileFormat* recognise(ByteSource& in, int64_t start, std::span<const uint8_t> head, bool pcm) {
  const auto formats = fileFormats();
  for (const FileFormat* format : formats) {
    if (format->carriesPcm() == pcm && format->recognises(head)) return format;
  }
  const int64_t tag = id3v2TagLength(head);
  if (tag == 0 || start < 0 || !in.seek(start + tag)) return nullptr;
  uint8_t after[kHeadBytes];
  const std::span<const uint8_t> afterTag(after, in.read(after, sizeof after));
  for (const FileFormat* format : formats) {
    if (format->carriesPcm() == pcm && format->readsPastId3Tag() && format->recognises(afterTag)) return format;
  }
  return nullptr;
}

int openPcmSource(const std::string& path, std::unique_ptr<PcmSource>& source, std::string& detail) {
  auto in = std::make_unique<InputFile>();
  if (!in->open(path)) {
    detail = in->error();
    return in->refusedAsNotRegular() ? kEntryNotRegular : kEntryCannotOpenInput;
  }
  return openPcmSource(std::unique_ptr<ByteSource>(std::move(in)), source, detail);
}

int openPcmSource(std::unique_ptr<ByteSource> in, std::unique_ptr<PcmSource>& source, std::string& detail) {
  uint8_t head[kHeadBytes];
  const int64_t start = in->position();
  const std::size_t got = in->read(head, sizeof head);
  const FileFormat* format = recognise(*in, start, {head, got}, true);
  if (format == nullptr && start < 0 && id3v2TagLength({head, got}) > 0) {
    detail = "it begins with an ID3v2 tag, which is stepped over only in a file, not on a pipe";
    return kEntryNotPcmWave;
  }
  // What no format recognises, the WAVE reader describes ("not a RIFF file").
  if (format == nullptr) format = &fileFormat(OutputFormat::Wave);
  if (start < 0 || !in->seek(start)) in = std::make_unique<ReplayedSource>(std::move(in), std::span(head, got));
  return format->openSource(std::move(in), source, detail);
}

}  // namespace nubo::converter
