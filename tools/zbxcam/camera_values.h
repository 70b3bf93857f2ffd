// The camera's values by name for get, set and reset: the image values of
// ids 1 to 28 plus the camera settings (mirrors, automatic exposure or
// gain, defect correction), each with the value the camera starts with when
// nothing was saved for it; all from the library's table (zorbex/values.h).
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "zorbex/values.h"
#include "zorbex/zorbex.h"

namespace zbxcam {

struct CameraValue {
    std::string_view name;
    int id;                    // image value id 1 to 28, or a ZBX_SETTING_* number
    std::string_view range;    // what the library accepts, for messages
    std::optional<int> initial;  // the camera's default; empty: derived from others, not reset
    bool automatic = false;      // may change other values while on
};

// Every value, ids 1 to 28 first.  The automatic controls (BayerGainAuto,
// AutoIris) come last, so that writing the table in order sets the gains
// and the exposure before anything may change them again.
std::span<const CameraValue> camera_values();
// By name (any letter case) or image value id.
const CameraValue* find_camera_value(std::string_view text);

// Reads one value; empty when the library refuses.
std::optional<int> read_camera_value(ZbxHandle h, const CameraValue& value);
// Writes one value; false when the library refuses (codes left behind).
bool write_camera_value(ZbxHandle h, const CameraValue& value, int number);

struct ValueAssignment {
    const CameraValue* value = nullptr;
    int number = 0;
};
// Writes the values in table order with the automatic controls off until
// the end, so they cannot move a gain or the exposure in between.  The
// failed assignment, or null when all were taken.
const ValueAssignment* write_camera_values(ZbxHandle h, std::span<const ValueAssignment> assignments);

// Every value that has a default, set to it.
std::vector<ValueAssignment> default_values();

}  // namespace zbxcam
