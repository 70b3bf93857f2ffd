#include "dialogs/analog_group.h"

#include <array>

#include "dialogs/settings_group.h"

namespace zbx::dialogs {

namespace {

std::array<GroupField, 9> fields_of(AnalogGroup& b) {
    return {{{"Global", &b.global_gain},
             {"ColorG1", &b.color_green1},
             {"ColorR", &b.color_red},
             {"ColorB", &b.color_blue},
             {"ColorG2", &b.color_green2},
             {"Exposure", &b.exposure},
             {"V_Mirror", &b.mirror_v},
             {"H_Mirror", &b.mirror_h},
             {"AutoIris", &b.auto_iris}}};
}

}  // namespace

int read_analog_group(int device_number, const AnalogGroupDefaults& defaults, AnalogGroup* block) {
    platform::SettingsKey key;
    if (!open_group(device_number, kAnalogGroupKey, &key)) {
        *block = AnalogGroup{};
        block->global_gain = defaults.min_gain;
        block->exposure = defaults.exposure;
        block->mirror_v = defaults.mirror_v;
        block->mirror_h = defaults.mirror_h;
        return 1;
    }
    read_fields(key, fields_of(*block));
    return 1;
}

int write_analog_group(int device_number, const AnalogGroup& block) {
    platform::SettingsKey key;
    if (!key.create(camera_key_path(device_number, kAnalogGroupKey))) return 0;
    AnalogGroup copy = block;
    return write_fields(key, fields_of(copy)) ? 1 : 0;
}

}  // namespace zbx::dialogs
