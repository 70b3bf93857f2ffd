// Millisecond clocks and sleeping.  Both clocks count from an arbitrary
// origin and wrap around every 2^32 ms (about 49.7 days), like the 32-bit
// tick counts the library was designed around; always compare them by
// unsigned subtraction (`ticks_between`), never by `<`.
#pragma once

#include <cstdint>

namespace zbx::platform {

// Monotonic milliseconds, low 32 bits.  Thread-safe.
std::uint32_t tick_count();

// The multimedia clock: the same monotonic milliseconds, low 32 bits.
std::uint32_t multimedia_time();

// Milliseconds from `earlier` to `later`, correct across one wrap.
constexpr std::uint32_t ticks_between(std::uint32_t earlier, std::uint32_t later) {
    return later - earlier;
}

// Blocks the calling thread for at least `ms` milliseconds; 0 yields.
void sleep_ms(std::uint32_t ms);

// CLOCK_MONOTONIC in nanoseconds: frame timestamps programs can compare
// with their own clock_gettime.
std::uint64_t monotonic_ns();

// Adds `offset` ms to both clocks from now on.  Lets tests place the clocks
// just before a wrap; production code never calls it.
void set_clock_offset(std::uint32_t offset);

}  // namespace zbx::platform
