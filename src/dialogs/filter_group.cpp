#include "dialogs/filter_group.h"

#include <array>

#include "dialogs/settings_group.h"

namespace zbx::dialogs {

namespace {

std::array<GroupField, 10> fields_of(FilterGroup& b) {
    return {{{"Brightness", &b.brightness},
             {"Contrast", &b.contrast},
             {"Hue", &b.hue},
             {"Saturation", &b.saturation},
             {"Sharpness", &b.sharpness},
             {"R_Gain", &b.red_gain},
             {"G_Gain", &b.green_gain},
             {"B_Gain", &b.blue_gain},
             {"Gamma", &b.gamma},
             {"BayerMode", &b.bayer_mode}}};
}

}  // namespace

int read_filter_group(int device_number, FilterGroup* block) {
    platform::SettingsKey key;
    if (!open_group(device_number, kFilterGroupKey, &key)) {
        *block = FilterGroup{};
        return 0;
    }
    read_fields(key, fields_of(*block));
    return 1;
}

int write_filter_group(int device_number, const FilterGroup& block) {
    platform::SettingsKey camera;
    if (!camera.create(camera_key_path(device_number))) return 0;
    platform::SettingsKey key;
    if (key.create(camera, kFilterGroupKey)) {
        FilterGroup copy = block;
        (void)write_fields(key, fields_of(copy));
    }
    return 1;
}

}  // namespace zbx::dialogs
