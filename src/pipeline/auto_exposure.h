// Automatic exposure: five measurement windows on the raw frame give a
// factor by which the sensor's exposure or analog gain is moved, so that the
// picture converges over frames.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "pipeline/transfer.h"

namespace zbx::pipeline {

class CImageBuffer;
class DevelopHost;

// Two corners top left, the centre, two corners top right, in picture
// coordinates of a W × H frame, bounds truncated.
[[nodiscard]] std::array<Rect, 5> ExposureWindows(std::int32_t width, std::int32_t height);

// Mean sample of the source rectangle on the 8-bit scale (16-bit samples
// drop four bits and saturate at 255); 0 for an empty rectangle.
int WindowMean8(std::uint8_t* dst, const std::uint8_t* src, const Rect* src_rect,
                std::int32_t dst_x, std::int32_t dst_y, std::uint16_t dst_bytes_pp,
                std::uint16_t src_bytes_pp, std::int32_t dst_stride, std::int32_t src_stride,
                void* params, void* extra);
int WindowMean16(std::uint8_t* dst, const std::uint8_t* src, const Rect* src_rect,
                 std::int32_t dst_x, std::int32_t dst_y, std::uint16_t dst_bytes_pp,
                 std::uint16_t src_bytes_pp, std::int32_t dst_stride, std::int32_t src_stride,
                 void* params, void* extra);

// 1.0, less 0.15 per mean of 201 or more and 0.10 per mean of 161 to 200,
// plus 0.05 per mean of 50 to 99 and 0.10 per mean under 50.
[[nodiscard]] double ExposureFactor(std::span<const int> means);

// Auto-iris mode 1 moves the exposure, mode 2 the gain; other modes and
// factors inside (0.6, 1.2) change nothing.
void RunAutoExposure(CImageBuffer& raw, std::int32_t auto_iris_mode, DevelopHost& host);

}  // namespace zbx::pipeline
