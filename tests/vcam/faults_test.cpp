// Injected faults and the control API's argument checks.
#include <chrono>
#include <future>

#include "vcam_link.h"

namespace zbx::vcam::test {
namespace {

using namespace std::chrono_literals;
using FaultsTest = VcamTest;

TEST_F(FaultsTest, UnplugFailsOpensRequestsAndWaitingReads) {
    Link link;
    ASSERT_TRUE(link.set_timeout(60000));
    ASSERT_EQ(ZbxVcam_StopFrames(0, 1), ZBX_VCAM_OK);
    auto read = std::async(std::launch::async, [&] {
        std::vector<std::uint8_t> f;
        return link.grab(f, 1000);
    });
    EXPECT_EQ(read.wait_for(100ms), std::future_status::timeout);
    ASSERT_EQ(ZbxVcam_Unplug(0), ZBX_VCAM_OK);
    ASSERT_EQ(read.wait_for(2s), std::future_status::ready);
    EXPECT_FALSE(read.get());

    EXPECT_FALSE(Link().is_open());
    EXPECT_FALSE(link.write_sensor(15, 1));
    EXPECT_EQ(ZbxVcam_GetSlots(), 1u);  // still attached, just unplugged

    ASSERT_EQ(ZbxVcam_Replug(0), ZBX_VCAM_OK);
    ASSERT_EQ(ZbxVcam_StopFrames(0, 0), ZBX_VCAM_OK);
    EXPECT_FALSE(link.write_sensor(15, 1));  // handles from before stay dead
    Link fresh;
    ASSERT_TRUE(fresh.is_open());
    std::vector<std::uint8_t> f;
    EXPECT_TRUE(fresh.grab(f, 1000));
}

// A driver cancel fails the read waiting on that handle only, at once; it
// finds nothing to cancel on an idle handle, and later reads work.
TEST_F(FaultsTest, CancelFailsTheReadWaitingOnItsHandle) {
    Link link;
    Link other;
    ASSERT_TRUE(link.set_timeout(60000));
    ASSERT_EQ(ZbxVcam_StopFrames(0, 1), ZBX_VCAM_OK);
    EXPECT_FALSE(port::driver_cancel(link.handle()));
    auto read = std::async(std::launch::async, [&] {
        std::vector<std::uint8_t> f;
        return link.grab(f, 1000);
    });
    auto bystander = std::async(std::launch::async, [&] {
        std::vector<std::uint8_t> f;
        return other.grab(f, 1000);
    });
    EXPECT_EQ(read.wait_for(100ms), std::future_status::timeout);
    ASSERT_TRUE(port::driver_cancel(link.handle()));
    ASSERT_EQ(read.wait_for(2s), std::future_status::ready);
    EXPECT_FALSE(read.get());
    EXPECT_EQ(bystander.wait_for(100ms), std::future_status::timeout);

    ASSERT_EQ(ZbxVcam_StopFrames(0, 0), ZBX_VCAM_OK);
    ASSERT_EQ(bystander.wait_for(2s), std::future_status::ready);
    EXPECT_TRUE(bystander.get());
    std::vector<std::uint8_t> f;
    EXPECT_TRUE(link.grab(f, 1000));
}

TEST_F(FaultsTest, FailedAndShortFrameReads) {
    Link link;
    std::vector<std::uint8_t> f;
    std::uint32_t got = 0;
    ASSERT_EQ(ZbxVcam_FailFrameReads(0, 2), ZBX_VCAM_OK);
    EXPECT_FALSE(link.grab(f, 921600, &got));
    EXPECT_EQ(got, 0u);
    EXPECT_FALSE(link.grab(f, 921600));
    EXPECT_TRUE(link.grab(f, 921600, &got));
    EXPECT_EQ(got, 921600u);

    ASSERT_EQ(ZbxVcam_ShortFrameReads(0, 1), ZBX_VCAM_OK);
    EXPECT_TRUE(link.grab(f, 921600, &got));
    EXPECT_EQ(got, 460800u);
    EXPECT_EQ(f[460800], 0xAB);  // nothing written past the reported count
    EXPECT_TRUE(link.grab(f, 921600, &got));
    EXPECT_EQ(got, 921600u);

    ZbxVcamStats s{};
    ASSERT_EQ(ZbxVcam_GetStats(0, &s), ZBX_VCAM_OK);
    EXPECT_EQ(s.frames_failed, 2u);
    EXPECT_EQ(s.frames_delivered, 3u);
}

TEST_F(FaultsTest, RegisterFaultsFailTheCommandAndChangeNothing) {
    Link link;
    ASSERT_TRUE(link.write_sensor(0x300, 11));
    ASSERT_TRUE(link.read_sensor(0x300));
    ASSERT_EQ(ZbxVcam_SetRegisterFaults(0, 0, 1), ZBX_VCAM_OK);
    EXPECT_FALSE(link.write_sensor(0x300, 12));
    EXPECT_FALSE(link.write_controller(7, 5));
    EXPECT_FALSE(link.write_rom(0x1801, 5));
    EXPECT_EQ(link.read_sensor(0x300), 11);
    EXPECT_EQ(link.read_controller(7), 0);
    EXPECT_EQ(link.read_rom(0x1801), 'B');

    ASSERT_EQ(ZbxVcam_SetRegisterFaults(0, 1, 0), ZBX_VCAM_OK);
    EXPECT_FALSE(link.send(packet({0x0C, 0x00, 15})));
    EXPECT_FALSE(link.send(packet({0x26, 15})));
    EXPECT_FALSE(link.send(packet({0x41, 0x51, 0x02, 0x01, 0x18, 0x00})));
    // The failed commands queued no answer: pipe 1 still holds the last one.
    Packet p{};
    ASSERT_TRUE(link.transfer(1, p, nullptr, port::kIoctlPipeTransferA));
    EXPECT_EQ(p[0], 'B');
    EXPECT_TRUE(link.write_sensor(0x300, 13));
    ASSERT_EQ(ZbxVcam_SetRegisterFaults(0, 0, 0), ZBX_VCAM_OK);
    EXPECT_EQ(link.read_sensor(0x300), 13);
}

TEST_F(FaultsTest, StoppedFramesTimeOutUntilResumed) {
    Link link;
    ASSERT_TRUE(link.set_timeout(100));
    ASSERT_EQ(ZbxVcam_StopFrames(0, 1), ZBX_VCAM_OK);
    std::vector<std::uint8_t> f;
    EXPECT_FALSE(link.grab(f, 1000));
    ASSERT_TRUE(link.set_timeout(60000));
    auto read = std::async(std::launch::async, [&] {
        std::vector<std::uint8_t> g;
        return link.grab(g, 1000);
    });
    EXPECT_EQ(read.wait_for(100ms), std::future_status::timeout);
    ASSERT_EQ(ZbxVcam_StopFrames(0, 0), ZBX_VCAM_OK);
    ASSERT_EQ(read.wait_for(2s), std::future_status::ready);
    EXPECT_TRUE(read.get());
}

TEST_F(FaultsTest, ResetEndsEverything) {
    Link link;
    ASSERT_TRUE(link.write_sensor(15, 900));
    ASSERT_EQ(ZbxVcam_FailFrameReads(0, 5), ZBX_VCAM_OK);
    ASSERT_EQ(ZbxVcam_SetSlots(0b11), ZBX_VCAM_OK);
    ASSERT_EQ(ZbxVcam_Reset(), ZBX_VCAM_OK);
    EXPECT_EQ(ZbxVcam_GetSlots(), 1u);
    EXPECT_FALSE(link.write_sensor(15, 901));
    Link fresh;
    EXPECT_EQ(fresh.read_sensor(15), 637);
    std::vector<std::uint8_t> f;
    EXPECT_TRUE(fresh.grab(f, 1000));
    std::uint32_t count = 0;
    ASSERT_EQ(ZbxVcam_GetLogCount(0, &count), ZBX_VCAM_OK);
    EXPECT_EQ(count, 5u);  // only the fresh handle's requests
}

TEST_F(FaultsTest, ControlApiRejectsBadSlotsAndArguments) {
    std::uint8_t b = 0;
    std::uint16_t w = 0;
    std::uint32_t n = 0;
    ZbxVcamStats stats{};
    ZbxVcamRequest entry{};
    ZbxVcamScene scene = flat_scene(1, 2, 3);
    for (int slot : {-1, 1, 32, 1000}) {
        EXPECT_EQ(ZbxVcam_SetPacing(slot, ZBX_VCAM_PACED), ZBX_VCAM_E_SLOT);
        EXPECT_EQ(ZbxVcam_SetScene(slot, &scene), ZBX_VCAM_E_SLOT);
        EXPECT_EQ(ZbxVcam_FireTrigger(slot), ZBX_VCAM_E_SLOT);
        EXPECT_EQ(ZbxVcam_Unplug(slot), ZBX_VCAM_E_SLOT);
        EXPECT_EQ(ZbxVcam_GetRomByte(slot, 0x1800, &b), ZBX_VCAM_E_SLOT);
        EXPECT_EQ(ZbxVcam_GetStats(slot, &stats), ZBX_VCAM_E_SLOT);
        EXPECT_EQ(ZbxVcam_GetLogCount(slot, &n), ZBX_VCAM_E_SLOT);
    }
    EXPECT_EQ(ZbxVcam_SetPacing(0, 2), ZBX_VCAM_E_ARG);
    EXPECT_EQ(ZbxVcam_SetScene(0, nullptr), ZBX_VCAM_E_ARG);
    scene.flat_red = 4096;
    EXPECT_EQ(ZbxVcam_SetScene(0, &scene), ZBX_VCAM_E_ARG);
    scene = flat_scene(1, 2, 3);
    scene.noise = 513;
    EXPECT_EQ(ZbxVcam_SetScene(0, &scene), ZBX_VCAM_E_ARG);
    scene.noise = 0;
    scene.kind = 2;
    EXPECT_EQ(ZbxVcam_SetScene(0, &scene), ZBX_VCAM_E_ARG);
    EXPECT_EQ(ZbxVcam_GetScene(0, nullptr), ZBX_VCAM_E_ARG);
    const ZbxVcamDefect outside[] = {{1280, 0, 1, 0}};
    const ZbxVcamDefect too_bright[] = {{0, 0, 4096, 0}};
    EXPECT_EQ(ZbxVcam_SetDefects(0, outside, 1), ZBX_VCAM_E_ARG);
    EXPECT_EQ(ZbxVcam_SetDefects(0, too_bright, 1), ZBX_VCAM_E_ARG);
    EXPECT_EQ(ZbxVcam_SetDefects(0, nullptr, 1), ZBX_VCAM_E_ARG);
    EXPECT_EQ(ZbxVcam_SetDefects(0, outside, -1), ZBX_VCAM_E_ARG);
    EXPECT_EQ(ZbxVcam_SetRomByte(0, 0x10000, 1), ZBX_VCAM_E_ARG);
    EXPECT_EQ(ZbxVcam_GetRomByte(0, 0x1800, nullptr), ZBX_VCAM_E_ARG);
    EXPECT_EQ(ZbxVcam_GetSensorRegister(0, 0x10000, &w), ZBX_VCAM_E_ARG);
    EXPECT_EQ(ZbxVcam_GetControllerRegister(0, 256, &b), ZBX_VCAM_E_ARG);
    EXPECT_EQ(ZbxVcam_FailFrameReads(0, -1), ZBX_VCAM_E_ARG);
    EXPECT_EQ(ZbxVcam_ShortFrameReads(0, -1), ZBX_VCAM_E_ARG);
    EXPECT_EQ(ZbxVcam_SetRegisterFaults(0, 2, 0), ZBX_VCAM_E_ARG);
    EXPECT_EQ(ZbxVcam_StopFrames(0, -1), ZBX_VCAM_E_ARG);
    EXPECT_EQ(ZbxVcam_GetLogEntry(0, 0, &entry), ZBX_VCAM_E_ARG);  // empty log
    EXPECT_EQ(ZbxVcam_GetStats(0, nullptr), ZBX_VCAM_E_ARG);
    // Nothing changed.
    ASSERT_EQ(ZbxVcam_GetScene(0, &scene), ZBX_VCAM_OK);
    EXPECT_EQ(scene.kind, ZBX_VCAM_SCENE_CHART);
    EXPECT_EQ(scene.moving, 1);
}

}  // namespace
}  // namespace zbx::vcam::test
