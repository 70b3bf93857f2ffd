#include "session/zorbex.h"

#include <algorithm>
#include <mutex>
#include <new>

#include "device/zorbex_530_sdk.h"
#include "pipeline/image_buffer.h"
#include "platform/clock.h"
#include "session/acquisition.h"
#include "session/format_settings.h"
#include "session/notification.h"
#include "session/persistence.h"
#include "session/preview.h"
#include "session/recording.h"
#include "session/session_groups.h"

namespace zbx::session {

CZorbex::CZorbex()
    : acquisition_(platform::multimedia_time()),
      acquisition_control_(std::make_unique<Acquisition>(*this)),
      preview_window_(std::make_unique<PreviewWindow>(*this)) {
    construct_recorder();
}

CZorbex::~CZorbex() { destroy(); }

pipeline::CImageBuffer* CZorbex::image_buffer(std::size_t slot) const {
    return slot < image_buffers_.size() ? image_buffers_[slot].get() : nullptr;
}

pipeline::CImageBuffer* CZorbex::output_buffer() const {
    const int mode = acquisition_.color_mode;
    return mode >= 0 && mode < kColorModeCount ? image_buffer(static_cast<std::size_t>(mode)) : nullptr;
}

int CZorbex::initialize(ZbxWindow notify_window) {
    if (!camera_table_.open_session_block()) {
        // The window is not stored yet, so this failure is recorded only.
        report(camera_table_.last_error() == platform::SharedMemoryError::kUntrusted ? ERR_UNTRUSTED : ERR_MEMORY);
        return 0;
    }
    const bool sensor_ok = create_sensor_model();
    const bool buffers_ok = create_image_buffers();
    notify_window_ = notify_window;
    if (!sensor_ok || !buffers_ok) {
        report(ERR_MEMORY);
        return 0;
    }

    (void)load_geometry(*this);
    if (!geometry_is_valid(geometry_, acquisition_.sub_sample)) {
        // A bad stored window is not fatal: run on the full sensor instead.
        report(ERR_GEOMETRY);
        geometry_.reset_to_defaults();
    }
    program_sensor_window();
    preview_.x = 0;
    preview_.y = 0;
    preview_.width = geometry_.width;
    preview_.height = geometry_.height;

    load_dialog_groups(*this, device_number_);
    program_analog_values(*this);
    (void)load_format_values(*this);
    return 1;
}

void CZorbex::report(std::int32_t code) {
    history_.record(code);
    if (const ZbxWindow window = notify_window_.load()) post_error_message(window, code);
}

void CZorbex::post_notification(std::int32_t code) {
    post_error_message(notify_window_.load(), code);
}

void CZorbex::close() {
    // A snapshot on another thread reads through the single-frame handle
    // while it holds the control lock: the handle closes under it too.
    std::lock_guard control(acquisition_control_->control_lock());
    close_preview_window();
    stop_acquisition_and_recording();
    acquisition_.frame_valid = 0;
    if (sensor_model_) sensor_model_->close_single_frame_handle();
}

// Every step runs even when what an earlier one needed is missing.
void CZorbex::destroy() {
    // Without a sensor model the groups were never read: saving would
    // overwrite the camera's stored values with construction zeros.
    if (sensor_model_) save_dialog_groups(*this, sensor_model_->selected_device());
    close();
    mark_camera_stopped();
    sensor_model_.reset();
    for (auto& buffer : image_buffers_) buffer.reset();
    destroy_recorder();
    {
        std::lock_guard lock(defect_lock_);
        defects_.clear();
    }
    camera_table_.close();
    // The two critical sections go with the object.
}

bool CZorbex::create_sensor_model() {
    // Construction probes the devices and initialises device 0.
    sensor_model_.reset(new (std::nothrow) device::CZorbex530SRXNQTSdk());
    return sensor_model_ != nullptr;
}

bool CZorbex::create_image_buffers() {
    for (auto& buffer : image_buffers_) buffer.reset(new (std::nothrow) pipeline::CImageBuffer());
    return std::all_of(image_buffers_.begin(), image_buffers_.end(), [](const auto& b) { return b != nullptr; });
}

void CZorbex::program_sensor_window() {
    (void)sensor_model_->set_window(geometry_.h_start, geometry_.v_start, geometry_.width, geometry_.height,
                                    acquisition_.sub_sample);
}

void CZorbex::mark_camera_stopped() {
    if (!sensor_model_) return;
    (void)camera_table_.mark_stopped(sensor_model_->selected_device(),
                                     reinterpret_cast<std::uintptr_t>(notify_window_.load()));
}

void CZorbex::close_preview_window() { preview_window_->close(); }

void CZorbex::stop_acquisition_and_recording() { acquisition_control_->stop_acquisition_and_recording(); }

void CZorbex::construct_recorder() { recorder_ = std::make_unique<Recording>(*this); }

// The record thread has ended with acquisition; the object goes with the
// session, after the parts that may still call it while they are destroyed.
void CZorbex::destroy_recorder() {
    if (recorder_) recorder_->stop();
}

}  // namespace zbx::session
