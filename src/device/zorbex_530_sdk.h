// CZorbex530SRXNQTSdk: the camera model.  It turns the session's settings
// (window, exposure, gain, mirroring, trigger mode, sample width, clock, I/O
// port) into sensor and controller register writes through the device
// operations, each of which opens and closes the device on its own.
//
// Any thread may program the camera (exports, dialogs, the acquisition
// thread's automatic exposure, an acquisition start's settings apply): one
// recursive lock covers each programming sequence and the values it caches.
// It is never held while waiting for a frame, and the model never takes a
// session lock, so a caller may hold the session's frame lock around it.
#pragma once

#include <cstdint>
#include <mutex>

#include "device/zbx_sdk_lib.h"
#include "platform/sync.h"

namespace zbx::device {

inline constexpr int kSensorWidth = 1280;
inline constexpr int kSensorHeight = 720;
// Smallest window the sensor reads out.
inline constexpr int kMinWindowWidth = 4;
inline constexpr int kMinWindowHeight = 1;
inline constexpr char kDeviceStem[] = "Zbrx530RDNQT";

class CZorbex530SRXNQTSdk : public CZBXSdkLib {
public:
    static constexpr int kMinExposure = 1;
    static constexpr int kMaxExposure = 32767;
    static constexpr int kDefaultExposure = 637;
    static constexpr int kMaxGainIndex = 11;

    // Probes the devices and initialises device 0 (its code: initialise_result()).
    CZorbex530SRXNQTSdk();

    // Re-selects `device_number` and programs the camera from scratch: 0, or
    // 22 when the number is above 32.
    [[nodiscard]] int initialise(int device_number);
    [[nodiscard]] int initialise_result() const { return locked(initialise_result_); }

    // 0, or 1 when the window leaves the 1280 x 720 sensor, is smaller than
    // the minimum or the mode is not 0 to 3, 17 or 18 (nothing written then).
    // Frames then hold exactly the requested columns and rows.
    [[nodiscard]] int set_window(int x, int y, int width, int height, int subsample_mode);
    // Clamps to 1..32767 and writes registers 14 and 15.  Returns 1.
    int set_exposure(std::uint16_t lines);
    [[nodiscard]] int exposure();
    // Index 0 to 12 (12 = code 0).  Returns 1.
    int set_global_gain(int index);
    [[nodiscard]] int global_gain();
    // Return 0, as the camera gives no result for them.
    int set_horizontal_mirror(bool on);
    int set_vertical_mirror(bool on);
    [[nodiscard]] bool horizontal_mirror() const { return locked(horizontal_mirror_); }
    [[nodiscard]] bool vertical_mirror() const { return locked(vertical_mirror_); }
    // 1, or 0 when a register write failed.
    int set_trigger_mode(bool on);
    [[nodiscard]] bool trigger_mode() const { return locked(trigger_flag_); }

    int set_readout_option(int option) override;
    int set_sample_width(bool sixteen_bit) override;

    // Time from one free-running frame to the next as the registers stand:
    // max(exposure lines, rows + 32 blanking lines) lines of (line length
    // register + 6) clocks of the readout clock (24, 12 or 100 MHz).  0 when
    // a register cannot be read.
    [[nodiscard]] std::uint64_t frame_period_ns();

    // Register access on the selected device; reads yield 0 on failure.
    [[nodiscard]] bool read_clock(std::uint8_t* value) { return read_controller(15, value); }
    [[nodiscard]] bool write_clock(std::uint8_t value) { return write_controller(15, value); }
    [[nodiscard]] bool read_io_port(std::uint8_t* value) { return read_controller(7, value); }
    [[nodiscard]] bool write_io_port(std::uint8_t value) { return write_controller(7, value); }
    [[nodiscard]] bool read_controller(std::uint8_t reg, std::uint8_t* value);
    [[nodiscard]] bool write_controller(std::uint8_t reg, std::uint8_t value);
    [[nodiscard]] bool read_sensor(std::uint16_t address, std::uint16_t* value);
    [[nodiscard]] bool write_sensor(std::uint16_t address, std::uint16_t value);
    [[nodiscard]] bool read_identifier(std::uint8_t index, std::uint8_t* byte);
    [[nodiscard]] bool write_identifier(std::uint8_t index, std::uint8_t byte);
    // Any serial-ROM address from 0x1800 on (the configuration byte is at 0x1EB0).
    [[nodiscard]] bool read_rom(std::uint16_t address, std::uint8_t* byte);

    // Window as given, and the subsampling mode (stored only).
    [[nodiscard]] int window_x() const { return locked(x_); }
    [[nodiscard]] int window_y() const { return locked(y_); }
    [[nodiscard]] int window_width() const { return locked(width_); }
    [[nodiscard]] int window_height() const { return locked(height_); }
    [[nodiscard]] int subsample_mode() const { return locked(subsample_mode_); }
    [[nodiscard]] std::uint32_t written_sample_count() const { return locked(written_sample_count_); }
    [[nodiscard]] bool register_table_loaded() const { return locked(register_table_loaded_); }

    [[nodiscard]] static constexpr int min_exposure() { return kMinExposure; }
    [[nodiscard]] static constexpr int max_exposure() { return kMaxExposure; }
    [[nodiscard]] static constexpr int default_exposure() { return kDefaultExposure; }
    [[nodiscard]] static constexpr int max_gain_index() { return kMaxGainIndex; }
    [[nodiscard]] static constexpr bool auto_iris_supported() { return false; }

private:
    // A cached value, read under the programming lock.
    template <typename T>
    [[nodiscard]] T locked(const T& value) const {
        std::lock_guard lock(programming_lock_);
        return value;
    }
    void load_register_table();
    std::uint16_t sensor_or_zero(std::uint16_t address);
    int set_mirror(std::uint16_t bit, bool on);
    // Places the requested window inside the read-out for the current mirroring.
    void place_window_crop();

    int initialise_result_ = 0;
    int x_ = 0, y_ = 0, width_ = kSensorWidth, height_ = kSensorHeight;
    // The window the sensor reads out: even start, even size, holding the requested one.
    int even_x_ = 0, even_y_ = 0, even_width_ = kSensorWidth, even_height_ = kSensorHeight;
    int subsample_mode_ = 0;
    bool horizontal_mirror_ = false;
    bool vertical_mirror_ = false;
    bool register_table_loaded_ = false;
    std::uint32_t written_sample_count_ = 0;
    // Recursive: sequences call one another (set_window sets the exposure).
    mutable platform::CriticalSection programming_lock_;
};

}  // namespace zbx::device
