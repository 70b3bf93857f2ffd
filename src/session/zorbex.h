// CZorbex: one camera session.  It coordinates the parts it owns (device
// link, image buffers, preview, acquisition, recorder, settings) and keeps
// the state they share; each part lives in its own file.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "device/camera_table.h"
#include "platform/sync.h"
#include "session/error_codes.h"
#include "session/error_history.h"
#include "session/session_state.h"
#include "session/still_image.h"
#include "zorbex/window.h"

namespace zbx::dialogs {
class ImageFilterDialog;
class AnalogDialog;
}  // namespace zbx::dialogs

namespace zbx::device {
class CZorbex530SRXNQTSdk;
}  // namespace zbx::device

namespace zbx::pipeline {
class CImageBuffer;
}  // namespace zbx::pipeline

namespace zbx::session {

class Recording;
class Acquisition;
class PreviewWindow;

class CZorbex {
public:
    static constexpr std::size_t kImageBufferCount = 9;

    // Defaults only: touches no device, file or settings key.
    CZorbex();
    // Runs the destroy sequence; never fails, whatever was created.
    virtual ~CZorbex();
    CZorbex(const CZorbex&) = delete;
    CZorbex& operator=(const CZorbex&) = delete;

    // Brings the session up and stores `notify_window`; 1 or 0.  Failures
    // are recorded (and posted once the window is stored).  Run once, right
    // after construction.
    [[nodiscard]] int initialize(ZbxWindow notify_window);

    // Records `code` in the history and posts it to the notification window
    // when one is set.  Any thread.
    void report(std::int32_t code);
    // Posts `code` without recording it; with no notification window the
    // message goes to the calling thread's queue.  Any thread.
    void post_notification(std::int32_t code);
    // Removes and returns the newest recorded code (0 when none).
    [[nodiscard]] std::int32_t pop_last_error() { return history_.pop(); }
    [[nodiscard]] const ErrorHistory& error_history() const { return history_; }

    // The status query has nothing to report for this camera model.
    [[nodiscard]] int status() const { return 0; }

    // Stops everything that runs and closes the preview; leaves the device
    // link and the buffers in place.
    void close();

    // True when the device link with its sensor model exists.
    [[nodiscard]] bool has_camera() const { return sensor_model_ != nullptr; }
    // The sensor model (null until initialization made it).
    [[nodiscard]] device::CZorbex530SRXNQTSdk* sensor_model() const { return sensor_model_.get(); }
    // Image buffer of slot 0 to 8; null before initialization or for a bad slot.
    [[nodiscard]] pipeline::CImageBuffer* image_buffer(std::size_t slot) const;
    // The developed image of the current colour mode (slots 0 to 5); null
    // for a mode outside 0 to 5.
    [[nodiscard]] pipeline::CImageBuffer* output_buffer() const;
    // The shared camera table (its view is open from initialization on).
    device::SharedCameraTable& camera_table() { return camera_table_; }

    [[nodiscard]] ZbxWindow notification_window() const { return notify_window_.load(); }
    [[nodiscard]] std::int32_t device_number() const { return device_number_.load(); }
    void set_device_number(std::int32_t number) { device_number_ = number; }

    // State shared with the parts.
    Geometry& geometry() { return geometry_; }
    AdjustmentValues& adjustment_values() { return adjustment_values_; }
    AnalogValues& analog() { return analog_; }
    ExposureModel& exposure() { return exposure_; }
    PreviewState& preview() { return preview_; }
    CaptureTarget& capture_target() { return capture_target_; }
    FrameRecord& frame_record() { return frame_record_; }
    AcquisitionState& acquisition() { return acquisition_; }
    ThreadBookkeeping& threads() { return threads_; }
    std::vector<DefectPixel>& defects() { return defects_; }  // under defect_lock()
    std::atomic<std::int32_t>& defect_correction() { return defect_correction_; }
    // The AVI recorder (exists from construction to destruction).
    Recording& recorder() { return *recorder_; }
    std::atomic<dialogs::ImageFilterDialog*>& open_image_filter_dialog() { return image_filter_dialog_; }
    std::atomic<dialogs::AnalogDialog*>& open_analog_dialog() { return analog_dialog_; }
    // Guards raw and developed pixels, development, painting, copies, saving.
    platform::CriticalSection& frame_lock() { return frame_lock_; }
    platform::CriticalSection& defect_lock() { return defect_lock_; }
    // The picture saves work on, outside the frame lock.
    StillImageStore& still_image() { return still_image_; }

    // The parts that acquire frames and show them.
    Acquisition& acquisition_control() { return *acquisition_control_; }
    PreviewWindow& preview_window() { return *preview_window_; }

private:
    bool create_sensor_model();
    bool create_image_buffers();
    void program_sensor_window();
    void mark_camera_stopped();
    // Steps whose parts arrive later (preview, acquisition, recorder); each
    // is a placeholder that lets the sequence go on as if the part had done
    // its work; see the definitions.
    void close_preview_window();
    void stop_acquisition_and_recording();
    void construct_recorder();
    void destroy_recorder();

    void destroy();

    device::SharedCameraTable camera_table_;
    std::unique_ptr<device::CZorbex530SRXNQTSdk> sensor_model_;
    std::array<std::unique_ptr<pipeline::CImageBuffer>, kImageBufferCount> image_buffers_;

    PreviewState preview_;
    Geometry geometry_;
    AdjustmentValues adjustment_values_{};
    std::atomic<dialogs::ImageFilterDialog*> image_filter_dialog_{nullptr};  // not owned
    AnalogValues analog_;
    std::atomic<dialogs::AnalogDialog*> analog_dialog_{nullptr};  // not owned
    ExposureModel exposure_;
    platform::CriticalSection frame_lock_;
    platform::CriticalSection defect_lock_;
    std::vector<DefectPixel> defects_;
    std::atomic<std::int32_t> defect_correction_{0};
    std::unique_ptr<Recording> recorder_;
    ThreadBookkeeping threads_;
    std::atomic<ZbxWindow> notify_window_{nullptr};
    CaptureTarget capture_target_;
    FrameRecord frame_record_;
    AcquisitionState acquisition_;
    ErrorHistory history_;
    std::atomic<std::int32_t> device_number_{0};
    StillImageStore still_image_;
    std::unique_ptr<Acquisition> acquisition_control_;
    std::unique_ptr<PreviewWindow> preview_window_;
};

}  // namespace zbx::session
