// The image filter registry group "Filter" of a camera: the picture values
// the image filter dialog edits.
#pragma once

#include <cstdint>

namespace zbx::dialogs {

inline constexpr char kFilterGroupKey[] = "Filter";

// The group's values in their order; defaults are those of a camera
// without a saved group.
struct FilterGroup {
    std::int32_t brightness = 0;    // "Brightness"
    std::int32_t contrast = 0;      // "Contrast"
    std::int32_t hue = 0;           // "Hue"
    std::int32_t saturation = 0;    // "Saturation"
    std::int32_t sharpness = 0;     // "Sharpness"
    std::int32_t red_gain = 100;    // "R_Gain"
    std::int32_t green_gain = 100;  // "G_Gain"
    std::int32_t blue_gain = 100;   // "B_Gain"
    std::int32_t gamma = 100;       // "Gamma"
    std::int32_t bayer_mode = 3;    // "BayerMode"
};

// 1 when the group was there and was read into `block` (a missing single
// value keeps what `block` held); 0 when it is missing and `block` now
// holds the defaults.  The caller also clears the values that follow the
// filter values in its block when the defaults were applied.
int read_filter_group(int device_number, FilterGroup* block);
// 0 when the root or camera key cannot be created, else 1 (a failure to
// create or write the group itself goes unreported).
int write_filter_group(int device_number, const FilterGroup& block);

}  // namespace zbx::dialogs
