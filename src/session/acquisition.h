// Acquisition of a session: snapshots, capture mode, streaming and trigger
// mode, the acquisition thread that develops each frame under the frame
// lock and announces it to the application, and Stop.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "pipeline/develop.h"
#include "pipeline/image_buffer.h"
#include "platform/sync.h"
#include "session/develop_host.h"
#include "zorbex/stream.h"
#include "zorbex/window.h"

namespace zbx::session {

class CZorbex;
class FrameQueue;

// Message 0x8002: wParam the frame record's address and lParam 0 for a
// frame; wParam 0 and lParam an error code for a failed one.
inline constexpr std::uint32_t kFrameMessage = 0x8002;

// Acquisition modes.
inline constexpr std::int32_t kModeIdle = 0;
inline constexpr std::int32_t kModeStreaming = 1;
inline constexpr std::int32_t kModeCapture = 2;
inline constexpr std::int32_t kModeTrigger = 3;

// Running flag: 1 runs, 0 ends the thread, any other value pauses it.
inline constexpr std::int32_t kRun = 1;
inline constexpr std::int32_t kStop = 0;

// Driver and session time-out while trigger mode waits for a trigger.
inline constexpr std::uint32_t kTriggerTimeoutMs = 60000;
// No frame for this long ends streaming with error 13.
inline constexpr std::uint32_t kNoFrameTimeoutMs = 6000;

class Acquisition {
public:
    explicit Acquisition(CZorbex& session);
    ~Acquisition();
    Acquisition(const Acquisition&) = delete;
    Acquisition& operator=(const Acquisition&) = delete;

    // The exports; application threads.  Each returns 1 or 0 and reports
    // its failures.
    int snapshot(void* buffer, int length, int copy_flag);
    int capture();
    int start();
    int stop();
    // Stores the callback values, opens the preview window when one is
    // configured, and runs trigger mode.  A call while trigger mode already
    // runs is refused with error 1: a second thread would read single
    // frames on the same handle as the first.
    int trigger(ZbxWindow callback_window, void* buffer, int length, int copy_flag);

    // The callback window, caller buffer, length and copy flag of the next
    // frames; safe while a thread delivers frames.  Waits at most for a copy
    // into the previous buffer, never for a development: an application
    // that hands over a new buffer per frame message gets it in before the
    // next frame is copied.  Once it returns, the previous buffer is not
    // written again.
    void store_capture_target(ZbxWindow callback_window, void* buffer, int length, int copy_flag);

    // Stop, then the recorder: the session's close and destroy run it.
    void stop_acquisition_and_recording();

    // True once the streaming thread has ended on a failed stream (no frame
    // in time, transfer error) until the next start: no frame will come.
    // Any thread.
    [[nodiscard]] bool stream_failed() const { return stream_failed_.load(); }

    // Serialises the operations that change the acquisition state or the
    // preview window (never taken by the acquisition thread, so Stop may
    // wait for that thread while holding it).  Recursive: Preview holds it
    // around its window and its start.
    std::recursive_mutex& control_lock() { return control_; }

    // ---- Frame queue (zorbex/stream.h) ----
    // Makes `queue` a consumer of every frame from now on; ZBX_ERR_BUSY
    // when the session has one.  A run already going fills it at once.
    [[nodiscard]] int attach_queue(std::shared_ptr<FrameQueue> queue);
    // Ends delivery into `queue` (no buffer of it is written after this
    // returns).
    void detach_queue(const FrameQueue* queue);
    // The layout of `output` frames for the settings of the next run (or
    // of the run going on).
    [[nodiscard]] ZbxFrameFormat frame_format(std::uint32_t output);

private:
    // The settings apply under the frame lock.
    [[nodiscard]] bool apply_settings_locked();
    // Latches the colour mode and capture region the apply just sized the
    // buffers for; later changes take effect at the next apply.
    void latch_development_input();
    // Steps 1 and 2 of development: the newest streamed frame or the single
    // frame into the raw buffer, re-strided.  Frame lock held.
    [[nodiscard]] bool load_raw_frame(bool newest);
    // Step 3: development and the frame-valid flag.  Frame lock held.
    void develop_frame();
    // Development of `in`, whose slots may name other memory than the
    // session's buffers.  Frame lock held.
    void develop_into(pipeline::DevelopInput& in);
    void fill_frame_record(std::int32_t rate);
    [[nodiscard]] std::int32_t update_frame_rate();
    // Caller buffer copy when one is set; false when it failed.
    [[nodiscard]] bool copy_to_caller_buffer();
    void post_frame(std::uintptr_t wparam, std::intptr_t lparam);
    // Tells the recorder that a developed frame is there.
    void notify_recorder();

    [[nodiscard]] bool start_thread();
    void thread_main();
    void streaming_body();
    void trigger_body();
    int stop_locked();
    // Waits for the acquisition thread to end.  A thread in trigger mode
    // may wait inside a single-frame read for a trigger: after `grace_ms`
    // that read is cancelled (again until the thread has ended, since it
    // may only be about to start its read).
    void wait_for_thread(bool trigger_read, std::uint32_t grace_ms);
    // The acquisition thread's pauses: they end at once when Stop wakes it.
    void pause(std::uint32_t ms);
    // The recorder's thread ends the way the acquisition thread does.
    void stop_recording();

    // A run begins or ends for the attached queue.
    void begin_queue_run();
    void end_queue_run(int code);
    [[nodiscard]] std::shared_ptr<FrameQueue> attached_queue();
    // True when a consumer of the session's own picture is there (preview
    // window, caller buffer or callback window, recording, automatic
    // exposure): the frame is then developed into the session's buffers.
    [[nodiscard]] bool session_picture_needed();
    // One frame into the queue, `newest` from the ring (else the single
    // frame), with the frame lock held.  When the session's picture is not
    // needed the frame is developed straight into the queue buffer and the
    // ring slot read in place; returns false when the frame could not be
    // read.  `developed_for_session` is set when the session's buffers got it.
    [[nodiscard]] bool deliver_to_queue(FrameQueue& queue, bool newest, bool* developed_for_session);
    [[nodiscard]] ZbxFrameFormat format_of(const pipeline::DevelopInput& in, std::uint32_t output) const;
    void fill_frame_meta(ZbxFrame& meta, const ZbxFrameFormat& format, bool newest);

    CZorbex& session_;
    SessionDevelopHost host_;
    std::recursive_mutex control_;
    // Guards the caller buffer, its length and copy flag as one: the copy
    // into the caller buffer holds it (inside the frame lock), a new target
    // is stored under it alone.
    std::mutex target_lock_;
    // Set by Stop (manual reset), reset before each thread start: no pause
    // of the thread outlasts a Stop, whatever the wait time.
    platform::Event wake_{true, false};
    std::atomic<bool> stream_failed_{false};
    // Set before each thread start and each snapshot; read under the frame lock.
    pipeline::DevelopInput input_;

    std::mutex queue_lock_;
    std::shared_ptr<FrameQueue> queue_;
    // Trigger frames are counted here (the transfer thread counts streamed ones).
    std::uint64_t trigger_sequence_ = 0;
    // Views of queue and ring memory handed to development.
    pipeline::CImageBuffer raw_view_;
    pipeline::CImageBuffer out_view_;
};

}  // namespace zbx::session
