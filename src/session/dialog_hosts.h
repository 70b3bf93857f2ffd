// The session side of the property dialogs: the three host interfaces the
// dialogs talk to, and the session operations behind the dialog exports.
// A host is made for one dialog run on the caller's thread and borrows the
// session.
#pragma once

#include <cstdint>

#include "dialogs/dialog_host.h"
#include "zorbex/window.h"

namespace zbx::session {

class CZorbex;

// The session's analog values, the sensor model and the open analog
// dialog pointer.
class SessionAnalogHost final : public dialogs::AnalogHost {
public:
    explicit SessionAnalogHost(CZorbex& session) : session_(session) {}

    [[nodiscard]] std::int32_t analog_value(dialogs::AnalogSlot slot) const override;
    void set_analog_value(dialogs::AnalogSlot slot, std::int32_t value) override;
    [[nodiscard]] dialogs::SensorLimits sensor_limits() const override;
    [[nodiscard]] std::int32_t sensor_gain_index() override;
    [[nodiscard]] std::int32_t sensor_exposure() override;
    [[nodiscard]] std::int32_t sensor_mirror_v() override;
    [[nodiscard]] std::int32_t sensor_mirror_h() override;
    void program_global_gain(std::int32_t gain) override;
    void program_exposure(std::int32_t lines) override;
    void program_mirror_v(std::int32_t on) override;
    void program_mirror_h(std::int32_t on) override;
    [[nodiscard]] double exposure_time_ms(std::int32_t lines) override;
    void set_open_analog_dialog(dialogs::AnalogDialog* dialog) override;

private:
    CZorbex& session_;
};

// The session's adjustment block, colour mode and open image dialog pointer.
class SessionImageHost final : public dialogs::ImageHost {
public:
    explicit SessionImageHost(CZorbex& session) : session_(session) {}

    [[nodiscard]] std::int32_t adjustment_value(dialogs::AdjustmentSlot slot) const override;
    void set_adjustment_value(dialogs::AdjustmentSlot slot, std::int32_t value) override;
    [[nodiscard]] std::int32_t color_mode() const override;
    void set_open_image_dialog(dialogs::ImageFilterDialog* dialog) override;

private:
    CZorbex& session_;
};

// The device number, the acquisition to pause while the format is edited,
// and the reload of the format settings.
class SessionCameraFormatHost final : public dialogs::CameraFormatHost {
public:
    explicit SessionCameraFormatHost(CZorbex& session) : session_(session) {}

    [[nodiscard]] std::int32_t device_number() const override;
    void suspend_acquisition() override;
    void resume_acquisition() override;
    void reload_format_settings() override;

private:
    CZorbex& session_;
    std::int32_t suspended_mode_ = 0;  // the acquisition mode noted by suspend
};

// The dialog exports: 1 once the dialog has closed, however it ended (also
// when it could not be shown); 0 with error 1 when there is no camera.
// Caller's thread, no lock held.
int set_analog_dialog(CZorbex& session, ZbxWindow owner);
int set_image_dialog(CZorbex& session, ZbxWindow owner);
int set_camera_dialog(CZorbex& session, ZbxWindow owner);

// Closes the session's open dialogs as Cancel and returns once every
// dialog export of the session has returned, so the session can be
// destroyed; called from inside one of those dialogs it only asks them to
// end.  The release path calls it before the session goes.
void close_session_dialogs(CZorbex& session);

}  // namespace zbx::session
