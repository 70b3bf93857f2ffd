// The device link against the virtual camera: exact packets from its request
// log, frames from its sensor, and every fault it can inject.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "device/driver_requests.h"
#include "device/zorbex_530_sdk.h"
#include "zorbex/vcam.h"

namespace zbx::device {
namespace {

constexpr const char* kCamera0 = "\\\\.\\Zbrx530RDNQT-0";

class VcamLink : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(ZbxVcam_Reset(), ZBX_VCAM_OK); }
    void TearDown() override { (void)ZbxVcam_Reset(); }

    static std::vector<ZbxVcamRequest> log(int slot = 0) {
        std::uint32_t count = 0;
        EXPECT_EQ(ZbxVcam_GetLogCount(slot, &count), ZBX_VCAM_OK);
        std::vector<ZbxVcamRequest> out(count);
        for (std::uint32_t i = 0; i < count; ++i) EXPECT_EQ(ZbxVcam_GetLogEntry(slot, i, &out[i]), ZBX_VCAM_OK);
        return out;
    }
    static std::vector<std::vector<std::uint8_t>> packets(int slot = 0) {
        std::vector<std::vector<std::uint8_t>> out;
        for (const auto& r : log(slot)) {
            if (r.pipe == 0) out.emplace_back(r.data, r.data + r.data_size);
        }
        return out;
    }
    static std::vector<std::pair<int, int>> sensor_writes(int slot = 0) {
        std::vector<std::pair<int, int>> out;
        for (const auto& p : packets(slot)) {
            if (p.size() == 64 && p[0] == 0x04) out.emplace_back(p[1] << 8 | p[2], p[3] << 8 | p[4]);
        }
        return out;
    }
    static std::uint32_t open_handles(int slot = 0) {
        ZbxVcamStats stats{};
        EXPECT_EQ(ZbxVcam_GetStats(slot, &stats), ZBX_VCAM_OK);
        return stats.open_handles;
    }
    static int sensor_register(std::uint32_t address) {
        std::uint16_t value = 0;
        EXPECT_EQ(ZbxVcam_GetSensorRegister(0, address, &value), ZBX_VCAM_OK);
        return value;
    }
    static int controller(std::uint32_t number) {
        std::uint8_t value = 0;
        EXPECT_EQ(ZbxVcam_GetControllerRegister(0, number, &value), ZBX_VCAM_OK);
        return value;
    }
    static bool wait_until(const std::function<bool()>& done, int seconds = 10) {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (!done()) {
            if (std::chrono::steady_clock::now() > limit) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }
    // Takes frames as a consumer does until the link has read `count`: an
    // unpaced camera is read only once its last frame was taken.
    static bool take_until(CZorbex530SRXNQTSdk& sensor, std::uint32_t count) {
        return wait_until([&] {
            if (sensor.wait_for_newest_frame() == kWaitNewestSelected) sensor.release_selected_frame();
            return sensor.frames() >= count;
        });
    }
};

std::vector<std::uint8_t> packet(std::initializer_list<std::uint8_t> head) {
    std::vector<std::uint8_t> p(64, 0);
    std::copy(head.begin(), head.end(), p.begin());
    return p;
}

TEST_F(VcamLink, RomAndFrameSizePacketsAsLogged) {
    std::uint8_t byte = 0;
    EXPECT_FALSE(serial_rom_read(kCamera0, 0x17FF, &byte));
    EXPECT_TRUE(log().empty());
    ASSERT_EQ(ZbxVcam_SetRomByte(0, 0x1800, 0x3C), ZBX_VCAM_OK);
    EXPECT_TRUE(serial_rom_read(kCamera0, 0x1800, &byte));
    EXPECT_EQ(byte, 0x3C);
    EXPECT_EQ(packets().at(0), packet({0x41, 0x51, 0x02, 0x01, 0x18, 0x00}));
    EXPECT_TRUE(serial_rom_read(kCamera0, 0x1EB0, &byte));
    EXPECT_EQ(byte, 1);  // the configuration byte's default

    ASSERT_EQ(ZbxVcam_ClearLog(0), ZBX_VCAM_OK);
    EXPECT_TRUE(send_frame_size(kCamera0, 1'048'576));
    EXPECT_EQ(packets().at(0), packet({0x09, 0x00, 0x00, 0x10, 0x00}));
    EXPECT_EQ(controller(2), 0x10);
    EXPECT_EQ(open_handles(), 0u);
}

TEST_F(VcamLink, SensorModelProgramsTheCamera) {
    CZorbex530SRXNQTSdk sensor;
    EXPECT_TRUE(sensor.is_present(0));
    EXPECT_FALSE(sensor.is_present(1));
    EXPECT_EQ(sensor_register(4), 64);
    EXPECT_EQ(sensor_register(5), 720);
    EXPECT_EQ(sensor_register(6), 132);
    EXPECT_EQ(sensor_register(7), 1280);
    EXPECT_EQ(controller(0), 0x00);
    EXPECT_EQ(controller(1), 0x10);
    EXPECT_EQ(controller(2), 0x0E);
    EXPECT_EQ(controller(3), 0x00);
    EXPECT_EQ(controller(14), 4);
    EXPECT_EQ(controller(11), 0);

    ASSERT_EQ(ZbxVcam_ClearLog(0), ZBX_VCAM_OK);
    ASSERT_EQ(sensor.set_window(1, 1, 5, 3, 0), 0);
    EXPECT_EQ(sensor_register(4), 64);
    EXPECT_EQ(sensor_register(5), 4);
    EXPECT_EQ(sensor_register(6), 132);
    EXPECT_EQ(sensor_register(7), 6);
    EXPECT_EQ(controller(0) | controller(1) << 8 | controller(2) << 16 | controller(3) << 24, 1024);

    ASSERT_EQ(ZbxVcam_ClearLog(0), ZBX_VCAM_OK);
    sensor.set_global_gain(5);
    sensor.set_horizontal_mirror(true);
    sensor.set_vertical_mirror(true);
    const std::vector<std::pair<int, int>> expected = {{35, 0x1717}, {36, 0x1717}, {1, 1}, {2, sensor_register(2)},
                                                       {1, 0},       {1, 1},       {2, sensor_register(2)}, {1, 0}};
    const auto writes = sensor_writes();
    ASSERT_EQ(writes.size(), expected.size());
    EXPECT_EQ(writes[0], expected[0]);
    EXPECT_EQ(writes[1], expected[1]);
    EXPECT_EQ(writes[2], expected[2]);
    EXPECT_EQ(writes[4], expected[4]);
    EXPECT_EQ(writes[7], expected[7]);
    EXPECT_EQ(sensor_register(2) & 3, 0);  // both mirrors on: both bits cleared
    EXPECT_EQ(writes[3].second & 2, 0);
    EXPECT_EQ(sensor.global_gain(), 5);
    EXPECT_EQ(open_handles(), 0u);
}

TEST_F(VcamLink, StreamsFramesOf8And16BitSamples) {
    ASSERT_EQ(ZbxVcam_SetPacing(0, ZBX_VCAM_UNPACED), ZBX_VCAM_OK);
    CZorbex530SRXNQTSdk sensor;
    for (bool sixteen : {false, true}) {
        sensor.set_sample_width(sixteen);
        ASSERT_EQ(sensor.set_window(0, 0, 1280, 720, 0), 0);
        ASSERT_EQ(sensor.transfer_byte_count(), sixteen ? 1'843'200u : 921'600u);
        std::vector<std::uint8_t> raw(sensor.window_bytes());
        ASSERT_EQ(sensor.start_streaming(), 0);
        int copied = 0;
        while (copied < 5) {
            const int wait = sensor.wait_for_newest_frame();
            ASSERT_NE(wait, kWaitFailed);
            ASSERT_NE(wait, kWaitStopped);
            if (wait != kWaitNewestSelected) continue;
            ASSERT_EQ(sensor.copy_newest_frame(raw), 0);
            ++copied;
        }
        EXPECT_EQ(sensor.stop_streaming(), 0);
        EXPECT_GE(sensor.frames(), 5u);
        EXPECT_TRUE(std::any_of(raw.begin(), raw.end(), [](std::uint8_t b) { return b != 0; }));
        if (sixteen) {
            // 12-bit values in little-endian words.
            for (std::size_t i = 1; i < raw.size(); i += 2) ASSERT_LE(raw[i], 0x0F) << i;
        }
        EXPECT_EQ(open_handles(), 0u);
    }
}

TEST_F(VcamLink, PacedStreamingAndSingleFrames) {
    CZorbex530SRXNQTSdk sensor;
    std::vector<std::uint8_t> raw(sensor.window_bytes());
    ASSERT_EQ(sensor.start_streaming(), 0);
    int selected = 0;
    while (selected < 3) {
        const int wait = sensor.wait_for_newest_frame();
        ASSERT_TRUE(wait == kWaitFrameArrived || wait == kWaitNewestSelected) << wait;
        if (wait == kWaitNewestSelected) {
            ASSERT_EQ(sensor.copy_newest_frame(raw), 0);
            ++selected;
        }
    }
    EXPECT_EQ(sensor.stop_streaming(), 0);

    ASSERT_EQ(sensor.read_single_frame(), 0);
    ASSERT_EQ(sensor.read_single_frame(), 0);
    EXPECT_EQ(open_handles(), 1u);  // the kept single-frame handle
    EXPECT_EQ(sensor.copy_single_frame(raw), 0);
    sensor.close_single_frame_handle();
    EXPECT_EQ(open_handles(), 0u);
}

// An unpaced camera makes a frame per read: the link reads the next one
// only once the last was taken, so no read is thrown away; a paced one runs
// at its own rate whatever the consumer does.
TEST_F(VcamLink, UnpacedCameraIsNotReadAheadOfItsConsumer) {
    for (const int pacing : {ZBX_VCAM_UNPACED, ZBX_VCAM_PACED}) {
        ASSERT_EQ(ZbxVcam_SetPacing(0, pacing), ZBX_VCAM_OK);
        CZorbex530SRXNQTSdk sensor;
        ASSERT_EQ(sensor.start_streaming(), 0);
        ASSERT_TRUE(wait_until([&] { return sensor.frames() >= 1; }));
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        if (pacing == ZBX_VCAM_UNPACED) {
            EXPECT_EQ(sensor.frames(), 1u);
            ASSERT_EQ(sensor.wait_for_newest_frame(), kWaitNewestSelected);
            EXPECT_EQ(sensor.selected_frame_arrival().sequence, 1u);
            sensor.release_selected_frame();
            ASSERT_TRUE(wait_until([&] { return sensor.frames() >= 2; }));
        } else {
            EXPECT_GE(sensor.frames(), 4u);  // about 6 at 45 per second
        }
        EXPECT_EQ(sensor.stop_streaming(), 0);
    }
}

TEST_F(VcamLink, FailedAndShortReadsEndTheRun) {
    ASSERT_EQ(ZbxVcam_SetPacing(0, ZBX_VCAM_UNPACED), ZBX_VCAM_OK);
    CZorbex530SRXNQTSdk sensor;
    // One short read is tolerated: the run goes on.
    ASSERT_EQ(ZbxVcam_ShortFrameReads(0, 1), ZBX_VCAM_OK);
    ASSERT_EQ(sensor.start_streaming(), 0);
    ASSERT_TRUE(take_until(sensor, 5));
    EXPECT_TRUE(sensor.streaming());
    EXPECT_EQ(sensor.stop_streaming(), 0);

    // Two short reads end it.
    ASSERT_EQ(ZbxVcam_ShortFrameReads(0, 2), ZBX_VCAM_OK);
    ASSERT_EQ(sensor.start_streaming(), 0);
    ASSERT_TRUE(wait_until([&] { return !sensor.streaming(); }));
    EXPECT_EQ(sensor.wait_for_newest_frame(), kWaitFailed);
    EXPECT_EQ(sensor.stop_streaming(), kCodeTransferError);
    EXPECT_EQ(sensor.stop_streaming(), 0);

    // A failed read ends it at once.
    ASSERT_EQ(sensor.start_streaming(), 0);
    ASSERT_TRUE(take_until(sensor, 2));
    ASSERT_EQ(ZbxVcam_FailFrameReads(0, 1), ZBX_VCAM_OK);
    ASSERT_TRUE(wait_until([&] { return !sensor.streaming(); }));
    EXPECT_EQ(sensor.stop_streaming(), kCodeTransferError);
    EXPECT_EQ(open_handles(), 0u);

    // Single frames: a failed read closes the kept handle.
    ASSERT_EQ(ZbxVcam_ShortFrameReads(0, 1), ZBX_VCAM_OK);
    EXPECT_EQ(sensor.read_single_frame(), kCodeTransferError);
    EXPECT_EQ(open_handles(), 0u);
    EXPECT_EQ(sensor.read_single_frame(), 0);
    sensor.close_single_frame_handle();
}

TEST_F(VcamLink, UnpluggedCameraAndMissingFrames) {
    ASSERT_EQ(ZbxVcam_SetPacing(0, ZBX_VCAM_UNPACED), ZBX_VCAM_OK);
    CZorbex530SRXNQTSdk sensor;
    ASSERT_EQ(sensor.start_streaming(), 0);
    ASSERT_TRUE(take_until(sensor, 2));
    ASSERT_EQ(ZbxVcam_Unplug(0), ZBX_VCAM_OK);
    ASSERT_TRUE(wait_until([&] { return !sensor.streaming(); }));
    EXPECT_EQ(sensor.wait_for_newest_frame(), kWaitFailed);
    EXPECT_EQ(sensor.stop_streaming(), kCodeTransferError);
    // The thread cannot open an unplugged camera.
    ASSERT_EQ(sensor.start_streaming(), 0);
    ASSERT_TRUE(wait_until([&] { return !sensor.streaming(); }));
    EXPECT_EQ(sensor.end_code(), kCodeNoDevice);
    EXPECT_EQ(sensor.stop_streaming(), 0);
    EXPECT_EQ(sensor.read_single_frame(), kCodeNoDevice);
    std::uint16_t value = 7;
    EXPECT_FALSE(sensor.read_sensor(15, &value));
    EXPECT_EQ(value, 0);
    ASSERT_EQ(ZbxVcam_Replug(0), ZBX_VCAM_OK);
    EXPECT_EQ(open_handles(), 0u);

    // No frames: reads wait for the transfer time-out and fail.
    ASSERT_EQ(sensor.initialise(0), 0);
    sensor.set_transfer_timeout(200);
    ASSERT_EQ(ZbxVcam_StopFrames(0, 1), ZBX_VCAM_OK);
    ASSERT_EQ(sensor.start_streaming(), 0);
    int wait = kWaitFrameArrived;
    while (wait == kWaitFrameArrived) wait = sensor.wait_for_newest_frame();
    EXPECT_EQ(wait, kWaitFailed);
    EXPECT_EQ(sensor.stop_streaming(), kCodeTransferError);
    EXPECT_EQ(sensor.read_single_frame(), kCodeTransferError);
    EXPECT_EQ(open_handles(), 0u);
}

TEST_F(VcamLink, RegisterFaultsYieldZeroAndCloseHandles) {
    CZorbex530SRXNQTSdk sensor;
    ASSERT_EQ(ZbxVcam_SetRegisterFaults(0, 1, 0), ZBX_VCAM_OK);
    std::uint16_t value = 5;
    EXPECT_FALSE(sensor.read_sensor(15, &value));
    EXPECT_EQ(value, 0);
    std::uint8_t byte = 5;
    EXPECT_FALSE(sensor.read_clock(&byte));
    EXPECT_EQ(byte, 0);
    EXPECT_EQ(sensor.exposure(), 0);
    EXPECT_EQ(sensor.global_gain(), 0);
    ASSERT_EQ(ZbxVcam_ClearLog(0), ZBX_VCAM_OK);
    EXPECT_FALSE(sensor.read_controller(15, &byte));
    EXPECT_EQ(log().size(), 1u);  // the failed command write is not followed by reads

    ASSERT_EQ(ZbxVcam_SetRegisterFaults(0, 0, 1), ZBX_VCAM_OK);
    EXPECT_FALSE(sensor.write_sensor(15, 100));
    EXPECT_EQ(sensor.set_trigger_mode(true), 0);
    EXPECT_FALSE(sensor.trigger_mode());
    ASSERT_EQ(ZbxVcam_SetRegisterFaults(0, 0, 0), ZBX_VCAM_OK);
    EXPECT_EQ(open_handles(), 0u);
}

}  // namespace
}  // namespace zbx::device
