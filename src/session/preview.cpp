#include "session/preview.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <random>
#include <string>

#include "device/zorbex_530_sdk.h"
#include "dialogs/settings_group.h"
#include "pipeline/conversions.h"
#include "pipeline/image_buffer.h"
#include "platform/clock.h"
#include "platform/settings_store.h"
#include "platform/window.h"
#include "session/acquisition.h"
#include "session/format_settings.h"
#include "session/zorbex.h"

namespace zbx::session {

namespace {

using pipeline::CImageBuffer;

constexpr int kMaxPresets = 100;

// A number that differs between any two calls in the process: each window
// class name must be new even when one session reopens its window within
// the same millisecond.
std::uint32_t next_pseudo_random() {
    static std::atomic<std::uint32_t> sequence{std::random_device{}()};
    return sequence.fetch_add(0x9E3779B9u, std::memory_order_relaxed);
}

std::string make_class_name(const CZorbex& session) {
    char name[64];
    std::snprintf(name, sizeof name, "VideoRenderer_%08x_%08x",
                  static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(&session) & 0xFFFFFFFFu),
                  static_cast<unsigned>(platform::multimedia_time() + next_pseudo_random()));
    return name;
}

// Reduction of the readout window by sub-sampling (1 for full resolution).
int sub_sample_divisor(std::int32_t mode) {
    switch (mode) {
        case 1:
        case 17:
            return 2;
        case 2:
        case 18:
            return 4;
        case 3:
        case 19:
            return 8;
        default:
            return 1;
    }
}

bool grey_mode(std::int32_t mode) { return mode == 0 || mode == 1; }

// Makes `buffer` an image of the given format unless it already is one.
bool shape(CImageBuffer& buffer, std::int32_t width, std::int32_t height, std::uint16_t bits) {
    if (!buffer.empty() && buffer.width() == width && buffer.height() == height && buffer.bits_per_pixel() == bits)
        return true;
    buffer.Release();
    if (buffer.Create(width, height, bits) == 0) return false;
    if (bits == 8) buffer.SetColorTable(CImageBuffer::kGreyRamp, nullptr, 0, 256);
    return true;
}

}  // namespace

// ---- Configuration and starting ------------------------------------------------

int PreviewWindow::set_preview_window(ZbxWindow parent, int x, int y, int width, int height) {
    std::lock_guard control(session_.acquisition_control().control_lock());
    if (!session_.has_camera()) {
        session_.report(ERR_NOT_READY);
        return 0;
    }
    PreviewState& p = session_.preview();
    p.parent = parent;
    p.x = x;
    p.y = y;
    p.width = width;
    p.height = height;
    return 1;
}

bool PreviewWindow::configured() const {
    const PreviewState& p = session_.preview();
    return p.parent != nullptr || p.x != 0 || p.y != 0 || p.width != 0 || p.height != 0;
}

int PreviewWindow::preview() {
    std::lock_guard control(session_.acquisition_control().control_lock());
    session_.acquisition_control().store_capture_target(nullptr, nullptr, 0, 0);
    return start_with_window();
}

int PreviewWindow::callback_preview(ZbxWindow callback_window, void* buffer, int length, int copy_flag) {
    std::lock_guard control(session_.acquisition_control().control_lock());
    session_.acquisition_control().store_capture_target(callback_window, buffer, length, copy_flag);
    return start_with_window();
}

int PreviewWindow::start_with_window() {
    if (configured() && !open()) {
        session_.report(ERR_WINDOW);
        return 0;
    }
    if (session_.acquisition_control().start() == 0) {
        (void)close_all();
        session_.report(ERR_TRANSFER);
        return 0;
    }
    return 1;
}

int PreviewWindow::close_all() {
    session_.close();
    return 1;
}

// ---- The window ---------------------------------------------------------------

