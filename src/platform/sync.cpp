#include "platform/sync.h"

#include <chrono>

namespace zbx::platform {

Event::Event(bool manual_reset, bool initially_set)
    : manual_reset_(manual_reset), signalled_(initially_set) {}

void Event::set() {
    // Notify while holding the lock: a waiter may destroy the event as soon
    // as it sees the signal (a thread's end event is closed right after the
    // wait), so nothing here may touch the event after the unlock.
    std::lock_guard lock(mutex_);
    if (signalled_) return;
    signalled_ = true;
    // An auto-reset signal is consumed by one waiter; waking more would only
    // send the others back to sleep.
    if (manual_reset_)
        cond_.notify_all();
    else
        cond_.notify_one();
}

void Event::reset() {
    std::lock_guard lock(mutex_);
    signalled_ = false;
}

bool Event::wait(std::uint32_t timeout_ms) {
    std::unique_lock lock(mutex_);
    const auto ready = [this] { return signalled_; };
    if (timeout_ms == kInfinite) {
        cond_.wait(lock, ready);
    } else if (!cond_.wait_for(lock, std::chrono::milliseconds(timeout_ms), ready)) {
        return false;
    }
    if (!manual_reset_) signalled_ = false;
    return true;
}

bool Event::is_set() const {
    std::lock_guard lock(mutex_);
    return signalled_;
}

}  // namespace zbx::platform
