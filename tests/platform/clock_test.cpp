#include "platform/clock.h"

#include <gtest/gtest.h>

#include <chrono>

namespace zbx::platform {
namespace {

TEST(Clock, TicksAdvanceAcrossASleep) {
    const std::uint32_t t0 = tick_count();
    const std::uint32_t m0 = multimedia_time();
    sleep_ms(30);
    EXPECT_GE(ticks_between(t0, tick_count()), 30u);
    EXPECT_GE(ticks_between(m0, multimedia_time()), 30u);
}

TEST(Clock, SleepZeroReturnsAtOnce) {
    const auto start = std::chrono::steady_clock::now();
    sleep_ms(0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST(Clock, ElapsedTimeSurvivesTheWrap) {
    EXPECT_EQ(ticks_between(0xFFFFFFF0u, 0x10u), 0x20u);
    EXPECT_EQ(ticks_between(5u, 5u), 0u);

    // Place the clock 10 ms before the wrap and let it run past it.
    const std::uint32_t raw = tick_count();
    set_clock_offset(0xFFFFFFF6u - raw);
    const std::uint32_t before = tick_count();
    sleep_ms(40);
    const std::uint32_t after = tick_count();
    set_clock_offset(0);

    EXPECT_GE(before, 0xFFFFFFF0u);
    EXPECT_LT(after, before);  // wrapped
    EXPECT_GE(ticks_between(before, after), 40u);
    EXPECT_LT(ticks_between(before, after), 10000u);
}

}  // namespace
}  // namespace zbx::platform