bool PreviewWindow::open() {
    PreviewState& p = session_.preview();
    // A second start keeps the window it has rather than leaking it.
    if (p.window != nullptr && platform::is_window(p.window) && p.dc) return true;
    close();

    const std::string class_name = make_class_name(session_);
    if (!platform::register_class(platform::WindowClassInfo{class_name, 0, platform::RgbQuad{0, 0, 0, 0}}))
        return false;

    platform::WindowCreateInfo info;
    info.class_name = class_name;
    if (p.parent != nullptr) {
        info.title = kChildTitle;
        info.style = kChildStyle;
        info.x = p.x;
        info.y = p.y;
        info.width = p.width;
        info.height = p.height;
        info.parent = p.parent;
        info.child_id = kChildId;
    } else {
        const int divisor = sub_sample_divisor(session_.acquisition().sub_sample);
        platform::Rect frame{0, 0, session_.geometry().width / divisor, session_.geometry().height / divisor};
        (void)platform::adjust_window_rect_ex(&frame, kTopLevelStyle, false, 0);
        const platform::ScreenSize screen = platform::screen_size();
        info.title = kTopLevelTitle;
        info.style = kTopLevelStyle;
        info.x = std::max(0, (screen.width - frame.width()) / 2);
        info.y = std::max(0, (screen.height - frame.height()) / 2);
        info.width = frame.width();
        info.height = frame.height();
    }

    const ZbxWindow window = platform::create_window(info);
    bool made = window != nullptr;
    if (made) {
        (void)platform::set_focus(window);
        (void)platform::show_window(window, true);
        made = platform::update_window(window);
    }
    std::unique_ptr<platform::DeviceContext> dc = made ? platform::get_dc(window) : nullptr;
    if (!dc) {
        if (window != nullptr) (void)platform::destroy_window(window);
        (void)platform::unregister_class(class_name);
        return false;
    }
    // The acquisition thread paints through these under the frame lock.
    std::lock_guard frame(session_.frame_lock());
    p.window = window;
    p.dc = std::move(dc);
    p.class_name = class_name;
    return true;
}

void PreviewWindow::close() {
    std::lock_guard control(session_.acquisition_control().control_lock());
    PreviewState& p = session_.preview();
    ZbxWindow window = nullptr;
    {
        std::lock_guard frame(session_.frame_lock());
        p.dc.reset();
        window = p.window;
        p.window = nullptr;
    }
    if (window != nullptr) (void)platform::destroy_window(window);
    if (!p.class_name.empty()) (void)platform::unregister_class(p.class_name);
    p.class_name.clear();
}

void PreviewWindow::paint(std::int32_t color_mode) {
    PreviewState& p = session_.preview();
    if (p.window == nullptr || !p.dc || color_mode < 0 || color_mode > 5) return;
    platform::Rect client;
    if (!platform::is_window_visible(p.window) || !platform::get_client_rect(p.window, &client)) return;
    const int width = client.width();
    const int height = client.height();
    if (width <= 0 || height <= 0) return;
    // The user may have resized the window on screen: its client area has a
    // new surface, and the context bound to the old one draws nothing.
    if (p.dc->bitmap()->width() != width || p.dc->bitmap()->height() != height) {
        std::unique_ptr<platform::DeviceContext> dc = platform::get_dc(p.window);
        if (!dc) return;
        p.dc = std::move(dc);
    }

    // The picture the screen can show: 8-bit grey or 24-bit colour.
    CImageBuffer* image = session_.image_buffer(grey_mode(color_mode) ? 0 : 2);
    CImageBuffer* developed = session_.image_buffer(static_cast<std::size_t>(color_mode));
    if (image == nullptr || developed == nullptr || developed->empty()) return;
    if (color_mode == 1) {
        (void)pipeline::TransferRect(*image, pipeline::Gray16To8By4, *developed, nullptr, 0, 0, nullptr, nullptr);
    } else if (color_mode == 3) {
        (void)pipeline::TransferRect(*image, pipeline::Color32To24, *developed, nullptr, 0, 0, nullptr, nullptr);
    } else if (color_mode >= 4) {
        (void)pipeline::TransferRect(*image, pipeline::Color48To24By4, *developed, nullptr, 0, 0, nullptr, nullptr);
    }
    if (image->empty()) return;

    if (width == image->width() && height == image->height() && color_mode != 1) {
        // The buffer's rows are top row first under a bottom-up header: one
        // stretching copy from its last row upwards shows it upright.
        if (image->device_context() != nullptr)
            (void)platform::stretch_blt(p.dc.get(), 0, 0, width, height, image->device_context(), 0, height - 1,
                                        width, -height, platform::kSrcCopy);
        return;
    }
    CImageBuffer* display = session_.image_buffer(7);
    const bool grey = grey_mode(color_mode);
    if (display == nullptr || !shape(*display, width, height, grey ? 8 : 24)) return;
    (void)pipeline::TransferScaled(*display, grey ? pipeline::ScaleGray8Flipped : pipeline::ScaleColor24Flipped,
                                   *image, nullptr, nullptr, nullptr, nullptr);
    if (display->device_context() != nullptr)
        (void)platform::bit_blt(p.dc.get(), 0, 0, width, height, display->device_context(), 0, 0,
                                platform::kSrcCopy);
}

