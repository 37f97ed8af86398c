// SPDX-License-Identifier: BSD-3-Clause
// 16-bit FLAC files (through libFLAC) as a format of the registry. A build
// without libFLAC knows them but neither reads nor writes them.
#pragma once

#include "file_format.h"

namespace nubo::converter {

const FileFormat& flacDescriptor();

}  // namespace nubo::converter
