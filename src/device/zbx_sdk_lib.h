// CZBXSdkLib: the device link.  It names and selects the camera, owns the
// frame geometry and every buffer sized from it, runs the transfer thread
// that fills a ring of preallocated slots, reads single frames, and copies
// a received frame's window into the caller's raw buffer.  Camera models
// derive from it and override the readout option and the sample width.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "device/device_directory.h"
#include "device/driver_requests.h"
#include "platform/sync.h"
#include "platform/threads.h"

namespace zbx::device {

// Codes of the device link (0 is success).
inline constexpr int kCodeRingCount = 1;
inline constexpr int kCodeBadWidths = 3;
inline constexpr int kCodeBadLines = 4;
inline constexpr int kCodeBadRect = 5;
inline constexpr int kCodeNoMemory = 7;
inline constexpr int kCodeNoDevice = 10;
inline constexpr int kCodeNullBuffer = 14;
inline constexpr int kCodeTransferError = 19;
inline constexpr int kCodeRunActive = 21;

// Results of wait_for_newest_frame.
inline constexpr int kWaitStopped = 0;
inline constexpr int kWaitFailed = 1;
inline constexpr int kWaitFrameArrived = 2;
inline constexpr int kWaitNewestSelected = 3;

inline constexpr std::uint32_t kNewestFrameTimeoutMs = 6000;

// When and in which order a frame arrived: the run's frame number (1 for
// its first read, counting every finished read, so gaps are frames the
// consumer skipped) and CLOCK_MONOTONIC nanoseconds when its transfer
// completed.  This link has no frame clock of the camera's own.
struct FrameArrival {
    std::uint64_t sequence = 0;
    std::uint64_t monotonic_ns = 0;
};
inline constexpr std::uint32_t kDefaultTransferTimeoutMs = 3000;

// Inclusive rectangle of the conversion slots, in window coordinates.
struct ConvertRect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
};

// Layout of a frame sent as two fields.  Output row 2k is line k of the
// first field (from `first_line`), row 2k + 1 line k of the second field,
// which begins lines_per_field - 1 lines further on; each field has its own
// column offset.
struct FieldGeometry {
    std::int32_t lines_per_field = 0;
    std::int32_t first_line = 0;
    std::int32_t lines = 0;
    std::int32_t x_offset[2] = {0, 0};
};

class CZBXSdkLib {
public:
    CZBXSdkLib();
    virtual ~CZBXSdkLib();
    CZBXSdkLib(const CZBXSdkLib&) = delete;
    CZBXSdkLib& operator=(const CZBXSdkLib&) = delete;

    // ---- Virtual operations, in slot order ----
    // Copies the window out of a transfer or single-frame buffer; `destination`
    // holds window_bytes().  Returns 0.
    virtual int copy_frame(std::uint8_t* destination, const std::uint8_t* source);
    // Grey samples, or 16-bit luma/chroma words, to 24-bit blue-green-red;
    // `destination` holds (width x height x 3) of the rectangle, rows packed.
    // 5 for a bad rectangle, 14 for a null buffer, else 0.
    virtual int convert_rect_to_24(std::uint8_t* destination, const std::uint8_t* source, int colour,
                                   const ConvertRect& rect);
    // The whole window through convert_rect_to_24.
    virtual int convert_frame_to_24(std::uint8_t* destination, const std::uint8_t* source, int colour);
    // Like copy_frame for a frame sent as two fields.  Returns 0, or 4 when
    // the field layout does not fit the frame.
    virtual int copy_interlaced_frame(std::uint8_t* destination, const std::uint8_t* source);
    // Stores the readout option (0 to 2; above 2 becomes 1).  Returns 1.
    virtual int set_readout_option(int option);
    // Stores the sample width and tells the camera.  Returns 1.
    virtual int set_sample_width(bool sixteen_bit);

    // ---- Devices ----
    void probe_devices() { directory_.probe(); }
    [[nodiscard]] bool is_present(int number) const { return directory_.is_present(number); }
    [[nodiscard]] int select_device(int number) { return directory_.select(number); }
    [[nodiscard]] int selected_device() const { return directory_.selected(); }
    [[nodiscard]] const char* device_name() const { return directory_.name(); }
    [[nodiscard]] static constexpr int device_count() { return DeviceDirectory::count(); }

