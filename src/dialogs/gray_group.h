// The gray registry group "Gray" of a camera: the monochrome correction the
// gray page edits.
#pragma once

#include <cstdint>

namespace zbx::dialogs {

inline constexpr char kGrayGroupKey[] = "Gray";

// The group's values in their order; defaults are those of a camera
// without a saved group.
struct GrayGroup {
    std::int32_t mode = 0;         // "Mode"
    std::int32_t gain_r = 128;     // "GainR1"
    std::int32_t gain_g1 = 128;    // "GainG1"
    std::int32_t gain_g2 = 128;    // "GainG2"
    std::int32_t gain_b = 128;     // "GainB1"
    std::int32_t offset_r = 0;     // "OffsetR1"
    std::int32_t offset_g1 = 0;    // "OffsetG1"
    std::int32_t offset_g2 = 0;    // "OffsetG2"
    std::int32_t offset_b = 0;     // "OffsetB1"
};

// 1 when the group was read into `block` (a missing single value keeps what
// `block` held); 0 when it is missing and `block` holds the defaults.
int read_gray_group(int device_number, GrayGroup* block);
// 1 when written; 0 when a key cannot be created or the values not stored.
int write_gray_group(int device_number, const GrayGroup& block);

}  // namespace zbx::dialogs
