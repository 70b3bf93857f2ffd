// The analog registry group "Gain" of a camera: the sensor's analog values
// as the analog dialog edits them and the session keeps them.
#pragma once

#include <cstdint>

namespace zbx::dialogs {

inline constexpr char kAnalogGroupKey[] = "Gain";

// The analog block, in the group's value order.
struct AnalogGroup {
    std::int32_t global_gain = 0;   // "Global"
    std::int32_t color_green1 = 0;  // "ColorG1"
    std::int32_t color_red = 0;     // "ColorR"
    std::int32_t color_blue = 0;    // "ColorB"
    std::int32_t color_green2 = 0;  // "ColorG2"
    std::int32_t exposure = 0;      // "Exposure", lines
    std::int32_t mirror_v = 0;      // "V_Mirror"
    std::int32_t mirror_h = 0;      // "H_Mirror"
    std::int32_t auto_iris = 0;     // "AutoIris"
};

// What a camera without a saved group starts with; the sensor model
// supplies them.
struct AnalogGroupDefaults {
    std::int32_t min_gain = 0;
    std::int32_t exposure = 637;
    std::int32_t mirror_v = 0;
    std::int32_t mirror_h = 0;
};

// Fills `block` from the group of `device_number`, or with the defaults when
// the group is missing (a missing single value keeps what `block` held).
// Always 1.
int read_analog_group(int device_number, const AnalogGroupDefaults& defaults, AnalogGroup* block);
// Writes the nine values, creating keys as needed; 0 when a key cannot be
// created or the values cannot be stored.
int write_analog_group(int device_number, const AnalogGroup& block);

}  // namespace zbx::dialogs
