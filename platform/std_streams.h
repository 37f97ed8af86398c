// SPDX-License-Identifier: BSD-3-Clause
// The standard streams and streams whose length is not known in advance:
// what the converter needs of the operating system to read from and write
// to pipes ("-" on the command line).
#pragma once

#include <cstdint>
#include <cstdio>

namespace nubo::platform {

// A stream on a duplicate of the standard input (output false) or output
// (true), in binary mode, so that closing it leaves the process's own
// descriptor open. nullptr when there is none.
std::FILE* duplicateStandardStream(bool output);

// The size of the regular file open in `stream`; -1 for a pipe, a terminal
// or a device, whose length is not known in advance.
int64_t regularFileSize(std::FILE* stream);

}  // namespace nubo::platform
