// SPDX-License-Identifier: BSD-3-Clause
// The formats nubo knows, by id. A new format is a descriptor of its own
// (file_format.h), an id here and a line in file_formats.cpp.
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "file_format.h"

namespace nubo::converter {

// The formats, by id: what a run writes (decode chooses; the others write .NAB).
enum class OutputFormat { Nab, Wave, Flac };

// Every registered format, in the order they are asked.
std::span<const FileFormat* const> fileFormats();
const FileFormat& fileFormat(OutputFormat id);
// Whether `name` ends in one of `format`'s extensions, without regard to
// case (`name` may be the extension alone).
bool hasExtensionOf(std::string_view name, const FileFormat& format);
// Whether `name` ends in one of the extensions `format`'s files go by, its
// own or the others (without regard to case).
bool goesByNameOf(std::string_view name, const FileFormat& format);
// The format whose extension ends `name`, a file name longer than the
// extension (without regard to case).
std::optional<OutputFormat> formatByExtension(std::string_view name);
// The format among those that carry PCM audio (`pcm`) or the others that
// recognises the file `in` holds from `start` on, whose first bytes `head`
// has been read: after an ID3v2 tag, which the formats that read past one
// are asked about, when `in` can seek. nullptr when none does. `in` is left
// anywhere.
const FileFormat* recognise(ByteSource& in, int64_t start, std::span<const uint8_t> head, bool pcm);
// The length of the ID3v2 tag that `head` begins with (header, body and
// footer), or 0.
int64_t id3v2TagLength(std::span<const uint8_t> head);

// Opens a PCM input of any registered format, recognised by its content: the
// file at `path` (taken as given) or the stream `in` handed in. 0, or the
// entry of the reason with `detail` (what the file is instead).
int openPcmSource(const std::string& path, std::unique_ptr<PcmSource>& source, std::string& detail);
int openPcmSource(std::unique_ptr<ByteSource> in, std::unique_ptr<PcmSource>& source, std::string& detail);

}  // namespace nubo::converter
