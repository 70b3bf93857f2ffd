#include "dialogs/settings_group.h"

#include <cstdio>
#include <vector>

namespace zbx::dialogs {

std::string camera_key_name(int device_number) {
    char name[32];
    std::snprintf(name, sizeof name, "Camera_%02d", device_number);
    return name;
}

std::string camera_key_path(int device_number, std::string_view subkey) {
    std::string path = kRootKey;
    path += '\\';
    path += camera_key_name(device_number);
    if (!subkey.empty()) {
        path += '\\';
        path += subkey;
    }
    return path;
}

bool open_group(int device_number, std::string_view group, platform::SettingsKey* key) {
    // Each level is opened in turn, as the registry requires.
    platform::SettingsKey root;
    platform::SettingsKey camera;
    return root.open(kRootKey) && camera.open(root, camera_key_name(device_number)) &&
           key->open(camera, group);
}

void read_fields(const platform::SettingsKey& key, std::span<const GroupField> fields) {
    for (const GroupField& f : fields) {
        std::int32_t value = 0;
        if (key.read_int(f.name, &value) == platform::SettingsStatus::kOk) *f.field = value;
    }
}

bool write_fields(platform::SettingsKey& key, std::span<const GroupField> fields) {
    std::vector<platform::NamedDword> values;
    values.reserve(fields.size());
    for (const GroupField& f : fields) values.push_back({f.name, static_cast<std::uint32_t>(*f.field)});
    return key.write_dwords(values);
}

}  // namespace zbx::dialogs
