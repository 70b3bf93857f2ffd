// The frame queue behind zorbex/stream.h: buffers a program takes filled
// frames from and gives back, filled by a session's acquisition thread.
// It knows nothing of sessions or devices; the acquisition thread is its
// producer, the program's threads its consumers.
//
// A buffer is free, filling (the producer writes it, outside the lock),
// ready (waits in the queue) or held (the program has it).  Every-frame
// delivery never takes a ready or held buffer for a new frame: with none
// free, the new frame is dropped.  Latest-only delivery keeps one ready
// frame, replacing it with each newer one.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "zorbex/stream.h"

namespace zbx::session {

// Enough for a program that keeps several seconds of frames at hand.
inline constexpr std::uint32_t kMaxQueueBuffers = 1024;
// Program buffers must hold 16-bit samples and 8-byte reads of the kernels.
inline constexpr std::size_t kLentAlignment = 8;
// The queue's own buffers start on a cache line.
inline constexpr std::size_t kOwnAlignment = 64;

class FrameQueue {
public:
    struct Buffer;

    FrameQueue(std::uint32_t delivery, std::uint32_t output);
    ~FrameQueue();
    FrameQueue(const FrameQueue&) = delete;
    FrameQueue& operator=(const FrameQueue&) = delete;

    [[nodiscard]] std::uint32_t delivery() const { return delivery_; }
    [[nodiscard]] std::uint32_t output() const { return output_; }

    // ---- Buffers ----
    // `count` buffers of the queue's own, sized at prepare().  ZBX_ERR_PARAMETER
    // beyond kMaxQueueBuffers in all; ZBX_ERR_BUSY during a run.
    [[nodiscard]] int add_own(std::uint32_t count);
    // Program memory, at any time (a program that keeps its frames lends
    // more as it goes); ZBX_ERR_BUFFER when null, misaligned or below
    // `needed` bytes (and the running format's size).
    [[nodiscard]] int lend(void* memory, std::size_t size, void* user, std::size_t needed);

    // ---- Producer (acquisition thread) ----
    // A run begins with frames of `format`: the queue's own buffers are
    // (re)allocated to its size.  ZBX_ERR_BUFFER when a lent buffer is too
    // small, ZBX_ERR_MEMORY when own buffers cannot be had, ZBX_ERR_BUFFER
    // when there is no buffer at all.
    [[nodiscard]] int prepare(const ZbxFrameFormat& format);
    // Checks without changing anything (the program asks before a start).
    [[nodiscard]] int check(const ZbxFrameFormat& format) const;
    [[nodiscard]] bool running() const;
    // A buffer for frame `sequence`, or null: the frame is dropped (and
    // counted).  The producer fills it outside the lock, then commits it.
    [[nodiscard]] Buffer* acquire(std::uint64_t sequence);
    [[nodiscard]] static std::uint8_t* pixels(Buffer* buffer);
    // True when the buffer's last frame had `format`'s layout, so bytes a
    // frame of it leaves unwritten (alpha, row padding) are already zero.
    [[nodiscard]] static bool holds_layout(const Buffer* buffer, const ZbxFrameFormat& format);
    // Publishes the filled buffer with `meta` (data, size, user and index
    // are the queue's own).
    void commit(Buffer* buffer, const ZbxFrame& meta);
    // Gives an acquired buffer back unfilled (the frame could not be read).
    void abandon(Buffer* buffer);
    // The run ended: ZBX_OK on request, else the code that ended it.
    void end_run(int code);

    // ---- Consumers (any thread) ----
    [[nodiscard]] int wait(std::int32_t timeout_ms, const ZbxFrame** frame);
    [[nodiscard]] int release(const ZbxFrame* frame);
    void cancel();
    void resume();
    // No more frames, ever: wakes every wait.  Held frames stay valid.
    void close();
    [[nodiscard]] bool closed() const;
    [[nodiscard]] std::uint32_t held() const;
    [[nodiscard]] ZbxStreamStats stats() const;

private:
    void drop_locked(std::uint64_t count);
    void free_own_locked();

    const std::uint32_t delivery_;
    const std::uint32_t output_;
    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::vector<std::unique_ptr<Buffer>> buffers_;
    std::deque<Buffer*> ready_;
    ZbxFrameFormat format_{};
    bool running_ = false;
    bool cancelled_ = false;
    bool closed_ = false;
    int end_code_ = ZBX_ERR_ENDED;
    std::uint32_t run_ = 0;
    std::uint64_t last_committed_ = 0;
    std::uint64_t last_taken_ = 0;
    std::uint32_t last_taken_run_ = 0;
    std::uint64_t delivered_ = 0;
    std::uint64_t dropped_ = 0;
    std::uint64_t no_buffer_ = 0;
};

}  // namespace zbx::session
