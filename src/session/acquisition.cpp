#include "session/acquisition.h"

#include <algorithm>
#include <cstring>
#include <atomic>
#include <memory>
#include <span>

#include "device/zorbex_530_sdk.h"
#include "pipeline/conversions.h"
#include "pipeline/image_buffer.h"
#include "platform/clock.h"
#include "platform/window.h"
#include "session/frame_queue.h"
#include "session/image_copy.h"
#include "session/preview.h"
#include "session/recording.h"
#include "session/settings_apply.h"
#include "session/zorbex.h"

namespace zbx::session {

namespace {

using pipeline::CImageBuffer;

// Bits per pixel of each colour mode's developed image, as the frame
// record gives them.
constexpr std::int32_t kModeBits[] = {8, 16, 24, 32, 48, 64};

// Slot of the raw buffer: 16-bit samples for modes 1, 4 and 5.
constexpr std::size_t raw_slot(std::int32_t mode) { return (mode == 1 || mode == 4 || mode == 5) ? 1 : 0; }

// A failed single-frame read in trigger mode is retried after this pause,
// so an unplugged camera does not make the thread spin.
constexpr std::uint32_t kRetryPauseMs = 10;
// Pause of a paused thread (running flag neither 0 nor 1) in trigger mode.
constexpr std::uint32_t kPausedPollMs = 10;
// Once trigger mode is off, a single-frame read waiting for a trigger ends
// with the camera's next free-running frame; a read still waiting after
// this long is cancelled (the camera delivers nothing).
constexpr std::uint32_t kTriggerStopGraceMs = 1000;
// How often Stop repeats the cancel while the thread has not ended.
constexpr std::uint32_t kCancelRepeatMs = 50;

// The application may read the record while the next frame rewrites it;
// word-sized relaxed stores keep each field whole.
template <typename T>
void store_field(T& field, T value) {
    std::atomic_ref<T>(field).store(value, std::memory_order_relaxed);
}

}  // namespace

Acquisition::Acquisition(CZorbex& session) : session_(session), host_(session) {}

Acquisition::~Acquisition() {
    // The queue outlives its session in the program's hands: its waits end.
    if (const std::shared_ptr<FrameQueue> queue = attached_queue()) queue->end_run(ZBX_ERR_INVALID_HANDLE);
}

// ---- Development ------------------------------------------------------------

bool Acquisition::apply_settings_locked() {
    // The apply re-sizes the image buffers: an image copy or a save on
    // another thread must not read them meanwhile.
    std::lock_guard frame(session_.frame_lock());
    if (apply_settings(session_) == 0) return false;
    // Every run starts from the driver's normal time-out: a minute-long one
    // of trigger mode may be left on this camera (a trigger run that ended
    // on its own, or another camera selected meanwhile).  Trigger mode sets
    // its own after this.
    session_.acquisition().trigger_timeout_ms = device::kDefaultTransferTimeoutMs;
    if (auto* sensor = session_.sensor_model()) sensor->set_transfer_timeout(device::kDefaultTransferTimeoutMs);
    return true;
}

pipeline::DevelopInput Acquisition::settings_input() {
    pipeline::DevelopInput in;
    in.adjust = &session_.adjustment_values();
    in.color_mode = session_.acquisition().color_mode;
    const Geometry& g = session_.geometry();
    in.x_start = g.h_start;
    in.y_start = g.v_start;
    in.width = g.width;
    in.height = g.height;
    in.host = &host_;
    return in;
}

void Acquisition::latch_development_input() {
    std::lock_guard frame(session_.frame_lock());
    pipeline::DevelopInput in = settings_input();
    for (std::size_t slot = 0; slot < in.slots.size(); ++slot) in.slots[slot] = session_.image_buffer(slot);
    input_ = in;
}

bool Acquisition::load_raw_frame(bool newest) {
    const std::int32_t mode = input_.color_mode;
    if (mode < 0 || mode > 5) return false;
    CImageBuffer* raw = input_.slots[raw_slot(mode)];
    device::CZorbex530SRXNQTSdk* sensor = session_.sensor_model();
    if (raw == nullptr || raw->empty() || sensor == nullptr) return false;
    const std::span<std::uint8_t> store(raw->pixels(), raw->store_size());
    const int result = newest ? sensor->copy_newest_frame(store) : sensor->copy_single_frame(store);
    if (result != 0) return false;
    // The device link packs rows at width x sample bytes; the buffer's rows
    // start on 4-byte boundaries.
    if (raw->width() * raw->bytes_per_pixel() != raw->stride())
        (void)pipeline::TransferRect(*raw, pipeline::Restride, *raw, nullptr, 0, 0, nullptr, nullptr);
    return true;
}

void Acquisition::develop_frame() {
    develop_into(input_);
    session_.acquisition().frame_valid = 1;
}

void Acquisition::develop_into(pipeline::DevelopInput& in) {
    // Values the application changes at any time are read per frame.
    const AnalogValues& analog = session_.analog();
    in.auto_iris_mode = analog.auto_iris;
    in.mirror_h = analog.mirror_h != 0;
    in.mirror_v = analog.mirror_v != 0;
    in.defect_correction = session_.defect_correction() != 0;
    pipeline::DevelopFrame(in);
}

void Acquisition::fill_frame_record(std::int32_t rate) {
    FrameRecord& record = session_.frame_record();
    const std::int32_t mode = input_.color_mode;
    const CImageBuffer* raw = input_.slots[raw_slot(mode)];
    store_field(record.size, std::uint32_t{32});
    store_field(record.width, raw->width());
    store_field(record.height, raw->height());
    store_field(record.bits_per_pixel, kModeBits[mode]);
    store_field(record.frame_rate, rate);
    // The buffer field is written by the copy, under the target lock: an
    // application that sees its buffer named there may hand over the next
    // one, which then waits for that copy to end.  Naming it here, before
    // the copy, would let a hand-over slip in and the frame go elsewhere.
}

std::int32_t Acquisition::update_frame_rate() {
    AcquisitionState& a = session_.acquisition();
    const std::uint32_t frames = a.frame_counter.fetch_add(1) + 1;
    const std::uint32_t now = platform::multimedia_time();
    const std::uint32_t elapsed = platform::ticks_between(a.last_rate_update, now);
    if (elapsed > 1000) {
        a.frame_rate = static_cast<std::int32_t>(static_cast<std::uint64_t>(frames) * 10000 / elapsed);
        a.frame_counter = 0;
        a.last_rate_update = now;
    }
    return a.frame_rate;
}

bool Acquisition::copy_to_caller_buffer() {
    std::lock_guard lock(target_lock_);
    CaptureTarget& target = session_.capture_target();
    void* buffer = target.buffer;
    const std::int32_t length = target.length;
    // The record names the buffer that holds this frame.
    store_field(session_.frame_record().buffer, buffer);
    if (buffer == nullptr || length == 0) return true;
    const CImageBuffer* image = input_.slots[static_cast<std::size_t>(input_.color_mode)];
    return copy_image(session_, *image, target.copy_flag, buffer, length) != 0;
}

void Acquisition::notify_recorder() { session_.recorder().notify_new_frame(); }

void Acquisition::post_frame(std::uintptr_t wparam, std::intptr_t lparam) {
    // Without a callback window nobody could read the message: the thread's
    // own queue would only fill up.
    if (const ZbxWindow window = session_.capture_target().callback_window.load())
        (void)platform::post_message(window, kFrameMessage, wparam, lparam);
}

void Acquisition::store_capture_target(ZbxWindow callback_window, void* buffer, int length, int copy_flag) {
    // A running thread reads buffer and length together under the target
    // lock: a new buffer must never meet the old, longer length.
    std::lock_guard lock(target_lock_);
    CaptureTarget& target = session_.capture_target();
    target.callback_window = callback_window;
    target.buffer = buffer;
    target.length = length;
    target.copy_flag = copy_flag;
}

// ---- Snapshot and capture -----------------------------------------------------

int Acquisition::snapshot(void* buffer, int length, int copy_flag) {
    std::lock_guard control(control_);
    device::CZorbex530SRXNQTSdk* sensor = session_.sensor_model();
    const std::int32_t mode = session_.acquisition().mode;
    if (sensor == nullptr || mode == kModeStreaming || mode == kModeTrigger) {
        session_.report(ERR_NOT_READY);
        return 0;
    }
    if (mode != kModeCapture) {
        if (!apply_settings_locked()) {
            session_.report(ERR_NOT_READY);
            return 0;
        }
        latch_development_input();
    }

    std::lock_guard frame(session_.frame_lock());
    if (sensor->read_single_frame() != 0) {
        sensor->close_single_frame_handle();
        session_.report(ERR_TRANSFER);
        return 0;
    }
    if (!load_raw_frame(false)) {
        sensor->close_single_frame_handle();
        session_.report(ERR_TRANSFER);
        post_frame(0, ERR_TRANSFER);
        return 0;
    }
    develop_frame();
    if (buffer != nullptr && length != 0) {
        const CImageBuffer* image = input_.slots[static_cast<std::size_t>(input_.color_mode)];
        if (copy_image(session_, *image, copy_flag, buffer, length) == 0) {
            sensor->close_single_frame_handle();
            session_.report(ERR_MEMORY);
            return 0;
        }
    }
    sensor->close_single_frame_handle();
    return 1;
}

int Acquisition::capture() {
    std::lock_guard control(control_);
    AcquisitionState& a = session_.acquisition();
    const std::int32_t mode = a.mode;
    if (!session_.has_camera() || mode == kModeStreaming || mode == kModeTrigger) {
        session_.report(ERR_NOT_READY);
        return 0;
    }
    if (mode == kModeCapture) return 1;
    if (!apply_settings_locked()) {
        session_.report(ERR_NOT_READY);
        return 0;
    }
    latch_development_input();
    a.mode = kModeCapture;
    return 1;
}

// ---- Streaming and trigger mode -------------------------------------------------

bool Acquisition::start_thread() {
    ThreadBookkeeping& t = session_.threads();
    wake_.reset();
    t.acquisition_end_event = std::make_unique<platform::Event>(true, false);
    if (t.acquisition_thread.start([this] { thread_main(); }, "zbx-acquire")) return true;
    // No thread will ever signal it: Stop must not wait for it.
    t.acquisition_end_event.reset();
    return false;
}

int Acquisition::start() {
    std::lock_guard control(control_);
    AcquisitionState& a = session_.acquisition();
    device::CZorbex530SRXNQTSdk* sensor = session_.sensor_model();
    const std::int32_t mode = a.mode;
    if (sensor == nullptr || mode == kModeCapture || mode == kModeTrigger) {
        session_.report(ERR_NOT_READY);
        return 0;
    }
    if (mode == kModeStreaming) return 1;
    if (!apply_settings_locked()) {
        session_.report(ERR_NOT_READY);
        return 0;
    }
    latch_development_input();
    a.frame_counter = 0;
    a.last_rate_update = platform::multimedia_time();
    a.frame_rate = 0;
    stream_failed_ = false;
    trigger_sequence_ = 0;
    // Before the thread: its first frame finds the queue's buffers ready.
    begin_queue_run();
    session_.threads().acquisition_run = kRun;
    if (!start_thread()) {
        (void)stop_locked();
        session_.report(ERR_THREAD_START);
        return 0;
    }
    (void)sensor->set_trigger_mode(false);
    if (sensor->start_streaming() != 0) {
        (void)stop_locked();
        session_.report(ERR_DEVICE_IO);
        return 0;
    }
    a.mode = kModeStreaming;
    (void)session_.camera_table().mark_running(sensor->selected_device(),
                                               reinterpret_cast<std::uintptr_t>(session_.notification_window()));
    return 1;
}

int Acquisition::trigger(ZbxWindow callback_window, void* buffer, int length, int copy_flag) {
    std::lock_guard control(control_);
    AcquisitionState& a = session_.acquisition();
    device::CZorbex530SRXNQTSdk* sensor = session_.sensor_model();
    const std::int32_t mode = a.mode;
    if (sensor == nullptr || mode == kModeStreaming || mode == kModeCapture || mode == kModeTrigger) {
        session_.report(ERR_NOT_READY);
        return 0;
    }
    store_capture_target(callback_window, buffer, length, copy_flag);
    PreviewWindow& preview = session_.preview_window();
    if (preview.configured() && !preview.open()) {
        session_.report(ERR_WINDOW);
        return 0;
    }
    if (!apply_settings_locked()) {
        preview.close();
        session_.report(ERR_NOT_READY);
        return 0;
    }
    latch_development_input();
    a.mode = kModeTrigger;
    trigger_sequence_ = 0;
    begin_queue_run();
    a.trigger_timeout_ms = kTriggerTimeoutMs;
    sensor->set_transfer_timeout(kTriggerTimeoutMs);
    (void)sensor->set_trigger_mode(true);
    session_.threads().acquisition_run = kRun;
    if (!start_thread()) {
        // Nothing may stay half started: back to idle with trigger mode off.
        (void)stop_locked();
        preview.close();
        session_.report(ERR_THREAD_START);
        return 0;
    }
    return 1;
}

// Acquisition thread.
void Acquisition::thread_main() {
    if (session_.acquisition().mode == kModeTrigger) {
        trigger_body();
    } else {
        streaming_body();
    }
    session_.threads().acquisition_end_event->set();
}

// Acquisition thread, mode 1.
void Acquisition::streaming_body() {
    ThreadBookkeeping& t = session_.threads();
    AcquisitionState& a = session_.acquisition();
    device::CZorbex530SRXNQTSdk* sensor = session_.sensor_model();
    std::uint32_t last_frame = platform::tick_count();
    while (t.acquisition_run != kStop) {
        pause(static_cast<std::uint32_t>(std::max<std::int32_t>(a.wait_time_ms, 0)));
        if (t.acquisition_run != kRun) continue;

        const int waited = sensor->wait_for_newest_frame();
        // A run that ended without a transfer error (the device could not
        // be opened) never delivers again: after the same 6000 ms it counts
        // as a time-out too.
        const bool silent = waited == device::kWaitStopped && a.mode == kModeStreaming &&
                            platform::ticks_between(last_frame, platform::tick_count()) >= kNoFrameTimeoutMs;
        if (waited == device::kWaitFailed || silent) {
            t.acquisition_run = kStop;
            // A recording riding on this stream finishes its file now.
            stream_failed_ = true;
            // Recorded before it is announced, so an application reacting
            // to the message finds the code in the history.
            session_.report(ERR_FRAME_TIMEOUT);
            post_frame(0, ERR_FRAME_TIMEOUT);
            end_queue_run(ZBX_ERR_FRAME_TIMEOUT);
            break;
        }
        if (waited != device::kWaitNewestSelected) continue;
        last_frame = platform::tick_count();

        bool deliver = true;
        {
            std::lock_guard frame(session_.frame_lock());
            const std::shared_ptr<FrameQueue> queue = attached_queue();
            bool session_picture = true;
            if (queue ? !deliver_to_queue(*queue, true, &session_picture) : !load_raw_frame(true)) {
                session_.report(ERR_TRANSFER);
                post_frame(0, ERR_TRANSFER);
                continue;
            }
            fill_frame_record(update_frame_rate());
            if (!queue) develop_frame();
            if (session_picture) {
                notify_recorder();
                session_.preview_window().paint(input_.color_mode);
                deliver = copy_to_caller_buffer();
            }
        }
        if (deliver) post_frame(reinterpret_cast<std::uintptr_t>(&session_.frame_record()), 0);
    }
}

// Acquisition thread, mode 3.
void Acquisition::trigger_body() {
    ThreadBookkeeping& t = session_.threads();
    device::CZorbex530SRXNQTSdk* sensor = session_.sensor_model();
    while (t.acquisition_run != kStop) {
        if (t.acquisition_run != kRun) {
            pause(kPausedPollMs);
            continue;
        }
        // Waits for the trigger up to the driver's time-out.
        const int read = sensor->read_single_frame();
        if (t.acquisition_run == kStop) break;
        if (read != 0) {
            pause(kRetryPauseMs);
            continue;
        }
        std::lock_guard frame(session_.frame_lock());
        const std::shared_ptr<FrameQueue> queue = attached_queue();
        bool session_picture = true;
        if (queue ? !deliver_to_queue(*queue, false, &session_picture) : !load_raw_frame(false)) continue;
        fill_frame_record(0);
        if (!queue) develop_frame();
        if (!session_picture) {
            post_frame(reinterpret_cast<std::uintptr_t>(&session_.frame_record()), 0);
            continue;
        }
        notify_recorder();
        if (copy_to_caller_buffer()) post_frame(reinterpret_cast<std::uintptr_t>(&session_.frame_record()), 0);
        session_.preview_window().paint(input_.color_mode);
    }
}

// ---- Frame queue ----------------------------------------------------------------

int Acquisition::attach_queue(std::shared_ptr<FrameQueue> queue) {
    std::lock_guard control(control_);
    {
        std::lock_guard lock(queue_lock_);
        if (queue_) return ZBX_ERR_BUSY;
        queue_ = std::move(queue);
    }
    const std::int32_t mode = session_.acquisition().mode;
    if (mode == kModeStreaming || mode == kModeTrigger) begin_queue_run();
    return ZBX_OK;
}

void Acquisition::detach_queue(const FrameQueue* queue) {
    // Under the frame lock no frame is being written into it.
    std::lock_guard frame(session_.frame_lock());
    std::lock_guard lock(queue_lock_);
    if (queue_.get() == queue) queue_.reset();
}

std::shared_ptr<FrameQueue> Acquisition::attached_queue() {
    std::lock_guard lock(queue_lock_);
    return queue_;
}

void Acquisition::begin_queue_run() {
    const std::shared_ptr<FrameQueue> queue = attached_queue();
    if (!queue) return;
    std::lock_guard frame(session_.frame_lock());
    // A queue whose buffers do not fit takes no frames this run; its waits
    // learn why.
    if (const int code = queue->prepare(format_of(input_, queue->output())); code != ZBX_OK) queue->end_run(code);
}

void Acquisition::end_queue_run(int code) {
    if (const std::shared_ptr<FrameQueue> queue = attached_queue()) queue->end_run(code);
}

ZbxFrameFormat Acquisition::frame_format(std::uint32_t output) {
    const std::int32_t mode = session_.acquisition().mode;
    std::lock_guard frame(session_.frame_lock());
    if (mode == kModeStreaming || mode == kModeTrigger) return format_of(input_, output);
    // The next run's layout: what the apply will size the buffers for.
    return format_of(settings_input(), output);
}

ZbxFrameFormat Acquisition::format_of(const pipeline::DevelopInput& in, std::uint32_t output) const {
    ZbxFrameFormat f{};
    const std::int32_t mode = in.color_mode;
    if (mode < 0 || mode > 5) return f;
    const bool raw = output == ZBX_OUTPUT_RAW;
    const bool sixteen = raw_slot(mode) == 1;
    const std::uint16_t bits = raw ? (sixteen ? 16 : 8) : static_cast<std::uint16_t>(kModeBits[mode]);
    // The buffers the apply sized are the truth while they exist.
    const CImageBuffer* sized = in.slots[raw ? raw_slot(mode) : static_cast<std::size_t>(mode)];
    f.width = sized != nullptr && !sized->empty() ? sized->width() : in.width;
    f.height = sized != nullptr && !sized->empty() ? sized->height() : in.height;
    f.stride = pipeline::StrideFor(f.width, bits);
    f.format = raw ? (sixteen ? ZBX_FORMAT_RAW16 : ZBX_FORMAT_RAW8) : static_cast<std::uint32_t>(mode);
    f.sample_bits = sixteen ? 12 : 8;
    f.size = static_cast<std::size_t>(f.stride) * static_cast<std::size_t>(std::max(f.height, 0));
    if (raw) {
        pipeline::DevelopInput phase_in = in;
        const AnalogValues& analog = session_.analog();
        phase_in.mirror_h = analog.mirror_h != 0;
        phase_in.mirror_v = analog.mirror_v != 0;
        // Phase p: column parity c0 = p >> 1, row parity r0 = p & 1 (see the demosaic).
        constexpr std::uint32_t kOrder[] = {ZBX_BAYER_GBRG, ZBX_BAYER_RGGB, ZBX_BAYER_BGGR, ZBX_BAYER_GRBG};
        f.bayer = kOrder[pipeline::WindowPhase(phase_in) & 3];
    }
    return f;
}

bool Acquisition::session_picture_needed() {
    if (session_.preview().window != nullptr || session_.recorder().recording()) return true;
    const CaptureTarget& target = session_.capture_target();
    if (target.buffer.load() != nullptr || target.callback_window.load() != nullptr) return true;
    // Automatic exposure and gain work on the developed frames.
    return session_.analog().auto_iris != 0;
}

void Acquisition::fill_frame_meta(ZbxFrame& meta, const ZbxFrameFormat& format, bool newest) {
    meta.width = format.width;
    meta.height = format.height;
    meta.stride = format.stride;
    meta.format = format.format;
    meta.bayer = format.bayer;
    meta.sample_bits = format.sample_bits;
    const AnalogValues& analog = session_.analog();
    const ExposureModel& model = session_.exposure();
    meta.exposure_lines = analog.exposure_lines;
    meta.exposure_us = static_cast<std::int32_t>(static_cast<double>(meta.exposure_lines) * model.line_length.load() *
                                                 model.time_per_clock.load() * 1000.0);
    meta.gain = analog.global_gain;
    meta.flags = newest ? 0u : ZBX_FRAME_TRIGGERED;
    meta.status = ZBX_OK;
}

bool Acquisition::deliver_to_queue(FrameQueue& queue, bool newest, bool* developed_for_session) {
    device::CZorbex530SRXNQTSdk* sensor = session_.sensor_model();
    const std::int32_t mode = input_.color_mode;
    if (sensor == nullptr || mode < 0 || mode > 5) return false;
    const device::FrameArrival arrival =
        newest ? sensor->selected_frame_arrival()
               : device::FrameArrival{++trigger_sequence_, sensor->single_frame_arrival().monotonic_ns};
    const ZbxFrameFormat format = format_of(input_, queue.output());
    const bool raw_out = queue.output() == ZBX_OUTPUT_RAW;
    const bool shared = session_picture_needed();
    *developed_for_session = shared;
    FrameQueue::Buffer* buffer = queue.acquire(arrival.sequence);
    std::uint8_t* target = buffer != nullptr ? FrameQueue::pixels(buffer) : nullptr;
    // The session's buffers start zeroed and keep their unwritten alpha
    // and padding at 0; memory new to this layout is made so once.
    if (target != nullptr && !FrameQueue::holds_layout(buffer, format)) std::memset(target, 0, format.size);

    if (shared) {
        // Developed once for the session's own outputs, copied for the queue.
        if (!load_raw_frame(newest)) {
            if (buffer != nullptr) queue.abandon(buffer);
            return false;
        }
        const CImageBuffer* raw = input_.slots[raw_slot(mode)];
        if (target != nullptr && raw_out) std::memcpy(target, raw->pixels(), format.size);
        develop_frame();
        const CImageBuffer* out = input_.slots[static_cast<std::size_t>(mode)];
        if (target != nullptr && !raw_out) std::memcpy(target, out->pixels(), format.size);
    } else if (target == nullptr) {
        // Nobody takes this frame: nothing to develop.
        if (newest) sensor->release_selected_frame();
        return true;
    } else {
        const std::uint16_t raw_bits = raw_slot(mode) == 1 ? 16 : 8;
        const bool colour = !raw_out && mode >= 2;
        std::uint8_t* in_place = newest && colour ? sensor->selected_frame_in_place() : nullptr;
        const bool packed = static_cast<std::size_t>(format.width) * (raw_bits / 8) ==
                            static_cast<std::size_t>(pipeline::StrideFor(format.width, raw_bits));
        if (in_place != nullptr && packed) {
            (void)raw_view_.View(format.width, format.height, raw_bits, in_place);
        } else {
            // The frame is copied once: into the queue buffer itself when
            // that is where its samples end (raw frames, grey modes, which
            // develop in place), else into the session's raw buffer.
            std::uint8_t* destination = colour ? input_.slots[raw_slot(mode)]->pixels() : target;
            const std::size_t bytes = colour ? input_.slots[raw_slot(mode)]->store_size() : format.size;
            const std::span<std::uint8_t> store(destination, bytes);
            const int copied = newest ? sensor->copy_newest_frame(store) : sensor->copy_single_frame(store);
            if (copied != 0) {
                queue.abandon(buffer);
                return false;
            }
            CImageBuffer& raw = colour ? *input_.slots[raw_slot(mode)] : raw_view_;
            if (!colour) (void)raw_view_.View(format.width, format.height, raw_bits, target);
            if (!packed) (void)pipeline::TransferRect(raw, pipeline::Restride, raw, nullptr, 0, 0, nullptr, nullptr);
            in_place = nullptr;
        }
        if (!raw_out) {
            pipeline::DevelopInput in = input_;
            if (colour) {
                (void)out_view_.View(format.width, format.height, static_cast<std::uint16_t>(kModeBits[mode]), target);
                if (in_place != nullptr) in.slots[raw_slot(mode)] = &raw_view_;
                in.slots[static_cast<std::size_t>(mode)] = &out_view_;
            } else {
                in.slots[static_cast<std::size_t>(mode)] = &raw_view_;
            }
            develop_into(in);
        }
        if (in_place != nullptr) sensor->release_selected_frame();
        raw_view_.Release();
        out_view_.Release();
    }
    ZbxFrame meta{};
    fill_frame_meta(meta, format, newest);
    meta.sequence = arrival.sequence;
    meta.timestamp_ns = arrival.monotonic_ns;
    if (buffer != nullptr) queue.commit(buffer, meta);
    return true;
}

// ---- Stop -------------------------------------------------------------------

int Acquisition::stop() {
    std::lock_guard control(control_);
    return stop_locked();
}

int Acquisition::stop_locked() {
    device::CZorbex530SRXNQTSdk* sensor = session_.sensor_model();
    if (sensor == nullptr) {
        session_.report(ERR_NOT_READY);
        return 0;
    }
    ThreadBookkeeping& t = session_.threads();
    AcquisitionState& a = session_.acquisition();
    t.acquisition_run = kStop;
    wake_.set();
    const bool trigger_run = a.mode == kModeTrigger;
    bool trigger_off = true;
    if (a.mode != kModeIdle) {
        a.mode = kModeIdle;
        // Trigger mode off first: a single-frame read waiting for a trigger
        // then returns with the camera's next free-running frame.
        trigger_off = sensor->set_trigger_mode(false) != 0;
        (void)sensor->stop_streaming();
        (void)session_.camera_table().mark_stopped(sensor->selected_device(),
                                                   reinterpret_cast<std::uintptr_t>(session_.notification_window()));
    }
    // A camera still in trigger mode would hold the read until a trigger
    // or the driver's time-out: cancel it at once instead.
    wait_for_thread(trigger_run, trigger_off ? kTriggerStopGraceMs : 0);
    if (trigger_run) {
        // Later snapshots and streams must not wait 60 s for a stalled camera.
        a.trigger_timeout_ms = device::kDefaultTransferTimeoutMs;
        sensor->set_transfer_timeout(device::kDefaultTransferTimeoutMs);
    }
    stop_recording();
    end_queue_run(ZBX_OK);
    return 1;
}

void Acquisition::wait_for_thread(bool trigger_read, std::uint32_t grace_ms) {
    ThreadBookkeeping& t = session_.threads();
    if (t.acquisition_end_event) {
        platform::Event& ended = *t.acquisition_end_event;
        if (trigger_read && !ended.wait(grace_ms)) {
            do {
                session_.sensor_model()->cancel_single_frame_read();
            } while (!ended.wait(kCancelRepeatMs));
        }
        (void)ended.wait(platform::kInfinite);
        t.acquisition_thread.join();
        t.acquisition_end_event.reset();
    }
    t.acquisition_thread.join();
}

// Acquisition thread.
void Acquisition::pause(std::uint32_t ms) { (void)wake_.wait(ms); }

// Without the frame lock: the record thread takes it for every frame.
void Acquisition::stop_recording() { session_.recorder().stop(); }

void Acquisition::stop_acquisition_and_recording() { (void)stop(); }

}  // namespace zbx::session
