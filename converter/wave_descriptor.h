// SPDX-License-Identifier: BSD-3-Clause
// 16-bit PCM WAVE files, and RF64 for more audio than 4 GiB, as a format of
// the registry.
#pragma once

#include "file_format.h"

namespace nubo::converter {

const FileFormat& waveDescriptor();

}  // namespace nubo::converter
