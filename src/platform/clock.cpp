#include "platform/clock.h"

#include <atomic>
#include <chrono>
#include <thread>

#include <time.h>

namespace zbx::platform {
namespace {

std::atomic<std::uint32_t> g_offset{0};

std::uint32_t monotonic_ms() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
    // Truncation to 32 bits is the wrap the callers expect.
    return static_cast<std::uint32_t>(ms) + g_offset.load(std::memory_order_relaxed);
}

}  // namespace

std::uint32_t tick_count() { return monotonic_ms(); }

std::uint32_t multimedia_time() { return monotonic_ms(); }

void sleep_ms(std::uint32_t ms) {
    if (ms == 0) {
        std::this_thread::yield();
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::uint64_t monotonic_ns() {
    timespec ts{};
    (void)clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000000000u + static_cast<std::uint64_t>(ts.tv_nsec);
}

void set_clock_offset(std::uint32_t offset) { g_offset.store(offset, std::memory_order_relaxed); }

}  // namespace zbx::platform
