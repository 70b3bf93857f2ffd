// The camera settings that snap, stream and demo take on the command line
// (colour mode, exposure, gain, mirrors, any image value by name), and
// giving them to the library.  The tool keeps no settings of its own: what
// the library persists (the analog, filter and gray groups) persists.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "args.h"
#include "camera.h"
#include "console.h"
#include "names.h"

namespace zbxcam {

struct CaptureSettings {
    const ColorMode* mode = nullptr;  // null: keep the library's
    std::optional<int> exposure_lines;
    std::optional<int> exposure_us;
    std::optional<int> gain;
    std::optional<bool> mirror_h;
    std::optional<bool> mirror_v;
    std::optional<int> auto_iris;  // 0 off, 1 exposure, 2 gain
    std::vector<FilterAssignment> values;
};

struct CaptureSettingsResult {
    CaptureSettings settings;
    std::string error;  // a usage error
};

// The options that fill CaptureSettings.
std::span<const OptionSpec> capture_option_specs();
CaptureSettingsResult capture_settings_from(const ParsedArgs& args);

// Gives the settings to the library in a fixed order (colour mode, mirrors,
// gain, exposure, automatic iris, the named values).  kExitOk, or prints
// the failure and returns kExitFailure.
int apply_capture_settings(Camera& camera, const CaptureSettings& settings, Io& io,
                           std::string_view command);

}  // namespace zbxcam
