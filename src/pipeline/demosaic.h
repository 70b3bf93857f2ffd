// Bilinear demosaic of the 2 × 2 colour-filter mosaic with red and blue
// white-balance gains, and the grey-world white-balance measurement.
//
// Filter layout at (x, y) of the rectangle, c = (x + c0) & 1, r = (y + r0) & 1
// (c0 = 1 for phases 2 and 3, r0 = 1 for phases 1 and 3):
//   c r: 0 0 green, 1 0 blue, 0 1 red, 1 1 green.
// Output pixel (x, y) stands for the centre of raw block {x-1, x} × {y-1, y}.
#pragma once

#include <cstdint>

#include "pipeline/transfer.h"

namespace zbx::pipeline {

class CImageBuffer;

// Step parameters of the demosaic: gains in percent (100 = unchanged); the
// green gain is carried but not applied.  The white-balance measurement
// writes its results into the three gains.
struct BayerRecord {
    std::int32_t phase = 0;
    std::int32_t red_gain = 100;
    std::int32_t green_gain = 100;
    std::int32_t blue_gain = 100;
};

// Gain in percent to the factor in 1/128 applied as (sum × k) >> 11.
[[nodiscard]] std::int32_t BayerGainFactor(std::int32_t gain);

// Conversion callbacks (params: BayerRecord*).  The interior pass covers
// 2 <= x <= W-3, 2 <= y <= H-3; the border pass the two-pixel frame, where a
// neighbour outside the rectangle is replaced by the sample 4 further in.
// Rectangles under 4 × 4 are left alone.  The destination takes blue, green,
// red as bytes (8-bit callbacks) or 16-bit samples (16-bit callbacks) at its
// own pixel size; the fourth byte or sample is never written.
int DemosaicInterior8(std::uint8_t* dst, const std::uint8_t* src, const Rect* src_rect,
                      std::int32_t dst_x, std::int32_t dst_y, std::uint16_t dst_bytes_pp,
                      std::uint16_t src_bytes_pp, std::int32_t dst_stride,
                      std::int32_t src_stride, void* params, void* extra);
int DemosaicBorder8(std::uint8_t* dst, const std::uint8_t* src, const Rect* src_rect,
                    std::int32_t dst_x, std::int32_t dst_y, std::uint16_t dst_bytes_pp,
                    std::uint16_t src_bytes_pp, std::int32_t dst_stride, std::int32_t src_stride,
                    void* params, void* extra);
int DemosaicInterior16(std::uint8_t* dst, const std::uint8_t* src, const Rect* src_rect,
                       std::int32_t dst_x, std::int32_t dst_y, std::uint16_t dst_bytes_pp,
                       std::uint16_t src_bytes_pp, std::int32_t dst_stride,
                       std::int32_t src_stride, void* params, void* extra);
int DemosaicBorder16(std::uint8_t* dst, const std::uint8_t* src, const Rect* src_rect,
                     std::int32_t dst_x, std::int32_t dst_y, std::uint16_t dst_bytes_pp,
                     std::uint16_t src_bytes_pp, std::int32_t dst_stride,
                     std::int32_t src_stride, void* params, void* extra);

// Grey-world measurement over the whole rectangle (source and destination
// the same buffer, nothing written to pixels).  Writes the red and blue gains
// (100 × green mean / channel mean, by the design's double-precision steps)
// and green 100 into the BayerRecord; leaves it unchanged when a colour has
// no sample.  A zero channel mean gives INT32_MAX (capped by the caller); no
// usable ratio at all (black frame) gives 100.  Returns 1.
int MeasureWhiteBalance8(std::uint8_t* dst, const std::uint8_t* src, const Rect* src_rect,
                         std::int32_t dst_x, std::int32_t dst_y, std::uint16_t dst_bytes_pp,
                         std::uint16_t src_bytes_pp, std::int32_t dst_stride,
                         std::int32_t src_stride, void* params, void* extra);
int MeasureWhiteBalance16(std::uint8_t* dst, const std::uint8_t* src, const Rect* src_rect,
                          std::int32_t dst_x, std::int32_t dst_y, std::uint16_t dst_bytes_pp,
                          std::uint16_t src_bytes_pp, std::int32_t dst_stride,
                          std::int32_t src_stride, void* params, void* extra);

// Interior then border pass from `raw` (8 or 16 bits) into `dst` at (0, 0).
int DemosaicPasses(CImageBuffer& dst, CImageBuffer& raw, BayerRecord& record);

// Selects the plain kernels even where SIMD ones exist (for comparison).
void ForcePlainDemosaic(bool plain);

}  // namespace zbx::pipeline
