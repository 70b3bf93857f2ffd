#include "session/persistence.h"

#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "dialogs/settings_group.h"
#include "platform/files.h"
#include "platform/settings_store.h"
#include "platform/text.h"
#include "session/zorbex.h"

namespace zbx::session {

namespace {

using platform::SettingsKey;

// Defect list file: headerless 8-byte records of two little-endian int32.
constexpr std::size_t kDefectRecordSize = 8;
// The converted wide name and its terminator must fit in this many bytes.
constexpr std::size_t kMaxNarrowName = 1023;

std::string size_key_name(std::int32_t preset) {
    char name[32];
    std::snprintf(name, sizeof name, "Size_%02d", preset);
    return name;
}

// A value that is missing or not 4 bytes wide leaves the field alone.
void read_into(const SettingsKey& key, const char* name, std::atomic<std::int32_t>& field) {
    std::int32_t value = 0;
    if (key.read_int(name, &value) == platform::SettingsStatus::kOk) field = value;
}

// The tree a camera gets on the very first run.  Each step needs the one
// before it.
void create_first_run_tree(int device_number) {
    SettingsKey root;
    if (!root.create(dialogs::kRootKey)) return;
    SettingsKey camera;
    if (!camera.create(root, dialogs::camera_key_name(device_number))) return;
    SettingsKey preset;
    if (!preset.create(camera, size_key_name(0))) return;
    const std::array<platform::NamedDword, 7> geometry{{{"TH", 1280},
                                                        {"TV", 720},
                                                        {"EH", 1280},
                                                        {"EV", 720},
                                                        {"EHS", 0},
                                                        {"EVS", 0},
                                                        {"Buf", 4}}};
    if (!preset.write_dwords(geometry)) return;
    const std::array<platform::NamedDword, 5> format{
        {{"Size", 0}, {"Color", 2}, {"SubSample", 0}, {"WaitTime", 1}, {"Clock", 2}}};
    (void)camera.write_dwords(format);
}

std::int32_t read_le32(const std::uint8_t* p) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | p[i];
    return static_cast<std::int32_t>(v);
}

}  // namespace

int load_geometry(CZorbex& session) {
    const int device = session.device_number();
    SettingsKey root;
    if (!root.open(dialogs::kRootKey)) {
        create_first_run_tree(device);
        return 0;
    }
    SettingsKey camera;
    if (!camera.open(root, dialogs::camera_key_name(device))) return 0;
    std::int32_t preset_number = 0;
    if (camera.read_int("Size", &preset_number) != platform::SettingsStatus::kOk) return 0;
    SettingsKey preset;
    if (!preset.open(camera, size_key_name(preset_number))) return 0;

    Geometry& g = session.geometry();
    read_into(preset, "TH", g.total_width);
    read_into(preset, "TV", g.total_height);
    read_into(preset, "EH", g.width);
    read_into(preset, "EV", g.height);
    read_into(preset, "EHS", g.h_start);
    read_into(preset, "EVS", g.v_start);
    read_into(preset, "Buf", g.buffer);
    return 1;
}

int load_format_values(CZorbex& session) {
    SettingsKey root;
    SettingsKey camera;
    if (!root.open(dialogs::kRootKey) || !camera.open(root, dialogs::camera_key_name(session.device_number())))
        return 0;
    AcquisitionState& a = session.acquisition();
    read_into(camera, "Color", a.color_mode);
    read_into(camera, "SubSample", a.sub_sample);
    read_into(camera, "WaitTime", a.wait_time_ms);
    read_into(camera, "Clock", a.clock);
    return 1;
}

int load_config_file(CZorbex& session, const char* file_name) {
    platform::MemoryReader reader;
    if (reader.load(file_name) == nullptr) return 0;
    const std::size_t records = reader.size() / kDefectRecordSize;
    std::lock_guard lock(session.defect_lock());
    std::vector<DefectPixel>& defects = session.defects();
    defects.clear();
    defects.reserve(records);
    for (std::size_t i = 0; i < records; ++i) {
        const std::uint8_t* record = reader.data() + i * kDefectRecordSize;
        defects.push_back({read_le32(record), read_le32(record + 4)});
    }
    return 1;
}

int load_config_file(CZorbex& session, const char16_t* file_name) {
    std::array<char, kMaxNarrowName + 1> narrow{};
    if (!platform::wide_to_narrow(file_name, narrow.data(), kMaxNarrowName)) {
        session.report(ERR_FILE);
        return 0;
    }
    return load_config_file(session, narrow.data());
}

}  // namespace zbx::session
