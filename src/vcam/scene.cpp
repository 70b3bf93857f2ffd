#include "vcam/scene.h"

#include <algorithm>

namespace zbx::vcam {
namespace {

struct Rgb {
    std::uint16_t r, g, b;
};

// Chart layout in sensor coordinates.  Patches sit in the top part, the
// square moves through its own band so that patch measurements never see
// it, and the ramp fills the bottom band.
constexpr int kPatchColumns = 6;
constexpr int kPatchRows = 3;
constexpr int kPatchLeft = 80;
constexpr int kPatchTop = 40;
constexpr int kPatchWidth = 160;
constexpr int kPatchHeight = 100;
constexpr int kPatchPitchX = 200;
constexpr int kPatchPitchY = 140;
constexpr int kSquareTop = 468;
constexpr int kSquareSize = 64;
constexpr int kSquareStep = 8;  // pixels per frame
constexpr int kRampTop = 580;
constexpr int kRampBottom = 700;
constexpr std::uint16_t kBackground = 800;
constexpr Rgb kSquareColour{3600, 3600, 3600};

// Linear scene values of the patches, row by row.
constexpr Rgb kPatches[kPatchRows][kPatchColumns] = {
    {{3000, 300, 300}, {300, 3000, 300}, {300, 300, 3000},
     {300, 2800, 2800}, {2800, 300, 2800}, {2800, 2800, 300}},
    {{3400, 3400, 3400}, {2400, 2400, 2400}, {1600, 1600, 1600},
     {900, 900, 900}, {400, 400, 400}, {120, 120, 120}},
    {{1800, 1150, 900}, {2400, 1600, 1300}, {800, 1100, 1900},
     {900, 1300, 500}, {1300, 1200, 2100}, {1100, 2500, 2100}},
};

std::uint16_t pick(const Rgb& c, int cell) {
    switch (cell) {
        case 1: return c.r;
        case 2: return c.b;
        default: return c.g;
    }
}

Rgb chart_colour(int x, int y) {
    if (y >= kRampTop && y < kRampBottom) {
        auto v = static_cast<std::uint16_t>(x * kMaxSample / (kSensorWidth - 1));
        return {v, v, v};
    }
    int col = (x - kPatchLeft) / kPatchPitchX;
    int row = (y - kPatchTop) / kPatchPitchY;
    if (x >= kPatchLeft && y >= kPatchTop && col < kPatchColumns && row < kPatchRows &&
        (x - kPatchLeft) % kPatchPitchX < kPatchWidth && (y - kPatchTop) % kPatchPitchY < kPatchHeight)
        return kPatches[row][col];
    return {kBackground, kBackground, kBackground};
}

}  // namespace

Scene::Scene() {
    ZbxVcamScene defaults{};
    defaults.kind = ZBX_VCAM_SCENE_CHART;
    defaults.moving = 1;
    defaults.flat_red = defaults.flat_green = defaults.flat_blue = 1024;
    build(defaults);
}

void Scene::build(const ZbxVcamScene& options) {
    options_ = options;
    mosaic_.resize(static_cast<std::size_t>(kSensorWidth) * kSensorHeight);
    const bool flat = options.kind == ZBX_VCAM_SCENE_FLAT;
    const Rgb flat_colour{options.flat_red, options.flat_green, options.flat_blue};
    for (int y = 0; y < kSensorHeight; ++y) {
        std::uint16_t* out = mosaic_.data() + static_cast<std::size_t>(y) * kSensorWidth;
        for (int x = 0; x < kSensorWidth; ++x)
            out[x] = pick(flat ? flat_colour : chart_colour(x, y), cfa_cell(x, y));
    }
    for (int cell = 0; cell < 4; ++cell) square_values_[cell] = pick(kSquareColour, cell);
}

SquareRect Scene::square(std::uint64_t sequence) const {
    if (options_.kind != ZBX_VCAM_SCENE_CHART || !options_.moving) return {};
    constexpr std::uint64_t kTravel = kSensorWidth + kSquareSize;
    const auto offset = static_cast<int>((sequence * kSquareStep) % kTravel);
    return {offset - kSquareSize, kSquareTop, kSquareSize};
}

}  // namespace zbx::vcam
