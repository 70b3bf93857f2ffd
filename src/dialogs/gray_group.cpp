#include "dialogs/gray_group.h"

#include <array>

#include "dialogs/settings_group.h"

namespace zbx::dialogs {

namespace {

std::array<GroupField, 9> fields_of(GrayGroup& b) {
    return {{{"Mode", &b.mode},
             {"GainR1", &b.gain_r},
             {"GainG1", &b.gain_g1},
             {"GainG2", &b.gain_g2},
             {"GainB1", &b.gain_b},
             {"OffsetR1", &b.offset_r},
             {"OffsetG1", &b.offset_g1},
             {"OffsetG2", &b.offset_g2},
             {"OffsetB1", &b.offset_b}}};
}

}  // namespace

int read_gray_group(int device_number, GrayGroup* block) {
    platform::SettingsKey key;
    if (!open_group(device_number, kGrayGroupKey, &key)) {
        *block = GrayGroup{};
        return 0;
    }
    read_fields(key, fields_of(*block));
    return 1;
}

int write_gray_group(int device_number, const GrayGroup& block) {
    platform::SettingsKey key;
    if (!key.create(camera_key_path(device_number, kGrayGroupKey))) return 0;
    GrayGroup copy = block;
    return write_fields(key, fields_of(copy)) ? 1 : 0;
}

}  // namespace zbx::dialogs
