// Device naming and selection: the camera driver publishes one device per
// connected camera under "\\.\<stem>-<number character>"; this object knows
// which of the 32 numbers are present and which one the session uses.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace zbx::device {

inline constexpr int kMaxDevices = 32;
// Select device refuses numbers above this (the table has one more entry).
inline constexpr int kMaxSelectableDevice = 32;
inline constexpr int kCodeBadDevice = 22;
inline constexpr std::size_t kMaxStemLength = 12;

// One character per device number.  N stands before M in this table, as the
// driver numbers its devices that way.
inline constexpr char16_t kDeviceNumberCharacters[] = u"0123456789ABCDEFGHIJKLNMOPQRSTUVWXYZ";

// The character that names device `number` (0 to 35); 0 outside the table.
char device_number_character(int number);
// "\\.\<stem>-<character>".
std::string device_name(std::string_view stem, int number);

class DeviceDirectory {
public:
    // The stem is cut to 12 characters.
    void set_stem(std::string_view stem);
    [[nodiscard]] std::string_view stem() const { return stem_.data(); }

    // Opens each of the 32 names once, records which opened and closes them
    // at once; the selected number becomes 0 (the name stays as it was).
    void probe();
    [[nodiscard]] bool is_present(int number) const;
    // 0, or 22 when `number` taken as unsigned is above 32.  Stores the
    // number and its name; opens nothing.
    [[nodiscard]] int select(int number);
    [[nodiscard]] int selected() const { return selected_; }
    // Name of the selected device; every request opens it.
    [[nodiscard]] const char* name() const { return name_.data(); }
    [[nodiscard]] static constexpr int count() { return kMaxDevices; }

private:
    std::array<char, kMaxStemLength + 1> stem_{};
    std::array<std::int32_t, kMaxDevices> present_{};
    std::int32_t selected_ = 0;
    std::array<char, 128> name_{};
};

}  // namespace zbx::device
