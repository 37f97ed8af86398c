// SPDX-License-Identifier: BSD-3-Clause
// The least-squares fit of the version-22 predictor, exposed for tests.
#pragma once

#include <cstdint>

namespace nubo::codec::detail {

struct Coefficients {
  int32_t a1, a2, a3;  // units of 1/256, clamped into their field ranges
};

// REQUIRES: channels is 1 or 2; n <= 2047; samples little-endian 16-bit.
Coefficients fitV22(const uint8_t* samples, int n, int channels);

}  // namespace nubo::codec::detail
