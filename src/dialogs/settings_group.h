// The per-camera settings key and the plumbing the registry groups share:
// opening a group of a camera for reading, creating it for writing, and
// reading or writing a table of named 32-bit values.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/settings_store.h"

namespace zbx::dialogs {

// The library's key under the current user's root.
inline constexpr char kRootKey[] = "Software\\Tevrun\\Zorbex530RDNQTSdk";

// "Camera_%02d".
[[nodiscard]] std::string camera_key_name(int device_number);
// Root key, camera key and, when not empty, one subkey below it.
[[nodiscard]] std::string camera_key_path(int device_number, std::string_view subkey = {});

// One named value of a group and the field it comes from or goes to.
struct GroupField {
    const char* name;
    std::int32_t* field;
};

// Opens root, camera key and `group` for reading; false when one is missing.
[[nodiscard]] bool open_group(int device_number, std::string_view group, platform::SettingsKey* key);
// Reads each value as 4 bytes into its field, in table order; a value that
// is missing or stored with another size leaves its field as it was.
void read_fields(const platform::SettingsKey& key, std::span<const GroupField> fields);
// Writes every field as a 32-bit value in one update; false on failure.
[[nodiscard]] bool write_fields(platform::SettingsKey& key, std::span<const GroupField> fields);

}  // namespace zbx::dialogs
