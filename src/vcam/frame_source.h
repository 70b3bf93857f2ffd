// Turns the scene into the samples one frame carries, for the read-out the
// registers describe.  The expensive part (window, mirroring, brightness,
// sample width) is rendered once into a base frame whenever the read-out
// changes; each frame then costs a copy into the reader's buffer plus the
// small moving square, the stuck pixels and optional noise.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "vcam/scene.h"
#include "zorbex/vcam.h"

namespace zbx::vcam {

// Largest window the sensor reads out; register values beyond it are
// clamped (the frame is then padded with zeros to its sample count).
inline constexpr int kMaxReadoutWidth = 2048;
inline constexpr int kMaxReadoutHeight = 1024;

struct Readout {
    int x0 = 0;  // sensor column of the window's first column, unmirrored
    int y0 = 0;  // sensor row of the window's first row, unmirrored
    int width = 0;
    int height = 0;
    bool mirror_h = false;
    bool mirror_v = false;
    bool sixteen_bit = false;
    std::uint64_t scale[4] = {};  // per colour-filter cell, 16.16 fixed point
    std::uint64_t scene_version = 0;

    bool operator==(const Readout&) const = default;
};

class FrameSource {
public:
    // Writes the first out.size() bytes of frame `sequence` into out.
    void render(std::span<std::uint8_t> out, const Readout& readout, const Scene& scene,
                std::span<const ZbxVcamDefect> defects, std::uint64_t sequence);
    // Standard deviation of the added noise (12-bit scale); 0 switches it off.
    void set_noise(int sigma);

private:
    void rebuild(const Readout& readout, const Scene& scene);
    void add_noise(std::span<std::uint8_t> out, bool sixteen_bit);

    std::vector<std::uint8_t> base_;
    Readout built_{};
    bool built_valid_ = false;
    int noise_sigma_ = 0;
    std::vector<std::int16_t> noise12_;
    std::vector<std::int16_t> noise8_;
    std::uint64_t rng_ = 0x9E3779B97F4A7C15ull;
};

}  // namespace zbx::vcam
