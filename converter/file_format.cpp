// SPDX-License-Identifier: BSD-3-Clause
#include "file_format.h"

#include "message_entries.h"

namespace nubo::converter {

// The compressed file has neither: its blocks are read and written by the jobs.
int FileFormat::openSource(std::unique_ptr<ByteSource>, std::unique_ptr<PcmSource>&, std::string& detail) const {
  detail = std::string("a ") + std::string(name()) + " file";
  return kEntryNotPcmWave;
}

std::unique_ptr<PcmSink> FileFormat::startSink(ByteSink&, const SinkRequest&, std::string& error) const {
  error = std::string(name()) + " is not written from PCM";
  return nullptr;
}

}  // namespace nubo::converter
