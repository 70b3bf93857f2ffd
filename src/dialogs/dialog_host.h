// What the property dialogs need of a camera session, and the calls that
// run them.  The session implements the host interfaces; the dialogs never
// see the session itself.
//
// Threads: every host member is called on the thread that runs the dialog
// (the application's thread inside the export), never by the dialogs from
// another thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "zorbex/window.h"

namespace zbx::dialogs {

// Positions in the session's block of 30 image adjustment values.
enum class AdjustmentSlot : std::size_t {
    kBrightness = 0,
    kContrast = 1,
    kHue = 2,
    kSaturation = 3,
    kSharpness = 4,
    kBayerGainRed = 5,
    kBayerGainGreen = 6,
    kBayerGainBlue = 7,
    kGamma = 8,
    kBayerMode = 9,
    kGrayMode = 11,
    kGrayGainR = 12,
    kGrayGainG1 = 13,
    kGrayGainG2 = 14,
    kGrayGainB = 15,
    kGrayOffsetR = 16,
    kGrayOffsetG1 = 17,
    kGrayOffsetG2 = 18,
    kGrayOffsetB = 19,
    kBayerGainAuto = 25,
    kWhiteBalanceOnceA = 26,  // the two markers of a one-shot white balance
    kWhiteBalanceOnceB = 27,
    kGrayAutoCount = 29,
};
inline constexpr std::size_t kAdjustmentBlockSize = 30;
using AdjustmentBlock = std::array<std::int32_t, kAdjustmentBlockSize>;

// Positions in the session's analog block of nine values.
enum class AnalogSlot : std::size_t {
    kGlobalGain = 0,
    kColorGainGreen1 = 1,
    kColorGainRed = 2,
    kColorGainBlue = 3,
    kColorGainGreen2 = 4,
    kExposure = 5,  // lines
    kMirrorV = 6,   // 0 or 1
    kMirrorH = 7,
    kAutoIris = 8,  // 0 off, 1 exposure, 2 gain
};
inline constexpr std::size_t kAnalogBlockSize = 9;
using AnalogBlock = std::array<std::int32_t, kAnalogBlockSize>;

// The sensor model's limits and default exposure.
struct SensorLimits {
    std::int32_t min_gain = 0;
    std::int32_t max_gain = 11;
    std::int32_t min_exposure = 1;
    std::int32_t max_exposure = 32767;
    std::int32_t default_exposure = 637;
};

class AnalogDialog;
class ImageFilterDialog;

// For run_analog_dialog.
class AnalogHost {
public:
    virtual ~AnalogHost() = default;

    // The session's analog block, read and written live.
    [[nodiscard]] virtual std::int32_t analog_value(AnalogSlot slot) const = 0;
    virtual void set_analog_value(AnalogSlot slot, std::int32_t value) = 0;

    [[nodiscard]] virtual SensorLimits sensor_limits() const = 0;
    // What the sensor model reports now: the gain index, the exposure
    // register, and its stored mirror states (0 or 1).
    [[nodiscard]] virtual std::int32_t sensor_gain_index() = 0;
    [[nodiscard]] virtual std::int32_t sensor_exposure() = 0;
    [[nodiscard]] virtual std::int32_t sensor_mirror_v() = 0;
    [[nodiscard]] virtual std::int32_t sensor_mirror_h() = 0;

    // Programs the sensor at once, through the sensor model.
    virtual void program_global_gain(std::int32_t gain) = 0;
    virtual void program_exposure(std::int32_t lines) = 0;
    virtual void program_mirror_v(std::int32_t on) = 0;
    virtual void program_mirror_h(std::int32_t on) = 0;

    // Milliseconds of `lines` of exposure by the session's exposure time
    // model: (lines x line length + line offset) x time per clock.
    [[nodiscard]] virtual double exposure_time_ms(std::int32_t lines) = 0;

    // Sets (non-null while the dialog is open) or clears the session's open
    // analog dialog pointer.  Development calls AnalogDialog::show_global_gain
    // and show_exposure through it from the acquisition thread; clearing
    // must wait until such a call has returned (clear it under the lock
    // that development holds), since the dialog is destroyed right after.
    virtual void set_open_analog_dialog(AnalogDialog* dialog) = 0;
};

// For run_image_dialog.
class ImageHost {
public:
    virtual ~ImageHost() = default;

    // The session's adjustment block, read and written live.
    [[nodiscard]] virtual std::int32_t adjustment_value(AdjustmentSlot slot) const = 0;
    virtual void set_adjustment_value(AdjustmentSlot slot, std::int32_t value) = 0;
    // The session's colour mode (0 to 5), which decides the enabled
    // controls and whether the gray page exists.
    [[nodiscard]] virtual std::int32_t color_mode() const = 0;

    // As set_open_analog_dialog, for ImageFilterDialog::refresh.
    virtual void set_open_image_dialog(ImageFilterDialog* dialog) = 0;
};

// For run_camera_format_dialog.
class CameraFormatHost {
public:
    virtual ~CameraFormatHost() = default;

    // The sensor model's device number: names the settings key "Camera_%02d".
    [[nodiscard]] virtual std::int32_t device_number() const = 0;
    // Notes the acquisition mode and stops streaming or capture, or pauses
    // the trigger thread; resume_acquisition brings back what was noted.
    virtual void suspend_acquisition() = 0;
    virtual void resume_acquisition() = 0;
    // The geometry load and then the format load from the settings store.
    virtual void reload_format_settings() = 0;
};

// Each runs its dialog modally on the calling thread, owned by `owner`
// (null, or a live window), and returns how it ended: 1 OK, 2 Cancel or
// closed, platform::kDialogFailed (-1) when it could not be created.
//
// Analog: refreshes the analog block from the sensor, changes it and the
// sensor live, and on any end but OK programs the sensor and restores the
// block as they were at opening.  Never writes the settings store.
std::intptr_t run_analog_dialog(AnalogHost& host, ZbxWindow owner);
// Image filter (and, in colour modes 0 and 1, gray) values: changed live;
// on any end but OK the whole block is restored as it was at opening.
std::intptr_t run_image_dialog(ImageHost& host, ZbxWindow owner);
// Camera format: suspends acquisition, edits the format values in the
// settings store (Apply and OK write them), reloads them into the session
// after OK, resumes acquisition.
std::intptr_t run_camera_format_dialog(CameraFormatHost& host, ZbxWindow owner);

}  // namespace zbx::dialogs