// ---- Capture window ---------------------------------------------------------------

void PreviewWindow::program_sensor_window() {
    const std::int32_t mode = session_.acquisition().mode;
    device::CZorbex530SRXNQTSdk* sensor = session_.sensor_model();
    // A running thread reads frames of the current size; changing it under
    // the thread would free the buffer it reads into.
    if (sensor == nullptr || mode == kModeStreaming || mode == kModeTrigger) return;
    const Geometry& g = session_.geometry();
    (void)sensor->set_window(g.h_start, g.v_start, g.width, g.height, session_.acquisition().sub_sample);
}

int PreviewWindow::set_capture_window_ex(int total_width, int h_start, int width, int total_height, int v_start,
                                         int height) {
    std::lock_guard control(session_.acquisition_control().control_lock());
    if (!session_.has_camera()) {
        session_.report(ERR_NOT_READY);
        return 0;
    }
    // A refused window leaves the stored one in place, so that later
    // acquisitions keep running on a window the sensor can deliver.
    Geometry candidate;
    candidate.width = width;
    candidate.height = height;
    candidate.h_start = h_start;
    candidate.v_start = v_start;
    if (!geometry_is_valid(candidate, session_.acquisition().sub_sample)) {
        session_.report(ERR_GEOMETRY);
        return 0;
    }
    Geometry& g = session_.geometry();
    g.total_width = total_width;
    g.h_start = h_start;
    g.width = width;
    g.total_height = total_height;
    g.v_start = v_start;
    g.height = height;
    program_sensor_window();
    return 1;
}

int PreviewWindow::set_capture_window(int width, int height) {
    std::lock_guard control(session_.acquisition_control().control_lock());
    if (!session_.has_camera()) {
        session_.report(ERR_NOT_READY);
        return 0;
    }
    // The presets live in the camera's key, beside the format values.
    platform::SettingsKey camera;
    if (!camera.open(dialogs::camera_key_path(session_.device_number()))) {
        session_.report(ERR_WINDOW);
        return 0;
    }
    for (int n = 0; n < kMaxPresets; ++n) {
        char name[16];
        std::snprintf(name, sizeof name, "Size_%02d", n);
        platform::SettingsKey preset;
        if (!preset.open(camera, name)) break;
        std::int32_t eh = 0;
        std::int32_t ev = 0;
        if (preset.read_int("EH", &eh) != platform::SettingsStatus::kOk ||
            preset.read_int("EV", &ev) != platform::SettingsStatus::kOk || eh != width || ev != height)
            continue;
        Geometry& g = session_.geometry();
        const auto read_into = [&](const char* value_name, std::atomic<std::int32_t>& field) {
            std::int32_t value = 0;
            if (preset.read_int(value_name, &value) == platform::SettingsStatus::kOk) field = value;
        };
        read_into("TH", g.total_width);
        read_into("TV", g.total_height);
        read_into("EH", g.width);
        read_into("EV", g.height);
        read_into("EHS", g.h_start);
        read_into("EVS", g.v_start);
        read_into("Buf", g.buffer);
        if (!geometry_is_valid(g, session_.acquisition().sub_sample)) {
            session_.report(ERR_GEOMETRY);
            g.reset_to_defaults();
        }
        program_sensor_window();
        return 1;
    }
    session_.report(ERR_WINDOW);
    return 0;
}

int PreviewWindow::get_capture_window_ex(int* total_width, int* h_start, int* width, int* total_height, int* v_start,
                                         int* height) {
    const Geometry& g = session_.geometry();
    if (total_width != nullptr) *total_width = g.total_width;
    if (h_start != nullptr) *h_start = g.h_start;
    if (width != nullptr) *width = g.width;
    if (total_height != nullptr) *total_height = g.total_height;
    if (v_start != nullptr) *v_start = g.v_start;
    if (height != nullptr) *height = g.height;
    return 1;
}

}  // namespace zbx::session
