// --no-save: the library writes a camera's values to its settings file when
// the session ends, so the tool reads every value the library keeps when
// the camera is opened and writes them back before the session ends; the
// library then stores exactly what it had loaded.
#pragma once

#include <vector>

#include "camera_values.h"

namespace zbxcam {

class SettingsKeeper {
public:
    // Reads the values of the session's camera now.
    explicit SettingsKeeper(ZbxHandle h);
    // Writes them back; false when the library refused one.
    [[nodiscard]] bool restore(ZbxHandle h) const;

private:
    std::vector<ValueAssignment> saved_;
};

}  // namespace zbxcam
