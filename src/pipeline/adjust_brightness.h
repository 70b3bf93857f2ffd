// Brightness: every sample (every colour channel) multiplied by one
// single-precision factor, truncated and limited to the sample maximum.
#pragma once

#include <cstdint>

#include "pipeline/adjust.h"

namespace zbx::pipeline {

// The factor for a brightness value (limited to -255..255): 1 - |v|/255
// below 0, 1 + 10 v/255 above, computed in double and kept as a float.
[[nodiscard]] float brightness_factor(std::int32_t value);

// The rectangle callback for a colour mode (nullptr outside 0..5); its
// `params` is an AdjustRecord (value, sample bits).  It returns 1, or 0
// without touching anything when the pixel layout does not suit the mode.
[[nodiscard]] RectCallback brightness_callback(int colour_mode);

// Brightness in place on the mode's output buffer; runs even for value 0
// (development skips that case).  Returns the callback's result.
int apply_brightness(PixelPlane image, int colour_mode, const AdjustRecord& record);

}  // namespace zbx::pipeline
