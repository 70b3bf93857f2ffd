#include "session/frame_queue.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace zbx::session {

struct FrameQueue::Buffer {
    enum class State { kFree, kFilling, kReady, kHeld };

    struct AlignedFree {
        void operator()(std::uint8_t* p) const { std::free(p); }
    };

    ZbxFrame frame{};
    std::uint8_t* memory = nullptr;
    std::size_t capacity = 0;
    std::unique_ptr<std::uint8_t, AlignedFree> own;  // null for lent memory
    bool lent = false;
    void* user = nullptr;
    std::uint32_t index = 0;
    std::uint32_t run = 0;
    State state = State::kFree;
    // The layout of the last frame committed here: development leaves the
    // fourth channel and row padding alone, so memory that held something
    // else is cleared first.
    std::uint32_t written_format = UINT32_MAX;
    std::int32_t written_stride = 0;
};

FrameQueue::FrameQueue(std::uint32_t delivery, std::uint32_t output) : delivery_(delivery), output_(output) {}

FrameQueue::~FrameQueue() = default;

int FrameQueue::add_own(std::uint32_t count) {
    std::lock_guard lock(lock_);
    if (buffers_.size() + count > kMaxQueueBuffers) return ZBX_ERR_PARAMETER;
    if (running_) return ZBX_ERR_BUSY;
    for (std::uint32_t i = 0; i < count; ++i) {
        auto b = std::make_unique<Buffer>();
        b->index = static_cast<std::uint32_t>(buffers_.size());
        buffers_.push_back(std::move(b));
    }
    return ZBX_OK;
}

int FrameQueue::lend(void* memory, std::size_t size, void* user, std::size_t needed) {
    if (memory == nullptr || reinterpret_cast<std::uintptr_t>(memory) % kLentAlignment != 0 || size < needed)
        return ZBX_ERR_BUFFER;
    std::lock_guard lock(lock_);
    if (closed_) return ZBX_ERR_INVALID_HANDLE;
    if (running_ && size < format_.size) return ZBX_ERR_BUFFER;
    if (buffers_.size() >= kMaxQueueBuffers) return ZBX_ERR_PARAMETER;
    auto b = std::make_unique<Buffer>();
    b->memory = static_cast<std::uint8_t*>(memory);
    b->capacity = size;
    b->lent = true;
    b->user = user;
    b->index = static_cast<std::uint32_t>(buffers_.size());
    buffers_.push_back(std::move(b));
    return ZBX_OK;
}

int FrameQueue::check(const ZbxFrameFormat& format) const {
    std::lock_guard lock(lock_);
    if (buffers_.empty()) return ZBX_ERR_BUFFER;
    for (const auto& b : buffers_)
        if (b->lent && b->capacity < format.size) return ZBX_ERR_BUFFER;
    return ZBX_OK;
}

int FrameQueue::prepare(const ZbxFrameFormat& format) {
    std::lock_guard lock(lock_);
    if (closed_) return ZBX_ERR_INVALID_HANDLE;
    if (buffers_.empty()) return ZBX_ERR_BUFFER;
    for (const auto& b : buffers_)
        if (b->lent && b->capacity < format.size) return ZBX_ERR_BUFFER;
    // Own buffers of another size are remade, unless a frame of an earlier
    // run still lives in them.
    const std::size_t bytes = (std::max<std::size_t>(format.size, 1) + kOwnAlignment - 1) / kOwnAlignment * kOwnAlignment;
    for (auto& b : buffers_) {
        if (b->lent || b->capacity == bytes || b->state != Buffer::State::kFree) continue;
        b->own.reset(static_cast<std::uint8_t*>(std::aligned_alloc(kOwnAlignment, bytes)));
        b->memory = b->own.get();
        b->capacity = b->own ? bytes : 0;
        if (!b->own) return ZBX_ERR_MEMORY;
    }
    format_ = format;
    running_ = true;
    cancelled_ = false;
    end_code_ = ZBX_ERR_ENDED;
    ++run_;
    last_committed_ = 0;
    return ZBX_OK;
}

bool FrameQueue::running() const {
    std::lock_guard lock(lock_);
    return running_;
}

void FrameQueue::drop_locked(std::uint64_t count) { dropped_ += count; }

FrameQueue::Buffer* FrameQueue::acquire(std::uint64_t sequence) {
    std::lock_guard lock(lock_);
    if (closed_) return nullptr;
    // Frames the transfer skipped since the last one count as lost here.
    if (sequence > last_committed_ + 1) drop_locked(sequence - last_committed_ - 1);
    last_committed_ = std::max(last_committed_, sequence);
    for (auto& b : buffers_) {
        if (b->state == Buffer::State::kFree && b->capacity >= format_.size && b->memory != nullptr) {
            b->state = Buffer::State::kFilling;
            return b.get();
        }
    }
    if (delivery_ == ZBX_DELIVER_LATEST && !ready_.empty()) {
        // The waiting frame is older than this one: it goes.
        Buffer* b = ready_.front();
        ready_.pop_front();
        b->state = Buffer::State::kFilling;
        drop_locked(1);
        return b;
    }
    drop_locked(1);
    ++no_buffer_;
    return nullptr;
}

