#include "session/device_selection.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>

#include "device/device_directory.h"
#include "device/zorbex_530_sdk.h"
#include "session/acquisition.h"
#include "session/session_groups.h"
#include "session/zorbex.h"

namespace zbx::session {

static_assert(device::kMaxDevices == ZBX_MAX_DEVICES, "the public device count is the directory's");

namespace {

using Sensor = device::CZorbex530SRXNQTSdk;

constexpr char kModelName[] = "Zorbex530RD-NQT";
constexpr std::uint16_t kConfigurationRomAddress = 0x1EB0;
constexpr std::uint32_t kCameraInfoSize = 36;

std::string display_name(int number) {
    char text[64];
    std::snprintf(text, sizeof text, "%s_%02d", kModelName, number);
    return text;
}

// Copies at most size - 1 characters and a terminator.
template <typename Char>
void write_name(const std::string& name, Char* out, std::size_t size) {
    const std::size_t n = std::min(name.size(), size - 1);
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<Char>(name[i]);  // ASCII only
    out[n] = Char{0};
}

// Probing and re-initialising change what the device link reads frames
// through (its selected device, buffers and single-frame handle): they run
// under the locks a snapshot, a start, a stop and a frame's processing
// hold, in the same order (control, then frame), so no other export on the
// session can be reading through it meanwhile.
class DeviceLinkChange {
public:
    explicit DeviceLinkChange(CZorbex& session)
        : control_(session.acquisition_control().control_lock()), frame_(session.frame_lock()) {}

private:
    std::lock_guard<std::recursive_mutex> control_;
    std::lock_guard<platform::CriticalSection> frame_;
};

template <typename Char>
int list_devices(CZorbex& session, Char (*names)[kNameEntryLength], bool probe_each_slot) {
    std::optional<DeviceLinkChange> change;
    if (probe_each_slot) change.emplace(session);
    Sensor* sensor = session.sensor_model();
    if (sensor == nullptr) {
        session.report(ERR_NOT_READY);
        return 0;
    }
    if (names == nullptr) {
        session.report(ERR_PARAMETER);
        return 0;
    }
    const int selected = sensor->selected_device();
    int found = 0;
    for (int slot = 0; slot < Sensor::device_count(); ++slot) {
        if (probe_each_slot) sensor->probe_devices();
        if (!sensor->is_present(slot)) continue;
        write_name(display_name(found + 1), names[found], kNameEntryLength);
        ++found;
    }
    for (int i = found; i < kMinNameEntries; ++i) names[i][0] = Char{0};
    // A probe points the selection back at camera 0; the session keeps
    // working with, and saving the settings of, the camera it had.
    if (probe_each_slot) (void)sensor->select_device(selected);
    return found;
}

template <typename Char>
int name_device(CZorbex& session, int slot, Char* buffer, int size) {
    Sensor* sensor = session.sensor_model();
    if (sensor == nullptr) {
        session.report(ERR_NOT_READY);
        return 0;
    }
    if (size < kMinNameBuffer || buffer == nullptr || slot < 0 || slot >= Sensor::device_count()) {
        session.report(ERR_PARAMETER);
        return 0;
    }
    if (!sensor->is_present(slot)) {
        session.report(ERR_DEVICE_UNAVAILABLE);
        return 0;
    }
    write_name(display_name(slot + 1), buffer, static_cast<std::size_t>(size));
    return 1;
}

}  // namespace

int enum_devices(CZorbex& session, char (*names)[kNameEntryLength]) { return list_devices(session, names, true); }

int enum_devices(CZorbex& session, char16_t (*names)[kNameEntryLength]) {
    return list_devices(session, names, false);
}

int get_device_name(CZorbex& session, int slot, char* buffer, int size) {
    return name_device(session, slot, buffer, size);
}

int get_device_name(CZorbex& session, int slot, char16_t* buffer, int size) {
    return name_device(session, slot, buffer, size);
}

int set_device_number(CZorbex& session, int number) {
    DeviceLinkChange change(session);
    Sensor* sensor = session.sensor_model();
    // A running acquisition thread reads through the device link without
    // those locks (it waits for frames outside them): the camera cannot be
    // switched under it, as no acquisition can be started without a stop.
    const std::int32_t mode = session.acquisition().mode;
    if (sensor == nullptr || mode == kModeStreaming || mode == kModeTrigger) {
        session.report(ERR_NOT_READY);
        return 0;
    }
    save_dialog_groups(session, sensor->selected_device());
    if (!sensor->is_present(number) || sensor->initialise(number) != 0) {
        session.report(ERR_DEVICE_UNAVAILABLE);
        return 0;
    }
    load_dialog_groups(session, number);
    program_analog_values(session);
    std::uint8_t configuration = 0;
    if (sensor->read_rom(kConfigurationRomAddress, &configuration)) {
        if (configuration == 1) sensor->set_readout_option(0);
        if (configuration == 2) sensor->set_readout_option(1);
    }
    session.set_device_number(number);
    return 1;
}

int get_camera_info(CZorbex& session, ZbxCameraInfo* info) {
    if (!session.has_camera()) {
        session.report(ERR_NOT_READY);
        return 0;
    }
    if (info == nullptr) {
        session.report(ERR_PARAMETER);
        return 0;
    }
    if (info->size < kCameraInfoSize) {
        session.report(ERR_MEMORY);
        return 0;
    }
    info->sensor_width = device::kSensorWidth;
    info->sensor_height = device::kSensorHeight;
    info->min_gain = 0;
    info->max_gain = Sensor::max_gain_index();
    info->reserved1 = 0;
    info->reserved2 = 0;
    info->min_exposure = Sensor::min_exposure();
    info->max_exposure = Sensor::max_exposure();
    return 1;
}

}  // namespace zbx::session
