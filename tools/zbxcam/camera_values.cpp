#include "camera_values.h"

#include <algorithm>
#include <string>

#include "names.h"

namespace zbxcam {

namespace {

// Every value of the library's table; the automatic controls last (see
// camera_values()).  Range texts live as long as the table.
struct ValueTable {
    std::vector<std::string> ranges;
    std::vector<CameraValue> values;
};

const ValueTable& value_table() {
    static const ValueTable table = [] {
        std::vector<ZbxValueInfo> infos;
        ZbxValueInfo info{};
        for (int i = 0; ZbxValues_At(i, &info) != 0; ++i) infos.push_back(info);
        std::stable_partition(infos.begin(), infos.end(),
                              [](const ZbxValueInfo& v) { return (v.flags & ZBX_VALUE_AUTOMATIC) == 0; });
        ValueTable t;
        t.ranges.reserve(infos.size());
        for (const ZbxValueInfo& v : infos) t.ranges.push_back(range_text(v));
        for (std::size_t i = 0; i < infos.size(); ++i) {
            const ZbxValueInfo& v = infos[i];
            const bool derived = (v.flags & ZBX_VALUE_DERIVED) != 0;
            t.values.push_back({v.name, v.id, t.ranges[i],
                                derived ? std::nullopt : std::optional<int>(v.default_value),
                                (v.flags & ZBX_VALUE_AUTOMATIC) != 0});
        }
        return t;
    }();
    return table;
}

bool is_automatic(const CameraValue& v) { return v.automatic; }

}  // namespace

std::span<const CameraValue> camera_values() { return value_table().values; }

const CameraValue* find_camera_value(std::string_view text) {
    const std::string lower = to_lower(text);
    const int index = ZbxValues_Find(std::string(text).c_str());
    ZbxValueInfo info{};
    const bool named = index >= 0 && ZbxValues_At(index, &info) != 0;
    for (const CameraValue& v : camera_values())
        if ((named && v.id == info.id) || (v.id <= ZBX_ID_GRAY_AUTO_BALANCE && std::to_string(v.id) == text))
            return &v;
    return nullptr;
}

std::optional<int> read_camera_value(ZbxHandle h, const CameraValue& value) {
    int ok = 1;
    int number = 0;
    switch (value.id) {
        case ZBX_SETTING_MIRROR_H: number = Zorbex_GetMirrorH(h); break;
        case ZBX_SETTING_MIRROR_V: number = Zorbex_GetMirrorV(h); break;
        case ZBX_SETTING_AUTO_IRIS: number = Zorbex_GetAutoIris(h, &ok); break;
        case ZBX_SETTING_DEFECT_CORRECTION: number = Zorbex_GetConfigFilter(h); break;
        default: number = Zorbex_GetFilterValue(h, value.id, &ok); break;
    }
    if (!ok) return std::nullopt;
    return number;
}

bool write_camera_value(ZbxHandle h, const CameraValue& value, int number) {
    switch (value.id) {
        case ZBX_SETTING_MIRROR_H: return Zorbex_SetMirrorH(h, number) != 0;
        case ZBX_SETTING_MIRROR_V: return Zorbex_SetMirrorV(h, number) != 0;
        case ZBX_SETTING_AUTO_IRIS: return Zorbex_SetAutoIris(h, number) != 0;
        case ZBX_SETTING_DEFECT_CORRECTION: return Zorbex_SetConfigFilter(h, number) != 0;
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
        for (const CameraValue& v : camera_values()) {
            if (!is_automatic(v)) continue;
            const std::optional<int> now = read_camera_value(h, v);
            if (now && *now != 0) {
                automatic.push_back({&v, *now});
                (void)write_camera_value(h, v, 0);
            }
        }
    }
    const ValueAssignment* failed = nullptr;
    for (const CameraValue& v : camera_values()) {
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
    for (const CameraValue& v : camera_values())
        if (v.initial) values.push_back({&v, *v.initial});
    return values;
}

}  // namespace zbxcam
