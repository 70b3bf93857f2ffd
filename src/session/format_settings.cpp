#include "session/format_settings.h"

#include <array>

#include "device/zorbex_530_sdk.h"
#include "session/zorbex.h"

namespace zbx::session {

namespace {

using Sensor = device::CZorbex530SRXNQTSdk;

struct ColorModeRow {
    int bits;       // developed image and Zorbex_SetColorMode value
    int reported;   // Zorbex_GetColorMode result
    bool sixteen;   // 16-bit samples from the sensor
};

constexpr std::array<ColorModeRow, kColorModeCount> kColorModes{{
    {8, 8, false},
    {16, 12, true},
    {24, 24, false},
    {32, 32, false},
    {48, 44, true},
    {64, 60, true},
}};

bool valid_mode(int mode) { return mode >= 0 && mode < kColorModeCount; }

void set_ok(int* ok, int value) {
    if (ok != nullptr) *ok = value;
}

}  // namespace

int color_mode_bits(int mode) { return valid_mode(mode) ? kColorModes[static_cast<std::size_t>(mode)].bits : 0; }

int color_mode_from_bits(int bits) {
    for (std::size_t m = 0; m < kColorModes.size(); ++m)
        if (kColorModes[m].bits == bits) return static_cast<int>(m);
    return -1;
}

int reported_color_mode(int mode) {
    return valid_mode(mode) ? kColorModes[static_cast<std::size_t>(mode)].reported : -1;
}

bool color_mode_uses_16_bit_samples(int mode) {
    return valid_mode(mode) && kColorModes[static_cast<std::size_t>(mode)].sixteen;
}

bool geometry_is_valid(const Geometry& g, std::int32_t sub_sample) {
    // 64-bit sums: stored values come from the registry unchecked.
    const std::int64_t w = g.width, h = g.height, x = g.h_start, y = g.v_start;
    if (w < 0 || h < 0 || x < 0 || y < 0) return false;
    if (w > device::kSensorWidth || h > device::kSensorHeight || x > device::kSensorWidth ||
        y > device::kSensorHeight)
        return false;
    if (x + w > device::kSensorWidth || y + h > device::kSensorHeight) return false;
    // A smaller window is never read out: every frame of it would fail.
    if (w < device::kMinWindowWidth || h < device::kMinWindowHeight) return false;
    switch (sub_sample) {
        case 1: case 2: case 3: case 17: case 18: case 19: return false;
        default: return true;
    }
}

int set_color_mode(CZorbex& session, int bits) {
    const int mode = color_mode_from_bits(bits);
    if (mode < 0) {
        session.report(ERR_PARAMETER);
        return 0;
    }
    session.acquisition().color_mode = mode;
    return 1;
}

int get_color_mode(CZorbex& session) { return reported_color_mode(session.acquisition().color_mode); }

int set_sub_sample(CZorbex& session, int mode) {
    if (mode != 0) return 0;
    session.acquisition().sub_sample = mode;
    return 1;
}

int get_sub_sample(CZorbex& session) { return session.acquisition().sub_sample; }

int set_wait_time(CZorbex& session, int milliseconds) {
    if (milliseconds < 0) return 0;
    session.acquisition().wait_time_ms = milliseconds;
    return 1;
}

int get_wait_time(CZorbex& session) { return session.acquisition().wait_time_ms; }

int width(CZorbex& session) { return session.geometry().width; }

int height(CZorbex& session) { return session.geometry().height; }

int get_video_format(CZorbex& /*session*/, int* value) {
    if (value != nullptr) *value = 0;
    return 0;
}

int set_mirror_h(CZorbex& session, int flag) {
    Sensor* sensor = session.sensor_model();
    if (sensor == nullptr) {
        session.report(ERR_NOT_READY);
        return 0;
    }
    session.analog().mirror_h = flag != 0 ? 1 : 0;
    sensor->set_horizontal_mirror(flag != 0);
    return 1;
}

int set_mirror_v(CZorbex& session, int flag) {
    Sensor* sensor = session.sensor_model();
    if (sensor == nullptr) {
        session.post_notification(ERR_NOT_READY);
        return 0;
    }
    session.analog().mirror_v = flag != 0 ? 1 : 0;
    sensor->set_vertical_mirror(flag != 0);
    return 1;
}

int get_mirror_h(CZorbex& session) {
    if (!session.has_camera()) {
        session.report(ERR_NOT_READY);
        return 0;
    }
    return session.analog().mirror_h;
}

int get_mirror_v(CZorbex& session) {
    if (!session.has_camera()) {
        session.post_notification(ERR_NOT_READY);
        return 0;
    }
    return session.analog().mirror_v;
}

int read_register(CZorbex& session, int address, int* ok, bool full_address) {
    Sensor* sensor = session.sensor_model();
    if (sensor == nullptr) {
        set_ok(ok, 0);
        session.report(ERR_NOT_READY);
        return 0;
    }
    const auto reg = static_cast<std::uint16_t>(full_address ? address : address & 0xFF);
    std::uint16_t value = 0;
    if (!sensor->read_sensor(reg, &value)) {
        set_ok(ok, 0);
        session.report(ERR_DEVICE_IO);
        return 0;
    }
    set_ok(ok, 1);
    return value;
}

int write_register(CZorbex& session, int address, int value, bool full_address) {
    Sensor* sensor = session.sensor_model();
    if (sensor == nullptr) {
        session.report(ERR_NOT_READY);
        return 0;
    }
    const auto reg = static_cast<std::uint16_t>(full_address ? address : address & 0xFF);
    if (!sensor->write_sensor(reg, static_cast<std::uint16_t>(value))) {
        session.report(ERR_DEVICE_IO);
        return 0;
    }
    return 1;
}

int get_io_port(CZorbex& session, unsigned char* value) {
    Sensor* sensor = session.sensor_model();
    if (sensor == nullptr) {
        session.post_notification(ERR_NOT_READY);
        return 0;
    }
    if (value == nullptr) {
        session.post_notification(ERR_PARAMETER);
        return 0;
    }
    std::uint8_t port = 0;
    if (!sensor->read_io_port(&port)) port = 0;
    *value = port;
    return 1;
}

int set_io_port(CZorbex& session, int value) {
    Sensor* sensor = session.sensor_model();
    if (sensor == nullptr) {
        session.post_notification(ERR_NOT_READY);
        return 0;
    }
    return sensor->write_io_port(static_cast<std::uint8_t>(value & 0xFF)) ? 1 : 0;
}

int read_srom_id(CZorbex& session, int index, int* ok) {
    Sensor* sensor = session.sensor_model();
    std::uint8_t byte = 0;
    // Identifier bytes are 0 to 255; another index names none of them.
    if (sensor == nullptr || index < 0 || index > 0xFF ||
        !sensor->read_identifier(static_cast<std::uint8_t>(index), &byte)) {
        set_ok(ok, 0);
        session.post_notification(ERR_NOT_READY);
        return 0;
    }
    set_ok(ok, 1);
    return byte;
}

int write_srom_id(CZorbex& session, int index, int value) {
    Sensor* sensor = session.sensor_model();
    if (sensor == nullptr || index < 0 || index > 0xFF ||
        !sensor->write_identifier(static_cast<std::uint8_t>(index), static_cast<std::uint8_t>(value & 0xFF))) {
        session.post_notification(ERR_NOT_READY);
        return 0;
    }
    return 1;
}

}  // namespace zbx::session
