#include "device/zbx_sdk_lib.h"

#include <cstring>
#include <new>

#include "platform/clock.h"

namespace zbx::device {

namespace {

// Stop lets the transfer thread finish its current read for this long, then
// cancels it every kCancelRepeatMs until the thread has ended.
constexpr std::uint32_t kStopGraceMs = 1000;
constexpr std::uint32_t kCancelRepeatMs = 50;
// A reader waiting for its consumer looks at the stop flag this often.
constexpr std::uint32_t kOnDemandPollMs = 50;

// Geometry a session starts from before the camera model sets its own.
constexpr int kDefaultPitch = 1339;
constexpr int kDefaultXOffset = 50;
constexpr int kDefaultOutputWidth = 1280;
constexpr int kDefaultTotalLines = 1040;
constexpr int kDefaultFirstLine = 10;
constexpr int kDefaultLineCount = 1028;

std::unique_ptr<std::uint8_t[]> allocate_zeroed(std::size_t bytes) {
    return std::unique_ptr<std::uint8_t[]>(new (std::nothrow) std::uint8_t[bytes]());
}

// One image read of `bytes` into `buffer` on pipe 2, form B, through the
// large-frame code when the frame is large.  True when all bytes came.
int read_image(DriverHandle handle, bool large, std::uint32_t bytes, std::uint8_t* buffer,
               std::uint32_t* moved) {
    return large ? large_pipe_transfer(handle, kPipeImage, bytes, buffer, TransferForm::kB, moved)
                 : pipe_transfer(handle, kPipeImage, bytes, buffer, TransferForm::kB, moved);
}

}  // namespace

CZBXSdkLib::CZBXSdkLib() = default;

CZBXSdkLib::~CZBXSdkLib() {
    (void)stop_streaming();
    reclaim_thread();
    close_single_frame_handle();
}

// ---- Geometry -------------------------------------------------------------

std::uint32_t CZBXSdkLib::transfer_byte_count() const {
    return sixteen_bit_ ? frame_sample_count_ * 2 : frame_sample_count_;
}

std::size_t CZBXSdkLib::window_bytes() const {
    return static_cast<std::size_t>(output_width_) * static_cast<std::size_t>(line_count_) *
           (sixteen_bit_ ? 2u : 1u);
}

void CZBXSdkLib::free_buffers() {
    ring_addresses_.clear();
    ring_.clear();
    conversion_scratch_.reset();
    single_buffer_.reset();
}

int CZBXSdkLib::allocate_buffers(int ring_count) {
    const std::size_t frame_bytes = frame_buffer_bytes();
    single_buffer_ = allocate_zeroed(frame_bytes);
    if (!single_buffer_) return kCodeNoMemory;
    conversion_scratch_ =
        allocate_zeroed(static_cast<std::size_t>(output_width_) * static_cast<std::size_t>(line_count_) * 3);
    if (!conversion_scratch_) {
        single_buffer_.reset();
        return kCodeNoMemory;
    }
    for (int i = 0; i < ring_count; ++i) {
        auto slot = allocate_zeroed(frame_bytes);
        if (!slot) {
            free_buffers();
            return kCodeNoMemory;
        }
        ring_addresses_.push_back(slot.get());
        ring_.push_back(std::move(slot));
    }
    return 0;
}

int CZBXSdkLib::set_geometry(int pitch, int x_offset, int output_width, int total_lines, int first_line,
                             int line_count, int ring_count) {
    // The window must lie inside every line, or the copy would read past the frame.
    if (pitch <= 0 || output_width <= 0 || pitch < output_width || x_offset < 0 ||
        x_offset > pitch - output_width) {
        return kCodeBadWidths;
    }
    if (total_lines <= 0 || line_count <= 0 || first_line < 0 || total_lines - line_count < first_line) {
        return kCodeBadLines;
    }
    if (ring_count < 2) return kCodeRingCount;
    // The ring belongs to a running transfer thread.
    if (streaming()) return kCodeRunActive;
    reclaim_thread();

    free_buffers();
    pitch_ = pitch;
    x_offset_ = x_offset;
    output_width_ = output_width;
    total_lines_ = total_lines;
    first_line_ = first_line;
    line_count_ = line_count;
    const std::uint64_t samples = static_cast<std::uint64_t>(pitch) * static_cast<std::uint64_t>(first_line + line_count);
    const std::uint64_t rounded = (samples + 1023) / 1024 * 1024;
    if (rounded * 2 > 0xFFFFFFFFu) return kCodeNoMemory;
    frame_sample_count_ = static_cast<std::uint32_t>(rounded);
    full_frame_samples_ = static_cast<std::uint64_t>(pitch) * static_cast<std::uint64_t>(total_lines);
    if (const int code = allocate_buffers(ring_count); code != 0) return code;
    (void)send_frame_size(directory_.name(), frame_sample_count_);
    return 0;
}

int CZBXSdkLib::set_window_offsets(int x_offset, int first_line) {
    if (x_offset < 0 || x_offset > pitch_ - output_width_) return kCodeBadWidths;
    // Every line copied must lie inside the samples one read transfers.
    if (first_line < 0 || first_line > total_lines_ - line_count_ ||
        static_cast<std::uint64_t>(first_line + line_count_) * static_cast<std::uint64_t>(pitch_) >
            frame_sample_count_) {
        return kCodeBadLines;
    }
    x_offset_.store(x_offset);
    first_line_.store(first_line);
    return 0;
}

int CZBXSdkLib::set_field_geometry(bool interlaced, const FieldGeometry& fields) {
    if (interlaced && !field_geometry_fits(fields)) return kCodeBadLines;
    interlaced_ = interlaced;
    fields_ = fields;
    return 0;
}

bool CZBXSdkLib::field_geometry_fits(const FieldGeometry& f) const {
    if (f.lines_per_field < 1 || f.first_line < 0 || f.lines < 1) return false;
    for (int x : f.x_offset) {
        if (x < 0 || x > pitch_ - output_width_) return false;
    }
    // The last line any output row reads must lie inside the transfer frame.
    const std::int64_t last_row = line_count_ - 1;
    const std::int64_t last_line = f.first_line + last_row / 2 + (last_row >= 1 ? f.lines_per_field - 1 : 0);
    return (last_line + 1) * pitch_ <= static_cast<std::int64_t>(frame_sample_count_);
}

void CZBXSdkLib::reset_to_defaults() {
    (void)stop_streaming();
    reclaim_thread();
    readout_option_ = 0;
    trigger_flag_ = false;
    transfer_timeout_ms_ = kDefaultTransferTimeoutMs;
    interlaced_ = false;
    close_single_frame_handle();
    // The buffers belong to the old geometry; the camera model's own geometry,
    // set right after, allocates new ones.  Until then frames are refused.
    free_buffers();
    pitch_ = kDefaultPitch;
    x_offset_ = kDefaultXOffset;
    output_width_ = kDefaultOutputWidth;
    total_lines_ = kDefaultTotalLines;
    first_line_ = kDefaultFirstLine;
    line_count_ = kDefaultLineCount;
    const std::uint32_t samples = static_cast<std::uint32_t>(kDefaultPitch * (kDefaultFirstLine + kDefaultLineCount));
    frame_sample_count_ = (samples + 1023) / 1024 * 1024;
    full_frame_samples_ = static_cast<std::uint64_t>(kDefaultPitch) * kDefaultTotalLines;
}

// ---- Virtual slots --------------------------------------------------------

int CZBXSdkLib::copy_frame(std::uint8_t* destination, const std::uint8_t* source) {
    const std::size_t sample = sixteen_bit_ ? 2 : 1;
    const std::size_t row = static_cast<std::size_t>(output_width_) * sample;
    if (line_count_ == total_lines_ && output_width_ == pitch_) {
        std::memcpy(destination, source, row * static_cast<std::size_t>(line_count_));
        return 0;
    }
    const std::size_t stride = static_cast<std::size_t>(pitch_) * sample;
    const std::uint8_t* line = source + static_cast<std::size_t>(first_line_.load()) * stride +
                               static_cast<std::size_t>(x_offset_.load()) * sample;
    for (int i = 0; i < line_count_; ++i, line += stride, destination += row) {
        std::memcpy(destination, line, row);
    }
    return 0;
}

int CZBXSdkLib::set_readout_option(int option) {
    readout_option_ = (option < 0 || option > 2) ? 1 : option;
    return 1;
}

int CZBXSdkLib::set_sample_width(bool sixteen_bit) {
    sixteen_bit_ = sixteen_bit;
    (void)send_sample_width(directory_.name(), sixteen_bit);
    return 1;
}

// ---- Streaming ------------------------------------------------------------

void CZBXSdkLib::reclaim_thread() {
    if (transfer_thread_.joinable() && record_.stopped.load() == 1) transfer_thread_.join();
}

int CZBXSdkLib::start_streaming() {
    if (record_.stopped.load() == 0) return kCodeRunActive;
    reclaim_thread();
    if (ring_.size() < 2) return kCodeNoMemory;
    record_.transfer_bytes = transfer_byte_count();
    (void)prepare_frame(directory_.name());
    record_.end_event.reset();
    record_.frame_event.reset();
    record_.error.store(0);
    record_.failing.store(false);
    record_.end_code.store(0);
    record_.frames.store(0);
    record_.elapsed_ms.store(0);
    record_.write_index.store(0);
    record_.read_index.store(0);
    record_.sixteen_bit = sixteen_bit_;
    record_.ring_count = static_cast<std::uint32_t>(ring_addresses_.size());
    record_.ring = ring_addresses_.data();
    record_.arrivals.assign(ring_addresses_.size(), FrameArrival{});
    record_.taken.store(0);
    record_.taken_event.reset();
    record_.device_name = directory_.name();
    record_.stopped.store(0);
    if (!transfer_thread_.start([this] { transfer_thread_main(); }, "zbx-transfer")) {
        record_.stopped.store(1);
        return kCodeNoMemory;
    }
    return 0;
}

// Transfer thread: fills the ring until asked to stop or a read fails.
void CZBXSdkLib::transfer_thread_main() {
    platform::raise_current_thread_priority();
    TransferRecord& r = record_;
    std::int64_t end_code = 0;
    std::uint32_t elapsed = 0;
    std::uint32_t frames = 0;
    DriverHandle handle = open_device(r.device_name);
    if (handle == platform::kNullDriverHandle) {
        end_code = kCodeNoDevice;
    } else {
        {
            std::lock_guard lock(r.handle_lock);
            r.handle = handle;
        }
        const std::uint32_t started = platform::tick_count();
        bool short_frame_seen = false;
        const bool large = r.large_frame.load();
        Packet start_frame{};
        start_frame[0] = kCmdStartFrame;
        while (r.stopped.load() == 0 && end_code != kCodeTransferError) {
            // A camera that makes each frame when read is not read again
            // before its last frame was taken: that read would be thrown
            // away, and its copy cost the consumer's core.
            if (frames > r.taken.load() && platform::driver_frames_on_demand(handle)) {
                (void)r.taken_event.wait(kOnDemandPollMs);
                continue;
            }
            const std::uint32_t write = r.write_index.load(std::memory_order_relaxed);
            (void)pipe_transfer(handle, kPipeCommand, kPacketSize, start_frame.data(), TransferForm::kA, nullptr);
            std::uint32_t moved = 0;
            const int result = read_image(handle, large, r.transfer_bytes, r.ring[write], &moved);
            if (result != kRequestOk) {
                end_code = kCodeTransferError;
            } else if (moved != r.transfer_bytes) {
                // One short frame per run is read again into the same slot.
                if (!short_frame_seen) {
                    short_frame_seen = true;
                    continue;
                }
                end_code = kCodeTransferError;
            }
            if (end_code == kCodeTransferError) r.failing.store(true);
            r.arrivals[write] = FrameArrival{frames + 1, platform::monotonic_ns()};
            std::uint32_t next = write + 1 == r.ring_count ? 0 : write + 1;
            if (next == r.read_index.load()) next = next + 1 == r.ring_count ? 0 : next + 1;
            r.write_index.store(next);
            r.frames.store(++frames);
            r.frame_event.set();
        }
        elapsed = platform::ticks_between(started, platform::tick_count());
        {
            std::lock_guard lock(r.handle_lock);
            r.handle = platform::kNullDriverHandle;
        }
        close_device(handle);
    }
    r.elapsed_ms.store(elapsed);
    r.frames.store(frames);
    r.end_code.store(end_code);
    r.error.store(end_code == kCodeTransferError ? 1 : 0);
    r.stopped.store(1);
    r.end_event.set();
    // A consumer waiting for a frame learns of the end at once.
    r.frame_event.set();
}

int CZBXSdkLib::wait_for_newest_frame() {
    TransferRecord& r = record_;
    if (r.error.load() == 1) return kWaitFailed;
    if (r.stopped.load() == 1) return kWaitStopped;
    if (r.failing.load()) return kWaitFailed;
    const std::uint32_t write = r.write_index.load();
    const std::uint32_t read = r.read_index.load();
    const std::uint32_t pending = write - read + (write < read ? r.ring_count : 0);
    if (pending < 1) return r.frame_event.wait(kNewestFrameTimeoutMs) ? kWaitFrameArrived : kWaitFailed;
    const std::uint32_t selected = write == 0 ? r.ring_count - 1 : write - 1;
    r.read_index.store(selected);
    r.taken.store(r.arrivals[selected].sequence);
    r.taken_event.set();
    return kWaitNewestSelected;
}

std::uint8_t* CZBXSdkLib::selected_frame_in_place() {
    if (ring_.empty() || line_count_ != total_lines_ || output_width_ != pitch_) return nullptr;
    return ring_addresses_[record_.read_index.load() % ring_.size()];
}

void CZBXSdkLib::release_selected_frame() {
    if (ring_.empty()) return;
    const std::uint32_t count = static_cast<std::uint32_t>(ring_.size());
    const std::uint32_t read = record_.read_index.load() % count;
    record_.read_index.store(read + 1 == count ? 0 : read + 1);
}

FrameArrival CZBXSdkLib::selected_frame_arrival() const {
    const std::size_t count = record_.arrivals.size();
    if (count == 0) return {};
    return record_.arrivals[record_.read_index.load() % count];
}

int CZBXSdkLib::copy_newest_frame(std::span<std::uint8_t> destination) {
    if (destination.data() == nullptr || destination.size() < window_bytes() || ring_.empty()) {
        return kCodeNullBuffer;
    }
    const std::uint32_t count = static_cast<std::uint32_t>(ring_.size());
    const std::uint32_t read = record_.read_index.load() % count;
    const int result = copy_frame(destination.data(), ring_addresses_[read]);
    record_.read_index.store(read + 1 == count ? 0 : read + 1);
    return result;
}

int CZBXSdkLib::stop_streaming() {
    TransferRecord& r = record_;
    if (r.stopped.load() == 1 && r.error.load() == 0) {
        reclaim_thread();
        return 0;
    }
    if (r.stopped.exchange(1) == 0) {
        // The consumer need not wait for the thread's last read to learn
        // that the run is ending: a spurious frame signal means "ask again".
        r.frame_event.set();
        r.taken_event.set();
        // The thread ends after its current read.  A read that the camera
        // does not answer would last the driver's time-out (up to a minute
        // after trigger mode): past a frame's grace it is cancelled, again
        // and again in case the thread was about to start another.
        if (!r.end_event.wait(kStopGraceMs)) {
            do {
                std::lock_guard lock(r.handle_lock);
                if (r.handle != platform::kNullDriverHandle) (void)platform::driver_cancel(r.handle);
            } while (!r.end_event.wait(kCancelRepeatMs));
        }
    }
    transfer_thread_.join();
    last_elapsed_ms_ = r.elapsed_ms.load();
    r.frame_event.set();  // wakes a consumer still waiting for a frame
    r.stopped.store(1);
    r.error.store(0);
    return static_cast<int>(r.end_code.load());
}

// ---- Single frames --------------------------------------------------------

int CZBXSdkLib::read_single_frame() {
    if (!single_buffer_) {
        last_transfer_error_ = kCodeTransferError;
        return kCodeTransferError;
    }
    DriverHandle handle = platform::kNullDriverHandle;
    {
        std::lock_guard lock(single_handle_lock_);
        if (single_handle_ == platform::kNullDriverHandle || single_handle_ == platform::kInvalidDriverHandle) {
            single_handle_ = open_device(directory_.name());
            if (single_handle_ == platform::kNullDriverHandle) {
                last_transfer_error_ = kCodeTransferError;
                return kCodeNoDevice;
            }
        }
        handle = single_handle_;
    }
    (void)prepare_frame(directory_.name());
    Packet start_frame{};
    start_frame[0] = kCmdStartFrame;
    (void)packet_write(handle, kPipeCommand, kPacketSize, start_frame.data());
    const std::uint32_t bytes = transfer_byte_count();
    std::uint32_t moved = 0;
    const int result = read_image(handle, large_frame(), bytes, single_buffer_.get(), &moved);
    if (result != kRequestOk || moved != bytes) {
        last_transfer_error_ = kCodeTransferError;
        close_single_frame_handle();
        return kCodeTransferError;
    }
    single_arrival_ = FrameArrival{0, platform::monotonic_ns()};
    return 0;
}

int CZBXSdkLib::copy_single_frame(std::span<std::uint8_t> destination) {
    if (destination.data() == nullptr || destination.size() < window_bytes() || !single_buffer_) {
        return kCodeNullBuffer;
    }
    return copy_frame(destination.data(), single_buffer_.get());
}

void CZBXSdkLib::close_single_frame_handle() {
    std::lock_guard lock(single_handle_lock_);
    close_device(single_handle_);
}

bool CZBXSdkLib::single_frame_handle_open() const {
    std::lock_guard lock(single_handle_lock_);
    return single_handle_ != platform::kNullDriverHandle;
}

void CZBXSdkLib::cancel_single_frame_read() {
    std::lock_guard lock(single_handle_lock_);
    if (single_handle_ != platform::kNullDriverHandle) (void)platform::driver_cancel(single_handle_);
}

void CZBXSdkLib::set_transfer_timeout(std::uint32_t timeout_ms) {
    transfer_timeout_ms_ = timeout_ms;
    device::set_transfer_timeout(directory_.name(), timeout_ms);
}

}  // namespace zbx::device
