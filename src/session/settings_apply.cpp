#include "session/settings_apply.h"

#include "device/zorbex_530_sdk.h"
#include "pipeline/image_buffer.h"
#include "platform/clock.h"
#include "platform/window.h"
#include "session/adjustment_values.h"
#include "session/format_settings.h"
#include "session/zorbex.h"

namespace zbx::session {

namespace {

using pipeline::CImageBuffer;

constexpr std::uint32_t kClockSettleMs = 100;

// Slots 0 to 5 for the colour mode, in slot order.
bool size_image_buffers(CZorbex& session, int mode, std::int32_t w, std::int32_t h) {
    struct Slot {
        std::size_t slot;
        std::uint16_t bits;
        bool used[kColorModeCount];
    };
    static constexpr Slot kSlots[] = {
        {0, 8, {true, true, true, true, false, false}},
        {1, 16, {false, true, false, false, true, true}},
        {2, 24, {true, false, true, true, true, true}},
        {3, 32, {false, false, false, true, false, false}},
        {4, 48, {false, false, false, false, true, false}},
        {5, 64, {false, false, false, false, false, true}},
    };
    if (mode < 0 || mode >= kColorModeCount) return true;  // no buffer: step 5 fails
    for (const Slot& s : kSlots) {
        if (!s.used[mode]) continue;
        CImageBuffer* buffer = session.image_buffer(s.slot);
        if (buffer == nullptr || buffer->Create(w, h, s.bits) == 0) return false;
        if (s.bits == 8) buffer->SetColorTable(CImageBuffer::kGreyRamp, nullptr, 0, 256);
    }
    return true;
}

// The preview's scaled image, at the client size; failures are ignored.
void size_display_buffer(CZorbex& session, int mode) {
    PreviewState& preview = session.preview();
    if (preview.window == nullptr || !preview.dc || !platform::is_window_visible(preview.window)) return;
    platform::Rect client{};
    if (!platform::get_client_rect(preview.window, &client)) return;
    const std::int32_t w = client.right - client.left;
    const std::int32_t h = client.bottom - client.top;
    if (w == 0 || h == 0) return;
    CImageBuffer* display = session.image_buffer(7);
    if (display == nullptr) return;
    const bool grey = mode == 0 || mode == 1;
    if (display->Create(w, h, grey ? 8 : 24) != 0 && grey)
        display->SetColorTable(CImageBuffer::kGreyRamp, nullptr, 0, 256);
}

}  // namespace

int apply_settings(CZorbex& session) {
    device::CZorbex530SRXNQTSdk* sensor = session.sensor_model();
    if (sensor == nullptr) {
        session.report(ERR_NOT_READY);
        return 0;
    }
    const int device = sensor->selected_device();
    if (!sensor->is_present(device)) {
        session.report(ERR_DEVICE_UNAVAILABLE);
        return 0;
    }
    device::SharedCameraTable& table = session.camera_table();
    if (table.is_open() && table.in_use(device)) {
        session.report(ERR_DEVICE_UNAVAILABLE);
        return 0;
    }
    const Geometry& g = session.geometry();
    const AcquisitionState& a = session.acquisition();
    const std::int32_t sub_sample = a.sub_sample;
    if (!geometry_is_valid(g, sub_sample)) {
        session.report(ERR_GEOMETRY);
        return 0;
    }
    // Sub-sampled sizes would divide here; the check above rejects them all.
    const int mode = a.color_mode;
    const std::int32_t w = g.width;
    const std::int32_t h = g.height;
    if (!size_image_buffers(session, mode, w, h)) {
        session.report(ERR_MEMORY);
        return 0;
    }
    CImageBuffer* scratch = session.image_buffer(6);
    if (scratch == nullptr || scratch->CreateLike(session.output_buffer()) == 0) {
        session.report(ERR_MEMORY);
        return 0;
    }

    sensor->set_sample_width(color_mode_uses_16_bit_samples(mode));

    const auto clock = static_cast<std::uint8_t>(a.clock & 0xFF);
    std::uint8_t current = 0;
    if (!sensor->read_clock(&current)) current = 0;
    if (current != clock) {
        (void)sensor->write_clock(clock);
        platform::sleep_ms(kClockSettleMs);
    }

    (void)sensor->set_window(g.h_start, g.v_start, w, h, sub_sample);
    const AnalogValues& analog = session.analog();
    sensor->set_vertical_mirror(analog.mirror_v != 0);
    sensor->set_horizontal_mirror(analog.mirror_h != 0);
    (void)sensor->set_trigger_mode(false);
    sensor->set_global_gain(analog.global_gain & 0xFF);
    sensor->set_exposure(static_cast<std::uint16_t>(analog.exposure_lines & 0xFFFF));
    (void)update_real_exposure_time(session);

    size_display_buffer(session, mode);
    return 1;
}

}  // namespace zbx::session