std::uint8_t* FrameQueue::pixels(Buffer* buffer) { return buffer->memory; }

bool FrameQueue::holds_layout(const Buffer* buffer, const ZbxFrameFormat& format) {
    return buffer->written_format == format.format && buffer->written_stride == format.stride;
}

void FrameQueue::commit(Buffer* buffer, const ZbxFrame& meta) {
    {
        std::lock_guard lock(lock_);
        buffer->frame = meta;
        buffer->frame.data = buffer->memory;
        buffer->frame.size = static_cast<std::size_t>(meta.stride) * static_cast<std::size_t>(meta.height);
        buffer->frame.user = buffer->user;
        buffer->frame.buffer_index = buffer->index;
        buffer->run = run_;
        buffer->written_format = meta.format;
        buffer->written_stride = meta.stride;
        if (closed_) {
            buffer->state = Buffer::State::kFree;
            return;
        }
        if (delivery_ == ZBX_DELIVER_LATEST) {
            for (Buffer* old : ready_) old->state = Buffer::State::kFree;
            drop_locked(ready_.size());
            ready_.clear();
        }
        buffer->state = Buffer::State::kReady;
        ready_.push_back(buffer);
    }
    changed_.notify_all();
}

void FrameQueue::abandon(Buffer* buffer) {
    std::lock_guard lock(lock_);
    buffer->state = Buffer::State::kFree;
}

void FrameQueue::end_run(int code) {
    {
        std::lock_guard lock(lock_);
        // A stop after a failure keeps the failure's code.
        if (!running_ && code == ZBX_OK) return;
        running_ = false;
        end_code_ = code == ZBX_OK ? ZBX_ERR_ENDED : code;
    }
    changed_.notify_all();
}

int FrameQueue::wait(std::int32_t timeout_ms, const ZbxFrame** frame) {
    if (frame == nullptr) return ZBX_ERR_PARAMETER;
    *frame = nullptr;
    std::unique_lock lock(lock_);
    const auto ready = [&] { return closed_ || cancelled_ || !ready_.empty() || !running_; };
    if (timeout_ms < 0) {
        changed_.wait(lock, ready);
    } else if (!changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), ready)) {
        return ZBX_ERR_TIMEOUT;
    }
    if (closed_ || cancelled_) return ZBX_ERR_CANCELLED;
    if (ready_.empty()) return end_code_;
    Buffer* b = delivery_ == ZBX_DELIVER_LATEST ? ready_.back() : ready_.front();
    if (delivery_ == ZBX_DELIVER_LATEST) {
        for (Buffer* old : ready_)
            if (old != b) old->state = Buffer::State::kFree;
        ready_.clear();
    } else {
        ready_.pop_front();
    }
    b->state = Buffer::State::kHeld;
    const std::uint64_t sequence = b->frame.sequence;
    const std::uint64_t previous = b->run == last_taken_run_ ? last_taken_ : 0;
    b->frame.dropped = sequence > previous + 1 ? static_cast<std::uint32_t>(sequence - previous - 1) : 0;
    last_taken_ = sequence;
    last_taken_run_ = b->run;
    ++delivered_;
    *frame = &b->frame;
    return ZBX_OK;
}

int FrameQueue::release(const ZbxFrame* frame) {
    if (frame == nullptr) return ZBX_ERR_PARAMETER;
    std::lock_guard lock(lock_);
    for (auto& b : buffers_) {
        if (&b->frame != frame) continue;
        if (b->state != Buffer::State::kHeld) return ZBX_ERR_NOT_HELD;
        b->state = Buffer::State::kFree;
        return ZBX_OK;
    }
    return ZBX_ERR_NOT_HELD;
}

void FrameQueue::cancel() {
    {
        std::lock_guard lock(lock_);
        cancelled_ = true;
    }
    changed_.notify_all();
}

void FrameQueue::resume() {
    std::lock_guard lock(lock_);
    cancelled_ = false;
}

void FrameQueue::close() {
    {
        std::lock_guard lock(lock_);
        closed_ = true;
        running_ = false;
        for (Buffer* b : ready_) b->state = Buffer::State::kFree;
        ready_.clear();
    }
    changed_.notify_all();
}

bool FrameQueue::closed() const {
    std::lock_guard lock(lock_);
    return closed_;
}

std::uint32_t FrameQueue::held() const {
    std::lock_guard lock(lock_);
    return static_cast<std::uint32_t>(std::count_if(buffers_.begin(), buffers_.end(),
                                                    [](const auto& b) { return b->state == Buffer::State::kHeld; }));
}

ZbxStreamStats FrameQueue::stats() const {
    std::lock_guard lock(lock_);
    ZbxStreamStats s{};
    s.delivered = delivered_;
    s.dropped = dropped_;
    s.queued = static_cast<std::uint32_t>(ready_.size());
    for (const auto& b : buffers_)
        if (b->state == Buffer::State::kHeld) ++s.held;
    s.buffers = static_cast<std::uint32_t>(buffers_.size());
    s.last_error = end_code_ == ZBX_ERR_ENDED ? ZBX_OK : end_code_;
    s.no_buffer = no_buffer_;
    return s;
}

}  // namespace zbx::session
