// The picture in front of the virtual sensor: a full-sensor mosaic of scene
// values (12-bit scale) behind the "G R / B G" colour filter, built once per
// scene change so that frames never recompute it.
#pragma once

#include <cstdint>
#include <vector>

#include "zorbex/vcam.h"

namespace zbx::vcam {

inline constexpr int kSensorWidth = 1280;
inline constexpr int kSensorHeight = 720;
inline constexpr int kMaxSample = 4095;

// Colour-filter cell of a sensor position: 0 green on a red row, 1 red,
// 2 blue, 3 green on a blue row.
inline constexpr int cfa_cell(int x, int y) { return ((y & 1) << 1) | (x & 1); }

struct SquareRect {
    int x = 0;  // may be negative while the square enters from the left
    int y = 0;
    int size = 0;
};

class Scene {
public:
    Scene();

    // Rebuilds the mosaic; the only place that allocates.
    void build(const ZbxVcamScene& options);
    const ZbxVcamScene& options() const { return options_; }

    // Scene value at a sensor position; 0 outside the sensor.
    std::uint16_t at(int x, int y) const {
        if (x < 0 || y < 0 || x >= kSensorWidth || y >= kSensorHeight) return 0;
        return mosaic_[static_cast<std::size_t>(y) * kSensorWidth + static_cast<std::size_t>(x)];
    }
    const std::uint16_t* row(int y) const { return mosaic_.data() + static_cast<std::size_t>(y) * kSensorWidth; }

    // The moving square of frame `sequence`, in sensor coordinates; size 0
    // when the scene has none.
    SquareRect square(std::uint64_t sequence) const;
    // Scene value of the square in each colour-filter cell.
    std::uint16_t square_value(int cell) const { return square_values_[cell]; }

private:
    ZbxVcamScene options_{};
    std::vector<std::uint16_t> mosaic_;
    std::uint16_t square_values_[4] = {};
};

}  // namespace zbx::vcam
