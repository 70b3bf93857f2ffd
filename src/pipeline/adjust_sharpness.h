// Sharpness: an unsharp mask that reads an unchanged copy of the picture
// (the source) and writes the sharpened picture (the destination).
#pragma once

#include <cstdint>

#include "pipeline/adjust.h"

namespace zbx::pipeline {

// The rectangle callback for a colour mode (nullptr outside 0..5); its
// `params` is an AdjustRecord with the sharpness s (limited to 0..30).
// For every pixel at least two pixels inside the rectangle's edges:
//   blur  = (sum of the 4 x 4 block over columns x-2..x+1, rows y-2..y+1) >> 4
//   value = source + trunc(s * (source - blur) / 10), limited to 0..maximum
// per channel.  The two-pixel frame and any fourth byte or sample are not
// written.  Source and destination must be different stores.  Returns 1,
// or 0 when the layout does not suit.
[[nodiscard]] RectCallback sharpness_callback(int colour_mode);

// One row of the callback's work: source rows y-2, y-1, y, y+1 (each at
// pixel 0, `width` pixels of `bytes_per_pixel`) into the destination row
// at pixel 0, pixels 2..width-3 only, fourth bytes or samples kept.
void sharpen_row(Variant variant, const std::uint8_t* const rows[4], std::uint8_t* dst,
                 std::int32_t width, std::int32_t bytes_per_pixel, const AdjustRecord& record);

// Sharpening of the mode's output buffer: copies its whole store into
// `scratch` (a preallocated plane of identical format, slot 6), then
// sharpens from the copy into `image`.  Returns 0 without touching either
// plane when the formats differ.
int apply_sharpness(PixelPlane image, PixelPlane scratch, int colour_mode,
                    const AdjustRecord& record);

}  // namespace zbx::pipeline
