// SPDX-License-Identifier: BSD-3-Clause
// The library's one exported symbol; everything else is hidden.
#include "coders.h"
#include "nubocodec.h"

extern "C" __attribute__((visibility("default"))) int32_t NuboWaveConvert(ConvertParams* params, void* samples,
                                                                          void* code) {
  return static_cast<int32_t>(nubo::codec::convert(*params, samples, code));
}