    // ---- Geometry and buffers (application thread, never during a run) ----
    // 0, 3 (bad widths or x offset), 4 (bad lines), 1 (ring count below 2),
    // 7 (out of memory, all buffers freed) or 21 (a run is active).
    [[nodiscard]] int set_geometry(int pitch, int x_offset, int output_width, int total_lines, int first_line,
                                   int line_count, int ring_count);
    // Moves the copied window inside the transfer frame without touching the
    // frame's size or buffers, so it may run during a run (the consumer picks
    // the new position up with its next copy).  0, 3 (columns outside the
    // line) or 4 (lines outside the transferred frame).
    [[nodiscard]] int set_window_offsets(int x_offset, int first_line);
    // Geometry of a camera that sends two fields; 4 when it reads outside
    // the frame.  This camera model never uses it.
    [[nodiscard]] int set_field_geometry(bool interlaced, const FieldGeometry& fields);
    // Default geometry, readout option 0, time-out 3000 ms, trigger flag
    // cleared, single-frame handle closed; stops a run first.  The buffers
    // are freed until the next set_geometry (frames are refused meanwhile).
    void reset_to_defaults();

    [[nodiscard]] int pitch() const { return pitch_; }
    [[nodiscard]] int x_offset() const { return x_offset_; }
    [[nodiscard]] int output_width() const { return output_width_; }
    [[nodiscard]] int total_lines() const { return total_lines_; }
    [[nodiscard]] int first_line() const { return first_line_; }
    [[nodiscard]] int line_count() const { return line_count_; }
    [[nodiscard]] int ring_count() const { return static_cast<int>(ring_.size()); }
    [[nodiscard]] bool sixteen_bit() const { return sixteen_bit_; }
    [[nodiscard]] int readout_option() const { return readout_option_; }
    // pitch x (first line + line count), rounded up to a multiple of 1024.
    [[nodiscard]] std::uint32_t frame_sample_count() const { return frame_sample_count_; }
    // Bytes one image read moves: the sample count, doubled for 16-bit samples.
    [[nodiscard]] std::uint32_t transfer_byte_count() const;
    // Bytes copy_frame writes: output width x line count samples.
    [[nodiscard]] std::size_t window_bytes() const;
    [[nodiscard]] bool large_frame() const { return record_.large_frame.load(); }

    // ---- Streaming (start/stop: application thread; wait/copy: one consumer) ----
    // 0, 21 when a run is active, 7 when the ring or the thread is missing.
    [[nodiscard]] int start_streaming();
    // 0 stopped, 1 failed (transfer error or no frame in 6000 ms), 2 a frame
    // arrived (ask again), 3 the newest frame is selected for copying.
    [[nodiscard]] int wait_for_newest_frame();
    // Copies the selected slot and moves past it; 14 for a missing or too
    // small destination.
    [[nodiscard]] int copy_newest_frame(std::span<std::uint8_t> destination);
    // The selected slot itself when its window is the whole transfer frame
    // (rows packed at window width), else null.  The thread never writes
    // the slot until release_selected_frame(), so it may be read, and
    // corrected in place, without a copy.
    [[nodiscard]] std::uint8_t* selected_frame_in_place();
    // Moves past the selected slot, as copy_newest_frame does after its copy.
    void release_selected_frame();
    // Arrival of the selected slot's frame.
    [[nodiscard]] FrameArrival selected_frame_arrival() const;
    // Ends the run and returns its end code: 0 stopped on request, 10 device
    // could not be opened, 19 transfer error (0 when nothing was running).
    int stop_streaming();
    [[nodiscard]] bool streaming() const { return record_.stopped.load() == 0; }
    [[nodiscard]] std::uint32_t frames() const { return record_.frames.load(); }
    [[nodiscard]] std::int64_t end_code() const { return record_.end_code.load(); }
    [[nodiscard]] std::uint32_t last_elapsed_ms() const { return last_elapsed_ms_; }
    // Ring positions: the slot the thread fills next, the slot the consumer reads.
    [[nodiscard]] std::uint32_t write_index() const { return record_.write_index.load(); }
    [[nodiscard]] std::uint32_t read_index() const { return record_.read_index.load(); }

    // ---- Single frames (caller's thread; the session serialises them) ----
    // 0, 10 (device could not be opened) or 19 (transfer error, or no
    // buffers).  Keeps its handle open for the next read.
    [[nodiscard]] int read_single_frame();
    [[nodiscard]] int copy_single_frame(std::span<std::uint8_t> destination);
    // Arrival time of the last single frame read (sequence 0).
    [[nodiscard]] FrameArrival single_frame_arrival() const { return single_arrival_; }
    void close_single_frame_handle();
    [[nodiscard]] bool single_frame_handle_open() const;
    // Makes a single-frame read that waits now fail at once (driver cancel).
    // Any thread; a read that starts later is not affected.
    void cancel_single_frame_read();
    [[nodiscard]] int last_transfer_error() const { return last_transfer_error_; }

