// SPDX-License-Identifier: BSD-3-Clause
// The compressed file (.NAB) as a format of the registry.
#pragma once

#include "file_format.h"

namespace nubo::converter {

const FileFormat& nabDescriptor();

}  // namespace nubo::converter
