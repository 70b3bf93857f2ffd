// Rectangle conversion transfer: every per-pixel routine of the library is a
// callback with one of the two fixed argument lists below, run once per
// rectangle by TransferRect or TransferScaled.
#pragma once

#include <cstdint>

namespace zbx::pipeline {

class CImageBuffer;

// Right and bottom are exclusive.
struct Rect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
    [[nodiscard]] std::int32_t width() const { return right - left; }
    [[nodiscard]] std::int32_t height() const { return bottom - top; }
};

struct Size {
    std::int32_t width = 0;
    std::int32_t height = 0;
};

// Pixel (x, memory row y) of a buffer is at store + y * stride + x * bytes per
// pixel.  The source rectangle arrives in memory rows (see ClipTransfer).
// Source and destination may be the same store (in-place steps).  `params`
// is the step's parameter record (steps may write measurements back into
// it); `extra` is unused by the library.  Returns 1 for conversions and
// adjustments, the measured value for measurements.
using RectCallback = int (*)(std::uint8_t* dst, const std::uint8_t* src, const Rect* src_rect,
                             std::int32_t dst_x, std::int32_t dst_y, std::uint16_t dst_bytes_pp,
                             std::uint16_t src_bytes_pp, std::int32_t dst_stride,
                             std::int32_t src_stride, void* params, void* extra);

using ScaledCallback = int (*)(std::uint8_t* dst, const std::uint8_t* src, const Rect* dst_rect,
                               const Rect* src_rect, Size dst_size, Size src_size,
                               std::uint16_t dst_bytes_pp, std::uint16_t src_bytes_pp,
                               std::int32_t dst_stride, std::int32_t src_stride, void* params,
                               void* extra);

// Clips and runs `callback` once; 0 when nothing is left or no callback.
int TransferRect(CImageBuffer& dst, RectCallback callback, CImageBuffer& src,
                 const Rect* src_rect, std::int32_t dst_x, std::int32_t dst_y, void* params,
                 void* extra);

// Runs `callback` once on whole or given rectangles, without clipping.
int TransferScaled(CImageBuffer& dst, ScaledCallback callback, CImageBuffer& src,
                   const Rect* src_rect, const Rect* dst_rect, void* params, void* extra);

// Clips a source rectangle and destination position against both buffers
// and turns picture rows into memory rows of a bottom-up bitmap.  False
// (and an empty rectangle at 0, 0) when nothing is left.
bool ClipTransfer(const CImageBuffer& dst, const CImageBuffer& src, Rect& src_rect,
                  std::int32_t& dst_x, std::int32_t& dst_y);

}  // namespace zbx::pipeline
