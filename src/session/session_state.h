// Plain value groups a session owns.  Values that the acquisition and record
// threads read while exports and dialogs write them are atomics, so those
// threads need no lock to see them.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "pipeline/adjustment_block.h"
#include "platform/graphics.h"
#include "platform/sync.h"
#include "platform/threads.h"
#include "zorbex/window.h"

namespace zbx::session {

// Sensor readout window and the stored buffer value.
struct Geometry {
    static constexpr std::int32_t kDefaultWidth = 1280;
    static constexpr std::int32_t kDefaultHeight = 720;

    std::atomic<std::int32_t> total_width{kDefaultWidth};
    std::atomic<std::int32_t> total_height{kDefaultHeight};
    std::atomic<std::int32_t> width{kDefaultWidth};
    std::atomic<std::int32_t> height{kDefaultHeight};
    std::atomic<std::int32_t> h_start{0};
    std::atomic<std::int32_t> v_start{0};
    std::atomic<std::int32_t> buffer{4};  // only stored and saved

    // The full sensor from (0, 0); the sub-sample setting is not part of it.
    void reset_to_defaults() {
        total_width = kDefaultWidth;
        width = kDefaultWidth;
        total_height = kDefaultHeight;
        height = kDefaultHeight;
        h_start = 0;
        v_start = 0;
    }
};

// Image adjustment values addressed by filter value ids: the block that
// development reads, with its positions.
using AdjustmentValues = pipeline::AdjustmentArray;
using AdjustmentIndex = pipeline::AdjustmentBlock;
inline constexpr std::size_t kAdjustmentValueCount = pipeline::kAdjustmentCount;

// Analog settings programmed into the sensor.
struct AnalogValues {
    std::atomic<std::int32_t> global_gain{0};
    std::atomic<std::int32_t> color_gain_red{0};
    std::atomic<std::int32_t> color_gain_green1{0};
    std::atomic<std::int32_t> color_gain_green2{0};
    std::atomic<std::int32_t> color_gain_blue{0};
    std::atomic<std::int32_t> exposure_lines{0};
    std::atomic<std::int32_t> mirror_v{0};
    std::atomic<std::int32_t> mirror_h{0};
    std::atomic<std::int32_t> auto_iris{0};
};

// Conversion between exposure lines and real exposure time.
struct ExposureModel {
    std::atomic<std::int32_t> line_length{0};
    std::atomic<std::int32_t> line_offset{0};
    std::atomic<std::int32_t> exposure_lines{1};
    std::atomic<double> time_per_clock{1.0};
    std::atomic<std::int32_t> last_real_exposure_time{0};
};

// One entry of the defect list.
struct DefectPixel {
    std::int32_t x = 0;
    std::int32_t y = 0;
};

// The library's own preview window and where it is placed.
struct PreviewState {
    ZbxWindow window = nullptr;
    std::unique_ptr<platform::DeviceContext> dc;  // the window's, while it exists
    std::string class_name;  // empty until the window class is registered
    ZbxWindow parent = nullptr;
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t width = Geometry::kDefaultWidth;
    std::int32_t height = Geometry::kDefaultHeight;
};

// Where streaming and trigger runs deliver frames.
struct CaptureTarget {
    std::atomic<ZbxWindow> callback_window{nullptr};
    std::atomic<void*> buffer{nullptr};
    std::atomic<std::int32_t> length{0};
    std::atomic<std::int32_t> copy_flag{0};
};

// The record whose address message 0x8002 carries; its layout is public.
struct FrameRecord {
    std::uint32_t size = 32;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t bits_per_pixel = 0;
    std::int32_t frame_rate = 0;  // tenths of frames per second
    std::int32_t unused = 0;
    void* buffer = nullptr;
};
static_assert(sizeof(FrameRecord) == 32, "the frame record is 32 bytes");

// Acquisition and format state read by the acquisition thread.
struct AcquisitionState {
    explicit AcquisitionState(std::uint32_t now_ms) : last_rate_update(now_ms) {}

    std::atomic<std::int32_t> mode{0};  // 0 idle, 1 streaming, 2 capture, 3 trigger
    std::atomic<std::int32_t> color_mode{0};
    std::atomic<std::int32_t> sub_sample{0};
    std::atomic<std::int32_t> wait_time_ms{10};
    std::atomic<std::int32_t> clock{0};
    std::atomic<std::int32_t> frame_valid{0};
    std::atomic<std::int32_t> frame_rate{0};
    std::atomic<std::uint32_t> frame_counter{0};
    std::atomic<std::uint32_t> last_rate_update;
    std::atomic<std::uint32_t> trigger_timeout_ms{3000};
};

// The acquisition and record threads with their flags and end events.  An
// end event is null while its thread has never been started.
struct ThreadBookkeeping {
    std::atomic<std::int32_t> new_frame{0};
    std::atomic<std::uint32_t> record_start_ms{0};
    std::atomic<std::uint32_t> record_end_ms{0};
    std::atomic<std::int32_t> record_run{0};
    platform::Thread record_thread;
    std::unique_ptr<platform::Event> record_end_event;

    std::atomic<std::int32_t> acquisition_run{0};
    platform::Thread acquisition_thread;
    std::unique_ptr<platform::Event> acquisition_end_event;
};

}  // namespace zbx::session
