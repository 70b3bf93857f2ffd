// Gamma: a power curve as a lookup table built per call.
#pragma once

#include <cstdint>

#include "pipeline/adjust.h"

namespace zbx::pipeline {

// Exponent of a gamma value (limited to 0..200, 100 neutral): G / 100 up
// to 100, (G - 100) / 10 + 1 above.
[[nodiscard]] double gamma_exponent(std::int32_t value);

// 8-bit table: entry i = trunc(pow(i / 255, e) * 255).
void build_gamma_table8(double exponent, std::uint8_t* table);
// 2^bits-entry table: entry i = trunc(pow(i / 2^bits, e) * (2^bits - 1)),
// so at e = 1 the top entry stays one below the maximum.
void build_gamma_table16(double exponent, int bits, std::uint16_t* table);

// The rectangle callback for a colour mode (nullptr outside 0..5); its
// `params` is an AdjustRecord.  The 8-bit colour variant (modes 2, 3)
// limits the exponent to 0.001..99.999, the others use it as it is, so
// value 0 there maps every sample to the maximum.  A 16-bit sample at or
// beyond the table's end gives the last entry.  Returns 1, or 0 when the
// layout does not suit.
[[nodiscard]] RectCallback gamma_callback(int colour_mode);

// Gamma in place on the mode's output buffer.
int apply_gamma(PixelPlane image, int colour_mode, const AdjustRecord& record);

}  // namespace zbx::pipeline
