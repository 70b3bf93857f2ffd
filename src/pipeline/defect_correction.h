// Defect-pixel correction: each listed defective pixel of the raw frame is
// replaced by the mean of its nearest good neighbours along its row and
// column.
#pragma once

#include <cstdint>
#include <span>

#include "pipeline/adjust.h"

namespace zbx::pipeline {

inline constexpr std::int32_t kSensorWidth = 1280;
inline constexpr std::int32_t kSensorHeight = 720;

// A listed position in full-sensor coordinates; y counts from the bottom
// row of the picture when the sensor is not mirrored vertically.
struct DefectPosition {
    std::int32_t x = 0;
    std::int32_t y = 0;
};

// Where the raw frame lies on the sensor.
struct DefectRegion {
    std::int32_t x_start = 0;
    std::int32_t y_start = 0;
    std::int32_t width = kSensorWidth;
    std::int32_t height = kSensorHeight;
    bool mirror_h = false;
    bool mirror_v = false;
    // Sensor pixels per frame pixel in each direction (1, 2, 4 or 8): a
    // sub-sampled frame pixel is defective when a listed position falls in
    // its cell.
    std::int32_t subsample = 1;
};

// Corrects the listed pixels of the raw frame (8- or 16-bit samples; other
// pixel sizes are left alone).  For each entry in list order: mirror it,
// skip it when it lies outside the region's window or outside the frame,
// else average the nearest good pixel to the left, right, below and above
// (a listed pixel is never used) and write the mean, truncating; with no
// good neighbour the pixel stays.  Frame row j counts from the last memory
// row.
//
// `defects` is the session's defect list, borrowed for the call: the
// caller holds the session's defect-list lock for the whole call, so a
// frame is corrected with either the old or the new list.  Runs on the
// acquisition thread under the frame lock.  Returns the number of pixels
// written.
int CorrectDefects(PixelPlane raw, std::span<const DefectPosition> defects,
                   const DefectRegion& region);

}  // namespace zbx::pipeline
