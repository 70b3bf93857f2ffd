#include "camera_values.h"

#include <array>

#include "names.h"

namespace zbxcam {

namespace {

constexpr std::array<CameraValue, 31> kValues{{
    {"Brightness", 1, "-255 to 255", 0},
    {"Contrast", 2, "-127 to 127", 0},
    {"Hue", 3, "-360 to 360", 0},
    {"Saturation", 4, "-255 to 255", 0},
    {"Sharpness", 5, "0 to 30", 0},
    {"BayerGainRGB", 6, "red | green << 8 | blue << 16", std::nullopt},
    {"BayerGainRed", 7, "0 to 400", 100},
    {"BayerGainGreen", 8, "0 to 400", 100},
    {"BayerGainBlue", 9, "0 to 400", 100},
    {"Gamma", 11, "0 to 200", 100},
    {"BayerMode", 12, "0 to 3", 3},
    {"GlobalGain", 13, "0 to 11", 0},
    {"ColorGainRed", 14, "0 only", std::nullopt},
    {"ColorGainGreen1", 15, "0 only", std::nullopt},
    {"ColorGainGreen2", 16, "0 only", std::nullopt},
    {"ColorGainBlue", 17, "0 only", std::nullopt},
    {"ExposureTime", 18, "1 to 32767 lines", 637},
    {"GrayMode", 19, "0 to 2", 0},
    {"GrayGainR", 20, "0 to 255", 128},
    {"GrayGainG1", 21, "0 to 255", 128},
    {"GrayGainG2", 22, "0 to 255", 128},
    {"GrayGainB", 23, "0 to 255", 128},
    {"GrayOffsetR", 24, "-255 to 255", 0},
    {"GrayOffsetG1", 25, "-255 to 255", 0},
    {"GrayOffsetG2", 26, "-255 to 255", 0},
    {"GrayOffsetB", 27, "-255 to 255", 0},
    {"GrayAutoBalance", 28, "0 or 1", 0},
    {"MirrorH", kMirrorHId, "0 or 1", 0},
    {"MirrorV", kMirrorVId, "0 or 1", 0},
    {"BayerGainAuto", 10, "0 or 1", 0},
    {"AutoIris", kAutoIrisId, "0 off, 1 exposure, 2 gain", 0},
}};

bool is_automatic(const CameraValue& v) { return v.id == ZBX_ID_BAYER_GAIN_AUTO || v.id == kAutoIrisId; }

}  // namespace

std::span<const CameraValue> camera_values() { return kValues; }

const CameraValue* find_camera_value(std::string_view text) {
    const std::string lower = to_lower(text);
    for (const CameraValue& v : kValues)
        if (to_lower(v.name) == lower || (v.id <= 28 && std::to_string(v.id) == text)) return &v;
    return nullptr;
}

std::optional<int> read_camera_value(ZbxHandle h, const CameraValue& value) {
    int ok = 1;
    int number = 0;
    switch (value.id) {
        case kMirrorHId: number = Zorbex_GetMirrorH(h); break;
        case kMirrorVId: number = Zorbex_GetMirrorV(h); break;
        case kAutoIrisId: number = Zorbex_GetAutoIris(h, &ok); break;
        default: number = Zorbex_GetFilterValue(h, value.id, &ok); break;
    }
    if (!ok) return std::nullopt;
    return number;
}

bool write_camera_value(ZbxHandle h, const CameraValue& value, int number) {
    switch (value.id) {
        case kMirrorHId: return Zorbex_SetMirrorH(h, number) != 0;
        case kMirrorVId: return Zorbex_SetMirrorV(h, number) != 0;
        case kAutoIrisId: return Zorbex_SetAutoIris(h, number) != 0;
        default: return Zorbex_SetFilterValue(h, value.id, number) != 0;
    }
}

const ValueAssignment* write_camera_values(ZbxHandle h, std::span<const ValueAssignment> assignments) {
    bool touches_values = false;
    for (const ValueAssignment& a : assignments) touches_values |= !is_automatic(*a.value);
    // Automatic control off while the values go in; each is set back to
    // what it was, or to what was asked, at the end.
    std::vector<ValueAssignment> automatic;
    if (touches_values) {
        for (const CameraValue& v : kValues) {
            if (!is_automatic(v)) continue;
            const std::optional<int> now = read_camera_value(h, v);
            if (now && *now != 0) {
                automatic.push_back({&v, *now});
                (void)write_camera_value(h, v, 0);
            }
        }
    }
    const ValueAssignment* failed = nullptr;
    for (const CameraValue& v : kValues) {
        for (const ValueAssignment& a : assignments) {
            if (a.value != &v) continue;
            if (is_automatic(v)) {
                std::erase_if(automatic, [&](const ValueAssignment& x) { return x.value == &v; });
                automatic.push_back(a);
                continue;
            }
            if (!failed && !write_camera_value(h, v, a.number)) failed = &a;
        }
    }
    for (const ValueAssignment& a : automatic) {
        const ValueAssignment* asked = nullptr;
        for (const ValueAssignment& x : assignments)
            if (x.value == a.value) asked = &x;
        if (!write_camera_value(h, *a.value, a.number) && !failed) failed = asked ? asked : nullptr;
    }
    return failed;
}

std::vector<ValueAssignment> default_values() {
    std::vector<ValueAssignment> values;
    for (const CameraValue& v : kValues)
        if (v.initial) values.push_back({&v, *v.initial});
    return values;
}

}  // namespace zbxcam
