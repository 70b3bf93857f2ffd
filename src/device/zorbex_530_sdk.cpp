#include "device/zorbex_530_sdk.h"

#include <algorithm>

#include "device/register_tables.h"
#include "platform/clock.h"

namespace zbx::device {

namespace {

// Sensor registers.
constexpr std::uint16_t kRegLatch = 1;       // 1 while the mirror bits change; also the trigger switch
constexpr std::uint16_t kRegMirror = 2;      // bit 0 vertical, bit 1 horizontal; 0 = mirrored
constexpr std::uint16_t kRegRowStart = 4;
constexpr std::uint16_t kRegRowSize = 5;
constexpr std::uint16_t kRegColumnStart = 6;
constexpr std::uint16_t kRegColumnSize = 7;
constexpr std::uint16_t kRegShutterDelay = 14;
constexpr std::uint16_t kRegExposure = 15;
constexpr std::uint16_t kRegGainA = 35;
constexpr std::uint16_t kRegGainB = 36;
constexpr std::uint16_t kRegLineLength = 46;
constexpr std::uint16_t kRegTableEnable = 62;
constexpr std::uint16_t kRegReadout = 80;
// Controller registers.
constexpr std::uint8_t kCtrlTrigger = 11;
constexpr std::uint8_t kCtrlSampleWidth = 14;

constexpr int kRowOffset = 64;
constexpr int kColumnOffset = 132;
constexpr std::uint8_t kGainCodes[13] = {0x02, 0x03, 0x14, 0x15, 0x16, 0x17, 0x38,
                                         0x39, 0x3A, 0x3B, 0x3C, 0x3D, 0x00};

int round_up_even(int v) { return (v + 1) & ~1; }


}  // namespace

CZorbex530SRXNQTSdk::CZorbex530SRXNQTSdk() {
    set_device_stem(kDeviceStem);
    probe_devices();
    initialise_result_ = initialise(0);
}

std::uint16_t CZorbex530SRXNQTSdk::sensor_or_zero(std::uint16_t address) {
    std::lock_guard lock(programming_lock_);
    std::uint16_t value = 0;
    (void)sensor_register_read(device_name(), address, &value);
    return value;
}

int CZorbex530SRXNQTSdk::initialise(int device_number) {
    std::lock_guard lock(programming_lock_);
    reset_to_defaults();
    if (const int code = select_device(device_number); code != 0) return code;
    set_sample_width(false);
    register_table_loaded_ = false;
    camera_initialise(device_name());
    if (!register_table_loaded_) load_register_table();
    (void)set_window(0, 0, kSensorWidth, kSensorHeight, 0);
    set_vertical_mirror(false);
    set_trigger_mode(false);
    return 0;
}

void CZorbex530SRXNQTSdk::load_register_table() {
    const char* name = device_name();
    (void)sensor_register_write(name, kRegTableEnable, 0);
    for (const auto* block : {kRegisterBlock1.data(), kRegisterBlock2.data()}) {
        for (std::size_t i = 0; i < kRegisterBlock1.size(); ++i) {
            (void)sensor_register_write(name, block[i].address, block[i].value);
        }
    }
    for (const RegisterPair& pair : kRegisterBlock3) (void)sensor_register_write(name, pair.address, pair.value);
    register_table_loaded_ = true;
}

int CZorbex530SRXNQTSdk::set_window(int x, int y, int width, int height, int subsample_mode) {
    std::lock_guard lock(programming_lock_);
    const bool mode_ok = (subsample_mode >= 0 && subsample_mode <= 3) || subsample_mode == 17 || subsample_mode == 18;
    if (x < 0 || y < 0 || width < kMinWindowWidth || height < kMinWindowHeight || x > kSensorWidth - width ||
        y > kSensorHeight - height || !mode_ok) {
        return 1;
    }
    x_ = x;
    y_ = y;
    width_ = width;
    height_ = height;
    subsample_mode_ = subsample_mode;
    // The sensor reads even sizes from even columns and rows.  It reads the
    // smallest such window that holds the requested one (never one reaching
    // past the sensor's edge); the device link transfers whole read-out rows
    // and cuts the requested window out of them.
    even_x_ = x & ~1;
    even_y_ = y & ~1;
    even_width_ = round_up_even(x + width) - even_x_;
    even_height_ = round_up_even(y + height) - even_y_;
    // Transfer every line read out, whatever the crop position: a mirror
    // switch moves the crop but never the frame size.
    (void)set_geometry(even_width_, 0, width, even_height_, even_height_ - height, height, 4);
    place_window_crop();

    const char* name = device_name();
    (void)sensor_register_write(name, kRegRowStart, static_cast<std::uint16_t>(even_y_ + kRowOffset));
    (void)sensor_register_write(name, kRegRowSize, static_cast<std::uint16_t>(even_height_));
    (void)sensor_register_write(name, kRegColumnStart, static_cast<std::uint16_t>(even_x_ + kColumnOffset));
    (void)sensor_register_write(name, kRegColumnSize, static_cast<std::uint16_t>(even_width_));
    // The shutter delay depends on the height.
    set_exposure(sensor_or_zero(kRegExposure));

    const std::uint32_t samples = frame_sample_count();
    for (std::uint8_t reg = 0; reg < 4; ++reg) {
        (void)controller_register_write(name, reg, static_cast<std::uint8_t>(samples >> (8 * reg)));
    }
    platform::sleep_ms(100);
    written_sample_count_ = samples;
    set_large_frame(transfer_byte_count() >= kLargeFrameBytes);
    return 0;
}

void CZorbex530SRXNQTSdk::place_window_crop() {
    // Mirroring flips the read-out window as a whole, so the spare column or
    // row moves to the other side.
    const int x_offset = horizontal_mirror_ ? even_x_ + even_width_ - (x_ + width_) : x_ - even_x_;
    const int first_line = vertical_mirror_ ? even_y_ + even_height_ - (y_ + height_) : y_ - even_y_;
    (void)set_window_offsets(x_offset, first_line);
}

int CZorbex530SRXNQTSdk::set_exposure(std::uint16_t lines) {
    std::lock_guard lock(programming_lock_);
    const std::uint16_t e = std::clamp<std::uint16_t>(lines, kMinExposure, kMaxExposure);
    const auto h = static_cast<std::uint16_t>(even_height_);
    // Below its minimum the delay register takes a floor that depends on the mode.
    const std::uint16_t floor_lines = trigger_flag_ ? 6 : (sixteen_bit_ ? 962 : 64);
    const std::uint16_t floor_value = trigger_flag_ ? 6 : (sixteen_bit_ ? 962 : 124);
    const std::uint16_t delay =
        e >= h + floor_lines ? static_cast<std::uint16_t>(e - h + 1) : floor_value;
    const char* name = device_name();
    (void)sensor_register_write(name, kRegShutterDelay, delay);
    (void)sensor_register_write(name, kRegExposure, e);
    return 1;
}

std::uint64_t CZorbex530SRXNQTSdk::frame_period_ns() {
    constexpr std::uint64_t kBlankingLines = 32;
    std::uint16_t rows = 0;
    std::uint16_t exposure_lines = 0;
    std::uint16_t line = 0;
    std::uint8_t clock = 0;
    if (!read_sensor(kRegRowSize, &rows) || !read_sensor(kRegExposure, &exposure_lines) ||
        !read_sensor(kRegLineLength, &line) || !read_clock(&clock))
        return 0;
    const std::uint64_t hz = clock == 2 ? 100'000'000 : clock == 1 ? 12'000'000 : 24'000'000;
    const std::uint64_t lines = std::max<std::uint64_t>(exposure_lines, rows + kBlankingLines);
    return lines * (std::uint64_t{line} + 6) * 1'000'000'000u / hz;
}

int CZorbex530SRXNQTSdk::exposure() { return sensor_or_zero(kRegExposure); }

int CZorbex530SRXNQTSdk::set_global_gain(int index) {
    std::lock_guard lock(programming_lock_);
    const unsigned low = static_cast<unsigned>(index) & 0xFF;
    const std::uint16_t code = kGainCodes[std::min(low, 12u)];
    const auto value = static_cast<std::uint16_t>(code * 257);
    (void)sensor_register_write(device_name(), kRegGainA, value);
    (void)sensor_register_write(device_name(), kRegGainB, value);
    return 1;
}

int CZorbex530SRXNQTSdk::global_gain() { return std::max((sensor_or_zero(kRegGainA) & 0x0F) - 2, 0); }

int CZorbex530SRXNQTSdk::set_mirror(std::uint16_t bit, bool on) {
    const char* name = device_name();
    const std::uint16_t current = sensor_or_zero(kRegMirror);
    (void)sensor_register_write(name, kRegLatch, 1);
    (void)sensor_register_write(name, kRegMirror,
                                static_cast<std::uint16_t>(on ? current & ~bit : current | bit));
    (void)sensor_register_write(name, kRegLatch, 0);
    return 0;
}

int CZorbex530SRXNQTSdk::set_horizontal_mirror(bool on) {
    std::lock_guard lock(programming_lock_);
    set_mirror(2, on);
    horizontal_mirror_ = on;
    place_window_crop();
    return 0;
}

int CZorbex530SRXNQTSdk::set_vertical_mirror(bool on) {
    std::lock_guard lock(programming_lock_);
    set_mirror(1, on);
    vertical_mirror_ = on;
    place_window_crop();
    return 0;
}

int CZorbex530SRXNQTSdk::set_trigger_mode(bool on) {
    std::lock_guard lock(programming_lock_);
    const char* name = device_name();
    if (!sensor_register_write(name, kRegLatch, on ? 1 : 0)) return 0;
    if (on) {
        (void)prepare_frame(name);
        const std::uint32_t line_length = sensor_or_zero(kRegLineLength);
        const std::uint32_t lines = sensor_or_zero(kRegExposure);
        // Let a frame already exposing finish before the controller switches.
        platform::sleep_ms(std::min<std::uint32_t>(lines * (line_length + 6) / 80000 + 100, 1000));
    }
    if (!controller_register_write(name, kCtrlTrigger, on ? 1 : 0)) return 0;
    trigger_flag_ = on;
    set_exposure(sensor_or_zero(kRegExposure));
    return 1;
}

int CZorbex530SRXNQTSdk::set_readout_option(int option) {
    std::lock_guard lock(programming_lock_);
    CZBXSdkLib::set_readout_option(option);
    const std::uint16_t value = sensor_or_zero(kRegReadout);
    (void)sensor_register_write(device_name(), kRegReadout,
                                static_cast<std::uint16_t>(option != 0 ? value | 1 : value & ~1));
    return 1;
}

int CZorbex530SRXNQTSdk::set_sample_width(bool sixteen_bit) {
    std::lock_guard lock(programming_lock_);
    sixteen_bit_ = sixteen_bit;
    // The camera takes the width from its controller register; the command only arms it.
    (void)send_sample_width(device_name(), true);
    (void)controller_register_write(device_name(), kCtrlSampleWidth, sixteen_bit ? 5 : 4);
    return 1;
}

bool CZorbex530SRXNQTSdk::read_controller(std::uint8_t reg, std::uint8_t* value) {
    std::lock_guard lock(programming_lock_);
    return controller_register_read(device_name(), reg, value);
}
bool CZorbex530SRXNQTSdk::write_controller(std::uint8_t reg, std::uint8_t value) {
    std::lock_guard lock(programming_lock_);
    return controller_register_write(device_name(), reg, value);
}
bool CZorbex530SRXNQTSdk::read_sensor(std::uint16_t address, std::uint16_t* value) {
    std::lock_guard lock(programming_lock_);
    return sensor_register_read(device_name(), address, value);
}
bool CZorbex530SRXNQTSdk::write_sensor(std::uint16_t address, std::uint16_t value) {
    std::lock_guard lock(programming_lock_);
    return sensor_register_write(device_name(), address, value);
}
bool CZorbex530SRXNQTSdk::read_identifier(std::uint8_t index, std::uint8_t* byte) {
    std::lock_guard lock(programming_lock_);
    return serial_rom_identifier_read(device_name(), index, byte);
}
bool CZorbex530SRXNQTSdk::write_identifier(std::uint8_t index, std::uint8_t byte) {
    std::lock_guard lock(programming_lock_);
    return serial_rom_identifier_write(device_name(), index, byte);
}
bool CZorbex530SRXNQTSdk::read_rom(std::uint16_t address, std::uint8_t* byte) {
    std::lock_guard lock(programming_lock_);
    return serial_rom_read(device_name(), address, byte);
}

}  // namespace zbx::device
