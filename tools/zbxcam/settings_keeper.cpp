#include "settings_keeper.h"

namespace zbxcam {

SettingsKeeper::SettingsKeeper(ZbxHandle h) {
    for (const CameraValue& v : camera_values()) {
        if (!v.initial) continue;  // follows from the others
        if (const std::optional<int> now = read_camera_value(h, v)) saved_.push_back({&v, *now});
    }
}

bool SettingsKeeper::restore(ZbxHandle h) const { return write_camera_values(h, saved_) == nullptr; }

}  // namespace zbxcam