    // ---- Driver settings ----
    // Sends the transfer time-out to the driver and remembers it.
    void set_transfer_timeout(std::uint32_t timeout_ms);
    [[nodiscard]] std::uint32_t transfer_timeout() const { return transfer_timeout_ms_; }

protected:
    void set_large_frame(bool large) { record_.large_frame.store(large); }
    // The stem of the camera model's device names.
    void set_device_stem(std::string_view stem) { directory_.set_stem(stem); }

    // Stored by the camera model; cleared by reset_to_defaults.
    bool trigger_flag_ = false;
    bool sixteen_bit_ = false;
    int readout_option_ = 0;

private:
    // Shared by the transfer thread and the consumer without a lock: the
    // thread owns write index, frames and the end results, the consumer the
    // read index and the stop request.
    struct TransferRecord {
        std::uint32_t transfer_bytes = 0;
        platform::Event frame_event{false, false};
        platform::Event end_event{true, false};
        std::atomic<std::uint32_t> elapsed_ms{0};
        std::atomic<std::uint32_t> frames{0};
        std::atomic<std::int64_t> end_code{0};
        std::atomic<std::uint32_t> stopped{1};
        std::atomic<std::uint32_t> error{0};
        // Set as soon as a read fails, before the failed slot is published,
        // so the consumer never selects it.
        std::atomic<bool> failing{false};
        bool sixteen_bit = false;
        std::uint32_t ring_count = 0;
        std::uint8_t* const* ring = nullptr;
        std::atomic<std::uint32_t> write_index{0};
        std::atomic<std::uint32_t> read_index{0};
        std::atomic<bool> large_frame{false};
        const char* device_name = nullptr;
        // Per slot, written before the slot is published by write_index.
        std::vector<FrameArrival> arrivals;
        // Frames the consumer has selected (the sequence of the last), and
        // its signal: a device that makes frames on demand is read only
        // once the frame before was taken, so no read is thrown away.
        std::atomic<std::uint64_t> taken{0};
        platform::Event taken_event{false, false};
        // The thread's open device, for Stop's cancel; the lock keeps a
        // cancel from meeting the handle being closed.
        std::mutex handle_lock;
        DriverHandle handle = platform::kNullDriverHandle;
    };

    void transfer_thread_main();
    void free_buffers();
    [[nodiscard]] int allocate_buffers(int ring_count);
    // Joins a transfer thread that has ended; keeps the run's results.
    void reclaim_thread();
    [[nodiscard]] bool field_geometry_fits(const FieldGeometry& fields) const;
    [[nodiscard]] std::size_t frame_buffer_bytes() const { return 2u * frame_sample_count_; }
    // Source sample of window position (x, y), in two fields or progressive.
    [[nodiscard]] std::size_t source_index(int x, int y, bool interlaced) const;

    DeviceDirectory directory_;

    int pitch_ = 0;
    // Atomic: moved by set_window_offsets while the consumer copies.
    std::atomic<int> x_offset_{0};
    int output_width_ = 0;
    int total_lines_ = 0;
    std::atomic<int> first_line_{0};
    int line_count_ = 0;
    std::uint32_t frame_sample_count_ = 0;
    std::uint64_t full_frame_samples_ = 0;
    bool interlaced_ = false;
    FieldGeometry fields_{};
    std::uint32_t transfer_timeout_ms_ = kDefaultTransferTimeoutMs;

    std::unique_ptr<std::uint8_t[]> single_buffer_;
    std::unique_ptr<std::uint8_t[]> conversion_scratch_;
    std::vector<std::unique_ptr<std::uint8_t[]>> ring_;
    std::vector<std::uint8_t*> ring_addresses_;

    TransferRecord record_;
    platform::Thread transfer_thread_;
    std::uint32_t last_elapsed_ms_ = 0;

    // Guards the handle's value (not the reads on it): a cancel from another
    // thread must never meet a handle being closed.
    mutable std::mutex single_handle_lock_;
    DriverHandle single_handle_ = platform::kNullDriverHandle;
    int last_transfer_error_ = 0;
    FrameArrival single_arrival_{};
};

}  // namespace zbx::device
