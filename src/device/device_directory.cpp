#include "device/device_directory.h"

#include <algorithm>
#include <cstdio>

#include "device/driver_requests.h"

namespace zbx::device {

namespace {
constexpr int kNumberCharacterCount = static_cast<int>(std::size(kDeviceNumberCharacters)) - 1;

void format_name(char* out, std::size_t size, const char* stem, int number) {
    const char character[2] = {device_number_character(number), '\0'};
    std::snprintf(out, size, "\\\\.\\%s-%s", stem, character);
}
}  // namespace

char device_number_character(int number) {
    if (number < 0 || number >= kNumberCharacterCount) return '\0';
    return static_cast<char>(kDeviceNumberCharacters[number]);
}

std::string device_name(std::string_view stem, int number) {
    std::array<char, 256> scratch{};
    const std::string stem_text(stem);
    format_name(scratch.data(), scratch.size(), stem_text.c_str(), number);
    return scratch.data();
}

void DeviceDirectory::set_stem(std::string_view stem) {
    stem_.fill('\0');
    std::copy_n(stem.begin(), std::min(stem.size(), kMaxStemLength), stem_.begin());
}

void DeviceDirectory::probe() {
    std::array<char, 256> scratch{};
    for (int n = 0; n < kMaxDevices; ++n) {
        format_name(scratch.data(), scratch.size(), stem_.data(), n);
        DriverHandle handle = open_device(scratch.data());
        // An invalid handle means absent here, though requests treat it as open.
        const bool opened = handle != platform::kNullDriverHandle && handle != platform::kInvalidDriverHandle;
        present_[static_cast<std::size_t>(n)] = opened ? 1 : 0;
        if (opened) close_device(handle);
    }
    selected_ = 0;
}

bool DeviceDirectory::is_present(int number) const {
    return number >= 0 && number < kMaxDevices && present_[static_cast<std::size_t>(number)] == 1;
}

int DeviceDirectory::select(int number) {
    if (static_cast<unsigned>(number) > static_cast<unsigned>(kMaxSelectableDevice)) return kCodeBadDevice;
    selected_ = number;
    format_name(name_.data(), name_.size(), stem_.data(), number);
    return 0;
}

}  // namespace zbx::device
