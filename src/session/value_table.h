// The one table of the camera's values: the image adjustment values of ids
// 1 to 28 and the camera settings that have exports of their own, with
// where each lives, the range its setter accepts, its default, unit and
// meaning.  The setters check against it, the named exports are made from
// it and the companion ZbxValues_* calls publish it, so adding a value is
// one line here.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <span>

#include "zorbex/values.h"

namespace zbx::session {

// Where a value lives.
enum class ValueHome {
    kBlock,         // the adjustment block, at `index`
    kSwitch,        // the adjustment block, stored as 0 or 1
    kPackedGains,   // the three Bayer gains, one byte each
    kGlobalGain,    // the analog block; programs the sensor at once
    kColorGain,     // the analog block's colour gain `index` (0 R, 1 G1, 2 G2, 3 B)
    kExposure,      // the analog block's exposure lines; programs the sensor at once
    kOwnExports,    // a camera setting, read and written by exports of its own
};

// NAMED(id, Name, home, index, min, max, default, flags, unit, meaning) for
// the values that have named exports (Zorbex_Get<Name>/Zorbex_Set<Name>),
// UNNAMED(...) with the same columns for the rest.  `index` names a member
// of AdjustmentIndex (Ix) or a number; the sensor limits come from the
// sensor model (Sensor).  Ids 1 to 28 first, in order.
#define ZBX_VALUE_TABLE(NAMED, UNNAMED)                                                                    \
    NAMED(1, Brightness, kBlock, Ix::kBrightness, -255, 255, 0, 0, "", "added to every channel")           \
    NAMED(2, Contrast, kBlock, Ix::kContrast, -127, 127, 0, 0, "", "steps, 0 leaves the picture as it is") \
    NAMED(3, Hue, kBlock, Ix::kHue, -360, 360, 0, 0, "degrees", "degrees")                                 \
    NAMED(4, Saturation, kBlock, Ix::kSaturation, -255, 255, 0, 0, "",                                     \
          "steps, 0 leaves the picture as it is")                                                          \
    NAMED(5, Sharpness, kBlock, Ix::kSharpness, 0, 30, 0, 0, "", "steps, 0 is off")                        \
    NAMED(6, BayerGainRGB, kPackedGains, Ix::kBayerGainRed, INT_MIN, INT_MAX, 0x646464,                    \
          ZBX_VALUE_PACKED | ZBX_VALUE_DERIVED, "percent", "red | green << 8 | blue << 16, percent each")   \
    NAMED(7, BayerGainRed, kBlock, Ix::kBayerGainRed, 0, 400, 100, 0, "percent",                           \
          "percent, 100 leaves the channel as it is")                                                      \
    NAMED(8, BayerGainGreen, kBlock, Ix::kBayerGainGreen, 0, 400, 100, 0, "percent",                       \
          "percent, 100 leaves the channel as it is")                                                      \
    NAMED(9, BayerGainBlue, kBlock, Ix::kBayerGainBlue, 0, 400, 100, 0, "percent",                         \
          "percent, 100 leaves the channel as it is")                                                      \
    NAMED(10, BayerGainAuto, kSwitch, Ix::kBayerGainAuto, INT_MIN, INT_MAX, 0,                             \
          ZBX_VALUE_SWITCH | ZBX_VALUE_AUTOMATIC, "", "automatic white balance on (1) or off (0)")         \
    NAMED(11, Gamma, kBlock, Ix::kGamma, 0, 200, 100, 0, "", "hundredths, 100 is linear")                \
    NAMED(12, BayerMode, kBlock, Ix::kBayerMode, 0, 3, 3, 0, "", "demosaicing method")                     \
    NAMED(13, GlobalGain, kGlobalGain, 0, 0, Sensor::kMaxGainIndex, 0, ZBX_VALUE_SENSOR, "",               \
          "sensor gain steps")                                                                             \
    NAMED(14, ColorGainRed, kColorGain, 0, 0, 0, 0, ZBX_VALUE_DERIVED, "",                                 \
          "kept for the analog dialog, only 0")                                                            \
    NAMED(15, ColorGainGreen1, kColorGain, 1, 0, 0, 0, ZBX_VALUE_DERIVED, "",                              \
          "kept for the analog dialog, only 0")                                                            \
    NAMED(16, ColorGainGreen2, kColorGain, 2, 0, 0, 0, ZBX_VALUE_DERIVED, "",                              \
          "kept for the analog dialog, only 0")                                                            \
    NAMED(17, ColorGainBlue, kColorGain, 3, 0, 0, 0, ZBX_VALUE_DERIVED, "",                                \
          "kept for the analog dialog, only 0")                                                            \
    NAMED(18, ExposureTime, kExposure, 0, Sensor::kMinExposure, Sensor::kMaxExposure,                      \
          Sensor::kDefaultExposure, ZBX_VALUE_SENSOR, "lines", "sensor lines")                             \
    NAMED(19, GrayMode, kBlock, Ix::kGrayMode, 0, 2, 0, 0, "", "monochrome correction mode")               \
    NAMED(20, GrayGainR, kBlock, Ix::kGrayGainR, 0, 255, 128, 0, "",                                       \
          "1/128, 128 leaves the cell as it is")                                                           \
    NAMED(21, GrayGainG1, kBlock, Ix::kGrayGainG1, 0, 255, 128, 0, "",                                     \
          "1/128, 128 leaves the cell as it is")                                                           \
    NAMED(22, GrayGainG2, kBlock, Ix::kGrayGainG2, 0, 255, 128, 0, "",                                     \
          "1/128, 128 leaves the cell as it is")                                                           \
    NAMED(23, GrayGainB, kBlock, Ix::kGrayGainB, 0, 255, 128, 0, "",                                       \
          "1/128, 128 leaves the cell as it is")                                                           \
    NAMED(24, GrayOffsetR, kBlock, Ix::kGrayOffsetR, -255, 255, 0, 0, "", "added to the cell")             \
    NAMED(25, GrayOffsetG1, kBlock, Ix::kGrayOffsetG1, -255, 255, 0, 0, "", "added to the cell")           \
    NAMED(26, GrayOffsetG2, kBlock, Ix::kGrayOffsetG2, -255, 255, 0, 0, "", "added to the cell")           \
    NAMED(27, GrayOffsetB, kBlock, Ix::kGrayOffsetB, -255, 255, 0, 0, "", "added to the cell")             \
    UNNAMED(28, GrayAutoBalance, kBlock, Ix::kGrayAutoBalanceCount, 0, 1, 0, 0, "",                        \
            "one monochrome balance measurement when 1")                                                   \
    UNNAMED(ZBX_SETTING_MIRROR_H, MirrorH, kOwnExports, 0, INT_MIN, INT_MAX, 0, ZBX_VALUE_SWITCH, "",      \
            "picture mirrored left to right when 1")                                                       \
    UNNAMED(ZBX_SETTING_MIRROR_V, MirrorV, kOwnExports, 0, INT_MIN, INT_MAX, 0, ZBX_VALUE_SWITCH, "",      \
            "picture mirrored top to bottom when 1")                                                       \
    UNNAMED(ZBX_SETTING_AUTO_IRIS, AutoIris, kOwnExports, 0, 0, 2, 0, ZBX_VALUE_AUTOMATIC, "",             \
            "0 off, 1 automatic exposure, 2 automatic gain")                                               \
    UNNAMED(ZBX_SETTING_DEFECT_CORRECTION, DefectCorrection, kOwnExports, 0, 0, 1, 0, 0, "",               \
            "defective pixels corrected when 1 (Zorbex_SetConfigFilter)")

inline constexpr int kMinFilterValueId = 1;
inline constexpr int kMaxFilterValueId = 28;

struct ValueEntry {
    int id;
    const char* name;
    ValueHome home;
    std::size_t index;
    std::int32_t min;
    std::int32_t max;
    std::int32_t default_value;
    int flags;
    const char* unit;
    const char* meaning;
};

// Every entry: ids 1 to 28 in order, then the camera settings.
[[nodiscard]] std::span<const ValueEntry> value_table();

// The entry of filter value id `id`; null for an id outside 1 to 28.
[[nodiscard]] const ValueEntry* filter_value_spec(int id);

// The index of the entry named `name` (letter case, '_' and '-' ignored),
// or -1.
[[nodiscard]] int find_value(const char* name);
// The index of the entry with `id`, or -1.
[[nodiscard]] int find_value_id(int id);

}  // namespace zbx::session
