// Contrast: a lookup table built per call that stretches (positive value)
// or compresses (negative value) the samples about the middle.
#pragma once

#include <cstdint>

#include "pipeline/adjust.h"

namespace zbx::pipeline {

// Fills `table` (2^bits entries; 256 for bits 8) for contrast value m,
// limited to -127..127: with n = 2^bits and o = m * 2^(bits-8), entry i
// is 0 below o, n - 1 above n - o - 1, else trunc(n / (n - 2o) * (i - o)).
void build_contrast_table(std::int32_t value, int bits, std::uint16_t* table);

// The rectangle callback for a colour mode (nullptr outside 0..5); its
// `params` is an AdjustRecord.  A 16-bit sample at or beyond the table's
// end gives n - 1.  Returns 1, or 0 when the layout does not suit.
[[nodiscard]] RectCallback contrast_callback(int colour_mode);

// Contrast in place on the mode's output buffer.
int apply_contrast(PixelPlane image, int colour_mode, const AdjustRecord& record);

}  // namespace zbx::pipeline
