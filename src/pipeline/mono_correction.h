// Monochrome gain and offset correction: flattens the fixed 2 x 2 pattern
// that the colour filters leave in a monochrome picture, with one gain and
// one offset per cell position, and measures the gains that balance it.
#pragma once

#include <cstdint>

#include "pipeline/adjust.h"

namespace zbx::pipeline {

// Step parameters of the gray steps.  Gains in 1/128 (128 = 1.0), offsets
// in sample units.  The phase is the effective colour-filter phase: column
// parity 1 for phase 2 or 3, row parity 1 for phase 1 or 3; cell
// (column parity, row parity) (0,0) is G1, (1,0) R, (0,1) B, (1,1) G2.
struct GrayRecord {
    std::int32_t phase = 0;
    std::int32_t gain_r = 128;
    std::int32_t gain_g1 = 128;
    std::int32_t gain_g2 = 128;
    std::int32_t gain_b = 128;
    std::int32_t offset_r = 0;
    std::int32_t offset_g1 = 0;
    std::int32_t offset_g2 = 0;
    std::int32_t offset_b = 0;
    std::int32_t sample_bits = 8;  // 8 in mode 0, 12 in mode 1
};

// 8 -> 255, 10 -> 1023, 12 -> 4095, 14 -> 16383, anything else 65535.
[[nodiscard]] std::int32_t gray_sample_maximum(std::int32_t sample_bits);

// Correction callback: value = offset + (gain * sample) / 128 (truncating),
// limited to 0 and the maximum (255 for 8-bit samples, else by the
// record's sample bits).  For mode 0 (8-bit) and mode 1 (16-bit); nullptr
// for other modes.  `params` is a GrayRecord.  Returns 1, or 0 when the
// layout does not suit.
[[nodiscard]] RectCallback gray_correction_callback(int colour_mode);

// Auto-balance measurement callback (source only; nothing is written):
// per cell position, the mean of the samples that are neither 0 nor the
// maximum; with h the largest mean, each gain becomes trunc(h / mean * 128)
// (not limited).  Offsets are kept.  Returns 1 when the gains in the
// record were replaced, 0 when a position had no usable sample (record
// unchanged).
[[nodiscard]] RectCallback gray_balance_callback(int colour_mode);

// Gray correction in place on the mode's output buffer (development skips
// it when all four gains are 128).
int apply_gray_correction(PixelPlane image, int colour_mode, const GrayRecord& record);

// Measures the gains over the whole output buffer into `record`; true when
// they were replaced.
bool measure_gray_balance(PixelPlane image, int colour_mode, GrayRecord& record);

}  // namespace zbx::pipeline
