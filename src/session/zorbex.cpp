#include "session/zorbex.h"

#include <algorithm>

#include "platform/clock.h"
#include "session/acquisition.h"
#include "session/preview.h"
#include "session/notification.h"

namespace zbx::session {

CZorbex::CZorbex()
    : acquisition_(platform::multimedia_time()),
      acquisition_control_(std::make_unique<Acquisition>(*this)),
      preview_window_(std::make_unique<PreviewWindow>(*this)) {
    construct_recorder();
}

CZorbex::~CZorbex() { destroy(); }

int CZorbex::initialize(ZbxWindow notify_window) {
    if (!open_shared_block()) {
        // The window is not stored yet, so this failure is recorded only.
        report(ERR_MEMORY);
        return 0;
    }
    const bool sensor_ok = create_sensor_model();
    create_image_buffers();
    notify_window_ = notify_window;
    const bool buffers_ok = std::all_of(image_buffers_present_.begin(), image_buffers_present_.end(),
                                        [](bool present) { return present; });
    if (!sensor_ok || !buffers_ok) {
        report(ERR_MEMORY);
        return 0;
    }

    load_geometry();
    if (!geometry_is_valid()) {
        // A bad stored window is not fatal: run on the full sensor instead.
        report(ERR_GEOMETRY);
        geometry_.reset_to_defaults();
    }
    program_sensor_window();
    preview_.x = 0;
    preview_.y = 0;
    preview_.width = geometry_.width;
    preview_.height = geometry_.height;

    load_dialog_groups();
    program_analog_values();
    load_format_values();
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
    close_preview_window();
    stop_acquisition_and_recording();
    acquisition_.frame_valid = 0;
    close_single_frame_handle();
}

// Every step runs even when what an earlier one needed is missing.
void CZorbex::destroy() {
    save_dialog_groups();
    close();
    mark_camera_stopped();
    destroy_sensor_model();
    destroy_image_buffers();
    destroy_recorder();
    {
        std::lock_guard lock(defect_lock_);
        defects_.clear();
    }
    close_shared_block();
    // The two critical sections go with the object.
}

// --- Placeholders: parts that arrive later ------------------------------

// Placeholder until the shared camera block exists: a view is taken to be
// there, as it is whenever the system can map the block.
bool CZorbex::open_shared_block() {
    shared_view_open_ = true;
    return shared_view_open_;
}

void CZorbex::close_shared_block() { shared_view_open_ = false; }

// Placeholder until the device link exists: the sensor model is taken to be
// created, so the rest of the sequence runs.
bool CZorbex::create_sensor_model() {
    sensor_model_present_ = true;
    return sensor_model_present_;
}

void CZorbex::destroy_sensor_model() { sensor_model_present_ = false; }

// Placeholder until image buffers exist: all nine slots count as created,
// in slot order.
void CZorbex::create_image_buffers() { image_buffers_present_.fill(true); }

void CZorbex::destroy_image_buffers() { image_buffers_present_.fill(false); }

// Placeholder until settings persistence exists: the defaults stay.
void CZorbex::load_geometry() {}

// Placeholder until the format settings exist: the geometry is accepted.
bool CZorbex::geometry_is_valid() const { return true; }

// Placeholder until the sensor model exists: nothing to program.
void CZorbex::program_sensor_window() {}

// Placeholder until the dialog groups exist: the filter, gray and analog
// values keep their construction values.
void CZorbex::load_dialog_groups() {}

// Placeholder until the sensor model exists: global gain, exposure lines,
// vertical and horizontal mirror are not programmed.
void CZorbex::program_analog_values() {}

// Placeholder until settings persistence exists: colour mode, sub-sample,
// wait time and clock keep their construction values.
void CZorbex::load_format_values() {}

// Placeholder until the dialog groups exist: nothing is saved.
void CZorbex::save_dialog_groups() {}

void CZorbex::close_preview_window() { preview_window_->close(); }

void CZorbex::stop_acquisition_and_recording() { acquisition_control_->stop_acquisition_and_recording(); }

// Placeholder until the transfer engine exists: no single-frame handle.
void CZorbex::close_single_frame_handle() {}

// Placeholder until the shared camera table exists: nothing is marked.
void CZorbex::mark_camera_stopped() {}

// Placeholder until the AVI recorder exists.
void CZorbex::construct_recorder() { recorder_constructed_ = true; }

void CZorbex::destroy_recorder() { recorder_constructed_ = false; }

}  // namespace zbx::session
