// Options of the virtual camera, so every command runs on a machine
// without a camera: which slots hold a camera, the scene, the pacing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "zorbex/vcam.h"

namespace zbxcam {

struct VcamOptions {
    std::optional<std::uint32_t> slots;  // bit n: slot n holds a camera
    std::optional<ZbxVcamScene> scene;
    bool unpaced = false;
};

struct SlotsResult {
    std::uint32_t mask = 0;
    std::string error;
};
// "0", "0,3", "0-3,7", "none" or "" (no camera).
SlotsResult parse_slots(std::string_view text);

struct SceneResult {
    ZbxVcamScene scene{};
    std::string error;
};
// "chart" (moving square), "still" (chart, nothing moves), "flat" (mid
// grey) or "flat:R,G,B" with 12-bit values 0 to 4095.
SceneResult parse_scene(std::string_view text, int noise);

// "0, 3" for the mask's slots, "none" for an empty one.
std::string describe_slots(std::uint32_t mask);

// Applies the options to the virtual camera: slots first, then the scene
// and pacing of every attached camera.  Empty on success, else a message.
std::string apply_vcam_options(const VcamOptions& options);

}  // namespace zbxcam
