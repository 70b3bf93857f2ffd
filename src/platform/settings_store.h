// The settings store: the current user's registry as the library uses it.
// Keys and subkeys by '\'-separated path (compared without regard to ASCII
// case), each holding named values; the library stores 32-bit values.
//
// Everything lives in one human-readable text file per user, in
// registry-export form, at $XDG_CONFIG_HOME/zorbex-sdk/settings.reg
// (~/.config when XDG_CONFIG_HOME is unset).  Every change is made under an
// exclusive file lock and written to a temporary file that then replaces
// the old one, so processes can share the file and a crash never leaves it
// half written.  Every read sees the file as it is now, as the registry
// would.  A file that cannot be read or parsed reads as empty and is moved
// aside (settings.reg.corrupt-...), never overwritten.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zbx::platform {

enum class SettingsStatus {
    kOk,
    kNotFound,   // no such value (or the key is gone)
    kWrongSize,  // the value exists with another size than asked for
    kFailed,     // the key is not open, or the request was malformed
};

// Places the settings file in `dir` (as dir/settings.reg) from now on;
// an empty path restores the per-user default.  Tests use it.
void set_settings_root(std::filesystem::path dir);
// The file in use.
std::filesystem::path settings_file_path();

struct NamedDword {
    std::string_view name;
    std::uint32_t value;
};

// An open key.  Opening checks that the key exists; the object then names
// it by path.  Keys opened with open() are read-only (writes fail), keys
// from create() may be written.  Thread-safe for concurrent use of
// different objects; one object belongs to one thread at a time.
class SettingsKey {
public:
    SettingsKey() = default;
    SettingsKey(SettingsKey&&) noexcept = default;
    SettingsKey& operator=(SettingsKey&&) noexcept = default;
    SettingsKey(const SettingsKey&) = delete;
    SettingsKey& operator=(const SettingsKey&) = delete;

    // Opens an existing key for reading.  `path` is relative to the current
    // user's root ("" is the root itself).  False when it does not exist or
    // the path is malformed.
    [[nodiscard]] bool open(std::string_view path);
    [[nodiscard]] bool open(const SettingsKey& parent, std::string_view subkey);
    // Opens the key for reading and writing, creating it and any missing
    // ancestors.  *created (optional) says whether it was new.  False when
    // the store cannot be written (the key is then not open).
    [[nodiscard]] bool create(std::string_view path, bool* created = nullptr);
    [[nodiscard]] bool create(const SettingsKey& parent, std::string_view subkey,
                              bool* created = nullptr);
    void close();

    [[nodiscard]] bool is_open() const { return open_; }
    [[nodiscard]] bool writable() const { return open_ && writable_; }
    [[nodiscard]] const std::string& path() const { return path_; }

    // Reads a 4-byte value (any type stored with 4 bytes) into *value.
    // kWrongSize when it is stored with another size (*value unchanged);
    // *stored_size (optional) receives the stored size whenever it exists.
    SettingsStatus read_dword(std::string_view name, std::uint32_t* value,
                              std::uint32_t* stored_size = nullptr) const;
    // The same, into a signed integer.
    SettingsStatus read_int(std::string_view name, std::int32_t* value) const;
    // The raw bytes of a value of any type and size.
    SettingsStatus read_bytes(std::string_view name, std::vector<std::uint8_t>* bytes) const;

    // Stores 32-bit values (type dword).  False when the key is read-only
    // or not open, a name is malformed, or the file cannot be written; the
    // file is then unchanged.  write_dwords stores all values in one update.
    [[nodiscard]] bool write_dword(std::string_view name, std::uint32_t value);
    [[nodiscard]] bool write_dwords(std::span<const NamedDword> values);
    // Stores raw bytes (type binary), for values of other sizes.
    [[nodiscard]] bool write_bytes(std::string_view name, std::span<const std::uint8_t> bytes);

private:
    std::string path_;
    bool open_ = false;
    bool writable_ = false;
};

// Removes a key with all its subkeys and values.  False when there was no
// such key, `path` is the root (""), or the file cannot be written.
bool delete_settings_tree(std::string_view path);

}  // namespace zbx::platform
