// Locks and events as the library uses them: recursive critical sections,
// and auto-/manual-reset events with timed waits.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace zbx::platform {

// Wait time-out meaning "no time-out".
inline constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;

// A recursive lock: the owning thread may take it again (each lock() needs
// its unlock()).  Meets the Lockable requirements, so std::lock_guard,
// std::unique_lock and std::scoped_lock work with it.
class CriticalSection {
public:
    CriticalSection() = default;
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void lock() { mutex_.lock(); }
    void unlock() { mutex_.unlock(); }
    [[nodiscard]] bool try_lock() { return mutex_.try_lock(); }

private:
    std::recursive_mutex mutex_;
};

// An event object.  Auto-reset: set() lets exactly one waiter through (now
// or, when nobody waits, the next one) and the event resets itself as that
// waiter passes.  Manual-reset: set() releases every waiter and stays set
// until reset().  All operations are thread-safe.
class Event {
public:
    Event(bool manual_reset, bool initially_set);
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void set();
    void reset();
    // True when the event was signalled within `timeout_ms` (kInfinite
    // waits for ever, 0 only polls); false on time-out.
    [[nodiscard]] bool wait(std::uint32_t timeout_ms);
    // Current state without waiting or consuming an auto-reset signal.
    [[nodiscard]] bool is_set() const;
    [[nodiscard]] bool manual_reset() const { return manual_reset_; }

private:
    const bool manual_reset_;
    mutable std::mutex mutex_;
    std::condition_variable cond_;
    bool signalled_;
};

}  // namespace zbx::platform
