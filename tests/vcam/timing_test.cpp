// Frame timing: sensor rate, transfer time-out, trigger mode.  Durations are
// checked with generous margins; they test behaviour, not speed.
#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "vcam_link.h"

namespace zbx::vcam::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class TimingTest : public VcamTest {
protected:
    void SetUp() override {
        VcamTest::SetUp();
        ASSERT_EQ(ZbxVcam_SetPacing(0, ZBX_VCAM_PACED), ZBX_VCAM_OK);
    }
    static std::uint32_t period_us() {
        ZbxVcamStats s{};
        EXPECT_EQ(ZbxVcam_GetStats(0, &s), ZBX_VCAM_OK);
        return s.frame_period_us;
    }
    // Start frame and a 1000-byte read on a fresh handle, off the test thread.
    static std::future<bool> read_async() {
        return std::async(std::launch::async, [] {
            Link link;
            std::vector<std::uint8_t> f;
            return link.grab(f, 1000);
        });
    }
    static long long ms_since(Clock::time_point t) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
    }
};

TEST_F(TimingTest, FramePeriodFollowsRegisters) {
    Link link;
    EXPECT_EQ(period_us(), 22184u);  // 752 lines x 2950 clocks at 100 MHz: 45 frames/s
    ASSERT_TRUE(link.write_controller(15, 0));
    EXPECT_EQ(period_us(), 92433u);  // 24 MHz
    ASSERT_TRUE(link.write_controller(15, 1));
    EXPECT_EQ(period_us(), 184866u);  // 12 MHz
    ASSERT_TRUE(link.write_controller(15, 2));
    ASSERT_TRUE(link.write_sensor(15, 2000));
    EXPECT_EQ(period_us(), 59000u);  // exposure longer than the read-out
    ASSERT_TRUE(link.write_sensor(15, 637));
    ASSERT_TRUE(link.write_sensor(46, 994));
    EXPECT_EQ(period_us(), 7520u);
    ASSERT_TRUE(link.write_sensor(46, 2944));
    ASSERT_TRUE(link.set_window(0, 0, 640, 100));
    EXPECT_EQ(period_us(), 18791u);  // exposure 637 now exceeds 100 + 32 lines
}

TEST_F(TimingTest, PacedReadsComeAtTheSensorRate) {
    Link link;
    std::vector<std::uint8_t> f;
    // Timed from before the first read: eleven frames span at least ten
    // periods however late the reader gets back to the camera.
    const auto start = Clock::now();
    for (int i = 0; i < 11; ++i) ASSERT_TRUE(link.grab(f, 921600));
    const long long elapsed = ms_since(start);
    EXPECT_GE(elapsed, 221);  // 10 x 22.18 ms
    EXPECT_LT(elapsed, 2000);
}

TEST_F(TimingTest, ReadsFailAfterTheTransferTimeout) {
    Link link;
    ZbxVcamStats s{};
    ASSERT_EQ(ZbxVcam_GetStats(0, &s), ZBX_VCAM_OK);
    EXPECT_EQ(s.transfer_timeout_ms, 3000u);
    ASSERT_TRUE(link.set_timeout(150));
    ASSERT_EQ(ZbxVcam_GetStats(0, &s), ZBX_VCAM_OK);
    EXPECT_EQ(s.transfer_timeout_ms, 150u);

    // No start-frame command: nothing comes.
    std::vector<std::uint8_t> f(1000);
    std::uint32_t got = 7;
    auto start = Clock::now();
    EXPECT_FALSE(link.transfer(2, f, &got));
    EXPECT_EQ(got, 0u);
    EXPECT_GE(ms_since(start), 150);

    // A frame slower than the time-out fails paced, arrives unpaced.
    ASSERT_TRUE(link.write_controller(15, 1));
    ASSERT_TRUE(link.write_sensor(15, 32767));  // about 8 s per frame
    start = Clock::now();
    EXPECT_FALSE(link.grab(f, 1000));
    EXPECT_GE(ms_since(start), 150);
    EXPECT_LT(ms_since(start), 2000);
    ASSERT_EQ(ZbxVcam_SetPacing(0, ZBX_VCAM_UNPACED), ZBX_VCAM_OK);
    EXPECT_TRUE(link.grab(f, 1000));
}

TEST_F(TimingTest, TriggerModeWaitsForTriggers) {
    Link link;
    ASSERT_TRUE(link.write_sensor(46, 94));  // 1 us lines: triggered frames come quickly
    ASSERT_EQ(ZbxVcam_FireTrigger(0), ZBX_VCAM_OK);  // ignored: not in trigger mode
    ASSERT_TRUE(link.write_controller(11, 1));
    ZbxVcamStats s{};
    ASSERT_EQ(ZbxVcam_GetStats(0, &s), ZBX_VCAM_OK);
    EXPECT_EQ(s.pending_triggers, 0u);

    auto read = read_async();
    EXPECT_EQ(read.wait_for(150ms), std::future_status::timeout);
    ASSERT_EQ(ZbxVcam_FireTrigger(0), ZBX_VCAM_OK);
    ASSERT_EQ(read.wait_for(2s), std::future_status::ready);
    EXPECT_TRUE(read.get());

    // Triggers fired ahead wait for their reads, one frame each.
    ASSERT_EQ(ZbxVcam_FireTrigger(0), ZBX_VCAM_OK);
    ASSERT_EQ(ZbxVcam_FireTrigger(0), ZBX_VCAM_OK);
    ASSERT_TRUE(link.set_timeout(100));
    std::vector<std::uint8_t> f;
    EXPECT_TRUE(link.grab(f, 1000));
    EXPECT_TRUE(link.grab(f, 1000));
    EXPECT_FALSE(link.grab(f, 1000));
}

TEST_F(TimingTest, LeavingTriggerModeReleasesAWaitingRead) {
    Link link;
    ASSERT_TRUE(link.set_timeout(60000));
    ASSERT_TRUE(link.write_controller(11, 1));
    auto read = read_async();
    EXPECT_EQ(read.wait_for(100ms), std::future_status::timeout);
    const auto start = Clock::now();
    ASSERT_TRUE(link.write_controller(11, 0));
    ASSERT_EQ(read.wait_for(2s), std::future_status::ready);
    EXPECT_TRUE(read.get());
    EXPECT_LT(ms_since(start), 1000);
}

}  // namespace
}  // namespace zbx::vcam::test
