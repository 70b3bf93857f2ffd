#include "platform/sync.h"

#include <chrono>

namespace zbx::platform {

Event::Event(bool manual_reset, bool initially_set)
    : manual_reset_(manual_reset), signalled_(initially_set) {}

void Event::set() {
    {
        std::lock_guard lock(mutex_);
        if (signalled_) return;
        signalled_ = true;
    }
    // An auto-reset signal is consumed by one waiter, so waking more would
    // only make the others go back to sleep.
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
